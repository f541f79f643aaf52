// Random bytes through the decoder and the formatter: never a crash, never
// a read outside the buffer (the buffer is exactly the input, so ASan sees
// any), every instruction between 1 and 15 bytes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "debuginfo/decoder/decoder.h"
#include "debuginfo/decoder/formatter.h"

namespace {

using namespace kestrix::decoder;

constexpr uint32_t kBase = 0x00400000;

// The whole buffer is one module; every 64th address has a name.
class Symbols final : public SymbolSource {
 public:
  explicit Symbols(size_t size) : size_(static_cast<uint32_t>(size)) {}
  bool ModuleOf(uint32_t address, TModuleRange* out) const override {
    if (address - kBase >= size_) return false;
    *out = {kBase, kBase + size_, (address & 1) != 0, "fuzz.dll"};
    return true;
  }
  std::string NameAt(uint32_t address) const override {
    return (address & 63) == 0 ? "Unit.Proc" : std::string();
  }

 private:
  uint32_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  BufferReader reader(data, size, kBase);
  Symbols symbols(size);
  TFormatContext context{&reader, &symbols};
  RegisterState state;
  uint32_t address = kBase;
  const uint32_t end = kBase + static_cast<uint32_t>(size);
  while (address < end) {
    TFormattedInstruction f = FormatInstruction(address, context, &state);
    const uint32_t length = f.info.end - f.info.begin;
    if (f.info.begin != address || length == 0 || length > 15 || f.text.size() < 11) std::abort();
    if (f.info.isValid && (f.info.isCall || f.info.isJump) && f.info.target == f.info.end) std::abort();
    for (uint32_t r : state.reg) {
      // A recorded register value is an immediate inside the buffer.
      if (r != 0 && (r < kBase || r + 4 > end)) std::abort();
    }
    address = f.info.end;
  }
  return 0;
}
