#include "work_pacer.h"

#include <algorithm>
#include <atomic>
#include <thread>

#include "mex_host.h"

namespace sphnet {

namespace {
void noteStretch(PacingTally& tally, std::uint64_t terms) {
    tally.callingThreadTerms += terms;
    if (terms > tally.longestStretch) tally.longestStretch = terms;
}
// Items per claimed sub-chunk: one poll budget's worth (`budgetItems`), at least
// range.minItems and one, at most all `count`.
int claimStep(const PacedRangeSpec& range, std::uint64_t budgetItems, int count) {
    const auto least = static_cast<std::uint64_t>(range.minItems > 1 ? range.minItems : 1);
    return static_cast<int>(
        std::min(std::max(budgetItems, least), static_cast<std::uint64_t>(count)));
}

// Stops and joins the helper thread however the calling thread leaves.
struct StopAndJoin {
    std::thread& thread;
    std::atomic<bool>& stop;
    ~StopAndJoin() {
        if (!thread.joinable()) return;
        stop.store(true, std::memory_order_release);
        thread.join();
    }
};
}  // namespace

PacingTally WorkPacer::tally() const {
    PacingTally now = tally_;
    noteStretch(now, sinceLastPoll_);
    return now;
}

bool WorkPacer::poll() {
    if (interrupted_) return true;
    noteStretch(tally_, sinceLastPoll_);
    spentBefore_ += sinceLastPoll_;
    sinceLastPoll_ = 0;
    ++tally_.polls;
    interrupted_ = hostInterruptPending();
    return interrupted_;
}

int WorkPacer::strideFor(std::uint64_t termsPerNode) const {
    std::uint64_t stride = budget_ / 8 / (termsPerNode > 0 ? termsPerNode : 1);
    if (stride < 1) stride = 1;
    if (stride > INT_MAX / 2) stride = INT_MAX / 2;
    return static_cast<int>(stride);
}

bool ScanPacer::report(int j) {
    const bool stop = pacer_->spend(static_cast<std::uint64_t>(j - reached_) * termsPerNode_);
    reached_ = j;
    due_ = j > INT_MAX - stride_ ? INT_MAX : j + stride_;
    return stop;
}

PacedRange runPacedRange(const PacedRangeSpec& range, WorkPacer& pacer, RangeBody body) {
    PacedRange out;
    if (pacer.poll()) {
        out.interrupted = true;
        return out;
    }
    const int count = range.count > 0 ? range.count : 0;
    if (count == 0) return out;
    const std::uint64_t perItem = range.termsPerItem > 0 ? range.termsPerItem : 1;
    const int step = claimStep(range, pacer.budget() / perItem, count);

    // Sub-chunks are claimed in order; every claimed one is handled, so the handled items
    // always form the prefix [0, min(next, count)).
    std::atomic<std::int64_t> next{0};
    std::atomic<bool> stop{false};
    auto claim = [&](int& begin, int& end) {
        const std::int64_t at = next.fetch_add(step, std::memory_order_relaxed);
        if (at >= count) return false;
        begin = static_cast<int>(at);
        end = count - begin > step ? begin + step : count;
        return true;
    };
    std::uint64_t workerTerms = 0;
    std::uint64_t workerTermsAfterStop = 0;
    auto helper = [&]() {
        int begin = 0, end = 0;
        while (!stop.load(std::memory_order_acquire) && claim(begin, end)) {
            body(begin, end, 1);
            const std::uint64_t terms = static_cast<std::uint64_t>(end - begin) * perItem;
            workerTerms += terms;
            if (stop.load(std::memory_order_acquire)) workerTermsAfterStop += terms;
        }
    };
    std::thread thread;
    if (range.workers >= 2 && count > step) {
        try {
            thread = std::thread(helper);
        } catch (...) {
            // No thread: the calling thread claims every sub-chunk itself.
        }
    }
    const StopAndJoin joiner{thread, stop};

    int begin = 0, end = 0;
    while (claim(begin, end)) {
        body(begin, end, 0);
        pacer.count(static_cast<std::uint64_t>(end - begin) * perItem);
        if (pacer.poll()) {
            stop.store(true, std::memory_order_release);
            out.interrupted = true;
            break;
        }
    }
    if (thread.joinable()) thread.join();
    pacer.noteWorkerTerms(workerTerms, workerTermsAfterStop);
    const std::int64_t claimed = next.load(std::memory_order_relaxed);
    out.done = claimed < count ? static_cast<int>(claimed) : count;
    return out;
}

}  // namespace sphnet
