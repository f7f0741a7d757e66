#include "standby_thread.h"

#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>
#endif

namespace sphnet {

namespace {

// About a fifth of a millisecond of spinning before the thread sleeps: patterns follow one
// another faster than that while a scan is worth splitting.
constexpr int kSpinsBeforeSleep = 1 << 12;

// A job that has begun notices a cancellation within this many pauses when it has a core.
constexpr int kPromptSpins = 1 << 10;

}  // namespace

void spinPause() {
#if defined(__x86_64__) || defined(_M_X64)
    _mm_pause();
#else
    std::this_thread::yield();
#endif
}

StandbyThread::~StandbyThread() {
    stop();
}

void StandbyThread::stop() {
    end();
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        state_.store(kQuit, std::memory_order_seq_cst);
    }
    wake_.notify_one();
    thread_.join();
    state_.store(kIdle, std::memory_order_relaxed);
}

bool StandbyThread::start() {
    if (thread_.joinable()) return true;
    try {
        thread_ = std::thread([this] { serve(); });
    } catch (...) {
        return false;  // no thread: every job runs on the calling thread
    }
    return true;
}

void StandbyThread::publish() {
    pending_ = true;
    state_.store(kPosted, std::memory_order_seq_cst);
    // The thread marks itself asleep before it checks the state under the lock, so either it
    // sees this job or this sees it asleep.
    woken_ = asleep_.load(std::memory_order_seq_cst);
    if (woken_) {
        { std::lock_guard<std::mutex> lock(mutex_); }
        wake_.notify_one();
    }
}

void StandbyThread::serve() {
    for (;;) {
        int state = state_.load(std::memory_order_acquire);
        for (int spins = 0; state != kPosted && state != kQuit;
             state = state_.load(std::memory_order_acquire)) {
            if (++spins < kSpinsBeforeSleep) {
                spinPause();
                continue;
            }
            std::unique_lock<std::mutex> lock(mutex_);
            asleep_.store(true, std::memory_order_seq_cst);
            wake_.wait(lock, [this] {
                const int now = state_.load(std::memory_order_seq_cst);
                return now == kPosted || now == kQuit;
            });
            asleep_.store(false, std::memory_order_relaxed);
            spins = 0;
        }
        if (state == kQuit) return;
        int expected = kPosted;
        // The caller may have taken the job back, or begun it itself.
        if (!state_.compare_exchange_strong(expected, kRunning, std::memory_order_acq_rel))
            continue;
        call_(object_, cancelled_);
        state_.store(kDone, std::memory_order_release);
    }
}

bool StandbyThread::end() {
    if (!pending_) return true;
    pending_ = false;
    cancelled_.store(true, std::memory_order_release);
    int expected = kPosted;
    bool prompt = true;
    if (state_.compare_exchange_strong(expected, kIdle, std::memory_order_acq_rel)) {
        prompt = false;  // never begun
    } else {
        // Begun: it looks for the cancellation often. Should it not answer at once, its thread
        // is likely off its core: yielding lets it run should it share this one.
        for (int spins = 0; state_.load(std::memory_order_acquire) != kDone; ++spins) {
            if (spins < kPromptSpins) {
                spinPause();
            } else {
                prompt = false;
                std::this_thread::yield();
            }
        }
        state_.store(kIdle, std::memory_order_release);
    }
    cancelled_.store(false, std::memory_order_relaxed);
    // A thread just woken is slow to start for want of work, not of a core.
    return prompt || woken_;
}

}  // namespace sphnet
