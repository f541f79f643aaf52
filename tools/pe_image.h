// A 32-bit PE file laid out as the loader maps it (headers and sections at
// their relative addresses), for the disassembler tool and the benchmark.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrix::tools {

struct TPeSection {
  std::string name;
  uint32_t rva = 0;
  uint32_t size = 0;  // the bytes the file holds for it, within the virtual size
  bool executable = false;
};

struct TPeImage {
  uint32_t imageBase = 0;
  std::vector<uint8_t> image;  // SizeOfImage bytes
  std::vector<TPeSection> sections;
  std::vector<std::pair<uint32_t, std::string>> exports;  // rva, name
};

// False with a message when the bytes are not a 32-bit PE file.
bool LoadPeImage(const std::vector<uint8_t>& file, TPeImage* out, std::string* error);
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* out);

}  // namespace kestrix::tools
