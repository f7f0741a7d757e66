#include "search_plan.h"

#include <climits>
#include <cstddef>
#include <sstream>

#include "compiler_builtins.h"

namespace sphnet {

namespace {

template <class Enum>
struct Word {
    const char* text;
    Enum value;
};

constexpr Word<SearchStructure> kStructures[] = {
    {"auto", SearchStructure::Auto},       {"plain", SearchStructure::Plain},
    {"grid", SearchStructure::Grid},       {"tiles", SearchStructure::Tiles},
    {"tree", SearchStructure::Tree},       {"panels", SearchStructure::Panels},
    {"lists", SearchStructure::BlockLists}};
constexpr Word<PanelPrecision> kPrecisions[] = {{"auto", PanelPrecision::Auto},
                                                {"double", PanelPrecision::Double},
                                                {"single", PanelPrecision::Single}};
constexpr Word<InstructionSet> kInstructionSets[] = {{"auto", InstructionSet::Auto},
                                                     {"portable", InstructionSet::Portable},
                                                     {"sse2", InstructionSet::Sse2},
                                                     {"avx2", InstructionSet::Avx2},
                                                     {"avx512", InstructionSet::Avx512}};
constexpr Word<ThreadUse> kThreadUses[] = {
    {"auto", ThreadUse::Auto}, {"one", ThreadUse::One}, {"two", ThreadUse::Two}};

template <class Enum, std::size_t N>
bool lookUp(const Word<Enum> (&words)[N], const std::string& text, Enum& value) {
    for (const Word<Enum>& w : words) {
        if (text == w.text) {
            value = w.value;
            return true;
        }
    }
    return false;
}

template <class Enum, std::size_t N>
const char* nameOf(const Word<Enum> (&words)[N], Enum value) {
    for (const Word<Enum>& w : words) {
        if (w.value == value) return w.text;
    }
    return "auto";
}

// A whole number from 0 to INT_MAX, digits only.
bool readCount(const std::string& text, int& count) {
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long long value = std::stoll(text);
    if (value > INT_MAX) return false;
    count = static_cast<int>(value);
    return true;
}

}  // namespace

bool parseSearchPlan(const std::string& text, SearchPlan& plan) {
    SearchPlan parsed;
    std::string spaced = text;
    for (char& c : spaced) {
        if (c == ',') c = ' ';
    }
    std::istringstream words(spaced);
    std::string word;
    while (words >> word) {
        const std::size_t equals = word.find('=');
        if (equals == std::string::npos) return false;
        const std::string key = word.substr(0, equals), value = word.substr(equals + 1);
        bool known = false;
        if (key == "cover") known = lookUp(kStructures, value, parsed.firstCover);
        if (key == "foreign") known = lookUp(kStructures, value, parsed.foreignInReach);
        if (key == "nearest") known = lookUp(kStructures, value, parsed.nearest);
        if (key == "census") known = lookUp(kStructures, value, parsed.census);
        if (key == "precision") known = lookUp(kPrecisions, value, parsed.precision);
        if (key == "isa") known = lookUp(kInstructionSets, value, parsed.instructions);
        if (key == "threads") known = lookUp(kThreadUses, value, parsed.threads);
        if (key == "handover") known = readCount(value, parsed.handoverNodes);
        if (key == "memory") known = readCount(value, parsed.memoryNodes);
        if (!known) return false;
    }
    plan = parsed;
    return true;
}

std::string describeSearchPlan(const SearchPlan& plan) {
    std::ostringstream out;
    auto add = [&](const char* key, const char* value) {
        if (std::string(value) == "auto") return;
        if (out.tellp() > 0) out << ' ';
        out << key << '=' << value;
    };
    add("cover", nameOf(kStructures, plan.firstCover));
    add("foreign", nameOf(kStructures, plan.foreignInReach));
    add("nearest", nameOf(kStructures, plan.nearest));
    add("census", nameOf(kStructures, plan.census));
    add("precision", nameOf(kPrecisions, plan.precision));
    add("isa", nameOf(kInstructionSets, plan.instructions));
    add("threads", nameOf(kThreadUses, plan.threads));
    if (plan.handoverNodes > 0) add("handover", std::to_string(plan.handoverNodes).c_str());
    if (plan.memoryNodes > 0) add("memory", std::to_string(plan.memoryNodes).c_str());
    return out.str();
}

InstructionSet availableInstructions(InstructionSet requested) {
    if (requested == InstructionSet::Auto) return requested;
#if SPHNET_X86_KERNELS
    __builtin_cpu_init();  // in case this runs before the library's own initialisers
    if (requested == InstructionSet::Avx512 && __builtin_cpu_supports("avx512f"))
        return InstructionSet::Avx512;
    if (requested >= InstructionSet::Avx2 && __builtin_cpu_supports("avx2") &&
        __builtin_cpu_supports("fma")) {
        return InstructionSet::Avx2;
    }
    return requested >= InstructionSet::Sse2 ? InstructionSet::Sse2 : InstructionSet::Portable;
#else
    return InstructionSet::Portable;
#endif
}

}  // namespace sphnet
