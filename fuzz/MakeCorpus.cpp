// Writes the fuzz targets' starting inputs with the launcher's own writers: the resume record's
// formatter, the page bridge's encoder, the registry store and the install registration, the
// test archives' builder. Run from the source folder after a change of an input format:
//
//     build/default/bin/make-fuzz-corpus fuzz/corpus
//
// Every file stays well under 64 KiB; libFuzzer grows its own corpus in the build folder.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "PageBridgeInput.h"
#include "TempHome.h"
#include "ZipBuilder.h"
#include "update/CGameRemoteConfig.h"
#include "update/ResumeRecord.h"
#include "platform/Registry.h"
#include "platform/posix/Linux.h"
#include "webext/ScriptProtocol.h"

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

fs::path g_root;

void Put(const std::string& target, const std::string& name, const std::string& bytes) {
    const fs::path folder = g_root / target;
    fs::create_directories(folder);
    if (bytes.size() >= 64 * 1024) {
        throw std::runtime_error(name + " is too large for a starting input");
    }
    std::ofstream(folder / name, std::ios::binary) << bytes;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::string kDocument =
    "EntryUrl=http://127.0.0.1:18080/www/login.html\n"
    "CustomParameters=demo\n"
    "ClientVersion=1.0.2.7\n"
    "ClientMiniUpdateVersion=1.0.2.7\n"
    "ClientDownloadUrl=http://127.0.0.1:18080/{ditch_name}/zavo-{version}.zip\n"
    "Client32DownloadUrl=http://127.0.0.1:18080/{ditch_name}/zavo32-{version}.zip\n"
    "ClientDownloadUrl2=http://127.0.0.1:18081/files/zavo.zip?ditch={ditch_name}\n";

void RemoteConfig() {
    // The first byte is the size of the chunks the body arrives in, less one.
    Put("remote-config", "operator-document", "\xff"s + kDocument);
    Put("remote-config", "operator-document-small-chunks", "\x06"s + kDocument);
    std::string crlf;
    for (const char c : kDocument) {
        crlf += c == '\n' ? "\r\n" : std::string(1, c);
    }
    Put("remote-config", "crlf-and-byte-order-mark", "\x40"s + "\xEF\xBB\xBF" + crlf);
    Put("remote-config", "quirks",
        "\x20"s + "title line\nA=1\nA=2\nUrl=a?x=1=2\n=empty key\nk=\n\nC=after the end");
    Put("remote-config", "nul-in-body", "\x08"s + "EntryUrl=http://x/\0hidden\nClientVersion=1.0.0.1\n"s);
}

void ResumeRecord() {
    Put("resume-record", "written", FormatResumeRecord({1, 0, 2, 7}, 300, 900));
    Put("resume-record", "written-limits",
        FormatResumeRecord({-2147483647 - 1, 2147483647, 0, -1}, INT64_MIN, INT64_MAX));
    std::string crlf;
    for (const char c : FormatResumeRecord({1, 0, 0, 3}, 12, 34)) {
        crlf += c == '\n' ? "\r\n" : std::string(1, c);
    }
    Put("resume-record", "edited-crlf", crlf);
    Put("resume-record", "cut-short", FormatResumeRecord({1, 0, 2, 7}, 123456789, 987654321).substr(0, 30));
    Put("resume-record", "long-line-first", std::string(120, 'x') + "\n" + FormatResumeRecord({1, 2, 3, 4}, 5, 6));
}

void VersionText() {
    Put("version-text", "plain", "1.0.2.7");
    Put("version-text", "pair", "1.0.0.5\0"s "1.0.0.5\r\n");
    Put("version-text", "odd", "v1.2\0"s " -3.+4.5.6.7");
    Put("version-text", "beyond-32-bits", "2147483648.-2147483649.99999999999999999999\0"s "1.2");
}

void PageBridge() {
    using namespace page_bridge_input;
    const auto request = [](const ScriptWire::Request& r) { return *ScriptWire::EncodeRequest(r); };
    const auto call = [&](int id, std::vector<std::string> args) { return request(ScriptWire::Call{id, std::move(args)}); };

    std::string page;
    page += Bytes(0, request(ScriptWire::Lookup{"JavascriptToCsharp"}));
    page += Bytes(0, call(1, {"GetCommandLine", ""}));
    page += Bytes(0, request(ScriptWire::Lookup{"IsDownLoadComplete"}));
    page += Bytes(0, call(3, {}));
    page += Ready();
    page += Bytes(0, call(3, {}));
    page += Bytes(0, call(1, {"LoginResult", "true|token=abc"}));
    Put("page-bridge", "login-then-ready", page);

    std::string twoPages;
    twoPages += Bytes(0, request(ScriptWire::Lookup{"AppLogin"}), 3);
    twoPages += Bytes(1, call(2, {"false|", "true|second"}), 5);
    twoPages += Bytes(0, call(1, {"LoginResult"}), 1);
    twoPages += Ready();
    twoPages += Bytes(1, call(2, {"true|data"}));
    twoPages += Reconnect(1);
    twoPages += Bytes(1, call(1, {"LoginResult", "TRUE|again"}));
    Put("page-bridge", "two-pages-cut-anywhere", twoPages);

    std::string hostile;
    hostile += Bytes(0, "\x00\x00\x00\x05X1234"s);                      // unknown kind
    hostile += Bytes(1, "\x7f\xff\xff\xff"s);                           // an oversized announcement
    hostile += Reconnect(0);
    hostile += Bytes(0, "\x00\x00\x00\x09" "C\x00\x00\x00\x01\xff\xff\xff\xff"s);  // a lying count
    hostile += Bytes(1, request(ScriptWire::Lookup{"javascripttocsharp"}));
    Put("page-bridge", "hostile", hostile);
}

void RegistryStore() {
    testing_support::TempHome home;
    CGameRemoteConfig::Settings settings;
    settings.dataDir = home.dataDir();
    settings.clientDir = home.clientDir();
    CGameRemoteConfig(settings).SetRegisties();
    platform::RegistryKey key;
    platform::RegCreateKeyEx(platform::RegistryHive::CurrentUser, "Software\\Valdrune\\Odd \"names\"", key);
    platform::RegSetStringValue(key, "Line\nbreaks\tand\x01" "controls", "C:\\path\\with \"quotes\"");
    platform::RegSetDwordValue(key, "Number", 4294967295u);
    const std::string hive = ReadAll(*platform::RegistryHiveFile(platform::RegistryHive::CurrentUser));
    Put("registry-store", "uninstall-entry", hive);
    Put("registry-store", "cut-short", hive.substr(0, hive.size() * 2 / 3));
}

void DesktopEntry() {
    const std::string userDirs = "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOWNLOAD_DIR=\"/data/Downloads/\"\n";
    Put("desktop-entry", "uninstall-shortcut",
        "\x01Valdrune-卸载\0/home/p/.local/share/zavo-drevoline/Valdrune\0Valdrune\0"s + userDirs);
    Put("desktop-entry", "odd-path",
        "\x00 Valdrune\t\0/o d/$x`\"\\100% \n\0\0XDG_DESKTOP_DIR=\"relative\"\nXDG_DESKTOP_DIR=\"$HOME\"\n"s);
}

void ReportQuery() {
    const std::string cpu = "processor\t: 0\nmodel name\t: Intel(R) Core(TM) i7 CPU @ 2.80GHz\n";
    Put("report-query", "download-start",
        "game download start, download url:http://127.0.0.1:18080/drevoline/zavo-1.0.2.7.zip?a=1&b=2#x\0"s + cpu +
            "\0"s + "6.1.0-18-amd64");
    Put("report-query", "folder-error", "创建数据目录失败,错误id:5\0model name\t: 100% / fast & ?\n\0not a release"s);
}

void ZipUnpack() {
    using testing_support::ZipBuilder;
    Put("zip-unpack", "game-package",
        ZipBuilder()
            .Directory("zavo/")
            .File("zavo/zavo.exe", "#!/bin/sh\necho zavo\n", 0755)
            .Directory("zavo/data/")
            .File("zavo/data/world.txt", "Valdrune demo world\n")
            .StoredFile("readme.txt", "read me\n")
            .Bytes());
    Put("zip-unpack", "wrong-checksum", ZipBuilder().FileWithWrongChecksum("a.txt", "checked").Bytes());
    Put("zip-unpack", "names-outside",
        ZipBuilder().File("../escape.txt", "x").File("/abs.txt", "y").File("a\\..\\..\\b", "z").Bytes());
    Put("zip-unpack", "file-before-folder", ZipBuilder().File("data/a.txt", "a").Directory("data/").Bytes());
    Put("zip-unpack", "empty", ZipBuilder().Bytes());
    Put("zip-unpack", "repetitive", ZipBuilder().File("big.txt", std::string(60000, 'v')).Bytes());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    g_root = argv[1];
    RemoteConfig();
    ResumeRecord();
    VersionText();
    PageBridge();
    RegistryStore();
    DesktopEntry();
    ReportQuery();
    ZipUnpack();
    return 0;
}
