// What every fuzzed call must satisfy, whatever its arguments: it ends in success or in one
// documented error, leaves no heap block behind, never misuses the host interface, and reports
// a refused allocation or an interrupt as such rather than as success.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "documented_messages.h"
#include "standin_host.h"

namespace sphnet_fuzz {

// Stops the run as a crash, so that libFuzzer keeps the input that broke the rule.
[[noreturn]] inline void broken(const std::string& what, const standin::CallResult& result) {
    std::fprintf(stderr,
                 "\n*** broken: %s\n    error: %s \"%s\"\n    console (first 2000 chars): %s\n",
                 what.c_str(), result.identifier.c_str(), result.error.c_str(),
                 result.console.substr(0, 2000).c_str());
    for (const std::string& f : result.faults) std::fprintf(stderr, "    fault: %s\n", f.c_str());
    std::abort();
}

inline void require(bool condition, const std::string& what, const standin::CallResult& result) {
    if (!condition) broken(what, result);
}

inline const sphnet_testing::DocumentedMessages& documentedMessages() {
    static const sphnet_testing::DocumentedMessages messages(SPHNET_DOCUMENTED_MESSAGES);
    return messages;
}

inline bool allocationWasRefused(const standin::CallOptions& options,
                                 const standin::CallResult& result) {
    return options.failAllocation > 0 && result.allocationAttempts >= options.failAllocation;
}

// Checks shared by both functions. Returns true when the call succeeded.
inline bool checkCallOutcome(const std::string& name, const standin::CallOptions& options,
                             const standin::CallResult& result) {
    require(result.faults.empty(), "the call misused the host interface", result);
    require(result.heapBlocksOutstanding == 0, "heap blocks leaked", result);
    require(result.warnings.empty(), "a conversion warning reached the user", result);
    if (!result.failed) {
        require(!allocationWasRefused(options, result),
                "an allocation was refused but the call reported success", result);
        require(!result.interrupted, "interrupted but reported success", result);
        return true;
    }
    require(result.error.rfind(name + ": ", 0) == 0, "error text without the function's name",
            result);
    require(documentedMessages().contains(result.identifier, result.error),
            "undocumented error, or one with another identifier", result);
    require(result.outputs.empty(), "a failed call handed back outputs", result);
    if (result.error == name + ": Not enough memory available; unable to run!") {
        require(allocationWasRefused(options, result), "memory message with memory to spare",
                result);
    }
    if (result.error == name + ": Interrupted by the user.") {
        require(options.interruptAfterPolls >= 0 && result.interrupted,
                "interrupt message without an interrupt", result);
    }
    if (result.interrupted) {
        require(result.error == name + ": Interrupted by the user.",
                "an interrupt ended the call with another message", result);
    }
    return false;
}

}  // namespace sphnet_fuzz
