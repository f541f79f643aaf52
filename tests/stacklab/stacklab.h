// What the generated chains of the call-chain lab call: recording of the
// true chain, the fault at the bottom, the callbacks through system DLLs.
#pragma once

#include <cstdint>

extern "C" {
using TLabFunction = void (*)(int);
// Appends a return address to the true chain.
void lab_record(void* returnAddress);
// Keeps a value (and the frame that holds it) alive across a call.
void lab_keep(int value);
// Fills a local array with stale but plausible return addresses.
void lab_fill_stale(volatile uint32_t* words, int count);
// Faults: in the caller's body, or in a leaf before any prologue.
void lab_fault(int value);
void lab_leaf_fault();
// Goes on through qsort (msvcrt) or EnumWindows (user32) callbacks.
void lab_via_qsort(TLabFunction next, int n);
void lab_via_enum(TLabFunction next, int n);
// The end of a chain that runs beside the faulting thread: waits forever.
void lab_block();
}
