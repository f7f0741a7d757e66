// The timing trial: its turns alternate, it decides after its last turn whatever the times, and
// it runs again once its choice has held for its stretch of untimed turns, a stretch that grows
// while the trials agree.
#include <gtest/gtest.h>

#include "search_trial.h"

using namespace sphnet;

TEST(SearchTrial, AlternatesDecidesAndTrialsAgainAfterAGrowingStretch) {
    SearchTrial trial(2, 3);
    bool chosen = false;
    for (int round = 0; round < 2; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            ASSERT_TRUE(trial.deciding());
            EXPECT_EQ(trial.alternative(), turn == 0);  // the alternative's turn first
            trial.start();
            trial.stop(1.0);
        }
        ASSERT_FALSE(trial.deciding());
        // The stretch doubles where the trial confirms the choice, and starts over where not.
        if (round > 0) {
            EXPECT_EQ(trial.stretch(), trial.alternative() == chosen ? 6 : 3);
        }
        chosen = trial.alternative();
        const int stretch = trial.stretch();
        for (int kept = 0; kept < stretch; ++kept) {
            EXPECT_FALSE(trial.deciding());
            EXPECT_EQ(trial.alternative(), chosen);
            trial.keep();
        }
        EXPECT_TRUE(trial.deciding());
    }
}
