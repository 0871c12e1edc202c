#include <gtest/gtest.h>

#include "ui/ProgressRepeats.h"

using State = ProgressRepeats::State;

TEST(ProgressRepeats, OnlyReportsThatChangeTheOverlayAreCarriedOver) {
    ProgressRepeats repeats;
    // The first download report, then libcurl's many repeats of the same percent.
    EXPECT_TRUE(repeats.ShowProgressChanges("", 0, 1));
    EXPECT_TRUE(repeats.StateChanges(State::Progress));
    for (int i = 0; i < 100; ++i) {
        EXPECT_FALSE(repeats.ShowProgressChanges("", 0, 1));
        EXPECT_FALSE(repeats.StateChanges(State::Progress));
    }
    // A new percent is drawn, and the state that follows shows the texts it hid again.
    EXPECT_TRUE(repeats.ShowProgressChanges("", 1, 1));
    EXPECT_TRUE(repeats.StateChanges(State::Progress));
    // The same percent in another phase sets the other caption.
    EXPECT_TRUE(repeats.ShowProgressChanges("", 1, 0));
    EXPECT_TRUE(repeats.StateChanges(State::Progress));
}

TEST(ProgressRepeats, MessagesAndStatesAreNeverLostBetweenPhases) {
    ProgressRepeats repeats;
    EXPECT_TRUE(repeats.ShowProgressChanges("", 100, 1));
    EXPECT_TRUE(repeats.StateChanges(State::Progress));
    // "更新已完成" after a download at 100%: new status text, and the message state.
    EXPECT_TRUE(repeats.ShowProgressChanges("更新已完成", 0, 0));
    EXPECT_TRUE(repeats.StateChanges(State::Message));
    EXPECT_FALSE(repeats.ShowProgressChanges("更新已完成", 0, 0));
    EXPECT_FALSE(repeats.StateChanges(State::Message));
    // A state change alone is carried over even when the values repeat.
    EXPECT_TRUE(repeats.StateChanges(State::Progress));
    EXPECT_TRUE(repeats.StateChanges(State::Message));
}
