// Resources of a PE module, read from its bytes: the loaded image (RVAs
// are offsets) or its file (RVAs mapped through the section table).
// Portable, so that the tools read an executable's map as the library does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrix {

struct TPeView {
  const uint8_t* data = nullptr;
  size_t size = 0;
  bool mapped = false;  // true: a loaded image; false: the file's bytes
};

// The preferred image base; 0 when the bytes are no PE32 image.
uint32_t PeImageBase(const TPeView& pe);

// File offset (or image offset when mapped) of an RVA range; false when it
// lies outside the data.
bool PeRange(const TPeView& pe, uint32_t rva, uint32_t length, size_t& offset);

// The bytes of resource `type`/`name` (first language). A name "#n" stands
// for the numeric id n. False when there is none or the directory is damaged.
bool FindPeResource(const TPeView& pe, const std::string& type, const std::string& name, const uint8_t*& data,
                    size_t& size);

// The MinDebugInfo value of a settings record in its binary form, or empty.
std::string FindMinDebugInfo(const uint8_t* record, size_t size);

}  // namespace kestrix
