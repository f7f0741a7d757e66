#include "node_candidates.h"

#include <cmath>
#include <limits>
#include <system_error>
#include <thread>

#include "search_allowances.h"

namespace sphnet {

namespace {
constexpr int kPanel = EuclideanPanels::kPanel;
constexpr int kGroup = EuclideanPanels::kGroup;
// Below this many coordinate terms a second thread is not worth starting.
constexpr double kParallelTerms = 1 << 22;
}  // namespace

void NodeCandidates::init(int n, double lowScale, double relLow, InstructionSet instructions) {
    *this = NodeCandidates();
    panels_.init(n, instructions);
    lowScale_ = relLow * lowScale;
    lowFactor_ = lowScale_ * (1.0 - 0x1p-40);
}

// The greatest D, less the pattern's slack, at which a node of this reach may still matter: the
// scan's distance is at least relLow * lowScale times the Euclidean distance, and D is at least
// its square less both slacks. Below kTinySquare the bounds say nothing.
double NodeCandidates::boundFor(double reach, double nodeSlack) const {
    return panelBound(reach * kRoundingSlack / lowScale_, nodeSlack);
}

bool NodeCandidates::append(const double* centre, double label, double ownReach,
                            double otherReach) {
    if (!panels_.append(centre)) return false;
    const int j = panels_.count() - 1;
    // Per-node values in whole panels, as the selection reads them; lanes past the last node
    // are never selected.
    const std::size_t whole = static_cast<std::size_t>(panels_.panels()) * kPanel;
    if (whole > labels_.size) {
        const double never = -std::numeric_limits<double>::infinity();
        if (!labels_.resize(whole, 0.0) || !nodeSlack_.resize(whole, 0.0) ||
            !ownBounds_.resize(whole, never) || !otherBounds_.resize(whole, never)) {
            return false;
        }
    }
    labels_.data[j] = label;
    nodeSlack_.data[j] = panels_.kappa() * panels_.squaredNorm(j);
    update(j, ownReach, otherReach);
    return true;
}

void NodeCandidates::update(int j, double ownReach, double otherReach) {
    ownBounds_.data[j] = boundFor(ownReach, nodeSlack_.data[j]);
    otherBounds_.data[j] = boundFor(otherReach, nodeSlack_.data[j]);
}

void NodeCandidates::collectRange(const double* const* patterns, const double* labels,
                                  int patternCount, int firstPanel, int endPanel,
                                  Lists& out) const {
    const int chunk = panelChunk(dimension(), 1);
    for (int k = 0; k < patternCount; ++k) out.lengths.data[k] = 0;
    for (int q0 = firstPanel; q0 < endPanel; q0 += chunk) {
        const int q1 = q0 + chunk < endPanel ? q0 + chunk : endPanel;
        for (int g = 0; g < patternCount; g += kGroup) {
            const int rows = patternCount - g < kGroup ? patternCount - g : kGroup;
            double slack[kGroup];
            for (int r = 0; r < rows; ++r) {
                slack[r] =
                    panels_.kappa() * patternNorms_.data[g + r] + EuclideanPanels::kTinyError;
            }
            for (int q = q0; q < q1; ++q) {
                const int first = q * kPanel;
                const EuclideanPanels::Selection selection{ownBounds_.data + first,
                                                           otherBounds_.data + first,
                                                           labels_.data + first, labels + g, slack};
                unsigned masks[kGroup];
                double D[kGroup * EuclideanPanels::kLanes];
                panels_.select(patterns + g, patternNorms_.data + g, rows, q, 1, selection, masks,
                               D);
                const unsigned lanes =
                    covered_ - first >= kPanel ? ~0u : (1u << (covered_ - first)) - 1;
                for (int r = 0; r < rows; ++r) {
                    unsigned listed = masks[r] & lanes;
                    std::int32_t& length = out.lengths.data[g + r];
                    if (listed == 0 || length < 0) continue;
                    const std::size_t at = static_cast<std::size_t>(g + r) * cap_;
                    std::int32_t* list = out.nodes.data + at;
                    float* lows = out.lows.data + at;
                    while (listed != 0 && length < cap_) {
                        const int l = lowestLane(listed);
                        listed &= listed - 1;
                        list[length] = first + l;
                        lows[length++] = lowerDistance(D[r * EuclideanPanels::kLanes + l],
                                                       nodeSlack_.data[first + l] + slack[r]);
                    }
                    if (listed != 0) length = -1;
                }
            }
        }
    }
}

// A lower bound, in single precision, on the coverage test's distance from the figure D: the
// true square is at least D less both slacks; below kTinySquare nothing is certain.
float NodeCandidates::lowerDistance(double D, double slack) const {
    const double square = D - slack;
    if (!(square >= EuclideanPanels::kTinySquare)) return 0.0f;
    const double low = std::sqrt(square) * lowFactor_;
    // Where single precision is coarse or runs out, a plainer bound.
    if (!(low >= 0x1p-100)) return 0.0f;
    if (!(low <= 0x1p100)) return 0x1p100f;
    // Rounded to single precision, then down by more than that rounding could have added.
    return static_cast<float>(low * (1.0 - 0x1p-22));
}

bool NodeCandidates::reserve(int patterns, int cap) {
    const std::size_t room = static_cast<std::size_t>(patterns) * static_cast<std::size_t>(cap);
    reservedPatterns_ = 0;
    reservedCap_ = 0;
    for (Lists& l : lists_) {
        // Collects write every entry they read: old lists need not live beside the new ones.
        if (room > l.nodes.capacity) {
            l.nodes.release();
            l.lows.release();
        }
        if (!l.nodes.reserve(room) || !l.lows.reserve(room) ||
            !l.lengths.reserve(static_cast<std::size_t>(patterns))) {
            return false;
        }
    }
    if (!patternNorms_.reserve(static_cast<std::size_t>(patterns))) return false;
    reservedPatterns_ = patterns;
    reservedCap_ = cap;
    return true;
}

bool NodeCandidates::collect(const double* const* patterns, const double* labels, int patternCount,
                             int cap, int nodes, ThreadUse threads) {
    covered_ = nodes < panels_.count() ? nodes : panels_.count();
    cap_ = cap < 1 ? 1 : (cap > reservedCap_ ? reservedCap_ : cap);
    if (patternCount > reservedPatterns_) patternCount = reservedPatterns_;
    for (int k = 0; k < patternCount; ++k) patternNorms_.data[k] = panels_.squaredNorm(patterns[k]);
    const int panels = (covered_ + kPanel - 1) / kPanel;
    const double terms = static_cast<double>(patternCount) * covered_ * dimension();
    const bool large = terms >= kParallelTerms && std::thread::hardware_concurrency() >= 2;
    const int workers =
        panels >= 2 && threads != ThreadUse::One && (large || threads == ThreadUse::Two) ? 2 : 1;
    const int split = workers == 2 ? panels / 2 : panels;
    std::thread second;
    bool started = false;
    if (workers == 2) {
        try {
            second = std::thread(
                [&] { collectRange(patterns, labels, patternCount, split, panels, lists_[1]); });
            started = true;
        } catch (const std::system_error&) {
            started = false;
        }
    }
    collectRange(patterns, labels, patternCount, 0, started ? split : panels, lists_[0]);
    if (!started) return false;
    second.join();
    // The later nodes follow the earlier ones.
    for (int k = 0; k < patternCount; ++k) {
        std::int32_t& length = lists_[0].lengths.data[k];
        const std::int32_t more = lists_[1].lengths.data[k];
        if (length < 0) continue;
        if (more < 0 || length + more > cap_) {
            length = -1;
            continue;
        }
        const std::size_t to = static_cast<std::size_t>(k) * cap_ + length;
        const std::size_t from = static_cast<std::size_t>(k) * cap_;
        for (std::int32_t e = 0; e < more; ++e) {
            lists_[0].nodes.data[to + e] = lists_[1].nodes.data[from + e];
            lists_[0].lows.data[to + e] = lists_[1].lows.data[from + e];
        }
        length += more;
    }
    return true;
}

const std::int32_t* NodeCandidates::listOf(int k, std::int32_t& length, const float*& lows) const {
    length = lists_[0].lengths.data[k];
    if (length < 0) return nullptr;
    lows = lists_[0].lows.data + static_cast<std::size_t>(k) * cap_;
    return lists_[0].nodes.data + static_cast<std::size_t>(k) * cap_;
}

}  // namespace sphnet
