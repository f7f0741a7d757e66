// The shipped training and recall procedures against the literal reference on thousands of
// random problems: nodes, labels, presentations, console text and both counters must agree bit
// for bit. SPHNET_DIFFERENTIAL_SCALE (default 1) scales the number of problems.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "classify_patterns.h"
#include "learn_prototypes.h"
#include "reference_rce.h"
#include "sphere_node.h"
#include "standin_host.h"
#include "work_pacer.h"

namespace {

using reference::Counters;
constexpr double kInf = std::numeric_limits<double>::infinity();

double scale() {
    const char* text = std::getenv("SPHNET_DIFFERENTIAL_SCALE");
    if (text == nullptr) return 1.0;
    const double value = std::atof(text);
    return value > 0 ? value : 1.0;
}

int scaled(int cases) {
    const int count = static_cast<int>(cases * scale());
    return count < 1 ? 1 : count;
}

// A default plan but for the pacers' budget. A small budget makes every scan report its work
// every few nodes and recall hand out sub-chunks of a pattern or so: none of it may change a
// result.
sphnet::SearchPlan pacedPlan(std::uint64_t pollBudget) {
    sphnet::SearchPlan plan;
    plan.pollBudget = pollBudget;
    return plan;
}

std::string withoutSeconds(const std::string& text) {
    return std::regex_replace(text, std::regex(" in -?[0-9]+ seconds"), " in # seconds");
}

bool sameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

std::string bits(double v) {
    std::ostringstream s;
    s.precision(17);
    s << v;
    return s.str();
}

// Returns an empty string when the rows agree bit for bit, else where they first differ.
std::string compareRows(const std::vector<std::vector<double>>& expected,
                        const std::vector<std::vector<double>>& actual) {
    if (expected.size() != actual.size()) {
        return "row count " + std::to_string(actual.size()) + " instead of " +
               std::to_string(expected.size());
    }
    for (std::size_t j = 0; j < expected.size(); ++j) {
        if (expected[j].size() != actual[j].size()) return "width of row " + std::to_string(j);
        for (std::size_t i = 0; i < expected[j].size(); ++i) {
            if (!sameBits(expected[j][i], actual[j][i])) {
                return "row " + std::to_string(j) + " value " + std::to_string(i) + ": " +
                       bits(actual[j][i]) + " instead of " + bits(expected[j][i]);
            }
        }
    }
    return "";
}

std::string compareValues(const std::vector<double>& expected, const std::vector<double>& actual) {
    std::vector<std::vector<double>> e, a;
    for (double v : expected) e.push_back({v});
    for (double v : actual) a.push_back({v});
    return compareRows(e, a);
}

// ---- Random problems ----

enum class Layout { Uniform, Clustered, Grid, Duplicates };

struct Generator {
    std::mt19937_64 rng;
    explicit Generator(std::uint64_t seed) : rng(seed) {}

    double uniform(double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(rng);
    }
    int between(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
    bool chance(double probability) { return uniform(0, 1) < probability; }

    double norm(int which) {
        switch (which) {
            case 0:
                return 1.0;
            case 1:
                return 2.0;
            case 2:
                return kInf;
            case 3:
                return 1.5;
            case 4:
                return 3.0;
            default:
                return chance(0.5) ? uniform(1.0, 6.0) : 1.0000001;
        }
    }

    std::vector<std::vector<double>> points(int count, int n, Layout layout, double spread) {
        std::vector<std::vector<double>> rows(count, std::vector<double>(n));
        const int clusters = between(1, 6);
        std::vector<std::vector<double>> centres(clusters, std::vector<double>(n));
        for (auto& c : centres) {
            for (double& v : c) v = uniform(-spread, spread);
        }
        std::normal_distribution<double> jitter(0.0, spread * 0.08);
        for (int k = 0; k < count; ++k) {
            for (int i = 0; i < n; ++i) {
                switch (layout) {
                    case Layout::Uniform:
                        rows[k][i] = uniform(-spread, spread);
                        break;
                    case Layout::Clustered:
                        rows[k][i] = centres[k % clusters][i] + jitter(rng);
                        break;
                    case Layout::Grid:
                        rows[k][i] = between(-3, 3) * spread * 0.25;
                        break;
                    case Layout::Duplicates:
                        rows[k][i] = k > 0 && chance(0.4) ? rows[between(0, k - 1)][i]
                                                          : uniform(-spread, spread);
                        break;
                }
            }
            if (layout == Layout::Duplicates && k > 0 && chance(0.3))
                rows[k] = rows[between(0, k - 1)];
        }
        return rows;
    }

    std::vector<double> labels(int count, int classes) {
        std::vector<double> out(count);
        const bool wholeOnly = chance(0.8);
        for (double& v : out) {
            v = between(1, classes);
            if (!wholeOnly && chance(0.15)) v += chance(0.5) ? 0.5 : -0.25;
            if (chance(0.03)) v = -v;
        }
        return out;
    }

    Counters counters() {
        Counters c;
        // Near the top of the 32-bit range now and then, so that wrapping is exercised.
        const std::uint32_t base = chance(0.3) ? 0xFFFFFF00u : 0u;
        c.flops = base + static_cast<std::uint32_t>(between(0, 255));
        c.comparisons = base + static_cast<std::uint32_t>(between(0, 255));
        return c;
    }

    reference::TrainingProblem trainingProblem(int maxCount, int maxDimension, int normChoice) {
        reference::TrainingProblem t;
        const int count = chance(0.03) ? 0 : between(1, maxCount);
        t.dimension = chance(0.02) ? 0 : between(1, maxDimension);
        const Layout layout = static_cast<Layout>(between(0, 3));
        const double spread = chance(0.5) ? 1.0 : uniform(0.01, 50.0);
        t.patterns = points(count, t.dimension, layout, spread);
        t.labels = labels(count, between(1, 4));
        t.p = norm(normChoice);
        const int radiusChoice = between(0, 9);
        t.rMax = radiusChoice == 0   ? 0.0
                 : radiusChoice == 1 ? kInf
                 : radiusChoice == 2 ? spread * 10
                                     : spread * uniform(0.02, 1.0);
        const int marginChoice = between(0, 3);
        t.margin = marginChoice == 0   ? 0.0
                   : marginChoice == 1 ? spread * 0.05
                                       : uniform(0, spread * 0.3);
        if (chance(0.02)) t.margin = kInf;
        t.maxPresentations = between(1, 8);
        t.oflag = between(0, 3);
        return t;
    }
};

// ---- Running the shipped procedures ----

struct Shipped {
    sphnet::ProcedureStatus status;
    reference::TrainingResult training;
    reference::RecallResult recall;
    standin::CallResult host;
    sphnet::TrainingPaths paths;  // training: the paths its scans took
};

// The rows' values column after column, as a host holds a matrix.
std::vector<double> columnsOf(const std::vector<std::vector<double>>& rows, int width) {
    std::vector<double> values;
    for (int c = 0; c < width; ++c) {
        for (const auto& row : rows) values.push_back(row[c]);
    }
    return values;
}

// Patterns and start nodes as row tables, or (columnMajor) read through a column-major view as
// the host modules read them. `plan` forces the scans' paths.
Shipped runTraining(const reference::TrainingProblem& t, Counters start, bool columnMajor = false,
                    const sphnet::SearchPlan& plan = {}) {
    std::vector<const double*> rows, startRows;
    for (const auto& row : t.patterns) rows.push_back(row.data());
    for (const auto& row : t.startNodes) startRows.push_back(row.data());
    const std::vector<double> patternColumns =
        columnMajor ? columnsOf(t.patterns, t.dimension) : std::vector<double>();
    const std::vector<double> startColumns =
        columnMajor ? columnsOf(t.startNodes, t.dimension + 1) : std::vector<double>();
    sphnet::TrainingInput in;
    in.startNodeCount = static_cast<int>(t.startNodes.size());
    in.startRows = columnMajor
                       ? sphnet::RowView::columnMajor(startColumns.data(), in.startNodeCount)
                       : sphnet::RowView(startRows.data());
    in.startLabels = t.startLabels.data();
    in.patternCount = static_cast<int>(t.patterns.size());
    in.dimension = t.dimension;
    in.patterns = columnMajor ? sphnet::RowView::columnMajor(patternColumns.data(), in.patternCount)
                              : sphnet::RowView(rows.data());
    in.labels = t.labels.data();
    in.normType = t.p;
    in.rMax = t.rMax;
    in.margin = t.margin;
    in.maxPresentations = t.maxPresentations;
    in.oflag = t.oflag;
    in.plan = plan;
    sphnet::setRunningTotals({start.flops, start.comparisons});
    Shipped s;
    standin::Scope scope;
    sphnet::TrainingOutput out;
    s.status = sphnet::learnPrototypes(in, out);
    s.paths = out.paths;
    if (s.status == sphnet::ProcedureStatus::Done) {
        for (int j = 0; j < out.nodeCount; ++j) {
            s.training.nodes.emplace_back(static_cast<std::size_t>(t.dimension) + 1);
            out.nodeRow(j, t.dimension + 1, s.training.nodes.back().data());
            s.training.labels.push_back(out.nodeLabels[j]);
        }
        s.training.presentations = out.presentations;
    }
    s.host = scope.finish();
    s.training.console = s.host.console;
    s.training.counters = {sphnet::runningTotals().flops, sphnet::runningTotals().comparisons};
    return s;
}

// A recall problem as the procedure takes it: rows by pointer, or each matrix stored column
// after column, as the hosts hold them.
class RecallInputOf {
  public:
    RecallInputOf(const reference::RecallProblem& r, bool columnMajor) {
        const int nodes = static_cast<int>(r.templates.size());
        const int patterns = static_cast<int>(r.patterns.size());
        in.nodeCount = nodes;
        in.dimension = r.dimension;
        in.nodeLabels = r.nodeLabels.data();
        in.normType = r.p;
        in.patternCount = patterns;
        in.unknownLabel = r.unknownLabel;
        in.nnOption = r.nnOption;
        in.oflag = r.oflag;
        if (columnMajor) {
            in.templates = sphnet::RowView::columnMajor(
                columns(r.templates, r.dimension + 1, templateValues_), nodes);
            in.patterns = sphnet::RowView::columnMajor(
                columns(r.patterns, r.dimension, patternValues_), patterns);
            return;
        }
        for (const auto& row : r.templates) templateRows_.push_back(row.data());
        for (const auto& row : r.patterns) patternRows_.push_back(row.data());
        in.templates = templateRows_.data();
        in.patterns = patternRows_.data();
    }
    RecallInputOf(const RecallInputOf&) = delete;
    RecallInputOf& operator=(const RecallInputOf&) = delete;

    sphnet::RecallInput in;

  private:
    static const double* columns(const std::vector<std::vector<double>>& rows, int width,
                                 std::vector<double>& out) {
        out.assign(rows.size() * static_cast<std::size_t>(width), 0.0);
        for (std::size_t k = 0; k < rows.size(); ++k) {
            for (int c = 0; c < width; ++c) out[c * rows.size() + k] = rows[k][c];
        }
        return out.data();
    }
    std::vector<const double*> templateRows_, patternRows_;
    std::vector<double> templateValues_, patternValues_;
};

// With `info`, also what decided each pattern and its covering nodes, into `info`; under
// `plan`, telling what answered into `paths` when given.
Shipped runRecall(const reference::RecallProblem& r, Counters start,
                  reference::RecallResult* info = nullptr, bool columnMajor = false,
                  const sphnet::SearchPlan& plan = {}, sphnet::RecallPaths* paths = nullptr) {
    RecallInputOf input(r, columnMajor);
    input.in.plan = plan;
    const sphnet::RecallInput& in = input.in;
    sphnet::setRunningTotals({start.flops, start.comparisons});
    Shipped s;
    standin::Scope scope;
    sphnet::HostBlock<double> results;
    sphnet::RecallInfo wanted{nullptr, nullptr, nullptr, nullptr};
    if (info != nullptr) {
        for (auto* field :
             {&info->decidingNode, &info->distance, &info->coverCount, &info->labelsDisagree}) {
            field->assign(r.patterns.size(), -7.0);
        }
        wanted = {info->decidingNode.data(), info->distance.data(), info->coverCount.data(),
                  info->labelsDisagree.data()};
    }
    s.status = sphnet::classifyPatterns(in, results, info != nullptr ? &wanted : nullptr, paths);
    if (s.status == sphnet::ProcedureStatus::Done) {
        s.recall.labels.assign(results.get(), results.get() + r.patterns.size());
    }
    s.host = scope.finish();
    s.recall.console = s.host.console;
    s.recall.counters = {sphnet::runningTotals().flops, sphnet::runningTotals().comparisons};
    return s;
}

std::string describe(const reference::TrainingProblem& t) {
    std::ostringstream s;
    s.precision(17);
    s << "N=" << t.patterns.size() << " n=" << t.dimension << " p=" << t.p << " Rmax=" << t.rMax
      << " margin=" << t.margin << " passes=" << t.maxPresentations << " oflag=" << t.oflag;
    return s.str();
}

std::string describe(const reference::RecallProblem& r) {
    std::ostringstream s;
    s << "M=" << r.templates.size() << " P=" << r.patterns.size() << " n=" << r.dimension
      << " p=" << r.p << " nn=" << r.nnOption << " oflag=" << r.oflag;
    return s.str();
}

// Trains with both and compares everything; returns the reference result for further use.
// With a plan, the shipped scans take the paths it forces, and `ran` gets the paths they took;
// `known`, where given, is the reference's result for this problem, made once for many plans.
reference::TrainingResult expectSameTraining(const reference::TrainingProblem& t, Counters start,
                                             const std::string& label,
                                             const sphnet::SearchPlan& plan = {},
                                             sphnet::TrainingPaths* ran = nullptr,
                                             const reference::TrainingResult* known = nullptr) {
    const reference::TrainingResult want = known != nullptr ? *known : reference::learn(t, start);
    // Every third call reads the patterns as the host modules do.
    static int calls = 0;
    const bool columnMajor = calls++ % 3 == 2;
    const Shipped got = runTraining(t, start, columnMajor, plan);
    if (ran != nullptr) *ran = got.paths;
    const std::string what = label + " " + describe(t) + (columnMajor ? " column-major" : "") +
                             " plan: " + sphnet::describeSearchPlan(plan);
    EXPECT_EQ(got.status, sphnet::ProcedureStatus::Done) << what;
    EXPECT_EQ(compareRows(want.nodes, got.training.nodes), "") << what;
    EXPECT_EQ(compareValues(want.labels, got.training.labels), "") << what;
    EXPECT_EQ(want.presentations, got.training.presentations) << what;
    EXPECT_EQ(withoutSeconds(want.console), withoutSeconds(got.training.console)) << what;
    EXPECT_EQ(want.counters.flops, got.training.counters.flops) << what;
    EXPECT_EQ(want.counters.comparisons, got.training.counters.comparisons) << what;
    EXPECT_EQ(got.host.heapBlocksOutstanding, 0) << what;
    EXPECT_EQ(got.host.hostBlocksReclaimed, got.status == sphnet::ProcedureStatus::Done ? 2 : 0)
        << what;
    return want;
}

// Every other call also asks for the info, which must match the reference's and change nothing
// else; every third reads the matrices column-major, as the hosts pass them. `known`: the
// reference's result for r and start, when already at hand.
void expectSameRecall(const reference::RecallProblem& r, Counters start, const std::string& label,
                      bool alwaysInfo = false, const sphnet::SearchPlan& plan = {},
                      sphnet::RecallPaths* paths = nullptr,
                      const reference::RecallResult* known = nullptr) {
    static int calls = 0;
    const bool withInfo = alwaysInfo || calls % 2 == 1;
    const bool columnMajor = calls++ % 3 == 2;
    const reference::RecallResult want = known != nullptr ? *known : reference::recall(r, start);
    reference::RecallResult info;
    const Shipped got = runRecall(r, start, withInfo ? &info : nullptr, columnMajor, plan, paths);
    const std::string what = label + " " + describe(r) + (withInfo ? " with info" : "") +
                             (columnMajor ? " column-major" : "") +
                             " plan: " + sphnet::describeSearchPlan(plan);
    if (withInfo) {
        EXPECT_EQ(compareValues(want.decidingNode, info.decidingNode), "") << what;
        EXPECT_EQ(compareValues(want.distance, info.distance), "") << what;
        EXPECT_EQ(compareValues(want.coverCount, info.coverCount), "") << what;
        EXPECT_EQ(compareValues(want.labelsDisagree, info.labelsDisagree), "") << what;
    }
    EXPECT_EQ(got.status, sphnet::ProcedureStatus::Done) << what;
    EXPECT_EQ(compareValues(want.labels, got.recall.labels), "") << what;
    EXPECT_EQ(withoutSeconds(want.console), withoutSeconds(got.recall.console)) << what;
    EXPECT_EQ(want.counters.flops, got.recall.counters.flops) << what;
    EXPECT_EQ(want.counters.comparisons, got.recall.counters.comparisons) << what;
    EXPECT_EQ(static_cast<double>(want.addedFlops), got.host.flopsTally) << what;
    EXPECT_EQ(got.host.heapBlocksOutstanding, 0) << what;
}

// Templates for recall: a trained node set, now and then with odd rows mixed in.
reference::RecallProblem recallProblemFrom(Generator& g, const reference::TrainingProblem& t,
                                           const reference::TrainingResult& trained, int patterns) {
    reference::RecallProblem r;
    r.dimension = t.dimension;
    r.templates = trained.nodes;
    r.nodeLabels = trained.labels;
    r.p = g.chance(0.8) ? t.p : g.norm(g.between(0, 5));
    double spread = 1.0;
    for (const auto& row : t.patterns) {
        for (double v : row) spread = std::max(spread, std::fabs(v));
    }
    const int extra = g.chance(0.3) ? g.between(1, 6) : 0;
    for (int e = 0; e < extra; ++e) {
        std::vector<double> row(t.dimension + 1);
        for (int i = 0; i < t.dimension; ++i) row[i] = g.uniform(-spread, spread);
        const int kind = g.between(0, 4);
        row[t.dimension] = kind == 0   ? -1.0
                           : kind == 1 ? 0.0
                           : kind == 2 ? kInf
                           : kind == 3 ? -kInf
                                       : g.uniform(0, spread);
        const auto at = r.templates.begin() + g.between(0, static_cast<int>(r.templates.size()));
        const auto offset = at - r.templates.begin();
        r.templates.insert(at, row);
        r.nodeLabels.insert(r.nodeLabels.begin() + offset,
                            g.between(-2, 4) + (g.chance(0.2) ? 0.7 : 0.0));
    }
    // Patterns: fresh points from the same region, some copies of training patterns and of
    // node centres (distance exactly 0), some far away.
    for (int k = 0; k < patterns; ++k) {
        std::vector<double> x(t.dimension);
        const int kind = g.between(0, 9);
        if (kind < 3 && !t.patterns.empty()) {
            x = t.patterns[g.between(0, static_cast<int>(t.patterns.size()) - 1)];
        } else if (kind < 4 && !r.templates.empty()) {
            const auto& row = r.templates[g.between(0, static_cast<int>(r.templates.size()) - 1)];
            x.assign(row.begin(), row.begin() + t.dimension);
        } else if (kind < 5) {
            for (double& v : x) v = g.uniform(-10 * spread, 10 * spread);
        } else {
            for (double& v : x) v = g.uniform(-spread, spread);
        }
        r.patterns.push_back(x);
    }
    r.unknownLabel = g.between(-3, 3);
    r.nnOption = g.between(0, 1);
    r.oflag = g.between(0, 3);
    return r;
}

std::string normName(const ::testing::TestParamInfo<int>& info) {
    static const char* const names[] = {"p1", "p2", "pInf", "p1_5", "p3", "pOther"};
    return names[info.param];
}

// ---- Small problems: every norm, every verbosity ----

class SmallProblems : public ::testing::TestWithParam<int> {};

TEST_P(SmallProblems, TrainingAndRecallMatchTheReference) {
    const int normChoice = GetParam();
    Generator g(0x5eed0000u + static_cast<unsigned>(normChoice));
    const int cases = scaled(600);
    for (int c = 0; c < cases; ++c) {
        // Every other case polls after a few nodes' work.
        const sphnet::SearchPlan plan = pacedPlan(c % 2 == 1 ? 61 : sphnet::kDefaultPollBudget);
        const reference::TrainingProblem t = g.trainingProblem(40, 5, normChoice);
        const Counters start = g.counters();
        const std::string label = "case " + std::to_string(c);
        const reference::TrainingResult trained = expectSameTraining(t, start, label, plan);
        expectSameRecall(recallProblemFrom(g, t, trained, g.between(0, 40)), g.counters(), label,
                         false, plan);
        if (::testing::Test::HasFailure()) return;  // one broken case says enough
    }
}

INSTANTIATE_TEST_SUITE_P(EveryNorm, SmallProblems, ::testing::Values(0, 1, 2, 3, 4, 5), normName);

// ---- Problems large enough for many nodes ----

class LargerProblems : public ::testing::TestWithParam<int> {};

TEST_P(LargerProblems, TrainingAndRecallMatchTheReference) {
    const int normChoice = GetParam();
    Generator g(0xb16b00b5u + static_cast<unsigned>(normChoice));
    const int cases = scaled(12);
    for (int c = 0; c < cases; ++c) {
        // Two cases in three poll after a few nodes' work, or a few hundred nodes'.
        const sphnet::SearchPlan plan = pacedPlan(c % 3 == 0   ? sphnet::kDefaultPollBudget
                                                  : c % 3 == 1 ? 61
                                                               : 4099);
        reference::TrainingProblem t;
        t.dimension = g.between(1, 9);
        const int count = g.between(200, 900);
        const double spread = g.chance(0.5) ? 1.0 : g.uniform(0.1, 1000.0);
        t.patterns = g.points(count, t.dimension,
                              g.chance(0.7) ? Layout::Clustered : Layout::Uniform, spread);
        t.labels = g.labels(count, g.between(2, 5));
        t.p = g.norm(normChoice);
        t.rMax = spread * g.uniform(0.02, 0.6);
        t.margin = g.chance(0.5) ? 0.0 : spread * g.uniform(0.0, 0.05);
        t.maxPresentations = g.between(1, 6);
        t.oflag = g.chance(0.8) ? g.between(0, 1) : 2;
        const Counters start = g.counters();
        const std::string label = "case " + std::to_string(c);
        const reference::TrainingResult trained = expectSameTraining(t, start, label, plan);
        // Now and then enough patterns for the recall to spread over threads.
        const int patterns = g.chance(0.3) ? g.between(4096, 9000) : g.between(500, 3000);
        reference::RecallProblem r = recallProblemFrom(g, t, trained, patterns);
        if (r.oflag >= 2 && g.chance(0.7)) r.oflag = g.between(0, 1);
        expectSameRecall(r, g.counters(), label, false, plan);
        if (::testing::Test::HasFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryNorm, LargerProblems, ::testing::Values(0, 1, 2, 3, 4, 5), normName);

// ---- Training that goes on from the nodes of an earlier one ----

// Trains on A, then on B with A's nodes first (now and then with odd rows among them: wider
// than Rmax, negative, of a label B lacks): the shipped scans must match the literal one over
// that list, in every norm and in few and many dimensions.
class Continuation : public ::testing::TestWithParam<int> {};

TEST_P(Continuation, StartNodesComeFirstAndMatchTheReference) {
    const int normChoice = GetParam();
    Generator g(0xc0de0000u + static_cast<unsigned>(normChoice));
    const int cases = scaled(16);
    for (int c = 0; c < cases; ++c) {
        const bool small = c % 2 == 0;
        reference::TrainingProblem a;
        a.dimension = small ? g.between(1, 5) : g.between(1, 20);
        const int count = small ? g.between(1, 40) : g.between(200, 800);
        a.patterns =
            g.points(count, a.dimension,
                     small ? static_cast<Layout>(g.between(0, 3)) : Layout::Clustered, 1.0);
        a.labels = g.labels(count, g.between(2, 4));
        a.p = g.norm(normChoice);
        a.rMax = std::sqrt(static_cast<double>(a.dimension)) * g.uniform(0.05, 0.6);
        a.margin = g.chance(0.5) ? 0.0 : g.uniform(0.0, 0.05);
        a.maxPresentations = g.between(1, 4);
        const reference::TrainingResult first = reference::learn(a, {});
        reference::TrainingProblem b = a;
        b.startNodes = first.nodes;
        b.startLabels = first.labels;
        for (int e = g.chance(0.4) ? g.between(1, 4) : 0; e > 0; --e) {
            std::vector<double> row =
                b.startNodes.empty()
                    ? std::vector<double>(a.dimension + 1, 0.0)
                    : b.startNodes[g.between(0, static_cast<int>(b.startNodes.size()) - 1)];
            row[a.dimension] = g.chance(0.5) ? a.rMax * g.uniform(1.5, 20.0) : -g.uniform(0.0, 1.0);
            const int at = g.between(0, static_cast<int>(b.startNodes.size()));
            b.startNodes.insert(b.startNodes.begin() + at, row);
            b.startLabels.insert(b.startLabels.begin() + at, g.chance(0.5) ? 9.0 : 1.0);
        }
        const int more = small ? g.between(0, 40) : g.between(200, 800);
        b.patterns = g.points(more, a.dimension, Layout::Clustered, 1.0);
        b.labels = g.labels(more, g.between(2, 5));
        if (g.chance(0.3)) b.rMax *= g.uniform(0.5, 2.0);
        b.maxPresentations = g.between(1, 5);
        b.oflag = small ? g.between(0, 3) : g.between(0, 1);
        expectSameTraining(b, g.counters(), "case " + std::to_string(c));
        if (::testing::Test::HasFailure()) return;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryNorm, Continuation, ::testing::Values(0, 1, 2, 3, 4, 5), normName);

// ---- Many nodes in many dimensions: the blocked scans ----

// Overlapping classes in 8 to 40 dimensions with a few hundred to a few thousand nodes, now and
// then far from the origin, where |x|^2 + |c|^2 - 2 x.c loses most of its digits and only the
// allowance keeps its bounds true, on a lattice, where distances tie exactly, or scaled beyond
// the range recall's single-precision panels take.
TEST(BlockScans, ManyNodesInManyDimensions) {
    Generator g(0xb10c5u);
    const int cases = scaled(10);
    for (int c = 0; c < cases; ++c) {
        reference::TrainingProblem t;
        t.dimension = g.between(8, 40);
        const int count = g.between(300, 1200);
        const Layout layout = g.chance(0.3)   ? Layout::Grid
                              : g.chance(0.5) ? Layout::Clustered
                                              : Layout::Uniform;
        t.patterns = g.points(count, t.dimension, layout, 1.0);
        const double offset = g.chance(0.4) ? (g.chance(0.5) ? 1e4 : 3e6) : 0.0;
        const double scale = g.chance(0.2) ? (g.chance(0.5) ? 1e17 : 1e-20) : 1.0;
        for (auto& row : t.patterns) {
            for (double& v : row) v = (v + offset) * scale;
        }
        t.labels = g.labels(count, g.between(2, 4));
        t.p = g.chance(0.7) ? 2.0 : g.norm(g.between(0, 5));
        t.rMax = std::sqrt(static_cast<double>(t.dimension)) * g.uniform(0.05, 0.5) * scale;
        t.margin = g.chance(0.5) ? 0.0 : g.uniform(0.0, 0.1) * scale;
        t.maxPresentations = g.between(1, 4);
        t.oflag = g.between(0, 1);
        const Counters start = g.counters();
        const std::string label = "case " + std::to_string(c);
        const reference::TrainingResult trained = expectSameTraining(t, start, label);
        reference::RecallProblem r = recallProblemFrom(g, t, trained, g.between(300, 5000));
        if (g.chance(0.6)) r.p = 2.0;
        r.oflag = g.between(0, 2);
        expectSameRecall(r, g.counters(), label);
        if (::testing::Test::HasFailure()) return;
    }
}

// Integer-valued data in 31 to 128 dimensions, unscaled, with a few hundred nodes: the census
// behind recall's info runs on single-precision panels, which read every pattern rounded.
TEST(BlockScans, InfoOnIntegerDataInManyDimensions) {
    Generator g(0x1d16u);
    for (int c = 0; c < scaled(3); ++c) {
        reference::TrainingProblem t;
        t.dimension = g.between(31, 128);
        const int count = g.between(300, 700);
        for (int k = 0; k < count; ++k) {
            std::vector<double> row(t.dimension);
            for (double& v : row) v = g.between(0, 16);
            t.patterns.push_back(row);
        }
        t.labels = g.labels(count, 10);
        t.rMax = 0.5 * std::sqrt(static_cast<double>(t.dimension)) * g.uniform(2.0, 8.0);
        const std::string label = "case " + std::to_string(c);
        const reference::TrainingResult trained = expectSameTraining(t, g.counters(), label);
        reference::RecallProblem r = recallProblemFrom(g, t, trained, g.between(1, 300));
        r.p = 2.0;
        expectSameRecall(r, g.counters(), label, true);
        if (::testing::Test::HasFailure()) return;
    }
}

// Patterns placed just inside and just outside a sphere's coverage tolerance, where only the
// allowance for it keeps a node listed: in training, a pattern beside a node of its own label;
// in recall, beside a node of a few hundred.
TEST(BlockScans, PatternsOnTheCoverageTolerance) {
    Generator g(0x7013u);
    const double beyond[] = {0.0, 3e-9, 1e-8, 1.2e-8, 3e-8};
    for (int c = 0; c < scaled(4); ++c) {
        const int n = g.between(8, 24);
        const double rMax = g.uniform(0.5, 2.0);
        reference::TrainingProblem t;
        t.dimension = n;
        t.p = 2.0;
        t.rMax = rMax;
        t.maxPresentations = 2;
        reference::RecallProblem r;
        r.dimension = n;
        r.p = 2.0;
        r.nnOption = 1;
        for (int k = 0; k < 300; ++k) {
            std::vector<double> centre(n), direction(n);
            for (double& v : centre) v = g.uniform(-1000.0, 1000.0);
            for (double& v : direction) v = 0.0;
            direction[g.between(0, n - 1)] = 1.0;
            const double radius = g.uniform(0.5, 2.0);
            const double extra = beyond[g.between(0, 4)];
            std::vector<double> near = centre;
            for (int i = 0; i < n; ++i) near[i] += direction[i] * (rMax + extra);
            t.patterns.push_back(centre);
            t.patterns.push_back(near);
            t.labels.push_back(1 + k % 3);
            t.labels.push_back(1 + k % 3);
            for (double& v : centre) v *= 1e-3;  // recall's nodes overlap: no grid pays
            std::vector<double> row = centre;
            row.push_back(radius);
            r.templates.push_back(row);
            r.nodeLabels.push_back(1 + k % 3);
            for (int i = 0; i < n; ++i) near[i] = centre[i] + direction[i] * (radius + extra);
            r.patterns.push_back(near);
        }
        expectSameTraining(t, g.counters(), "training " + std::to_string(c));
        expectSameRecall(r, g.counters(), "recall " + std::to_string(c));
        if (::testing::Test::HasFailure()) return;
    }
}

// Many nodes in 4 to 16 dimensions for every norm: the tree's cover and nearest-node searches.
// Centres on a lattice or duplicated make distances tie exactly; radii are sometimes negative
// (mostly, on the lattice), infinite or NaN; patterns sit on centres, on lattice points, exactly at
// a node's radius plus or minus the coverage tolerance along one axis, or far away; all of it also
// at huge and tiny magnitudes. More than six blocks of patterns, so both cover searches run in the
// trial.
TEST(TreeSearch, ManyNodesInFewDimensions) {
    Generator g(0x7a3eu);
    const double beyond[] = {-1e-8, 0.0, 1e-8, 2e-8};
    for (int c = 0; c < scaled(16); ++c) {
        const std::string label = "tree " + std::to_string(c);
        const int n = g.between(4, 16);
        const double scale =
            c % 4 == 3 ? std::pow(10.0, (c % 8 == 3 ? 1 : -1) * g.between(100, 300)) : 1.0;
        reference::RecallProblem r;
        r.dimension = n;
        r.p = g.norm(c % 6 == 1 ? 5 : c % 6);
        const Layout layout = c % 3 == 0   ? Layout::Grid
                              : c % 3 == 1 ? Layout::Duplicates
                                           : Layout::Clustered;
        const int count = g.between(300, 2500);
        // On the lattice most radii are negative: the 1-NN rule meets exact ties there.
        const int negativeShare = layout == Layout::Grid ? 14 : 1;
        for (auto& row : g.points(count, n, layout, scale)) {
            const int kind = g.between(-negativeShare, 19);
            // An infinite or NaN radius covers every pattern: only now and then.
            const bool wide = kind <= 2 && g.chance(0.002);
            row.push_back(wide        ? (kind == 1 ? kInf : std::nan(""))
                          : kind <= 0 ? -1.0 * scale
                                      : g.uniform(0.0, 0.4) * scale);
            r.templates.push_back(row);
            r.nodeLabels.push_back(g.between(1, 4));
        }
        const int patterns = g.between(1000, 1800);
        for (int k = 0; k < patterns; ++k) {
            const auto& node = r.templates[g.between(0, count - 1)];
            std::vector<double> x(node.begin(), node.begin() + n);
            const int kind = g.between(0, 3);
            if (kind == 1 && std::isfinite(node[n])) {
                x[g.between(0, n - 1)] +=
                    node[n] + beyond[g.between(0, 3)] * (scale > 1 ? scale : 1.0);
            } else if (kind == 2) {
                x = g.points(1, n, Layout::Grid, scale)[0];
            } else if (kind == 3) {
                for (double& v : x) v = g.uniform(-4.0, 4.0) * scale;
            }
            r.patterns.push_back(x);
        }
        r.nnOption = g.chance(0.8) ? 1 : 0;
        r.unknownLabel = -1;
        r.oflag = g.between(0, 2);
        expectSameRecall(r, g.counters(), label);
        if (::testing::Test::HasFailure()) return;
    }
}

// ---- Every training plan against the literal scan ----

// Each plan forces the training scan's structure, its kernels and its use of a second thread;
// whatever it forces, nodes, labels, passes, console and counters stay the literal scan's. The
// problems are chosen so that each structure serves one of them: overlapping classes for p = 2
// and 1.5 in 8 to 40 dimensions (grid, block lists), for p = 1 and +Inf in 4 to 32 (tiles,
// split scans), and for every p in 1 to 4 (the tree, the engine's choice there but for p = 1 and
// +Inf among few patterns), each going on from start nodes (one of them wider than Rmax), with a
// margin and a pass limit; under AVX2, scans report their work every few nodes, cutting the tile
// scans and their chunks short. Where the forced structure serves, it must have run, and nothing
// else.
TEST(TrainingPlans, EveryPlanMatchesTheReference) {
    using sphnet::InstructionSet;
    using sphnet::SearchStructure;
    using sphnet::ThreadUse;
    Generator g(0x9a7a11u);
    for (int problem = 0; problem < 8; ++problem) {
        const double p = std::array<double, 4>{2.0, 1.5, 1.0, kInf}[problem % 4];
        const bool tiled = p == 1.0 || p == kInf, few = problem >= 4;
        reference::TrainingProblem t;
        t.dimension = few ? g.between(1, 4) : tiled ? g.between(4, 32) : g.between(8, 40);
        t.p = p;
        // Fewer patterns where the suite runs scaled down (under the sanitizers).
        const int drawn = g.between(300, 450);
        const int count = scale() < 1 ? std::max(150, static_cast<int>(drawn * scale())) : drawn;
        t.patterns = g.points(count, t.dimension, Layout::Clustered, 1.0);
        t.labels = g.labels(count, 3);
        t.rMax = std::sqrt(static_cast<double>(t.dimension)) * g.uniform(0.04, 0.08) *
                 (p == kInf ? 0.4 : 1.0);
        t.margin = t.rMax * g.uniform(0.02, 0.2);
        t.maxPresentations = 1;
        // Start nodes: an earlier pass over the first patterns, with one wider than Rmax.
        reference::TrainingProblem head = t;
        head.patterns.resize(count / 4);
        head.labels.resize(count / 4);
        const reference::TrainingResult earlier = reference::learn(head, {});
        t.startNodes = earlier.nodes;
        t.startLabels = earlier.labels;
        t.startNodes.insert(t.startNodes.begin() + 1, t.patterns[count / 2]);
        t.startNodes[1].push_back(t.rMax * 3.0);
        t.startLabels.insert(t.startLabels.begin() + 1, 1.0);
        t.maxPresentations = g.between(2, 3);
        t.oflag = g.between(0, 2);
        const Counters start = g.counters();
        const reference::TrainingResult want = reference::learn(t, start);
        for (const SearchStructure structure :
             {SearchStructure::Auto, SearchStructure::Plain, SearchStructure::Grid,
              SearchStructure::Tiles, SearchStructure::Tree, SearchStructure::Panels,
              SearchStructure::BlockLists}) {
            for (const InstructionSet isa :
                 {InstructionSet::Auto, InstructionSet::Portable, InstructionSet::Sse2,
                  InstructionSet::Avx2, InstructionSet::Avx512}) {
                for (const ThreadUse threads : {ThreadUse::Auto, ThreadUse::One, ThreadUse::Two}) {
                    // The panels and the grid are recall's: training scans plainly, once is enough.
                    if ((structure == SearchStructure::Panels ||
                         structure == SearchStructure::Grid) &&
                        (isa != InstructionSet::Auto || threads != ThreadUse::Auto))
                        continue;
                    sphnet::SearchPlan plan;
                    plan.foreignInReach = structure;
                    plan.instructions = isa;
                    plan.threads = threads;
                    if (isa == InstructionSet::Avx2) plan.pollBudget = 100;
                    // The engine's own choice hands the plain scan over to the tree at a count
                    // these problems reach (its own count: TilesAndPlainScanHandOverToTheTree).
                    if (structure == SearchStructure::Auto && !tiled) plan.handoverNodes = 16;
                    // The scans' memories at their shortest and longest, and the engine's length.
                    plan.memoryNodes = threads == ThreadUse::One   ? 1
                                       : threads == ThreadUse::Two ? 12
                                                                   : 0;
                    sphnet::TrainingPaths ran;
                    expectSameTraining(t, start, "plans", plan, &ran, &want);
                    const std::string what =
                        "p=" + bits(p) + " " + sphnet::describeSearchPlan(plan);
                    const bool tiles = structure == SearchStructure::Tiles && tiled;
                    const bool lists = structure == SearchStructure::BlockLists && !tiled;
                    EXPECT_GT(ran.remembered, 0) << what;
                    const bool tree = structure == SearchStructure::Tree ||
                                      (structure == SearchStructure::Auto && few && !tiled);
                    EXPECT_EQ(ran.tree > 0, tree && t.dimension <= 16) << what;
                    if (structure != SearchStructure::Auto) {
                        EXPECT_EQ(ran.tiles > 0, tiles) << what;
                        EXPECT_EQ(ran.blockLists > 0, lists) << what;
                    }
                    // The kernels asked for, or the widest below them this processor has.
                    const InstructionSet tileIsa = ran.tileInstructions,
                                         panelIsa = ran.panelInstructions;
                    if (tiles) {
                        EXPECT_TRUE(isa == InstructionSet::Auto ? tileIsa != isa : tileIsa <= isa)
                            << what;
                    }
                    if (lists) {
                        EXPECT_TRUE(isa == InstructionSet::Auto ? panelIsa != isa : panelIsa <= isa)
                            << what;
                    }
                    if (threads == ThreadUse::One) {
                        EXPECT_EQ(ran.splitScans + ran.sharedCollects, 0) << what;
                    }
                    // Splits need the filter, which the wide kernels have.
                    if (threads == ThreadUse::Two && tiles && tileIsa >= InstructionSet::Avx2) {
                        EXPECT_GT(ran.splitScans, 0) << what;
                    }
                    if (threads == ThreadUse::Two && lists) {
                        EXPECT_GT(ran.sharedCollects, 0) << what;
                    }
                    if (::testing::Test::HasFailure()) return;
                }
            }
        }
    }
}

// In few dimensions the engine starts on the tiles (p = 1 and +Inf) or the plain scan (other p)
// and hands over to the tree once the nodes are many (2,048 in one dimension for the tiles, 256
// for the plain scan): both sides of the handover agree, with the tiles' second thread (stopped
// at the handover) or without.
TEST(TrainingPlans, TilesAndPlainScanHandOverToTheTree) {
    Generator g(0x7e11u);
    for (const double p : {1.0, kInf, 1.5}) {
        reference::TrainingProblem t;
        t.dimension = p == 1.5 ? 6 : 1;
        t.p = p;
        t.patterns = g.points(3000, t.dimension, Layout::Uniform, 1.0);
        t.labels = g.labels(3000, 2);
        t.rMax = 0.05;
        t.margin = 0.001;
        t.maxPresentations = 2;
        sphnet::SearchPlan plan;
        plan.threads = p == 1.0 ? sphnet::ThreadUse::Two : sphnet::ThreadUse::Auto;
        sphnet::TrainingPaths ran;
        const reference::TrainingResult got =
            expectSameTraining(t, g.counters(), "handover", plan, &ran);
        EXPECT_GT(got.nodes.size(), p == 1.5 ? 256u : 2048u);
        EXPECT_EQ(ran.tiles > 0, p != 1.5);
        EXPECT_GT(ran.tree, 0);
    }
}

// ---- Hand-made boundary cases ----

// Distances that sit on the coverage boundary and on the conflict threshold, where a cheap
// bound cannot decide and the exact formula must.
TEST(BoundaryCases, TiesOnTheCoverageAndConflictThresholds) {
    Generator g(77);
    for (int normChoice = 0; normChoice < 6; ++normChoice) {
        for (int c = 0; c < scaled(40); ++c) {
            reference::TrainingProblem t;
            t.dimension = g.between(1, 4);
            t.p = g.norm(normChoice);
            // Points on a coarse lattice: many distances repeat exactly.
            for (int k = 0; k < g.between(5, 60); ++k) {
                std::vector<double> x(t.dimension);
                for (double& v : x) v = g.between(0, 4) * 0.1;
                t.patterns.push_back(x);
                t.labels.push_back(g.between(1, 3));
            }
            t.rMax = g.between(0, 6) * 0.1;
            t.margin = g.between(0, 2) * 0.1;
            t.maxPresentations = g.between(1, 6);
            t.oflag = g.between(0, 3);
            const reference::TrainingResult trained =
                expectSameTraining(t, g.counters(), "lattice");
            reference::RecallProblem r = recallProblemFrom(g, t, trained, 60);
            // Patterns exactly at the tolerance edge of a node.
            for (std::size_t j = 0; j < r.templates.size() && j < 10; ++j) {
                std::vector<double> x(r.templates[j].begin(), r.templates[j].begin() + t.dimension);
                const double radius = r.templates[j][t.dimension];
                if (std::isfinite(radius)) x[0] += radius + (g.chance(0.5) ? 1e-8 : 0.99e-8);
                r.patterns.push_back(x);
            }
            expectSameRecall(r, g.counters(), "lattice");
            if (::testing::Test::HasFailure()) return;
        }
    }
}

TEST(BoundaryCases, TinyHugeAndEmptyInputs) {
    Generator g(1234);
    for (int c = 0; c < scaled(300); ++c) {
        reference::TrainingProblem t = g.trainingProblem(20, 4, g.between(0, 5));
        // Magnitudes where squares underflow or overflow.
        const double factor = std::pow(10.0, g.between(-200, 200) * (g.chance(0.5) ? 1 : 0.5));
        for (auto& row : t.patterns) {
            for (double& v : row) v *= factor;
        }
        t.rMax *= factor;
        t.margin *= factor;
        const reference::TrainingResult trained = expectSameTraining(t, g.counters(), "scaled");
        expectSameRecall(recallProblemFrom(g, t, trained, g.between(0, 20)), g.counters(),
                         "scaled");
        if (::testing::Test::HasFailure()) return;
    }
}

// Magnitudes where sums of powers overflow or underflow, through the fast scans with hundreds
// of nodes: training and recall on data scaled by 1e120 to 1e300 (trees and grids in three and
// four dimensions, where the kept reach overflows single precision to +Inf; tiles, block lists
// and panels in 8 to 20), and with p = 50 on a 1e-6 scale,
// where the powers underflow; then the 1-NN rule on a 1e-200 to 1e-306 scale, where no node
// covers and only the exact tiny distances tell the nearest apart.
TEST(BoundaryCases, HugeAndTinyMagnitudesThroughTheFastScans) {
    Generator g(0xf10a7u);
    for (int c = 0; c < scaled(20); ++c) {
        const std::string label = "magnitudes " + std::to_string(c);
        const int n = c % 2 == 0 ? g.between(3, 4) : g.between(8, 20);
        reference::TrainingProblem t;
        t.dimension = n;
        const int count = g.between(300, 700);
        t.patterns = g.points(count, n, g.chance(0.7) ? Layout::Clustered : Layout::Uniform, 1.0);
        t.labels = g.labels(count, g.between(2, 4));
        const bool powersUnderflow = c % 3 == 2;
        t.p = powersUnderflow ? 50.0 : g.norm(g.between(0, 5));
        const double factor = powersUnderflow ? 1e-6 : std::pow(10.0, g.between(120, 300));
        for (auto& row : t.patterns) {
            for (double& v : row) v *= factor;
        }
        t.rMax = factor * std::sqrt(static_cast<double>(n)) * g.uniform(0.05, 0.3);
        t.margin = g.chance(0.5) ? 0.0 : factor * g.uniform(0.0, 0.05);
        t.maxPresentations = g.between(1, 3);
        t.oflag = g.between(0, 1);
        const reference::TrainingResult trained = expectSameTraining(t, g.counters(), label);
        reference::RecallProblem r = recallProblemFrom(g, t, trained, g.between(300, 2000));
        r.oflag = g.between(0, 1);
        expectSameRecall(r, g.counters(), label);

        reference::RecallProblem tiny;
        tiny.dimension = n;
        tiny.p = c % 4 == 0 ? g.norm(g.between(0, 5)) : 2.0;
        const double scale = std::pow(10.0, -g.between(200, 306));
        for (auto& row : g.points(g.between(260, 600), n, Layout::Clustered, scale)) {
            row.push_back(-1.0);  // covers nothing
            tiny.templates.push_back(row);
            tiny.nodeLabels.push_back(g.between(1, 5));
        }
        tiny.patterns = g.points(g.between(100, 500), n, Layout::Uniform, scale);
        tiny.nnOption = 1;
        tiny.unknownLabel = -1;
        expectSameRecall(tiny, g.counters(), label + " tiny");
        if (::testing::Test::HasFailure()) return;
    }
}

// Rmax and the margin each on a scale of their own: a node made after a conflict with a huge
// margin has a radius near -margin, and its conflict reach rLimit + (radius + margin) then rests
// on how that sum rounds. Enough patterns for the fast scan to use its grid lists.
TEST(BoundaryCases, RmaxAndMarginOnScalesOfTheirOwn) {
    Generator g(4711);
    for (int c = 0; c < scaled(60); ++c) {
        reference::TrainingProblem t;
        t.dimension = g.between(1, 4);
        t.p = g.norm(g.between(0, 5));
        for (int k = 0; k < g.between(100, 260); ++k) {
            std::vector<double> x(t.dimension);
            for (double& v : x) v = g.between(-16, 16) * 0.25;
            t.patterns.push_back(x);
            t.labels.push_back(g.between(1, 3));
        }
        t.rMax = g.uniform(0.1, 4.0) * std::pow(10.0, g.chance(0.5) ? 0 : g.between(-200, 200));
        t.margin = g.uniform(0.0, 4.0) * std::pow(10.0, g.chance(0.3) ? 0 : g.between(-200, 200));
        t.maxPresentations = g.between(1, 3);
        t.oflag = g.between(0, 1);
        expectSameTraining(t, g.counters(), "own scales");
        if (::testing::Test::HasFailure()) return;
    }
}

// Beyond 1024 dimensions p = 1 and +Inf go without tiles, through the grid lists.
TEST(BoundaryCases, ManyDimensions) {
    Generator g(1031);
    for (int c = 0; c < scaled(6); ++c) {
        reference::TrainingProblem t;
        t.dimension = g.chance(0.5) ? 1025 : 1100;
        // Three labelled clusters whose spreads overlap a little.
        const int count = g.between(90, 160);
        const std::vector<std::vector<double>> centres =
            g.points(3, t.dimension, Layout::Uniform, 1.0);
        for (int k = 0; k < count; ++k) {
            const int label = g.between(0, 2);
            std::vector<double> x(centres[label]);
            for (double& v : x) v += g.uniform(-0.4, 0.4);
            t.patterns.push_back(x);
            t.labels.push_back(label + 1);
        }
        t.p = c % 2 == 0 ? 1.0 : kInf;
        // Rmax on the scale of the distances between patterns, so that nodes cover some.
        double typical = 0.0;
        for (int i = 0; i < t.dimension; ++i) {
            const double term = std::fabs(t.patterns[0][i] - t.patterns[1][i]);
            typical = t.p == 1.0 ? typical + term : std::max(typical, term);
        }
        t.rMax = typical * g.uniform(0.3, 1.5);
        t.margin = g.chance(0.5) ? 0.0 : 0.01;
        t.maxPresentations = g.between(1, 4);
        t.oflag = g.between(0, 1);
        const reference::TrainingResult trained = expectSameTraining(t, g.counters(), "wide");
        expectSameRecall(recallProblemFrom(g, t, trained, g.between(50, 200)), g.counters(),
                         "wide");
        if (::testing::Test::HasFailure()) return;
    }
}

// Recall's grid serves only beside the tree: forced here, in two dimensions.
sphnet::SearchPlan gridCovers() {
    sphnet::SearchPlan plan;
    plan.firstCover = sphnet::SearchStructure::Grid;
    return plan;
}

// Seventy nodes of label 1 far from the origin (rows of n = 2 values, and a radius when given
// one), so that the fast scans use their grids.
void addFarNodes(std::vector<std::vector<double>>& rows, std::vector<double>& labels,
                 double radius = -1.0) {
    for (int k = 0; k < 70; ++k) {
        rows.push_back({0.0, 10.0 + 3.0 * k});
        if (radius >= 0) rows.back().push_back(radius);
        labels.push_back(1);
    }
}

// A node A whose reach ends a hair past the cell boundary at 0, and a pattern on that boundary:
// the pattern's cell is the first one beyond A's whatever the cell size, so the grid lists A
// there only if A's listing extent allows for its whole reach. The reach is A's conflict reach
// Rmax + (Rmax + margin) for a pattern of another label, or its radius plus the tolerance for
// one A covers. Seventy far nodes come first, so that the grid is in use.
TEST(BoundaryCases, ReachEndingJustPastACellBoundary) {
    const double kTolerance = 1e-8;
    for (double p : {1.0, 2.0, 1.5, kInf}) {
        for (const double margin : {0.0, 0.5, -1.0}) {  // -1: Rmax 0, A covers the pattern
            const bool covers = margin < 0;
            reference::TrainingProblem t;
            t.dimension = 2;
            t.p = p;
            t.rMax = covers ? 0.0 : 1.0;
            t.margin = covers ? 0.0 : margin;
            t.maxPresentations = 2;
            addFarNodes(t.patterns, t.labels);
            const double reach = covers ? kTolerance : t.rMax + (t.rMax + t.margin);
            t.patterns.push_back({-reach * (1 - 1e-12), 0.0});  // A
            t.labels.push_back(1);
            t.patterns.push_back({0.0, 0.0});
            t.labels.push_back(covers ? 1 : 2);
            const reference::TrainingResult trained = expectSameTraining(t, {}, "cell boundary");
            // A covers the pattern (no node for it), or the pattern's node shrank in conflict.
            ASSERT_EQ(trained.nodes.size(), covers ? 71u : 72u);
            if (!covers) {
                EXPECT_LT(trained.nodes.back()[2], t.rMax);
            }
        }
        reference::RecallProblem r;
        r.dimension = 2;
        r.p = p;
        r.unknownLabel = -1;
        addFarNodes(r.templates, r.nodeLabels, 1.0);
        r.templates.push_back({-(1.0 + kTolerance) * (1 - 1e-12), 0.0, 1.0});  // A, radius 1
        r.nodeLabels.push_back(2);
        r.patterns = {{0.0, 0.0}};
        ASSERT_EQ(reference::recall(r, {}).labels, std::vector<double>{2.0});  // A covers it
        expectSameRecall(r, {}, "cell boundary", false, gridCovers());
        if (::testing::Test::HasFailure()) return;
    }
}

// For large p the powers underflow: at p = 50 every term of a pattern 1e-7 from a centre falls
// below the normal range, and the distance, computed with the terms rescaled, is 1e-7. The
// pattern sits across the cell boundary at 0 from node A, whose radius just covers it; the
// grids must list A there all the same.
TEST(BoundaryCases, PowersThatUnderflowAcrossACellBoundary) {
    const double p = 50.0;
    reference::TrainingProblem t;
    t.dimension = 2;
    t.p = p;
    t.rMax = 1e-7;
    addFarNodes(t.patterns, t.labels);
    t.patterns.push_back({-5e-8, 0.0});  // A
    t.patterns.push_back({5e-8, 0.0});
    t.labels.insert(t.labels.end(), {1, 1});
    ASSERT_EQ(expectSameTraining(t, {}, "underflow").nodes.size(), 71u);  // A covers the pattern
    reference::RecallProblem r;
    r.dimension = 2;
    r.p = p;
    r.unknownLabel = -1;
    addFarNodes(r.templates, r.nodeLabels, 1.0);
    r.templates.push_back({-5e-8, 0.0, 1e-7});  // A
    r.nodeLabels.push_back(2);
    r.patterns = {{5e-8, 0.0}, {5e-8, 1.2e-7}};  // within A's radius and the tolerance; beyond
    ASSERT_EQ(reference::recall(r, {}).labels, (std::vector<double>{2.0, -1.0}));
    expectSameRecall(r, {}, "underflow", false, gridCovers());
}

TEST(BoundaryCases, RecallWithoutNodesOrPatterns) {
    Generator g(99);
    for (int nn = 0; nn <= 1; ++nn) {
        for (int oflag = 0; oflag <= 3; ++oflag) {
            reference::RecallProblem r;
            r.dimension = 2;
            r.nnOption = nn;
            r.oflag = oflag;
            r.unknownLabel = -1;
            r.patterns = g.points(5, 2, Layout::Uniform, 1.0);
            expectSameRecall(r, g.counters(), "no nodes");
            r.patterns.clear();
            r.templates = {{0, 0, 1}, {1, 1, 0.5}};
            r.nodeLabels = {1, 2};
            expectSameRecall(r, g.counters(), "no patterns");
        }
    }
}

// ---- Interrupts and allocation failures on the fast paths ----

reference::TrainingProblem clusteredProblem(Generator& g, int count, double p, int dimension = 3) {
    reference::TrainingProblem t;
    t.dimension = dimension;
    t.patterns = g.points(count, t.dimension, Layout::Clustered, 1.0);
    t.labels = g.labels(count, 3);
    for (double& v : t.labels) v = std::fabs(std::trunc(v)) + 1;  // whole: the run converges
    t.p = p;
    t.rMax = 0.15;
    t.margin = 0.01;
    t.maxPresentations = 4;
    return t;
}

// Recall hands out sub-chunks in order, and each one handed out is finished: an interrupted
// recall has classified and counted a prefix of the patterns, whole sub-chunks of them, and on
// one thread exactly the sub-chunks before the poll that saw the interrupt.
TEST(FastPaths, InterruptedRecallHasCountedExactlyAPrefixOfThePatterns) {
    Generator g(4242);
    for (double p : {2.0, 1.0, 1.5}) {
        const reference::TrainingProblem t = clusteredProblem(g, 400, p);
        const reference::TrainingResult trained = reference::learn(t, {});
        ASSERT_GT(trained.nodes.size(), 64u);  // large enough for the grid
        reference::RecallProblem r = recallProblemFrom(g, t, trained, 6000);
        r.oflag = g.between(0, 1);
        // A budget of 16 patterns' work (nodes * n terms each): sub-chunks of 16 patterns,
        // two whole groups of the blocked scans.
        constexpr int kStep = 16;
        const std::uint64_t budget =
            kStep * r.templates.size() * static_cast<std::uint64_t>(r.dimension);
        const bool threaded = std::thread::hardware_concurrency() >= 2;  // 6000 patterns: enough
        // The reference's counters after each prefix of the patterns.
        std::vector<Counters> after(1);
        reference::RecallProblem one = r;
        one.oflag = 0;
        for (const auto& x : r.patterns) {
            one.patterns = {x};
            after.push_back(reference::recall(one, after.back()).counters);
        }
        for (long polls : {0L, 1L, 3L, 40L}) {
            standin::CallOptions options;
            options.interruptAfterPolls = polls;
            sphnet::setRunningTotals({});
            RecallInputOf input(r, false);
            input.in.plan.pollBudget = budget;
            standin::Scope scope(options);
            sphnet::HostBlock<double> results;
            const sphnet::ProcedureStatus status = sphnet::classifyPatterns(input.in, results);
            const standin::CallResult host = scope.finish();
            EXPECT_EQ(status, sphnet::ProcedureStatus::Interrupted) << polls;
            EXPECT_EQ(host.interruptPolls, polls + 1) << polls;
            EXPECT_EQ(host.heapBlocksOutstanding, 0) << polls;
            EXPECT_EQ(host.hostBlocksReclaimed, 0) << polls;
            EXPECT_TRUE(host.faults.empty()) << polls;
            EXPECT_EQ(host.console, "") << polls;
            std::size_t done = 0;
            while (done < after.size() &&
                   (after[done].flops != sphnet::runningTotals().flops ||
                    after[done].comparisons != sphnet::runningTotals().comparisons)) {
                ++done;
            }
            ASSERT_LT(done, after.size()) << polls << ": the counters match no prefix";
            const std::size_t total = r.patterns.size();
            EXPECT_TRUE(done % kStep == 0 || done == total) << polls << ": " << done;
            if (threaded) {
                EXPECT_GE(done, static_cast<std::size_t>(polls) * kStep) << polls;
            } else {
                EXPECT_EQ(done, static_cast<std::size_t>(polls) * kStep) << polls;
            }
        }
    }
}

// In three dimensions training's grid serves; in ten, with a few hundred nodes, the panels; in
// eight, recall with p = 1.5 builds the tree (its training is the ten's case again, so only
// recall).
class AllocationFailures : public ::testing::TestWithParam<int> {};

TEST_P(AllocationFailures, EveryOneEndsCleanly) {
    Generator g(777);
    const int dimension = GetParam();
    reference::TrainingProblem t = clusteredProblem(g, dimension > 3 ? 600 : 300, 2.0, dimension);
    if (dimension > 3) t.rMax = 0.3;
    const reference::TrainingResult trained = reference::learn(t, {});
    ASSERT_GT(trained.nodes.size(), dimension > 3 ? 256u : 64u);
    reference::RecallProblem r = recallProblemFrom(g, t, trained, 5000);
    r.oflag = 0;
    r.nnOption = 1;
    const bool recallByTree = dimension == 8;
    if (recallByTree) r.p = 1.5;

    // Training reads the patterns as the host modules do, gathering rows as it goes.
    const Shipped cleanTraining = runTraining(t, {}, true);
    ASSERT_EQ(cleanTraining.status, sphnet::ProcedureStatus::Done);
    const Shipped cleanRecall = runRecall(r, {}, nullptr, true);
    ASSERT_EQ(cleanRecall.status, sphnet::ProcedureStatus::Done);
    const long step = scale() < 1 ? 7 : 1;
    for (int which = recallByTree ? 1 : 0; which < 2; ++which) {
        const long attempts = (which == 0 ? cleanTraining : cleanRecall).host.allocationAttempts;
        ASSERT_GT(attempts, 3);
        for (long k = 1; k <= attempts; k += step) {
            standin::CallOptions options;
            options.failAllocation = k;
            std::vector<const double*> rows;
            sphnet::ProcedureStatus status;
            standin::Scope scope(options);
            if (which == 0) {
                const std::vector<double> columns = columnsOf(t.patterns, t.dimension);
                sphnet::TrainingInput in;
                in.patternCount = static_cast<int>(t.patterns.size());
                in.dimension = t.dimension;
                in.patterns = sphnet::RowView::columnMajor(columns.data(), in.patternCount);
                in.labels = t.labels.data();
                in.normType = t.p;
                in.rMax = t.rMax;
                in.margin = t.margin;
                in.maxPresentations = t.maxPresentations;
                sphnet::TrainingOutput out;
                status = sphnet::learnPrototypes(in, out);
            } else {
                // Column-major, as the hosts pass them: the blocks are gathered into windows.
                const RecallInputOf input(r, true);
                sphnet::HostBlock<double> results;
                status = sphnet::classifyPatterns(input.in, results);
            }
            const standin::CallResult host = scope.finish();
            const std::string what = (which == 0 ? "training" : "recall") +
                                     std::string(", allocation ") + std::to_string(k);
            EXPECT_EQ(status, sphnet::ProcedureStatus::OutOfMemory) << what;
            EXPECT_EQ(host.heapBlocksOutstanding, 0) << what;
            EXPECT_EQ(host.hostBlocksReclaimed, 0) << what;
            EXPECT_TRUE(host.faults.empty()) << what;
            if (::testing::Test::HasFailure()) return;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(FastPaths, AllocationFailures, ::testing::Values(3, 10, 8));

// ---- Recall under every search plan ----

// A recall problem for the forced search paths: patterns on a node's centre, near it, on or
// just past its radius along one axis, in the nodes' box or far out; integer coordinates and
// radii (exact ties at the radius), or clustered reals times `scale`. One pattern far beyond
// the panels' range where `huge`.
struct PlanCase {
    const char* name;
    double p;
    int n, nodes, patterns;
    bool integers;
    double scale;
    bool huge;
    bool singleFits;  // single-precision panels can take the data
};

reference::RecallProblem planProblem(Generator& g, const PlanCase& c) {
    reference::RecallProblem r;
    const int n = c.n;
    r.dimension = n;
    r.p = c.p;
    const auto centres = g.points(c.nodes, n, Layout::Clustered, 1.0);
    for (int t = 0; t < c.nodes; ++t) {
        std::vector<double> row(n + 1);
        for (int i = 0; i < n; ++i)
            row[i] = c.integers ? g.between(0, 16) : centres[t][i] * c.scale;
        row[n] = c.integers       ? g.between(-1, 8)
                 : g.chance(0.05) ? -c.scale
                                  : g.uniform(0.0, 0.3) * c.scale;
        r.templates.push_back(row);
        r.nodeLabels.push_back(g.between(1, 4));
    }
    const double beyond[] = {-1e-8, 0.0, 1e-8, 2e-8};
    for (int k = 0; k < c.patterns; ++k) {
        const auto& node = r.templates[g.between(0, c.nodes - 1)];
        std::vector<double> x(node.begin(), node.begin() + n);
        const int kind = g.between(0, 4);
        if (kind == 1 && node[n] >= 0) {
            x[g.between(0, n - 1)] += c.integers ? node[n] + g.between(-1, 1)
                                                 : node[n] + beyond[g.between(0, 3)] * c.scale;
        } else if (kind == 2) {
            for (int e = 0; e < 3; ++e)
                x[g.between(0, n - 1)] +=
                    c.integers ? g.between(-1, 1) : g.uniform(-0.05, 0.05) * c.scale;
        } else if (kind == 3) {
            for (double& v : x) v = c.integers ? g.between(0, 16) : g.uniform(-1.0, 1.0) * c.scale;
        } else if (kind == 4) {
            for (double& v : x) v = g.uniform(-4.0, 4.0) * c.scale;
        }
        r.patterns.push_back(x);
    }
    if (c.huge) r.patterns[g.between(0, c.patterns - 1)][0] = 1e200;
    r.unknownLabel = -1;
    return r;
}

// Every recall plan against the literal reference, with info: per problem, every combination
// of the structures for the cover, the 1-NN rule and the census that can answer there (and
// Auto), then each structure that cannot, which must give way to the plain scan; each vector
// structure alone under every instruction set (and for the panels, every precision); threads
// and verbosity drawn along. Where a question is forced and came up, only the structure
// forced (or the plain scan it gave way to) may have answered it.
TEST(SearchPlans, EveryRecallPlanMatchesTheReference) {
    using S = sphnet::SearchStructure;
    using sphnet::PanelPrecision;
    const PlanCase cases[] = {
        {"p2 integers", 2.0, 40, 260, 150, true, 1.0, false, true},
        {"p2 large", 2.0, 12, 200, 150, false, 1e17, false, false},
        {"p2 huge", 2.0, 9, 80, 60, false, 1.0, true, false},
        {"p1", 1.0, 7, 200, 150, false, 1.0, false, true},
        {"pInf", kInf, 2, 200, 150, false, 3.0, false, true},
        {"p1.5", 1.5, 4, 150, 120, false, 1.0, false, true},
    };
    const S everyStructure[] = {S::Auto, S::Plain,  S::Grid,      S::Tiles,
                                S::Tree, S::Panels, S::BlockLists};
    const PanelPrecision precisions[] = {PanelPrecision::Auto, PanelPrecision::Double,
                                         PanelPrecision::Single};
    const sphnet::InstructionSet instructionSets[] = {
        sphnet::InstructionSet::Auto, sphnet::InstructionSet::Portable,
        sphnet::InstructionSet::Sse2, sphnet::InstructionSet::Avx2, sphnet::InstructionSet::Avx512};
    const sphnet::ThreadUse threadUses[] = {sphnet::ThreadUse::Auto, sphnet::ThreadUse::One,
                                            sphnet::ThreadUse::Two};
    Generator g(0x91a4u);
    for (const PlanCase& c : cases) {
        reference::RecallProblem r = planProblem(g, c);
        const Counters start = g.counters();
        // The reference's results per verbosity and 1-NN option, made as needed.
        reference::RecallResult wants[3][2];
        bool made[3][2] = {};
        bool anyUncovered = false;
        // Which structures can answer a question here (0: first cover, 1: 1-NN, 2: census).
        auto answers = [&](S s, int question) {
            switch (s) {
                case S::Plain:
                    return true;
                case S::Grid:
                    return question == 0;
                case S::Tiles:
                    return c.p == 1.0 || c.p == kInf;
                case S::Tree:
                    return c.n <= 16;
                case S::Panels:
                    return c.p == 2.0 && !c.huge;
                default:
                    return false;
            }
        };
        std::vector<S> ways[3];
        for (S s : everyStructure) {
            for (int question = 0; question < 3; ++question) {
                if (s == S::Auto || answers(s, question)) ways[question].push_back(s);
            }
        }
        auto run = [&](sphnet::SearchPlan plan) {
            r.oflag = g.between(0, 2);
            r.nnOption = g.chance(0.85) ? 1 : 0;
            reference::RecallResult& want = wants[r.oflag][r.nnOption];
            if (!made[r.oflag][r.nnOption]) {
                want = reference::recall(r, start);
                made[r.oflag][r.nnOption] = true;
                for (double covering : want.coverCount)
                    anyUncovered = anyUncovered || covering == 0;
            }
            // Sub-chunks of 32 patterns: both threads take some.
            if (plan.threads == sphnet::ThreadUse::Two)
                plan.pollBudget = 32 * static_cast<std::uint64_t>(c.nodes) * c.n;
            sphnet::RecallPaths paths;
            expectSameRecall(r, start, c.name, true, plan, &paths, &want);
            const std::string what =
                std::string(c.name) + " plan: " + sphnet::describeSearchPlan(plan) +
                " oflag=" + std::to_string(r.oflag) + " nn=" + std::to_string(r.nnOption);
            auto expected = [&](S forced, int question) {
                return sphnet::RecallPaths::bit(answers(forced, question) ? forced : S::Plain);
            };
            if (plan.firstCover != S::Auto) {
                EXPECT_EQ(paths.cover, expected(plan.firstCover, 0)) << what;
            }
            if (plan.nearest != S::Auto) {
                // The panels give the 1-NN rule only where they found the covers.
                const bool panelsCovered = paths.cover & sphnet::RecallPaths::bit(S::Panels);
                const S rule =
                    plan.nearest == S::Panels && !panelsCovered ? S::Plain : plan.nearest;
                EXPECT_EQ(paths.nearest, r.nnOption == 1 && anyUncovered ? expected(rule, 1) : 0u)
                    << what;
            }
            if (plan.census != S::Auto) {
                EXPECT_EQ(paths.census, expected(plan.census, 2)) << what;
            }
            if ((paths.cover | paths.nearest | paths.census) &
                sphnet::RecallPaths::bit(S::Panels)) {
                const bool single = plan.precision != PanelPrecision::Double && c.singleFits;
                EXPECT_EQ(paths.precision, single ? PanelPrecision::Single : PanelPrecision::Double)
                    << what;
            }
            const bool two = plan.threads == sphnet::ThreadUse::Two && r.oflag <= 1;
            EXPECT_EQ(paths.workers, two ? 2 : 1) << what;
        };
        auto drawRest = [&](sphnet::SearchPlan& plan) {
            plan.precision = precisions[g.between(0, 2)];
            plan.instructions = instructionSets[g.between(0, 4)];
            plan.threads = threadUses[g.between(0, 2)];
        };
        for (S cover : ways[0]) {
            for (S nearest : ways[1]) {
                for (S census : ways[2]) {
                    sphnet::SearchPlan plan;
                    plan.firstCover = cover;
                    plan.nearest = nearest;
                    plan.census = census;
                    drawRest(plan);
                    run(plan);
                    if (::testing::Test::HasFailure()) return;
                }
            }
        }
        for (S s : everyStructure) {
            for (int question = 0; question < 3; ++question) {
                if (s == S::Auto || answers(s, question)) continue;
                sphnet::SearchPlan plan;
                (question == 0 ? plan.firstCover : question == 1 ? plan.nearest : plan.census) = s;
                drawRest(plan);
                run(plan);
            }
        }
        for (S s : {S::Tiles, S::Tree, S::Panels}) {
            if (!answers(s, 1)) continue;
            for (int i = 0; i < (s == S::Panels ? 15 : 5); ++i) {
                sphnet::SearchPlan plan;
                plan.firstCover = plan.nearest = plan.census = s;
                plan.instructions = instructionSets[i % 5];
                plan.precision = s == S::Panels ? precisions[i / 5] : PanelPrecision::Auto;
                plan.threads = threadUses[(i + i / 5) % 3];
                run(plan);
            }
        }
        if (::testing::Test::HasFailure()) return;
    }
}

}  // namespace
