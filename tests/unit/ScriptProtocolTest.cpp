// The page bridge's messages: every kind crosses unchanged, and nothing a confused or hostile
// peer sends is taken for a message or makes the reader buffer without bound.

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "webext/ScriptProtocol.h"

using namespace ScriptWire;
using namespace std::string_literals;

namespace {

ScriptValue StringValue(std::string text) { return ScriptValue(std::move(text)); }

const std::vector<std::string> kHostileTexts = {
    "",
    "it's \"quoted\" and back\\slashed",
    "line\nbreak\r\n\t",
    "</script><script>alert(1)</script>",
    "登录验证未通过 ✓ 🎮",
    "nul\0inside"s,
    "\xFF\xFE not UTF-8 \xC0",
};

// The payload of a whole frame, checking that its header announces exactly the rest.
std::string PayloadOf(const std::string& frame) {
    EXPECT_GE(frame.size(), kHeaderBytes);
    char header[kHeaderBytes];
    frame.copy(header, kHeaderBytes);
    EXPECT_EQ(AnnouncedLength(header), frame.size() - kHeaderBytes);
    return frame.substr(kHeaderBytes);
}

std::string Header(std::uint32_t length) {
    return {static_cast<char>(length >> 24), static_cast<char>(length >> 16), static_cast<char>(length >> 8),
            static_cast<char>(length)};
}

std::vector<Request> SampleRequests() {
    std::vector<Request> requests = {Lookup{""}, Lookup{"JavascriptToCsharp"}, Call{1, {}}, Call{-1, {"", ""}},
                                     Call{INT_MAX, kHostileTexts}, Call{INT_MIN, {"LoginResult", "true|abc"}}};
    for (const auto& text : kHostileTexts) {
        requests.push_back(Lookup{text});
    }
    return requests;
}

std::vector<Reply> SampleReplies() {
    std::vector<Reply> replies = {DispatchId{-1},         DispatchId{3},           DispatchId{INT_MIN},
                                  ScriptValue{},   ScriptValue(true), ScriptValue(false),
                                  Failure{""},            Failure{"window.external: no"}};
    for (const auto& text : kHostileTexts) {
        replies.push_back(StringValue(text));
    }
    return replies;
}

class RecordingDispatcher final : public ScriptDispatcher {
public:
    int Lookup(const std::string& name) override {
        lookups.push_back(name);
        return name == "IsDownLoadComplete" ? 3 : -1;
    }
    ScriptValue Invoke(int id, const std::vector<std::string>& args) override {
        calls.push_back({id, args});
        return answer;
    }

    std::vector<std::string> lookups;
    std::vector<Call> calls;
    ScriptValue answer;
};

}  // namespace

TEST(ScriptWire, EveryKindOfMessageCrossesUnchanged) {
    for (const auto& request : SampleRequests()) {
        const auto frame = EncodeRequest(request);
        ASSERT_TRUE(frame);
        EXPECT_EQ(DecodeRequest(PayloadOf(*frame)), request);
        EXPECT_EQ(DecodeReply(PayloadOf(*frame)), std::nullopt) << "a request is no reply";
    }
    for (const auto& reply : SampleReplies()) {
        const auto frame = EncodeReply(reply);
        ASSERT_TRUE(frame);
        EXPECT_EQ(DecodeReply(PayloadOf(*frame)), reply);
        EXPECT_EQ(DecodeRequest(PayloadOf(*frame)), std::nullopt) << "a reply is no request";
    }
}

TEST(ScriptWire, TruncatedPaddedAndMadeUpPayloadsAreRefused) {
    std::vector<std::string> valid;
    for (const auto& request : SampleRequests()) {
        valid.push_back(PayloadOf(*EncodeRequest(request)));
    }
    for (const auto& reply : SampleReplies()) {
        valid.push_back(PayloadOf(*EncodeReply(reply)));
    }
    for (const auto& payload : valid) {
        for (size_t cut = 0; cut < payload.size(); ++cut) {
            const std::string prefix = payload.substr(0, cut);
            EXPECT_FALSE(DecodeRequest(prefix)) << "cut at " << cut;
            EXPECT_FALSE(DecodeReply(prefix)) << "cut at " << cut;
        }
        EXPECT_FALSE(DecodeRequest(payload + "x"));
        EXPECT_FALSE(DecodeReply(payload + "x"));
    }
    EXPECT_FALSE(DecodeReply("B\x02"));                 // a boolean is 0 or 1
    EXPECT_FALSE(DecodeReply("Z"));                     // no such kind
    EXPECT_FALSE(DecodeRequest("N\xFF\xFF\xFF\xFF" "abc"));  // a text longer than what follows
    // A count no payload could hold is refused before it sizes anything.
    EXPECT_FALSE(DecodeRequest("C\0\0\0\x01\xFF\xFF\xFF\xFF"s));
    EXPECT_FALSE(DecodeRequest("C\0\0\0\x01\0\0\0\x02\0\0\0\0"s));
}

TEST(ScriptWire, MessagesBeyondTheLimitAreNeitherWrittenNorRead) {
    EXPECT_FALSE(EncodeRequest(Call{1, {std::string(kMaxPayloadBytes, 'a')}}));
    EXPECT_FALSE(EncodeRequest(Call{1, {std::string(kMaxPayloadBytes / 2, 'a'), std::string(kMaxPayloadBytes / 2, 'b')}}));
    EXPECT_FALSE(EncodeReply(StringValue(std::string(kMaxPayloadBytes, 'a'))));
    const auto largest = EncodeReply(StringValue(std::string(kMaxPayloadBytes - 5, 'a')));
    ASSERT_TRUE(largest);
    EXPECT_EQ(largest->size(), kHeaderBytes + kMaxPayloadBytes);

    FrameReader reader;
    reader.Append(*largest);
    EXPECT_EQ(DecodeReply(*reader.Next()), Reply(StringValue(std::string(kMaxPayloadBytes - 5, 'a'))));

    FrameReader hostile;
    hostile.Append(Header(kMaxPayloadBytes + 1));
    EXPECT_FALSE(hostile.Next());
    EXPECT_TRUE(hostile.Refused());
    hostile.Append(*EncodeRequest(Lookup{"Echo"}));  // nothing after a lie is believed
    EXPECT_FALSE(hostile.Next());
}

TEST(ScriptWire, FramesAreCutFromTheStreamHoweverTheBytesArrive) {
    const std::string stream = *EncodeRequest(Lookup{"AppLogin"}) + *EncodeRequest(Call{2, {"true|abc"}}) +
                               *EncodeReply(ScriptValue{});
    const std::vector<std::string> expected = {PayloadOf(*EncodeRequest(Lookup{"AppLogin"})),
                                               PayloadOf(*EncodeRequest(Call{2, {"true|abc"}})), "U"};

    FrameReader whole;
    whole.Append(stream);
    std::vector<std::string> got;
    while (auto payload = whole.Next()) {
        got.push_back(*payload);
    }
    EXPECT_EQ(got, expected);

    FrameReader trickle;
    got.clear();
    for (const char byte : stream) {
        trickle.Append(std::string_view(&byte, 1));
        while (auto payload = trickle.Next()) {
            got.push_back(*payload);
        }
    }
    EXPECT_EQ(got, expected);
    EXPECT_FALSE(trickle.Refused());

    FrameReader announced;  // the largest allowed frame is waited for, not refused
    announced.Append(Header(kMaxPayloadBytes));
    EXPECT_FALSE(announced.Next());
    EXPECT_FALSE(announced.Refused());
}

TEST(ScriptWire, AnswersComeFromTheDispatcherAndOnlyForWellFormedRequests) {
    RecordingDispatcher dispatcher;
    auto reply = Answer(dispatcher, PayloadOf(*EncodeRequest(Lookup{"IsDownLoadComplete"})));
    EXPECT_EQ(DecodeReply(PayloadOf(*reply)), Reply(DispatchId{3}));
    reply = Answer(dispatcher, PayloadOf(*EncodeRequest(Lookup{"isdownloadcomplete"})));
    EXPECT_EQ(DecodeReply(PayloadOf(*reply)), Reply(DispatchId{-1}));

    dispatcher.answer = StringValue("/opt/valdrune/Valdrune");
    reply = Answer(dispatcher, PayloadOf(*EncodeRequest(Call{1, {"GetCommandLine", ""}})));
    EXPECT_EQ(DecodeReply(PayloadOf(*reply)), Reply(StringValue("/opt/valdrune/Valdrune")));
    ASSERT_EQ(dispatcher.calls.size(), 1u);
    EXPECT_EQ(dispatcher.calls[0], (Call{1, {"GetCommandLine", ""}}));

    // An answer too long to send becomes a failure the page can see, not a broken line.
    dispatcher.answer = StringValue(std::string(kMaxPayloadBytes, 'x'));
    reply = Answer(dispatcher, PayloadOf(*EncodeRequest(Call{1, {}})));
    ASSERT_TRUE(reply);
    EXPECT_TRUE(std::holds_alternative<Failure>(*DecodeReply(PayloadOf(*reply))));

    EXPECT_FALSE(Answer(dispatcher, "C\0\0\0\x01"s));
    EXPECT_FALSE(Answer(dispatcher, "U"));
    EXPECT_EQ(dispatcher.calls.size(), 2u);
    EXPECT_EQ(dispatcher.lookups.size(), 2u);
}
