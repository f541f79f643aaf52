// The one-line text of a code address as the tracer's environment
// describes it (internal-error texts, the exception location).
#pragma once

#include <string>

#include "debuginfo/stack/stack_tracer.h"

namespace kestrix::stack {

TLocationFacts LocationFacts(const IStackEnvironment& env, uint32_t address);
std::string FormatCodeLocation(const IStackEnvironment& env, uint32_t address, bool showRelAddr, bool showRelLine);

}  // namespace kestrix::stack
