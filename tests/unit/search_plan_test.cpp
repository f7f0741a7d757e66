// The search plan's words: what parses, what is refused, and the text describing a plan.
#include <gtest/gtest.h>

#include "search_plan.h"

using namespace sphnet;

TEST(SearchPlanWords, ReadsAndDescribesTheCounts) {
    SearchPlan plan;
    ASSERT_TRUE(parseSearchPlan("memory=5 foreign=tiles,handover=64 isa=avx2", plan));
    EXPECT_EQ(plan.foreignInReach, SearchStructure::Tiles);
    EXPECT_EQ(plan.handoverNodes, 64);
    EXPECT_EQ(plan.memoryNodes, 5);
    EXPECT_EQ(describeSearchPlan(plan), "foreign=tiles isa=avx2 handover=64 memory=5");
    ASSERT_TRUE(parseSearchPlan("handover=0", plan));
    EXPECT_EQ(describeSearchPlan(plan), "");
    for (const char* bad : {"handover=-1", "handover=", "handover=1e3", "handover=2147483648",
                            "handover=99999999999"}) {
        plan.handoverNodes = 7;
        EXPECT_FALSE(parseSearchPlan(bad, plan)) << bad;
        EXPECT_EQ(plan.handoverNodes, 7) << bad;  // untouched
    }
}
