// A search plan drawn at random, for the fuzzers and the property tests: each field takes any of
// its values, Auto included, so that runs force every search path the procedures have. Answers
// must not depend on the plan.
#pragma once

#include <cstdint>
#include <iterator>
#include <random>

#include "search_plan.h"

namespace sphnet_testing {

// `pick(count)` gives a whole number in [0, count).
template <class Pick>
sphnet::SearchPlan drawSearchPlanWith(Pick pick) {
    using namespace sphnet;
    static const SearchStructure structures[] = {
        SearchStructure::Auto,      SearchStructure::Plain, SearchStructure::Grid,
        SearchStructure::Tiles,     SearchStructure::Tree,  SearchStructure::Panels,
        SearchStructure::BlockLists};
    static const PanelPrecision precisions[] = {PanelPrecision::Auto, PanelPrecision::Double,
                                                PanelPrecision::Single};
    static const InstructionSet instructionSets[] = {InstructionSet::Auto, InstructionSet::Portable,
                                                     InstructionSet::Sse2, InstructionSet::Avx2,
                                                     InstructionSet::Avx512};
    static const ThreadUse threadUses[] = {ThreadUse::Auto, ThreadUse::One, ThreadUse::Two};
    auto any = [&pick](const auto& table) {
        return table[pick(static_cast<int>(std::size(table)))];
    };
    SearchPlan plan;
    plan.firstCover = any(structures);
    plan.foreignInReach = any(structures);
    plan.nearest = any(structures);
    plan.census = any(structures);
    plan.precision = any(precisions);
    plan.instructions = any(instructionSets);
    plan.threads = any(threadUses);
    // Training's handover from the tiles to the tree: the engine's count, or one that small
    // problems reach.
    static const int handovers[] = {0, 1, 16, 200};
    plan.handoverNodes = any(handovers);
    // The scans' memories: the engine's length, the shortest, and the longest.
    static const int memories[] = {0, 1, 12};
    plan.memoryNodes = any(memories);
    return plan;
}

// From fuzz input (a FuzzedDataProvider): fields whose bytes have run out stay Auto, so inputs
// kept from before a plan was drawn decode as they did.
template <class Provider>
sphnet::SearchPlan drawSearchPlan(Provider& in) {
    return drawSearchPlanWith(
        [&in](int count) { return in.template ConsumeIntegralInRange<int>(0, count - 1); });
}

// From a seed, for tests that draw their problems from one.
inline sphnet::SearchPlan drawSearchPlanFromSeed(std::uint64_t seed) {
    std::mt19937_64 source(seed);
    return drawSearchPlanWith([&source](int count) {
        return static_cast<int>(source() % static_cast<std::uint64_t>(count));
    });
}

}  // namespace sphnet_testing
