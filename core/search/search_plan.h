// Which mechanism answers each question a scan asks. The default (every field Auto) leaves the
// choice to the engine: the data's shape and, where two ways suit, a timing trial. Tests, fuzzers
// and benchmarks force a path so as to compare every path with the literal scan. Not a user option.
//
// A forced structure that cannot answer exactly for the input at hand (the tiles for p = 2, the
// panels on coordinates beyond their range, a tree over no nodes) gives way to the plain scan,
// which always can; answers, counters and trace lines never depend on the plan.
#pragma once

#include <cstdint>
#include <string>

#include "work_pacer.h"

namespace sphnet {

// The structures that can answer a question.
enum class SearchStructure : std::uint8_t {
    Auto,        // the engine's own choice
    Plain,       // every node in node order, with certified distance bounds where they hold
    Grid,        // cell lists over the centres (recall), or over the reaches (training)
    Tiles,       // p = 1 and +Inf: exact distances eight to sixteen nodes at a time
    Tree,        // k-d trees over the centres (recall, p other than 2; training, growing by runs)
    Panels,      // blocked squared distances of a group of patterns to panels of nodes (p = 2)
    BlockLists,  // training: blocked distances list the nodes that may matter to upcoming patterns
};

enum class PanelPrecision : std::uint8_t { Auto, Double, Single };

// The instruction set of the vector kernels; one the processor lacks gives way to the widest
// it has below it. Sse2, the x86-64 baseline, runs the portable kernels, which the compiler
// vectorizes for it.
enum class InstructionSet : std::uint8_t { Auto, Portable, Sse2, Avx2, Avx512 };

// Whether work is shared between two threads: recall's pattern ranges, training's split scans.
enum class ThreadUse : std::uint8_t { Auto, One, Two };

struct SearchPlan {
    SearchStructure firstCover = SearchStructure::Auto;  // recall: the lowest-numbered cover
    // Training's scan: the nodes of another label within reach of x, and the first own-label
    // cover, found together in node order.
    SearchStructure foreignInReach = SearchStructure::Auto;
    SearchStructure nearest = SearchStructure::Auto;  // recall's 1-NN rule (never by the grid)
    SearchStructure census = SearchStructure::Auto;   // recall's cover census (info; nor by it)
    PanelPrecision precision = PanelPrecision::Auto;
    InstructionSet instructions = InstructionSet::Auto;
    ThreadUse threads = ThreadUse::Auto;
    // Training in few dimensions, where the engine chooses: the nodes at which the tiles (p = 1
    // and +Inf) or the plain scan (other p) give way to the tree (0: the engine's own count).
    int handoverNodes = 0;
    // Training: how many nodes each pattern's memory of its last scan holds (0: the engine's
    // choice; at most 12).
    int memoryNodes = 0;
    // Terms of work between two polls for an interrupt: not a path, so not in the words below.
    // Tests lower it so that small problems poll often; nothing else changes it.
    std::uint64_t pollBudget = kDefaultPollBudget;
};

// "cover=tree nearest=plain census=panels foreign=lists precision=single isa=avx2 threads=two
// handover=64 memory=5":
// space- or comma-separated key=value words, any subset, in any order; an empty text is the
// default plan. False (with `plan` untouched) on an unknown key or value.
bool parseSearchPlan(const std::string& text, SearchPlan& plan);
// The plan in the same words, Auto fields left out ("" for the default plan).
std::string describeSearchPlan(const SearchPlan& plan);

// The instruction set a vector kernel takes for `requested`: the widest this processor runs
// that is no wider (Avx2 counts with its fused multiply-add, as every such processor has it;
// Sse2 with every x86-64 one; Portable anywhere). Auto stays Auto: each structure then takes
// its own widest. Each structure translates the level into its own kernels.
InstructionSet availableInstructions(InstructionSet requested);

}  // namespace sphnet
