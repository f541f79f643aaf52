// Decoder throughput over real 32-bit code (the executable sections of PE
// files), against Zydis (minimal mode) and Capstone (detail off) in the
// same run: decode only, and decode with the instruction's text. Each
// figure is the median of several rounds.
//   decoder_bench [--rounds N] FILE...
#include <Zydis/Zydis.h>
#include <capstone/capstone.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "debuginfo/decoder/decoder.h"
#include "debuginfo/decoder/formatter.h"
#include "tools/pe_image.h"

using namespace kestrix;
using namespace kestrix::decoder;

namespace {

struct Code {
  std::vector<uint8_t> bytes;
  uint32_t address;
};

volatile uint64_t g_sink;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Engine {
  const char* name;
  std::function<uint64_t()> body;
  std::vector<double> times;
  uint64_t instructions = 0;
};

// Rounds interleave the engines, so that a noisy machine slows all alike;
// each engine's figure is its median.
void Measure(int rounds, std::vector<Engine>& engines) {
  for (int r = 0; r < rounds; ++r) {
    for (Engine& e : engines) {
      auto t0 = std::chrono::steady_clock::now();
      e.instructions = e.body();
      auto t1 = std::chrono::steady_clock::now();
      e.times.push_back(std::chrono::duration<double>(t1 - t0).count());
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 5;
  std::vector<Code> code;
  size_t total = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
      rounds = std::atoi(argv[++i]);
      continue;
    }
    std::vector<uint8_t> file;
    tools::TPeImage pe;
    std::string error;
    if (!tools::ReadWholeFile(argv[i], &file) || !tools::LoadPeImage(file, &pe, &error)) continue;
    for (const tools::TPeSection& s : pe.sections) {
      if (!s.executable || s.size == 0) continue;
      code.push_back({std::vector<uint8_t>(pe.image.begin() + s.rva, pe.image.begin() + s.rva + s.size),
                      pe.imageBase + s.rva});
      total += s.size;
    }
  }
  if (code.empty()) {
    std::fprintf(stderr, "usage: decoder_bench [--rounds N] PEFILE...\n");
    return 1;
  }
  std::printf("code: %zu sections, %.1f MB, median of %d rounds\n", code.size(), total / 1e6, rounds);

  auto mineDecode = [&]() {
    uint64_t n = 0, sum = 0;
    for (const Code& c : code) {
      BufferReader reader(c.bytes.data(), c.bytes.size(), c.address);
      const uint32_t end = c.address + static_cast<uint32_t>(c.bytes.size());
      for (uint32_t a = c.address; a < end; ++n) {
        TInstructionInfo info = DecodeInstruction(a, reader);
        sum += info.target;
        a = info.end;
      }
    }
    g_sink = sum;
    return n;
  };
  ZydisDecoder zydis;
  ZydisDecoderInit(&zydis, ZYDIS_MACHINE_MODE_LEGACY_32, ZYDIS_STACK_WIDTH_32);
  ZydisDecoderEnableMode(&zydis, ZYDIS_DECODER_MODE_MINIMAL, ZYAN_TRUE);
  auto zydisDecode = [&]() {
    uint64_t n = 0, sum = 0;
    ZydisDecodedInstruction insn;
    for (const Code& c : code) {
      size_t at = 0;
      while (at < c.bytes.size()) {
        ++n;
        if (ZYAN_SUCCESS(ZydisDecoderDecodeInstruction(&zydis, nullptr, c.bytes.data() + at,
                                                        c.bytes.size() - at, &insn))) {
          at += insn.length;
          sum += insn.opcode;
        } else {
          ++at;
        }
      }
    }
    g_sink = sum;
    return n;
  };
  csh cs;
  if (cs_open(CS_ARCH_X86, CS_MODE_32, &cs) != CS_ERR_OK) return 2;
  cs_option(cs, CS_OPT_DETAIL, CS_OPT_OFF);
  cs_insn* insn = cs_malloc(cs);
  auto capstone = [&](bool print) {
    uint64_t n = 0, sum = 0;
    std::string out;
    for (const Code& c : code) {
      const uint8_t* p = c.bytes.data();
      size_t left = c.bytes.size();
      uint64_t address = c.address;
      while (left > 0) {
        ++n;
        if (cs_disasm_iter(cs, &p, &left, &address, insn)) {
          sum += insn->size;
          if (print) {
            char line[256];
            int len = std::snprintf(line, sizeof line, "%08x   %s %s", static_cast<unsigned>(insn->address),
                                    insn->mnemonic, insn->op_str);
            out.assign(line, len);
            sum += out.size();
          }
        } else {
          ++p;
          --left;
          ++address;
        }
      }
    }
    g_sink = sum;
    return n;
  };
  auto mineFormat = [&]() {
    uint64_t n = 0, sum = 0;
    for (const Code& c : code) {
      BufferReader reader(c.bytes.data(), c.bytes.size(), c.address);
      TFormatContext context{&reader, nullptr};
      const uint32_t end = c.address + static_cast<uint32_t>(c.bytes.size());
      for (uint32_t a = c.address; a < end; ++n) {
        TFormattedInstruction f = FormatInstruction(a, context);
        sum += f.text.size();
        a = f.info.end;
      }
    }
    g_sink = sum;
    return n;
  };

  std::vector<Engine> engines = {
      {"kestrix DecodeInstruction", mineDecode},
      {"Zydis minimal", zydisDecode},
      {"Capstone, detail off", [&] { return capstone(false); }},
      {"kestrix decode + FormatInstruction", mineFormat},
      {"Capstone decode + print", [&] { return capstone(true); }},
  };
  Measure(rounds, engines);
  double t[5];
  for (int i = 0; i < 5; ++i) {
    const Engine& e = engines[i];
    t[i] = Median(e.times);
    std::printf("%-36s %8.1f MB/s %8.2f M instructions/s  (%llu instructions, %.3f s)\n", e.name, total / t[i] / 1e6,
                e.instructions / t[i] / 1e6, static_cast<unsigned long long>(e.instructions), t[i]);
  }
  std::printf("decode: %.2fx Zydis, %.2fx Capstone; decode+text: %.2fx Capstone\n", t[1] / t[0], t[2] / t[0],
              t[4] / t[3]);
  cs_free(insn, 1);
  cs_close(&cs);
  return 0;
}
