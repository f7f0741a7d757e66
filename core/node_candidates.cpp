#include "node_candidates.h"

#include <cmath>
#include <limits>
#include <system_error>
#include <thread>

#include "sphere_node.h"

namespace sphnet {

namespace {
constexpr int kPanel = EuclideanPanels::kPanel;
constexpr int kGroup = EuclideanPanels::kGroup;
// A relative allowance for the few roundings where reaches and bounds are formed.
constexpr double kRoundingSlack = 1.0 + 0x1p-48;
// Node panels handed to one pattern group before the next: about 1 MiB of centres.
constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
// Below this many coordinate terms a second thread is not worth starting.
constexpr double kParallelTerms = 1 << 22;
}  // namespace

bool NodeCandidates::suits(const double* const* rows, int count, int n) {
    for (int k = 0; k < count; ++k) {
        for (int i = 0; i < n; ++i) {
            if (!(std::fabs(rows[k][i]) <= EuclideanPanels::kLargest)) return false;
        }
    }
    return true;
}

void NodeCandidates::init(int n, double lowScale, double relLow) {
    release();
    panels_.init(n);
    lowScale_ = lowScale;
    relLow_ = relLow;
}

// The greatest D, less the pattern's slack, at which a node of this reach may still matter: the
// scan's distance is at least relLow * lowScale times the Euclidean distance, and D is at least
// its square less both slacks. Below kTinySquare the bounds say nothing.
double NodeCandidates::boundFor(double reach, double nodeSlack) const {
    if (std::isnan(reach)) return std::numeric_limits<double>::infinity();
    double square = EuclideanPanels::kTinySquare;
    if (reach >= 0) {
        const double widest = reach * kRoundingSlack / (relLow_ * lowScale_);
        const double squared = widest * widest * kRoundingSlack;
        if (squared > square) square = squared;
    }
    return (square + nodeSlack) * kRoundingSlack;
}

bool NodeCandidates::append(const double* centre, double label, double ownReach, double otherReach) {
    if (!panels_.append(centre)) return false;
    const int j = panels_.count() - 1;
    const double slack = panels_.kappa() * panels_.squaredNorm(j);
    if (!labels_.push(label) || !nodeSlack_.push(slack) || !ownBounds_.push(0.0) ||
        !otherBounds_.push(0.0)) {
        return false;
    }
    update(j, ownReach, otherReach);
    return true;
}

void NodeCandidates::update(int j, double ownReach, double otherReach) {
    ownBounds_.data[j] = boundFor(ownReach, nodeSlack_.data[j]);
    otherBounds_.data[j] = boundFor(otherReach, nodeSlack_.data[j]);
}

void NodeCandidates::collectRange(const double* const* patterns, const double* labels,
                                  int patternCount, int firstPanel, int endPanel, Lists& out) const {
    const int nodes = covered_;
    const std::size_t panelBytes = static_cast<std::size_t>(kPanel) * sizeof(double) *
                                   static_cast<std::size_t>(dimension());
    std::size_t chunk = kChunkBytes / (panelBytes + 1);
    if (chunk < 1) chunk = 1;
    for (int k = 0; k < patternCount; ++k) out.lengths.data[k] = 0;
    double D[kGroup * kPanel];
    for (int q0 = firstPanel; q0 < endPanel; q0 += static_cast<int>(chunk)) {
        const int q1 = q0 + static_cast<int>(chunk) < endPanel ? q0 + static_cast<int>(chunk) : endPanel;
        for (int g = 0; g < patternCount; g += kGroup) {
            const int rows = patternCount - g < kGroup ? patternCount - g : kGroup;
            double slack[kGroup];
            for (int r = 0; r < rows; ++r) {
                slack[r] = panels_.kappa() * patternNorms_.data[g + r] + EuclideanPanels::kTinyError;
            }
            for (int q = q0; q < q1; ++q) {
                panels_.distances(patterns + g, patternNorms_.data + g, rows, q, D);
                const int first = q * kPanel;
                const int lanes = nodes - first < kPanel ? nodes - first : kPanel;
                const double* own = ownBounds_.data + first;
                const double* other = otherBounds_.data + first;
                const double* nodeLabels = labels_.data + first;
                for (int r = 0; r < rows; ++r) {
                    std::int32_t& length = out.lengths.data[g + r];
                    if (length < 0) continue;
                    const double label = labels[g + r];
                    unsigned listed = 0;
                    for (int l = 0; l < lanes; ++l) {
                        const double bound = nodeLabels[l] == label ? own[l] : other[l];
                        listed |= static_cast<unsigned>(D[r * kPanel + l] <= bound + slack[r]) << l;
                    }
                    if (listed == 0) continue;
                    if (length + __builtin_popcount(listed) > cap_) {
                        length = -1;
                        continue;
                    }
                    std::int32_t* list = out.nodes.data + static_cast<std::size_t>(g + r) * cap_;
                    while (listed != 0) {
                        list[length++] = first + __builtin_ctz(listed);
                        listed &= listed - 1;
                    }
                }
            }
        }
    }
}

bool NodeCandidates::collect(const double* const* patterns, const double* labels, int patternCount,
                             int cap) {
    covered_ = panels_.count();
    cap_ = cap < 1 ? 1 : cap;
    const std::size_t room = static_cast<std::size_t>(patternCount) * static_cast<std::size_t>(cap_);
    if (!patternNorms_.resize(static_cast<std::size_t>(patternCount), 0.0)) return false;
    for (int k = 0; k < patternCount; ++k) patternNorms_.data[k] = panels_.squaredNorm(patterns[k]);
    const int panels = panels_.panels();
    const double terms = static_cast<double>(patternCount) * covered_ * dimension();
    const int workers = terms >= kParallelTerms && panels >= 2 && std::thread::hardware_concurrency() >= 2 ? 2 : 1;
    for (int w = 0; w < workers; ++w) {
        if (!lists_[w].nodes.resize(room, 0) ||
            !lists_[w].lengths.resize(static_cast<std::size_t>(patternCount), 0)) {
            return false;
        }
    }
    const int split = workers == 2 ? panels / 2 : panels;
    std::thread second;
    bool started = false;
    if (workers == 2) {
        try {
            second = std::thread([&] { collectRange(patterns, labels, patternCount, split, panels, lists_[1]); });
            started = true;
        } catch (const std::system_error&) {
            started = false;
        }
    }
    collectRange(patterns, labels, patternCount, 0, started ? split : panels, lists_[0]);
    if (!started) return true;
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
        std::int32_t* to = lists_[0].nodes.data + static_cast<std::size_t>(k) * cap_ + length;
        const std::int32_t* from = lists_[1].nodes.data + static_cast<std::size_t>(k) * cap_;
        for (std::int32_t e = 0; e < more; ++e) to[e] = from[e];
        length += more;
    }
    return true;
}

const std::int32_t* NodeCandidates::listOf(int k, std::int32_t& length) const {
    length = lists_[0].lengths.data[k];
    if (length < 0) return nullptr;
    return lists_[0].nodes.data + static_cast<std::size_t>(k) * cap_;
}

void NodeCandidates::release() {
    panels_.release();
    labels_.release();
    ownBounds_.release();
    otherBounds_.release();
    nodeSlack_.release();
    for (Lists& l : lists_) {
        l.nodes.release();
        l.lengths.release();
    }
    patternNorms_.release();
    covered_ = 0;
}

}  // namespace sphnet
