// A timing trial between two ways of doing the same work, the usual one and an alternative: turns
// of each, alternately, then the way that proved faster. Both ways give the same answers; only the
// time differs. Each way is judged by its quickest turn per unit of work, the one least disturbed
// by other work on the machine, and after a turn of each a way twice as slow as the other at its
// best is dropped. The choice holds for `keepFor` turns, then the trial runs again, so that a burst
// of other work during one trial costs a stretch of the call, not all of it; each trial that
// confirms the choice doubles the stretch, so that trials cost little where the choice is stable.
#pragma once

#include <chrono>
#include <limits>

namespace sphnet {

class SearchTrial {
  public:
    // `turns` in all, the alternative's first; the first choice then holds for `keepFor` turns.
    SearchTrial(int turns, int keepFor) : turns_(turns), keepFor_(keepFor), stretch_(keepFor) {}

    bool deciding() const { return turn_ < turns_; }
    // Whether to take the alternative now: the turn's way while deciding, then the faster.
    bool alternative() const { return deciding() ? turn_ % 2 == 0 : alternativeFaster_; }
    // A turn of the way chosen starts, and ends having done `units` of work.
    void start() { start_ = std::chrono::steady_clock::now(); }
    void stop(double units) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        double& best = best_[alternative() ? 1 : 0];
        if (seconds / units < best) best = seconds / units;
        const bool clear = best_[0] > 2.0 * best_[1] || best_[1] > 2.0 * best_[0];
        if (++turn_ >= 2 && (clear || turn_ == turns_)) {
            const bool before = alternativeFaster_;
            alternativeFaster_ = best_[1] < best_[0];
            if (tried_) stretch_ = alternativeFaster_ != before ? keepFor_ : grown(stretch_);
            tried_ = true;
            turn_ = turns_;
        }
    }
    // A turn of the way chosen, untimed, once the trial has decided.
    void keep() {
        if (++kept_ < stretch_) return;
        kept_ = turn_ = 0;
        best_[0] = best_[1] = std::numeric_limits<double>::infinity();
    }
    // The turns the present choice holds for.
    int stretch() const { return stretch_; }

  private:
    // Doubled, up to about 2^24 turns: far beyond any call's blocks, and no overflow.
    static int grown(int stretch) { return stretch < (1 << 24) ? 2 * stretch : stretch; }
    int turns_;
    int keepFor_;
    int stretch_;
    int turn_ = 0;
    int kept_ = 0;
    bool tried_ = false;  // a choice has been made before
    bool alternativeFaster_ = false;
    double best_[2] = {std::numeric_limits<double>::infinity(),
                       std::numeric_limits<double>::infinity()};
    std::chrono::steady_clock::time_point start_;
};

}  // namespace sphnet
