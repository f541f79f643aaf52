// Reading a 32-bit PE file into its mapped layout; nothing outside the
// file's bytes is read.
#include "tools/pe_image.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace kestrix::tools {
namespace {

uint32_t U16(const std::vector<uint8_t>& b, size_t at) { return b[at] | (b[at + 1] << 8); }
uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
uint32_t ImageU32(const TPeImage& img, uint32_t rva) {
  if (rva > img.image.size() || img.image.size() - rva < 4) return 0;
  return U32(img.image, rva);
}

void ReadExports(TPeImage& img, uint32_t dirRva, uint32_t dirSize) {
  if (dirRva == 0 || dirSize < 40 || dirRva >= img.image.size() || img.image.size() - dirRva < 40) return;
  const uint32_t names = ImageU32(img, dirRva + 24);
  const uint32_t functionsRva = ImageU32(img, dirRva + 28);
  const uint32_t namesRva = ImageU32(img, dirRva + 32);
  const uint32_t ordinalsRva = ImageU32(img, dirRva + 36);
  for (uint32_t i = 0; i < names && i < 100000; ++i) {
    const uint32_t nameRva = ImageU32(img, namesRva + 4 * i);
    if (ordinalsRva + 2 * i + 2 > img.image.size() || nameRva >= img.image.size()) break;
    const uint32_t ordinal = U16(img.image, ordinalsRva + 2 * i);
    const uint32_t rva = ImageU32(img, functionsRva + 4 * ordinal);
    std::string name;
    for (uint32_t p = nameRva; p < img.image.size() && img.image[p] && name.size() < 512; ++p) {
      name += static_cast<char>(img.image[p]);
    }
    if (rva != 0 && !(rva >= dirRva && rva < dirRva + dirSize)) img.exports.emplace_back(rva, name);
  }
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool LoadPeImage(const std::vector<uint8_t>& file, TPeImage* out, std::string* error) {
  auto fail = [&](const char* text) {
    *error = text;
    return false;
  };
  if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') return fail("not an MZ file");
  const uint32_t pe = U32(file, 0x3C);
  if (pe > file.size() || file.size() - pe < 24 + 96) return fail("no PE header");
  if (U32(file, pe) != 0x4550) return fail("no PE signature");
  if (U16(file, pe + 4) != 0x14C) return fail("not an i386 image");
  const uint32_t sectionCount = U16(file, pe + 6);
  const uint32_t optSize = U16(file, pe + 20);
  const size_t opt = pe + 24;
  if (U16(file, opt) != 0x10B) return fail("not a PE32 image");
  if (optSize < 96 || file.size() - opt < optSize) return fail("short optional header");
  TPeImage img;
  img.imageBase = U32(file, opt + 28);
  const uint32_t sizeOfImage = U32(file, opt + 56);
  const uint32_t sizeOfHeaders = U32(file, opt + 60);
  if (sizeOfImage == 0 || sizeOfImage > (1u << 30)) return fail("bad image size");
  img.image.assign(sizeOfImage, 0);
  std::memcpy(img.image.data(), file.data(), std::min<size_t>(std::min<size_t>(sizeOfHeaders, file.size()), sizeOfImage));
  const size_t table = opt + optSize;
  if (file.size() < table || (file.size() - table) / 40 < sectionCount) return fail("short section table");
  for (uint32_t s = 0; s < sectionCount; ++s) {
    const size_t h = table + 40 * s;
    TPeSection sec;
    for (int c = 0; c < 8 && file[h + c]; ++c) sec.name += static_cast<char>(file[h + c]);
    const uint32_t virtualSize = U32(file, h + 8);
    sec.rva = U32(file, h + 12);
    const uint32_t rawSize = U32(file, h + 16);
    const uint32_t rawPtr = U32(file, h + 20);
    const uint32_t flags = U32(file, h + 36);
    sec.executable = (flags & 0x20000020) != 0;  // execute, or code contents
    uint32_t size = virtualSize ? std::min(virtualSize, rawSize) : rawSize;
    if (rawPtr > file.size()) size = 0;
    size = static_cast<uint32_t>(std::min<size_t>(size, file.size() - std::min<size_t>(rawPtr, file.size())));
    if (sec.rva > sizeOfImage) size = 0;
    size = std::min(size, sizeOfImage - std::min(sec.rva, sizeOfImage));
    if (size) std::memcpy(img.image.data() + sec.rva, file.data() + rawPtr, size);
    sec.size = size;
    img.sections.push_back(sec);
  }
  const uint32_t dirCount = U32(file, opt + 92);
  if (dirCount >= 1 && optSize >= 104) ReadExports(img, U32(file, opt + 96), U32(file, opt + 100));
  *out = std::move(img);
  return true;
}

}  // namespace kestrix::tools
