// What the start-up tells about itself.
#pragma once

namespace kestrix {

// Milliseconds the library's start-up took in this process (0 before it
// ran).
double StartupMilliseconds();

// The thread hooks as the start-up installs them (RemoveThreadHooks
// removes them); for benchmarks and tests.
bool InstallLibraryThreadHooks();

}  // namespace kestrix
