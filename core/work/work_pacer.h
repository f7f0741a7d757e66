// Pacing long work so that an interrupt is answered at once. Work counts coordinate terms: one
// pattern against m nodes in n dimensions is m * n (what the plain scan would test, an upper bound
// on the fast scans' work). The host is polled after at most a fixed budget of terms, and only
// from the calling thread: host interfaces are not thread-safe.
#pragma once

#include <climits>
#include <cstdint>
#include <type_traits>

namespace sphnet {

// 2^20 terms: a millisecond or so of plain scanning.
constexpr std::uint64_t kDefaultPollBudget = std::uint64_t{1} << 20;

// A line of trace on the host's console counts as this many terms.
constexpr std::uint64_t kTermsPerTraceLine = 1024;

// What a scan paced by a ScanPacer answers when it stopped for an interrupt.
constexpr int kScanStopped = -2;

// The work of `nodes` coverage tests in n dimensions, counting at least one term per node and
// per scan, so that scans of nothing still count.
inline std::uint64_t paceTerms(int nodes, int n) {
    const std::uint64_t width = n > 0 ? static_cast<std::uint64_t>(n) : 1;
    return (nodes > 0 ? static_cast<std::uint64_t>(nodes) : 0) * width + 1;
}

// What a pacer has counted, for tests.
struct PacingTally {
    std::uint64_t polls = 0;                 // host polls made through pacers
    std::uint64_t callingThreadTerms = 0;    // work the calling thread counted
    std::uint64_t longestStretch = 0;        // most terms it counted without polling in between
    std::uint64_t workerTerms = 0;           // work counted on the helper thread
    std::uint64_t workerTermsAfterStop = 0;  // of that, sub-chunks it finished after the stop
};
// Counts the calling thread's work and polls the host once the budget is used up. Once a poll
// has reported an interrupt the pacer stays interrupted and polls no more.
class WorkPacer {
  public:
    explicit WorkPacer(std::uint64_t budget = kDefaultPollBudget)
        : budget_(budget > 0 ? budget : 1) {}
    WorkPacer(const WorkPacer&) = delete;
    WorkPacer& operator=(const WorkPacer&) = delete;

    // Polls now. True when the user has interrupted.
    bool poll();
    // Counts work without polling.
    void count(std::uint64_t terms) { sinceLastPoll_ += terms; }
    // Counts work and polls when the terms since the last poll reach the budget. True when the
    // user has interrupted.
    bool spend(std::uint64_t terms) {
        sinceLastPoll_ += terms;
        if (sinceLastPoll_ < budget_ || interrupted_) return interrupted_;
        return poll();
    }
    std::uint64_t budget() const { return budget_; }
    // Every term counted so far.
    std::uint64_t spent() const { return spentBefore_ + sinceLastPoll_; }
    // What it has counted so far, the stretch since the last poll included.
    PacingTally tally() const;
    // The helper thread's work in a paced range, counted once the helper has stopped.
    void noteWorkerTerms(std::uint64_t terms, std::uint64_t afterStop) {
        tally_.workerTerms += terms;
        tally_.workerTermsAfterStop += afterStop;
    }
    // Nodes of `termsPerNode` each that make an eighth of the budget (at least one).
    int scanStride(std::uint64_t termsPerNode) {
        if (termsPerNode != strideTerms_) {
            strideTerms_ = termsPerNode;
            stride_ = strideFor(termsPerNode);
        }
        return stride_;
    }

  private:
    int strideFor(std::uint64_t termsPerNode) const;
    PacingTally tally_;
    std::uint64_t strideTerms_ = 0;  // the terms per node stride_ is for
    int stride_ = 1;
    std::uint64_t budget_;
    std::uint64_t sinceLastPoll_ = 0;
    std::uint64_t spentBefore_ = 0;  // terms counted up to the last poll
    bool interrupted_ = false;
};

// Paces one scan over nodes, `termsPerNode` each, for a pacer that may be null (no pacing).
// The scan calls stopsAt(j) before node j; every so many nodes (an eighth of the budget's
// worth) it hands the terms of the nodes passed since to the pacer and says whether to stop.
class ScanPacer {
  public:
    ScanPacer(WorkPacer* pacer, std::uint64_t termsPerNode)
        : pacer_(pacer), termsPerNode_(termsPerNode > 0 ? termsPerNode : 1) {
        if (pacer_ == nullptr) return;
        stride_ = pacer_->scanStride(termsPerNode_);
        due_ = stride_;
    }
    bool stopsAt(int j) { return j >= due_ && report(j); }
    // The node before which the next report is due: a scan may run up to it unchecked.
    int due() const { return due_; }
    // The nodes reported so far: [0, reached()).
    int reached() const { return reached_; }

  private:
    bool report(int j);
    WorkPacer* pacer_;
    std::uint64_t termsPerNode_;
    int stride_ = 1;
    int due_ = INT_MAX;
    int reached_ = 0;
};

// A callable (begin, end, worker) by reference, without copying it or allocating: it must
// outlive the call it is passed to.
class RangeBody {
  public:
    template <typename F, typename = std::enable_if_t<!std::is_same_v<std::decay_t<F>, RangeBody>>>
    RangeBody(F&& f)  // NOLINT: converts any callable
        : object_(const_cast<void*>(static_cast<const void*>(&f))),
          call_([](void* o, int b, int e, int w) {
              (*static_cast<std::remove_reference_t<F>*>(o))(b, e, w);
          }) {}
    void operator()(int begin, int end, int worker) const { call_(object_, begin, end, worker); }

  private:
    void* object_;
    void (*call_)(void*, int, int, int);
};

// A sub-chunk holds max(minItems, budget / termsPerItem) items (the last one may hold fewer).
// A body that works on blocks of items may ask for whole blocks with minItems, at the price of
// sub-chunks above the budget when a block's work is more than that.
struct PacedRangeSpec {
    int count = 0;                   // items [0, count)
    std::uint64_t termsPerItem = 1;  // an upper bound on one item's work
    int workers = 1;                 // 1: the calling thread alone; 2 (or more): and one helper
    int minItems = 1;
};

struct PacedRange {
    bool interrupted = false;
    int done = 0;  // items [0, done) were handled, each one completely; no others
};

// Hands [0, count) out in order, in sub-chunks [begin, end) of at most one budget of work (at
// least minItems items), to body(begin, end, worker): worker 0 is the calling thread, worker 1 a
// helper started once where workers = 2 (else, or should it not start, the calling thread does
// all), which must not call the host. The calling thread polls before anything starts and after
// each of its sub-chunks; an interrupt raises a stop flag the helper checks before each of its
// own. A sub-chunk under way always completes.
PacedRange runPacedRange(const PacedRangeSpec& range, WorkPacer& pacer, RangeBody body);

}  // namespace sphnet
