// The frame-pointer chain of a 32-bit x86 stack: each frame holds the caller's
// frame pointer and the return address. Memory is read only through the
// given reader, so that the walk never faults and can be tested on plain
// buffers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrix {

// Copies count bytes at address into dest; false when they cannot be read.
using TMemoryReader = bool (*)(uint32_t address, void* dest, size_t count, void* context);

// Code addresses of the chain from (eip, ebp), eip first, at most max. The
// walk stops at a null or unaligned frame, a null return address, a frame
// that does not lie above the previous one, or a step of more than 16 MiB.
// Needs no heap.
int WalkFrameChain(uint32_t eip, uint32_t ebp, TMemoryReader read, void* context, uint32_t* out, int max);

}  // namespace kestrix
