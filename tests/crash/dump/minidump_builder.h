// Minidump files made by hand for the reader's tests: streams laid out as
// the format describes them, in the order they are added.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kestrix::testing {

class TMinidumpBuilder {
 public:
  struct TThread {
    uint32_t id, eip, esp, ebp;
    uint32_t stackStart;
    std::vector<uint8_t> stack;
  };
  struct TModule {
    uint32_t base, size;
    std::u16string name;
    uint32_t versionMS = 0, versionLS = 0;
  };

  std::vector<TThread> threads;
  std::vector<TModule> modules;
  bool withException = true;
  uint32_t exceptionThread = 0, exceptionCode = 0xc0000005, exceptionAddress = 0;
  uint32_t exceptionEip = 0, exceptionEsp = 0;
  std::string comment;
  uint16_t architecture = 0;
  // Extra memory (the memory list) besides the stacks.
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> memory;

  std::vector<uint8_t> Build() const {
    std::vector<uint8_t> f(32, 0);  // header, directory follows the streams
    struct TEntry {
      uint32_t type, size, rva;
    };
    std::vector<TEntry> dir;
    auto stream = [&](uint32_t type, const std::vector<uint8_t>& bytes) {
      Align(f);
      dir.push_back({type, static_cast<uint32_t>(bytes.size()), static_cast<uint32_t>(f.size())});
      f.insert(f.end(), bytes.begin(), bytes.end());
    };
    auto blob = [&](const std::vector<uint8_t>& bytes) {
      Align(f);
      const uint32_t rva = static_cast<uint32_t>(f.size());
      f.insert(f.end(), bytes.begin(), bytes.end());
      return rva;
    };
    // System info: the architecture first.
    std::vector<uint8_t> sys(56, 0);
    Put16(sys, 0, architecture);
    stream(7, sys);
    // Thread list with contexts and stacks.
    std::vector<uint8_t> list(4 + 48 * threads.size(), 0);
    Put32(list, 0, static_cast<uint32_t>(threads.size()));
    std::vector<std::pair<uint32_t, uint32_t>> stackRvas;  // (rva, size)
    for (size_t i = 0; i < threads.size(); ++i) {
      const TThread& t = threads[i];
      const uint32_t stackRva = blob(t.stack);
      const uint32_t contextRva = blob(Context(t.eip, t.esp, t.ebp));
      const size_t o = 4 + 48 * i;
      Put32(list, o, t.id);
      Put32(list, o + 24, t.stackStart);
      Put32(list, o + 32, static_cast<uint32_t>(t.stack.size()));
      Put32(list, o + 36, stackRva);
      Put32(list, o + 40, 716);
      Put32(list, o + 44, contextRva);
      stackRvas.push_back({stackRva, static_cast<uint32_t>(t.stack.size())});
    }
    stream(3, list);
    // Module list with names.
    std::vector<uint8_t> mods(4 + 108 * modules.size(), 0);
    Put32(mods, 0, static_cast<uint32_t>(modules.size()));
    for (size_t i = 0; i < modules.size(); ++i) {
      const TModule& m = modules[i];
      std::vector<uint8_t> name(4 + 2 * m.name.size() + 2, 0);
      Put32(name, 0, static_cast<uint32_t>(2 * m.name.size()));
      for (size_t c = 0; c < m.name.size(); ++c) Put16(name, 4 + 2 * c, m.name[c]);
      const uint32_t nameRva = blob(name);
      const size_t o = 4 + 108 * i;
      Put32(mods, o, m.base);
      Put32(mods, o + 8, m.size);
      Put32(mods, o + 20, nameRva);
      if (m.versionMS || m.versionLS) {
        Put32(mods, o + 24, 0xfeef04bd);
        Put32(mods, o + 32, m.versionMS);
        Put32(mods, o + 36, m.versionLS);
      }
    }
    stream(4, mods);
    // Memory list: the stacks again, then the extra memory.
    std::vector<uint8_t> mem(4 + 16 * (threads.size() + memory.size()), 0);
    Put32(mem, 0, static_cast<uint32_t>(threads.size() + memory.size()));
    for (size_t i = 0; i < threads.size(); ++i) {
      Put32(mem, 4 + 16 * i, threads[i].stackStart);
      Put32(mem, 4 + 16 * i + 8, stackRvas[i].second);
      Put32(mem, 4 + 16 * i + 12, stackRvas[i].first);
    }
    for (size_t i = 0; i < memory.size(); ++i) {
      const size_t o = 4 + 16 * (threads.size() + i);
      Put32(mem, o, memory[i].first);
      Put32(mem, o + 8, static_cast<uint32_t>(memory[i].second.size()));
      Put32(mem, o + 12, blob(memory[i].second));
    }
    stream(5, mem);
    if (withException) {
      std::vector<uint8_t> ex(168, 0);
      Put32(ex, 0, exceptionThread);
      Put32(ex, 8, exceptionCode);
      Put32(ex, 24, exceptionAddress);
      Put32(ex, 32, 2);
      Put32(ex, 40, 0);
      Put32(ex, 48, 0x10);
      Put32(ex, 160, 716);
      Put32(ex, 164, blob(Context(exceptionEip, exceptionEsp, 0)));
      stream(6, ex);
    }
    if (!comment.empty()) {
      std::vector<uint8_t> c(comment.begin(), comment.end());
      c.push_back(0);
      stream(10, c);
    }
    Align(f);
    const uint32_t directory = static_cast<uint32_t>(f.size());
    for (const TEntry& e : dir) {
      std::vector<uint8_t> d(12, 0);
      Put32(d, 0, e.type);
      Put32(d, 4, e.size);
      Put32(d, 8, e.rva);
      f.insert(f.end(), d.begin(), d.end());
    }
    Put32(f, 0, 0x504d444d);
    Put32(f, 4, 0xa793);
    Put32(f, 8, static_cast<uint32_t>(dir.size()));
    Put32(f, 12, directory);
    return f;
  }

  static void Put16(std::vector<uint8_t>& v, size_t o, uint16_t x) {
    v[o] = static_cast<uint8_t>(x);
    v[o + 1] = static_cast<uint8_t>(x >> 8);
  }
  static void Put32(std::vector<uint8_t>& v, size_t o, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[o + i] = static_cast<uint8_t>(x >> (8 * i));
  }

 private:
  static void Align(std::vector<uint8_t>& f) { f.resize((f.size() + 3) & ~size_t{3}); }
  // An x86 context with eip, esp and ebp, eax = 0xeaeaeaea, cs = 0x23.
  static std::vector<uint8_t> Context(uint32_t eip, uint32_t esp, uint32_t ebp) {
    std::vector<uint8_t> c(716, 0);
    Put32(c, 0, 0x1003f);
    Put32(c, 176, 0xeaeaeaea);
    Put32(c, 180, ebp);
    Put32(c, 184, eip);
    Put32(c, 188, 0x23);
    Put32(c, 196, esp);
    return c;
  }
};

}  // namespace kestrix::testing
