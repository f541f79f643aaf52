// kxdisasm: the disassembly of a 32-bit PE file's executable sections by
// linear sweep from each section's start, at the image base.
//   kxdisasm FILE                    one instruction per line as the report shows it
//   kxdisasm --lengths FILE          address, length and a relative branch's target
//   kxdisasm --function ADDRESS FILE the listing of the function at ADDRESS
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "debuginfo/decoder/decoder.h"
#include "debuginfo/decoder/formatter.h"
#include "debuginfo/decoder/opcode_tables.h"
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
  explicit ExportNames(const tools::TPeImage& image) : image_(image) {}
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
    for (const auto& [rva, name] : image_.exports) {
      if (image_.imageBase + rva == address) return name;
    }
    return std::string();
  }

 private:
  const tools::TPeImage& image_;
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
    case kFunction:
      std::fprintf(stderr, "kxdisasm: --function is not available yet\n");
      (void)function;
      return 3;
  }
  return 0;
}
