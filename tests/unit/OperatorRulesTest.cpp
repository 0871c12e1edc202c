#include <gtest/gtest.h>

#include "Rules.h"

TEST(OperatorRules, SpecsCombineAndRejectWhatTheyDoNotKnow) {
    auto rule = ParseRule("stall-after=4096,rate=1000,times=2");
    ASSERT_TRUE(rule);
    EXPECT_EQ(rule->cutAfter, 4096u);
    EXPECT_TRUE(rule->stallAfterCut);
    EXPECT_EQ(rule->rate, 1000u);
    EXPECT_EQ(rule->times, 2);
    EXPECT_TRUE(ParseRule("ignore-ranges")->ignoreRanges);
    EXPECT_EQ(ParseRule("redirect=/b,status=301")->redirect, "/b");
    EXPECT_EQ(ParseRule("status=404")->status, 404);
    rule = ParseRule("status-body=500,endless,crlf,bom");
    ASSERT_TRUE(rule);
    EXPECT_EQ(rule->bodyStatus, 500);
    EXPECT_EQ(rule->status, 0);  // the body is still the path's own
    EXPECT_TRUE(rule->endless && rule->crlf && rule->bom);
    for (const char* bad : {"status=99", "cut=", "cut=-1", "rate=0", "stall=1", "bogus", "times=0", "status-body=7",
                            "endless=1"}) {
        EXPECT_FALSE(ParseRule(bad)) << bad;
    }
}

TEST(OperatorRules, OnlySingleByteRangesAreUnderstood) {
    EXPECT_EQ(ParseSingleRange("bytes=300-"), (std::pair<size_t, std::optional<size_t>>{300, std::nullopt}));
    EXPECT_EQ(ParseSingleRange("bytes=0-99"), (std::pair<size_t, std::optional<size_t>>{0, 99}));
    for (const char* other : {"", "bytes=-5", "bytes=5-1", "bytes=1-2,4-5", "items=1-", "bytes=x-"}) {
        EXPECT_FALSE(ParseSingleRange(other)) << other;
    }
}
