// Times the shipped training and recall procedures against the literal reference on clustered
// synthetic data and prints one table row per workload. Each workload runs in a child process
// so that its peak resident memory is its own.
//
//   rce_bench [--quick] [--only K]
//     --quick: smaller workloads, for a smoke run; --only K: workload K alone, in this process
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "classify_patterns.h"
#include "learn_prototypes.h"
#include "reference_rce.h"
#include "sphere_node.h"
#include "standin_host.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

struct Data {
    int n = 0;
    std::vector<std::vector<double>> rows;
    std::vector<double> labels;
};

// Gaussian clusters in the unit cube, five labels shared among 24 clusters; their tails meet,
// and the conflict zones there are where small nodes form.
Data clustered(int count, int n, std::uint64_t seed, std::uint64_t drawSeed = 0) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> unit(0, 1);
    const int clusters = 24;
    std::vector<std::vector<double>> centres(clusters, std::vector<double>(n));
    for (auto& c : centres) {
        for (double& v : c) v = unit(rng);
    }
    // In the plane a wider spread makes clusters of different labels overlap so much that no
    // Rmax yields a few thousand nodes (tens of thousands form, and training never settles).
    const double spread = n <= 2 ? 0.01 : 0.02 * std::sqrt(static_cast<double>(n));
    std::normal_distribution<double> jitter(0, spread);
    if (drawSeed != 0) rng.seed(drawSeed);  // same clusters, other patterns
    Data d;
    d.n = n;
    for (int k = 0; k < count; ++k) {
        const int c = static_cast<int>(unit(rng) * clusters) % clusters;
        std::vector<double> x(n);
        for (int i = 0; i < n; ++i) x[i] = centres[c][i] + jitter(rng);
        d.rows.push_back(x);
        d.labels.push_back(1 + c % 5);
    }
    return d;
}

double seconds(const std::function<void()>& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

long peakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct TrainRun {
    int nodes = 0;
    int presentations = 0;
    std::uint32_t flops = 0;
    std::uint32_t comparisons = 0;
    std::vector<std::vector<double>> nodeRows;
};

TrainRun trainShipped(const Data& d, double p, double rMax, int passes, bool keepRows,
                      double margin = -1) {
    std::vector<const double*> rows;
    for (const auto& r : d.rows) rows.push_back(r.data());
    sphnet::TrainingInput in;
    in.patternCount = static_cast<int>(d.rows.size());
    in.dimension = d.n;
    in.patterns = rows.data();
    in.labels = d.labels.data();
    in.normType = p;
    in.rMax = rMax;
    in.margin = margin >= 0 ? margin : rMax * 0.01;
    in.maxPresentations = passes;
    sphnet::setRunningTotals({});
    standin::Scope scope;
    sphnet::TrainingOutput out;
    TrainRun run;
    if (sphnet::learnPrototypes(in, out) == sphnet::ProcedureStatus::Done) {
        run.nodes = out.nodeCount;
        run.presentations = out.presentations;
        if (keepRows) {
            for (int j = 0; j < out.nodeCount; ++j) {
                run.nodeRows.emplace_back(static_cast<std::size_t>(d.n) + 1);
                out.nodeRow(j, d.n + 1, run.nodeRows.back().data());
            }
        }
    }
    run.flops = sphnet::runningTotals().flops;
    run.comparisons = sphnet::runningTotals().comparisons;
    scope.finish();
    return run;
}

reference::TrainingProblem referenceProblem(const Data& d, double p, double rMax, int passes,
                                            double margin = -1) {
    reference::TrainingProblem t;
    t.dimension = d.n;
    t.patterns = d.rows;
    t.labels = d.labels;
    t.p = p;
    t.rMax = rMax;
    t.margin = margin >= 0 ? margin : rMax * 0.01;
    t.maxPresentations = passes;
    return t;
}

// Rmax for which one pass makes about `target` nodes.
double chooseRadius(const Data& d, double p, int target) {
    double lo = 1e-3, hi = 4.0;
    for (int step = 0; step < 14; ++step) {
        const double mid = std::sqrt(lo * hi);
        const int nodes = trainShipped(d, p, mid, 1, false).nodes;
        if (nodes > target) {
            lo = mid;
        } else {
            hi = mid;
        }
        if (nodes > target * 0.8 && nodes < target * 1.25) return mid;
    }
    return std::sqrt(lo * hi);
}

const char* normName(double p) {
    static char text[32];
    if (p == kInf) return "Inf";
    std::snprintf(text, sizeof text, "%g", p);
    return text;
}

void printRow(const char* kind, int count, int n, double p, int nodes, double fastSeconds,
              double tests, double refSeconds, double fastSameWork, const char* refNote, long peak,
              double inputMiB) {
    std::printf("%-6s %8d %3d %4s %6d %10.4f %10.3g %10.4f %9.1fx  %-22s %8.1f %8.1f\n", kind,
                count, n, normName(p), nodes, fastSeconds, tests / fastSeconds, refSeconds,
                refSeconds / fastSameWork, refNote, peak / 1024.0, inputMiB);
    std::fflush(stdout);
}

// Training: the full run (up to 10 passes) timed as the median of several, and the reference
// on the same full run. Where the reference would take long, both sides are also timed on one
// pass; the full-run reference is skipped only when it would take more than a minute.
void trainingRun(const Data& d, double p, double rMax, double margin, int passes, int repeats) {
    const int count = static_cast<int>(d.rows.size());
    const int n = d.n;
    const double inputMiB = count * (n + 1) * 8.0 / (1 << 20);
    TrainRun run;
    std::vector<double> times;
    for (int r = 0; r < repeats; ++r) {
        times.push_back(seconds([&] { run = trainShipped(d, p, rMax, passes, false, margin); }));
    }
    const double fast = median(times);
    const long peak = peakKiB();
    const sphnet::CoverageCost cost = sphnet::coverageCost(p, n);
    const bool slow = static_cast<double>(count) * run.nodes * (run.presentations + 1) > 4e8;
    double ref = -1;
    char note[64];
    if (slow) {
        TrainRun one;
        std::vector<double> oneFast;
        for (int r = 0; r < repeats; ++r) {
            oneFast.push_back(seconds([&] { one = trainShipped(d, p, rMax, 1, false, margin); }));
        }
        const double refOnePass =
            seconds([&] { reference::learn(referenceProblem(d, p, rMax, 1, margin), {}); });
        std::snprintf(note, sizeof note, "1 pass: %.1fx", refOnePass / median(oneFast));
        if (refOnePass * (run.presentations + 1) > 60.0) {
            // Too long for the full run: the one-pass figures stand for the workload.
            const double tests = static_cast<double>(one.comparisons) / cost.comparisons;
            printRow("train", count, n, p, run.nodes, fast, tests / median(oneFast) * fast,
                     refOnePass, median(oneFast), "ref: 1 pass only", peak, inputMiB);
            return;
        }
    } else {
        std::snprintf(note, sizeof note, "ref: same run, 1 run");
    }
    ref = seconds([&] { reference::learn(referenceProblem(d, p, rMax, passes, margin), {}); });
    // Coverage tests, from the comparison counter (one per test, plus one per conflict; it
    // wraps later than the FLOP counter).
    const double tests = static_cast<double>(run.comparisons) / cost.comparisons;
    printRow("train", count, n, p, run.nodes, fast, tests, ref, fast, note, peak, inputMiB);
}

void trainingWorkload(int count, int n, double p, int target, int repeats) {
    const Data d = clustered(count, n, 1000 + n);
    trainingRun(d, p, chooseRadius(d, p, target), -1, 10, repeats);
}

// Ten Gaussian clusters, one label each, unit noise around centres drawn with the given
// spread: 0.5 makes the labels overlap, 5 separates them (as the Octave benchmark draws them).
Data tenClusters(int count, int n, double spread, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> normal(0, 1);
    std::vector<std::vector<double>> centres(10, std::vector<double>(n));
    for (auto& c : centres) {
        for (double& v : c) v = spread * normal(rng);
    }
    Data d;
    d.n = n;
    for (int k = 0; k < count; ++k) {
        const int c = static_cast<int>(rng() % 10);
        std::vector<double> x(n);
        for (int i = 0; i < n; ++i) x[i] = centres[c][i] + normal(rng);
        d.rows.push_back(x);
        d.labels.push_back(1 + c);
    }
    return d;
}

// Half the median p-distance between the first 500 patterns, as the help advises for Rmax.
double halfMedianDistance(const Data& d, double p) {
    const std::size_t m = std::min<std::size_t>(d.rows.size(), 500);
    std::vector<double> all;
    for (std::size_t a = 0; a < m; ++a) {
        for (std::size_t b = a + 1; b < m; ++b) {
            double s = 0;
            for (int i = 0; i < d.n; ++i) {
                const double t = std::fabs(d.rows[a][i] - d.rows[b][i]);
                s = p == kInf ? std::max(s, t) : s + std::pow(t, p);
            }
            all.push_back(p == kInf ? s : std::pow(s, 1 / p));
        }
    }
    return 0.5 * median(all);
}

void tenClusterWorkload(int count, int n, double spread, double p, double margin, int repeats) {
    const Data d = tenClusters(count, n, spread, 2000 + n);
    trainingRun(d, p, halfMedianDistance(d, p), margin, 10, repeats);
}

// Recall of `count` patterns against a node set trained on 10^5 patterns.
void recallWorkload(int count, int n, double p, int target, int refPatterns, int repeats) {
    const Data train = clustered(100000, n, 1000 + n);
    const double rMax = chooseRadius(train, p, target);
    const TrainRun nodes = trainShipped(train, p, rMax, 10, true);
    const Data d = clustered(count, n, 1000 + n, 777);  // same clusters, fresh patterns
    std::vector<const double*> templates, rows;
    std::vector<double> nodeLabels;
    for (const auto& row : nodes.nodeRows) templates.push_back(row.data());
    for (std::size_t j = 0; j < nodes.nodeRows.size(); ++j) nodeLabels.push_back(1 + j % 5);
    for (const auto& row : d.rows) rows.push_back(row.data());
    auto run = [&](int patterns, std::uint32_t& comparisons) {
        sphnet::RecallInput in;
        in.nodeCount = static_cast<int>(templates.size());
        in.dimension = n;
        in.templates = templates.data();
        in.nodeLabels = nodeLabels.data();
        in.normType = p;
        in.patternCount = patterns;
        in.patterns = rows.data();
        in.nnOption = 1;
        sphnet::setRunningTotals({});
        standin::Scope scope;
        sphnet::HostBlock<double> results;
        sphnet::classifyPatterns(in, results);
        scope.finish();
        comparisons = sphnet::runningTotals().comparisons;
    };
    std::uint32_t comparisons = 0;
    std::vector<double> times;
    for (int r = 0; r < repeats; ++r) times.push_back(seconds([&] { run(count, comparisons); }));
    const double fast = median(times);
    const long peak = peakKiB();
    const sphnet::CoverageCost cost = sphnet::coverageCost(p, n);
    const double tests = static_cast<double>(comparisons) / cost.comparisons;
    std::vector<double> prefixTimes;
    for (int r = 0; r < repeats; ++r) {
        prefixTimes.push_back(seconds([&] { run(refPatterns, comparisons); }));
    }
    const double fastPrefix = median(prefixTimes);
    reference::RecallProblem rp;
    rp.dimension = n;
    rp.templates = nodes.nodeRows;
    rp.nodeLabels = nodeLabels;
    rp.p = p;
    rp.patterns.assign(d.rows.begin(), d.rows.begin() + refPatterns);
    rp.nnOption = 1;
    const double ref = seconds([&] { reference::recall(rp, {}); });
    char note[64];
    std::snprintf(note, sizeof note, "ref: first %d pats", refPatterns);
    printRow("recall", count, n, p, static_cast<int>(templates.size()), fast,
             static_cast<double>(tests), ref, fastPrefix, note, peak, count * n * 8.0 / (1 << 20));
    std::printf("       %.3g patterns/s\n", count / fast);
    std::fflush(stdout);
}

constexpr unsigned kWorkloadSeconds = 240;
int workloadNumber = 0;
int onlyWorkload = -1;

void inChild(const std::function<void()>& work) {
    const int number = workloadNumber++;
    if (onlyWorkload >= 0 && number != onlyWorkload) return;
    std::fflush(stdout);
    if (onlyWorkload >= 0) {
        work();
        return;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(kWorkloadSeconds);  // a workload that runs away ends here, not the table
        work();
        std::fflush(stdout);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFSIGNALED(status)) {
        std::printf("workload %d: stopped after %u s (run it alone with --only %d)\n", number,
                    kWorkloadSeconds, number);
        std::fflush(stdout);
    }
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    for (int a = 1; a < argc; ++a) {
        if (std::strcmp(argv[a], "--quick") == 0) quick = true;
        if (std::strcmp(argv[a], "--only") == 0 && a + 1 < argc)
            onlyWorkload = std::atoi(argv[++a]);
    }
    std::printf("%-6s %8s %3s %4s %6s %10s %10s %10s %10s  %-22s %8s %8s\n", "what", "N|P", "n",
                "p", "nodes", "time s", "tests/s", "ref s", "speed-up", "reference timed on",
                "peakMiB", "inMiB");
    const double norms[] = {2.0, 1.0, kInf, 1.5};
    // The tiny one: many repetitions, since one run takes microseconds.
    inChild([] {
        const Data d = clustered(10, 2, 5);
        const int reps = 20000;
        const double fast = seconds([&] {
            for (int r = 0; r < reps; ++r) trainShipped(d, 2.0, 0.3, 10, false);
        });
        const reference::TrainingProblem t = referenceProblem(d, 2.0, 0.3, 10);
        const double ref = seconds([&] {
            for (int r = 0; r < reps; ++r) reference::learn(t, {});
        });
        const TrainRun run = trainShipped(d, 2.0, 0.3, 10, false);
        const double tests =
            static_cast<double>(run.comparisons) / sphnet::coverageCost(2.0, 2).comparisons;
        printRow("train", 10, 2, 2.0, run.nodes, fast / reps, tests, ref / reps, fast / reps,
                 "ref: same, 20000 runs", peakKiB(), 10 * 3 * 8.0 / (1 << 20));
    });
    const int sizes[] = {10000, 100000};
    const int dims[] = {2, 8, 32};
    for (int count : sizes) {
        if (quick && count > 10000) break;
        for (int n : dims) {
            for (double p : norms) {
                inChild([=] { trainingWorkload(count, n, p, 3000, count > 10000 ? 3 : 5); });
            }
        }
    }
    const int recallCount = quick ? 100000 : 1000000;
    for (double p : norms) inChild([=] { recallWorkload(recallCount, 8, p, 3000, 10000, 3); });
    inChild([=] { recallWorkload(recallCount, 2, 2.0, 3000, 10000, 3); });
    inChild([=] { recallWorkload(recallCount, 32, 2.0, 3000, 10000, 3); });
    // Ten clusters: well separated (few nodes, where fixed costs show), then overlapping in 8
    // dimensions with a margin (runs that stop at the pass limit).
    inChild([] { tenClusterWorkload(10000, 64, 5.0, kInf, 0.1, 5); });
    inChild([] { tenClusterWorkload(10000, 784, 5.0, 1.0, 0.0, 5); });
    for (double p : {1.0, kInf}) {
        inChild([=] { tenClusterWorkload(quick ? 20000 : 50000, 8, 0.5, p, 0.1, 3); });
    }
    return 0;
}
