// The timing trial: its turns alternate, it decides after its last turn whatever the times, and
// it runs again once its choice has held for its stretch of untimed turns.
#include <gtest/gtest.h>

#include "search_trial.h"

using namespace sphnet;

TEST(SearchTrial, AlternatesDecidesAndTrialsAgainAfterItsStretch) {
    SearchTrial trial(2, true, 3);
    for (int round = 0; round < 2; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            ASSERT_TRUE(trial.deciding());
            EXPECT_EQ(trial.alternative(), turn == 0);  // the alternative's turn first
            trial.start();
            trial.stop(1.0);
        }
        EXPECT_FALSE(trial.deciding());
        for (int kept = 0; kept < 3; ++kept) {
            EXPECT_FALSE(trial.deciding());
            trial.keep();
        }
    }
    EXPECT_TRUE(trial.deciding());
}
