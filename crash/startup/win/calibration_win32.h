// Module header calibration: a module that carries the 20-byte resource
// "CALIBRATE" of type "KX" (five 32-bit values c0 ... c4) gets the code and
// data fields of its optional header rewritten in memory, for the code-range
// tests that read them.
#pragma once

#include <windows.h>

#include <cstdint>

// The library's fixed marker routine and variable: the executable's
// calibration places its base of code and base of data relative to them.
extern "C" void kestrix_code_marker();
extern "C" volatile const uint32_t kestrix_data_marker;

namespace kestrix {

// The executable, the library's own module (when another one) and every
// loaded module whose file name ends in ".bpl".
void CalibrateModuleHeaders();

// One module. The executable takes a record whose c0 has the top bit clear:
// base of code = marker routine - c0 - module base, base of data = marker
// variable - module base - c1. Another module takes one whose c0 has the
// top bit set: base of code = c0, base of data = c1, top bits cleared. Both:
// size of code = c2, size of initialised data = c3, of uninitialised data =
// c4. False when nothing was rewritten.
bool CalibrateModuleHeader(HMODULE module, bool executable);

}  // namespace kestrix
