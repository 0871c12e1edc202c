// The update pipeline's rules that need no network and no files: the configuration document,
// version texts, the resume record, address templates, the starting point of a download, the
// progress arithmetic and which archive entry names may be unpacked.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>

#include "TempHome.h"
#include "update/DownloadPlan.h"
#include "update/LocalClientVersion.h"
#include "update/PackageIntegrity.h"
#include "update/RemoteConfigDocument.h"
#include "update/ResumeRecord.h"
#include "update/Sha256Extensions.h"
#include "update/ZipReader.h"

namespace {

RemoteConfigTable Parse(std::string_view document) {
    RemoteConfigTable table;
    ParseRemoteConfigDocument(document, table);
    return table;
}

LocalClientVersion V(int a, int b, int c, int d) { return {a, b, c, d}; }

}  // namespace

TEST(RemoteConfigDocument, LinesEntriesAndTheirQuirks) {
    EXPECT_EQ(Parse("A=1\nB=2\n\nC=3"), (RemoteConfigTable{{"A", "1"}, {"B", "2"}}));  // empty line ends it
    EXPECT_EQ(Parse("hello\nA=1\nB=2"), (RemoteConfigTable{{"A", "1"}, {"B", "2"}}));  // only line 1 may lack "="
    EXPECT_EQ(Parse("A=1\nnoise\nB=2"), (RemoteConfigTable{{"A", "1"}}));
    // Saved on Windows: the CR before an LF is the line end's, a leading byte-order mark is skipped.
    EXPECT_EQ(Parse("\xEF\xBB\xBF" "A=1\r\nB=2\r\n\r\nC=3"), (RemoteConfigTable{{"A", "1"}, {"B", "2"}}));
    EXPECT_EQ(Parse("hello\r\nA=x\ry\r\r\nB=\r"), (RemoteConfigTable{{"A", "x\ry\r"}, {"B", "\r"}}));  // only one, only before LF
    EXPECT_EQ(Parse("A=\xEF\xBB\xBF\n\xEF\xBB\xBF" "B=1"), (RemoteConfigTable{{"A", "\xEF\xBB\xBF"}, {"\xEF\xBB\xBF" "B", "1"}}));
    EXPECT_EQ(Parse("A=1\nA=2"), (RemoteConfigTable{{"A", "1"}}));                     // first wins
    EXPECT_EQ(Parse("Url=a?x=1&y=2"), (RemoteConfigTable{{"Url", "a?x"}}));            // a second "=" cuts
    EXPECT_EQ(Parse("=x\nk=\n k = v "), (RemoteConfigTable{{"", "x"}, {"k", ""}, {" k ", " v "}}));
    EXPECT_EQ(Parse(""), RemoteConfigTable{});
    EXPECT_EQ(Parse("\n\nA=1"), RemoteConfigTable{});  // line 1 skipped, the empty line 2 ends it
    EXPECT_EQ(Parse("entryurl=x"), (RemoteConfigTable{{"entryurl", "x"}}));  // keys keep their case

    RemoteConfigTable earlier{{"A", "old"}};
    ParseRemoteConfigDocument("A=new\nB=b", earlier);
    EXPECT_EQ(earlier, (RemoteConfigTable{{"A", "old"}, {"B", "b"}}));
}

TEST(VersionText, FieldsSignsAndOddTexts) {
    EXPECT_EQ(ParseVersionText("1.0.2.7"), V(1, 0, 2, 7));
    EXPECT_EQ(ParseVersionText("1.2"), V(1, 2, 0, 0));
    EXPECT_EQ(ParseVersionText("1.2.3.4.5"), V(1, 2, 3, 4));
    EXPECT_EQ(ParseVersionText(""), V(0, 0, 0, 0));
    EXPECT_EQ(ParseVersionText("v1.2"), V(0, 2, 0, 0));
    EXPECT_EQ(ParseVersionText("1.2.3.4\n"), V(1, 2, 3, 4));
    EXPECT_EQ(ParseVersionText("1.0.0.3\r"), V(1, 0, 0, 3));
    EXPECT_EQ(ParseVersionText(" 7.-2.+3.4x9"), V(7, -2, 3, 4));
    EXPECT_EQ(ParseVersionText("1..2"), V(1, 0, 2, 0));
    EXPECT_EQ(ParseVersionText("99999999999.1"), V(std::numeric_limits<std::int32_t>::max(), 1, 0, 0));
    EXPECT_EQ(V(1, 0, 2, 7).ToString(), "1.0.2.7");
    EXPECT_EQ(V(-1, 0, 0, 2).ToString(), "-1.0.0.2");
}

TEST(VersionText, ComparesFieldByFieldSigned) {
    EXPECT_LT(V(1, 0, 0, 4), V(1, 0, 0, 5));
    EXPECT_FALSE(V(1, 0, 0, 5) < V(1, 0, 0, 5));
    EXPECT_LT(V(1, 9, 9, 9), V(2, 0, 0, 0));
    EXPECT_LT(V(0, 0, 0, 9), V(0, 0, 1, 0));
    EXPECT_LT(V(-1, 5, 5, 5), V(0, 0, 0, 0));
}

TEST(DecimalNumber, SignsStopsAndLimits) {
    EXPECT_EQ(ParseDecimal64("300"), 300);
    EXPECT_EQ(ParseDecimal64("  -42abc"), -42);
    EXPECT_EQ(ParseDecimal64("+7"), 7);
    EXPECT_EQ(ParseDecimal64("12=3"), 12);
    EXPECT_EQ(ParseDecimal64("offset"), 0);
    EXPECT_EQ(ParseDecimal64(""), 0);
    EXPECT_EQ(ParseDecimal64("- 5"), 0);
    EXPECT_EQ(ParseDecimal64("99999999999999999999"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(ParseDecimal64("-9223372036854775808"), std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(ParseDecimal64("-99999999999999999999"), std::numeric_limits<std::int64_t>::min());
}

TEST(ResumeRecord, WritesThreeLfLinesAndReadsThemBack) {
    const std::string record = FormatResumeRecord(V(1, 0, 2, 7), 300, 900);
    EXPECT_EQ(record, "downloadVersion=1.0.2.7\noffset=300\ntotalSize=900\n");
    EXPECT_EQ(FormatResumeRecord(V(0, 0, 0, 0), -5, 6000000000), "downloadVersion=0.0.0.0\noffset=-5\ntotalSize=6000000000\n");
    EXPECT_EQ(FindResumeValue(record, "downloadVersion"), "1.0.2.7");
    EXPECT_EQ(FindResumeValue(record, "offset"), "300");
    EXPECT_EQ(FindResumeValue(record, "totalSize"), "900");
    EXPECT_EQ(FindResumeValue(record, "total"), "");
    EXPECT_EQ(FindResumeValue("", "offset"), "");
}

TEST(ResumeRecord, ReadingQuirks) {
    EXPECT_EQ(FindResumeValue("offset=300\r\ntotalSize=900\r\n", "offset"), "300");  // CR LF reads as LF
    EXPECT_EQ(FindResumeValue("offset=300\r\ntotalSize=900\r\n", "totalSize"), "900");
    EXPECT_EQ(FindResumeValue("offset=12=3\n", "offset"), "12=3");
    EXPECT_EQ(FindResumeValue("offset\n", "offset"), "offset");  // no "=": the line is its own value
    EXPECT_EQ(FindResumeValue("offset=1\noffset=2\n", "offset"), "1");
    EXPECT_EQ(FindResumeValue("Offset=1\n", "offset"), "");
    EXPECT_EQ(FindResumeValue("offset=5", "offset"), "5");  // last line without LF
    const std::string longLine(120, 'x');
    EXPECT_EQ(FindResumeValue(longLine + "\noffset=1\n", "offset"), "");  // a long line ends the reading
    EXPECT_EQ(FindResumeValue("offset=1\n" + longLine + "\n", "offset"), "1");
    EXPECT_EQ(FindResumeValue("k=" + std::string(97, 'v') + "\noffset=1\n", "offset"), "1");  // 99 fit
    EXPECT_EQ(FindResumeValue("k=" + std::string(98, 'v') + "\noffset=1\n", "offset"), "");  // 100 do not
}

TEST(AddressTemplate, FillsEveryPlaceholder) {
    EXPECT_EQ(FillAddressTemplate("http://h/{ditch_name}/{version}/{ditch_name}.zip", "drevoline", "1.0.2.7"),
              "http://h/drevoline/1.0.2.7/drevoline.zip");
    EXPECT_EQ(FillAddressTemplate("http://h/p.zip", "drevoline", "1.0"), "http://h/p.zip");
    EXPECT_EQ(FillAddressTemplate("{version}{version}", "d", "1.0.0.3\r"), "1.0.0.3\r1.0.0.3\r");  // verbatim
    EXPECT_EQ(FillAddressTemplate("{Version}{ditch_name", "d", "1"), "{Version}{ditch_name");
    EXPECT_EQ(ReplaceAll("aaa", "a", "aa"), "aaaaaa");  // replacements are not searched again
}

TEST(StartingPoint, VersionsAndOffsetsDecide) {
    const auto choose = [](LocalClientVersion held, std::int64_t offset, std::int64_t total) {
        return ChooseStartingPoint({held, V(1, 0, 0, 0), V(1, 0, 2, 7), offset, total});
    };
    EXPECT_EQ(choose(V(1, 0, 2, 7), 300, 900), StartingPoint::Resume);
    EXPECT_EQ(choose(V(1, 0, 2, 6), 300, 900), StartingPoint::RestartOtherVersion);
    EXPECT_EQ(choose(V(0, 9, 0, 0), 300, 900), StartingPoint::RestartOlderThanMinimum);
    EXPECT_EQ(choose(V(0, 9, 0, 0), 900, 900), StartingPoint::RestartOlderThanMinimum);  // even when complete
    EXPECT_EQ(choose(V(1, 0, 2, 7), 900, 900), StartingPoint::UnpackHeldPackage);        // finished earlier
    EXPECT_EQ(choose(V(1, 0, 2, 7), 0, 0), StartingPoint::UnpackHeldPackage);            // first install
    EXPECT_EQ(choose(V(1, 0, 2, 7), 0, 900), StartingPoint::UnpackHeldPackage);
    EXPECT_EQ(choose(V(1, 0, 2, 7), -5, 900), StartingPoint::UnpackHeldPackage);
    EXPECT_EQ(choose(V(1, 0, 2, 7), 901, 900), StartingPoint::UnpackHeldPackage);
}

TEST(DownloadProgress, PercentOfHeldBytes) {
    auto p = ComputeDownloadProgress(0, 0, 0);
    EXPECT_EQ(p.percent, 0);
    EXPECT_EQ(p.text, "0%");
    EXPECT_FALSE(p.sizeKnown);

    p = ComputeDownloadProgress(300, 0, 0);  // size not announced yet: 0% whatever is held
    EXPECT_EQ(p.text, "0%");
    EXPECT_EQ(p.offset, 300);

    p = ComputeDownloadProgress(300, 33, 600);  // (300 + 33) * 100 / 900, truncated
    EXPECT_EQ(p.offset, 333);
    EXPECT_EQ(p.total, 900);
    EXPECT_EQ(p.percent, 37);
    EXPECT_EQ(p.text, "37%");
    EXPECT_TRUE(p.sizeKnown);

    EXPECT_EQ(ComputeDownloadProgress(0, 899, 900).percent, 99);
    EXPECT_EQ(ComputeDownloadProgress(0, 900, 900).text, "100%");
    EXPECT_EQ(ComputeDownloadProgress(0, 5000, 900).text, "100%");  // more than announced
    const std::int64_t huge = std::numeric_limits<std::int64_t>::max() / 2;
    EXPECT_EQ(ComputeDownloadProgress(huge, 1, huge).percent, 49);  // no overflow for absurd sizes
}

TEST(UnpackProgress, EntryCountsAndPercents) {
    EXPECT_EQ(ComputeUnpackProgress(1, 3).text, "1/3");
    EXPECT_EQ(ComputeUnpackProgress(1, 3).percent, 33);
    EXPECT_EQ(ComputeUnpackProgress(2, 3).percent, 66);
    EXPECT_EQ(ComputeUnpackProgress(3, 3).percent, 100);
    EXPECT_EQ(ComputeUnpackProgress(999, 1000).percent, 99);
    EXPECT_EQ(ComputeUnpackProgress(70000, 70000).text, "70000/70000");
}

TEST(ArchiveEntryName, OnlyNamesInsideTheClientFolder) {
    for (const char* inside : {"zavo/", "zavo/zavo.exe", "a/b/c.txt", "..data/x", "a/..b", "x..", "./a", "读我.txt"}) {
        EXPECT_TRUE(IsContainedEntryName(inside)) << inside;
    }
    for (const char* outside : {"../evil.txt", "zavo/../../evil", "a/..", "..", "/etc/passwd", "\\evil",
                                "..\\evil.txt", "a\\..\\..\\b", "C:/evil", "c:evil", ""}) {
        EXPECT_FALSE(IsContainedEntryName(outside)) << outside;
    }
}

TEST(PackageSignature, VerifiesEd25519AsPublishedAndRefusesEverythingElse) {
    // RFC 8032, section 7.1, test 2: the one-byte message "r".
    const std::string key = "PUAXw+hDiVqStwqnTRt+vJyYLM8uxJaMwM1V8Sr0Zgw=";
    const std::string signature = "kqAJqfDUyrhyDoILX2QlQKKye1QWUD+Ps3YiI+vbadoIWsHkPhWZbkWPNhPQ8R2MOHsurrQwKu6wDSkWErsMAA==";
    std::string problem;
    EXPECT_TRUE(VerifyEd25519(key, "r", signature, problem)) << problem;
    // The configuration document cuts a value at its second "=", so the padding comes without.
    EXPECT_TRUE(VerifyEd25519(key, "r", signature.substr(0, signature.size() - 2), problem)) << problem;
    EXPECT_FALSE(VerifyEd25519(key, "s", signature, problem));
    EXPECT_FALSE(VerifyEd25519(key, "r", "A" + signature.substr(1), problem));
    EXPECT_FALSE(VerifyEd25519(key, "r", signature.substr(0, 84), problem));  // 63 bytes
    EXPECT_FALSE(VerifyEd25519(key.substr(0, 40), "r", signature, problem));
    for (const char* bad : {"Y", "YW J", "YQ=a", "Y===", "YWJj\r"}) {
        EXPECT_FALSE(DecodeBase64(bad)) << bad;
    }
}

TEST(PackageDigest, KnownAnswersWhateverThePiecesAndTheKeptPartOfAResumedDownload) {
    // FIPS 180-2, appendix B.
    PackageDigest abc;
    abc.Update("abc", 3);
    EXPECT_EQ(abc.FinishHex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(abc.FinishHex(), "");  // a finished digest gives nothing more
    const std::string million(1000000, 'a');
    const std::string expected = "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0";
    PackageDigest pieces;
    for (std::size_t at = 0; at < million.size(); at += 7777) {
        pieces.Update(million.data() + at, std::min<std::size_t>(7777, million.size() - at));
    }
    EXPECT_EQ(pieces.FinishHex(), expected);

    testing_support::TempDir dir;
    const std::string path = dir.path() + "/package";
    testing_support::WriteFile(path, million);
    PackageDigest resumed;  // the bytes kept from an earlier run, then the rest as it arrives
    EXPECT_TRUE(resumed.UpdateFromFile(path, 400000));
    resumed.Update(million.data() + 400000, 600000);
    EXPECT_EQ(resumed.FinishHex(), expected);
    EXPECT_EQ(Sha256FileHex(path), expected);
    PackageDigest shortFile;  // the file holds fewer bytes than the record says were kept
    EXPECT_FALSE(shortFile.UpdateFromFile(path, 1000001));
    EXPECT_EQ(shortFile.FinishHex(), "");
    EXPECT_EQ(Sha256FileHex(dir.path() + "/missing"), "");
}

TEST(PackageDigest, TheProcessorsExtensionsAgreeWithTheSystemsHashAtEveryLengthAndSplit) {
    if (!package_crypto::Sha256ExtensionsPresent()) {
        GTEST_SKIP() << "this processor has no SHA extensions";
    }
    std::string bytes(4096 + 200, '\0');
    std::uint32_t noise = 7;
    for (char& byte : bytes) {
        noise = noise * 1103515245u + 12345u;
        byte = static_cast<char>(noise >> 16);
    }
    // Every length around the padding's edges, then a long one in uneven pieces.
    for (std::size_t length : {0, 1, 55, 56, 57, 63, 64, 65, 119, 120, 128, 4096 + 200}) {
        for (std::size_t piece : {1, 3, 64, 65, 100000}) {
            package_crypto::Sha256Extensions extensions;
            for (std::size_t at = 0; at < length; at += piece) {
                extensions.Update(bytes.data() + at, std::min(piece, length - at));
            }
            unsigned char digest[32];
            extensions.Finish(digest);
            const auto system = package_crypto::NewSha256();
            ASSERT_TRUE(system);
            ASSERT_TRUE(package_crypto::UpdateSha256(*system, bytes.data(), length));
            EXPECT_EQ(std::string(reinterpret_cast<char*>(digest), 32), package_crypto::FinishSha256(*system))
                << length << " bytes in pieces of " << piece;
        }
    }
}

TEST(Base64, RoundTripsEveryTailLength) {
    EXPECT_EQ(EncodeBase64("Man"), "TWFu");
    EXPECT_EQ(EncodeBase64("Ma"), "TWE=");
    EXPECT_EQ(EncodeBase64("M"), "TQ==");
    EXPECT_EQ(EncodeBase64(""), "");
    EXPECT_FALSE(DecodeBase64(""));  // nothing is no value
    std::string bytes(1, '\x7f');
    for (int n = 1; n < 70; ++n) {
        const std::string encoded = EncodeBase64(bytes);
        EXPECT_EQ(DecodeBase64(encoded), bytes) << encoded;
        const std::string unpadded = encoded.substr(0, encoded.find('='));
        if (!unpadded.empty()) {
            EXPECT_EQ(DecodeBase64(unpadded), bytes) << unpadded;
        }
        bytes += static_cast<char>(n * 37 + 200);
    }
}
