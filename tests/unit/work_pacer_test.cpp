// The pacer and the paced range runner: polls after a budget of work, scans that report their
// work as they go, sub-chunks that cover every item exactly once, and a body that throws.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "standin_host.h"
#include "work_pacer.h"

using namespace sphnet;

namespace {

TEST(WorkPacer, PollsOnceTheBudgetIsUsedUpAndStaysInterrupted) {
    standin::CallOptions options;
    options.interruptAfterPolls = 0;  // the first poll answers yes
    standin::Scope scope(options);
    {
        WorkPacer pacer(100);
        EXPECT_FALSE(pacer.spend(99));   // no poll yet
        EXPECT_TRUE(pacer.spend(1));     // 100 terms: the poll answers yes
        EXPECT_TRUE(pacer.spend(1000));  // and no poll after that
        EXPECT_TRUE(pacer.poll());
        EXPECT_EQ(pacer.spent(), 1100u);
    }
    EXPECT_EQ(scope.finish().interruptPolls, 1);
}

TEST(WorkPacer, ScansReportTheirWorkEveryEighthOfTheBudget) {
    standin::Scope scope;
    WorkPacer pacer(800);  // 10 nodes of 10 terms a report
    ScanPacer pace(&pacer, 10);
    int stops = 0;
    for (int j = 0; j < 95; ++j) stops += pace.stopsAt(j) ? 1 : 0;
    EXPECT_EQ(stops, 0);
    EXPECT_EQ(pace.reached(), 90);
    EXPECT_EQ(pace.due(), 100);
    EXPECT_EQ(pacer.spent(), 900u);
    EXPECT_EQ(scope.finish().interruptPolls, 1);  // at 800 terms
    // Without a pacer a scan never stops to report.
    ScanPacer none(nullptr, 10);
    EXPECT_FALSE(none.stopsAt(1 << 30));
}

TEST(WorkPacer, SubChunksCoverEveryItemOnceInOrder) {
    for (int workers : {1, 2}) {
        for (int minItems : {1, 64}) {
            standin::Scope scope;
            const int count = 10007;
            std::vector<std::atomic<int>> hits(count);
            std::atomic<int> calls{0};
            std::atomic<bool> badChunk{false};
            int lastBegin = -1;  // worker 0's sub-chunks come in increasing order
            const int step = minItems > 10 ? minItems : 10;  // 1000 terms of 100 each
            auto body = [&](int begin, int end, int worker) {
                ++calls;
                if (begin % step != 0 || end - begin > step || end <= begin) badChunk = true;
                if (worker == 0) {
                    if (begin <= lastBegin) badChunk = true;
                    lastBegin = begin;
                } else if (worker != 1 || workers == 1) {
                    badChunk = true;
                }
                for (int k = begin; k < end; ++k) ++hits[static_cast<std::size_t>(k)];
            };
            PacedRangeSpec range;
            range.count = count;
            range.termsPerItem = 100;
            range.workers = workers;
            range.minItems = minItems;
            WorkPacer pacer(1000);
            const PacedRange run = runPacedRange(range, pacer, body);
            const standin::CallResult host = scope.finish();
            EXPECT_FALSE(run.interrupted);
            EXPECT_EQ(run.done, count);
            EXPECT_FALSE(badChunk);
            EXPECT_EQ(calls, (count + step - 1) / step);
            for (int k = 0; k < count; ++k) ASSERT_EQ(hits[static_cast<std::size_t>(k)], 1) << k;
            EXPECT_TRUE(host.faults.empty());
        }
    }
}

TEST(WorkPacer, AThrowingBodyStopsAndJoinsTheHelperBeforeTheExceptionLeaves) {
    standin::Scope scope;
    std::atomic<bool> thrown{false};
    std::atomic<int> helperChunks{0};
    auto body = [&](int, int, int worker) {
        if (worker == 0) {
            thrown = true;
            throw std::runtime_error("body failed");
        }
        while (!thrown) std::this_thread::yield();
        ++helperChunks;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    PacedRangeSpec range;
    range.count = 1000000;
    range.workers = 2;
    WorkPacer pacer(1000);  // 1000 sub-chunks of 1000 items
    EXPECT_THROW(runPacedRange(range, pacer, body), std::runtime_error);
    // Joined: the helper makes no more calls. Stopped: it took a few sub-chunks, not the rest.
    const int seen = helperChunks;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(helperChunks, seen);
    EXPECT_LT(seen, 500);
    EXPECT_TRUE(scope.finish().faults.empty());
}

}  // namespace
