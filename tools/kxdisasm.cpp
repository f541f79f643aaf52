// kxdisasm: the disassembly of a 32-bit PE file's executable sections by
// linear sweep from each section's start, at the image base.
//   kxdisasm FILE                    one instruction per line as the report shows it
//   kxdisasm --lengths FILE          address, length and a relative branch's target
//   kxdisasm --function ADDRESS FILE the listing of the function at ADDRESS
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <string>
#include <unordered_map>

#include "debuginfo/decoder/decoder.h"
#include "debuginfo/decoder/formatter.h"
#include "debuginfo/decoder/opcode_tables.h"
#include "debuginfo/parser/disassembly_listing.h"
#include "tools/pe_image.h"

using namespace kestrix;
using namespace kestrix::decoder;

namespace {

int Usage() {
  std::fprintf(stderr, "usage: kxdisasm [--lengths | --function ADDRESS] FILE\n");
  return 1;
}

// Names the file's exports.
class ExportNames final : public SymbolSource {
 public:
  explicit ExportNames(const tools::TPeImage& image) : image_(image) {
    for (const auto& [rva, name] : image.exports) names_.emplace(image.imageBase + rva, name);
  }
  bool ModuleOf(uint32_t address, TModuleRange* out) const override {
    const uint32_t size = static_cast<uint32_t>(image_.image.size());
    if (address - image_.imageBase >= size) return false;
    out->begin = image_.imageBase;
    out->end = image_.imageBase + size;
    out->isOwnModule = true;
    out->fileName.clear();
    return true;
  }
  std::string NameAt(uint32_t address) const override {
    auto it = names_.find(address);
    return it == names_.end() ? std::string() : it->second;
  }

 private:
  const tools::TPeImage& image_;
  std::unordered_map<uint32_t, std::string> names_;
};

// The file's image as the parser sees memory: the executable sections are
// the code range.
class ImageEnvironment final : public parser::CodeEnvironment {
 public:
  ImageEnvironment(const tools::TPeImage& image, const ExportNames& names) : image_(image), names_(names) {}
  bool IsCommitted(uint32_t address) const override { return address - image_.imageBase < image_.image.size(); }
  bool CodeRange(uint32_t address, uint32_t* begin, uint32_t* end) const override {
    bool any = false;
    for (const tools::TPeSection& s : image_.sections) {
      if (!s.executable || s.size == 0) continue;
      const uint32_t b = image_.imageBase + s.rva, e = b + s.size;
      *begin = any ? std::min(*begin, b) : b;
      *end = any ? std::max(*end, e) : e;
      any = true;
    }
    return any && address >= *begin && address < *end;
  }
  bool IsNamedExport(uint32_t address) const override { return !names_.NameAt(address).empty(); }
  std::string SystemErrorText(uint32_t) const override { return "The parameter is incorrect."; }

 private:
  const tools::TPeImage& image_;
  const ExportNames& names_;
};

void PrintLengths(const tools::TPeImage& pe, const BufferReader& reader) {
  std::string out;
  char line[48];
  for (const tools::TPeSection& sec : pe.sections) {
    if (!sec.executable || sec.size == 0) continue;
    uint32_t address = pe.imageBase + sec.rva;
    const uint32_t end = address + sec.size;
    while (address < end) {
      TDecodedInstruction d;
      Decode(address, reader, nullptr, &d);
      const uint32_t length = d.info.end - address;
      int n;
      if (d.info.isValid && (d.attributes & attr::kRel)) {
        n = std::snprintf(line, sizeof line, "%08x %u %08x\n", address, length, d.info.end + d.imm);
      } else {
        n = std::snprintf(line, sizeof line, "%08x %u\n", address, length);
      }
      out.append(line, n);
      if (out.size() > (1 << 16)) {
        std::fwrite(out.data(), 1, out.size(), stdout);
        out.clear();
      }
      address = d.info.end;
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
}

void PrintListing(const tools::TPeImage& pe, const BufferReader& reader, const SymbolSource& names) {
  std::string out;
  for (const tools::TPeSection& sec : pe.sections) {
    if (!sec.executable || sec.size == 0) continue;
    uint32_t address = pe.imageBase + sec.rva;
    const uint32_t end = address + sec.size;
    TFormatContext context{&reader, &names};
    while (address < end) {
      TFormattedInstruction f = FormatInstruction(address, context, nullptr);
      out += f.text;
      out += '\n';
      if (out.size() > (1 << 16)) {
        std::fwrite(out.data(), 1, out.size(), stdout);
        out.clear();
      }
      address = f.info.end;
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
}

}  // namespace

int main(int argc, char** argv) {
  enum { kListing, kLengths, kFunction } mode = kListing;
  uint32_t function = 0;
  int arg = 1;
  if (arg < argc && std::strcmp(argv[arg], "--lengths") == 0) {
    mode = kLengths;
    ++arg;
  } else if (arg < argc && std::strcmp(argv[arg], "--function") == 0) {
    if (arg + 1 >= argc) return Usage();
    char* endp = nullptr;
    function = static_cast<uint32_t>(std::strtoul(argv[arg + 1], &endp, 16));
    if (*endp) return Usage();
    mode = kFunction;
    arg += 2;
  }
  if (arg + 1 != argc) return Usage();
  std::vector<uint8_t> file;
  if (!tools::ReadWholeFile(argv[arg], &file)) {
    std::fprintf(stderr, "kxdisasm: cannot read %s\n", argv[arg]);
    return 2;
  }
  tools::TPeImage pe;
  std::string error;
  if (!tools::LoadPeImage(file, &pe, &error)) {
    std::fprintf(stderr, "kxdisasm: %s: %s\n", argv[arg], error.c_str());
    return 2;
  }
  BufferReader reader(pe.image.data(), pe.image.size(), pe.imageBase);
  ExportNames names(pe);
  switch (mode) {
    case kLengths: PrintLengths(pe, reader); break;
    case kListing: PrintListing(pe, reader, names); break;
    case kFunction: {
      ImageEnvironment environment(pe, names);
      parser::TListingContext context;
      context.parse.reader = &reader;
      context.parse.environment = &environment;
      context.symbols = &names;
      parser::TListing listing = parser::DisassembleFunction(function, 0, true, 0, context);
      if (!listing.info.isValid) {
        std::fprintf(stderr, "kxdisasm: %08x: %s (at %08x)\n", function, listing.info.lastErrorText.c_str(),
                     listing.info.lastErrorAddress);
        return 3;
      }
      std::string text;
      for (char ch : listing.text) {
        if (ch != '\r') text += ch;
      }
      std::printf("%s\n", text.c_str());
      break;
    }
  }
  return 0;
}
