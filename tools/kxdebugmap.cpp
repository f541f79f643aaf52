// Build step: the compact debug-information map of a linked program.
//
//   kxdebugmap write EXE MAPFILE [--stripped KXFILE]
//       writes the compact map of EXE (with --stripped: MAPFILE is the
//       stripped map, KXFILE the full one beside the program)
//   kxdebugmap link --dir DIR --rc WINDRES [--settings RECORD] [--kx-file]
//                   [--strip OBJCOPY] -- LINK COMMAND...
//       links twice: the program, then the program with its map as the
//       resource KX "EXCEPT" and the settings record RECORD as RCDATA
//       "TKESTRIX"; fails when the second link moved code. With --kx-file
//       the embedded map carries no names: the full map goes to the ".kx"
//       file beside the program and its fingerprint into the embedded
//       settings record (MinDebugInfo). With --strip the program's debug
//       information (with --kx-file: every symbol) is removed afterwards.
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "crash/settings/settings_record.h"
#include "debuginfo/readers/module_map.h"
#include "tools/dwarf_map.h"

extern char** environ;

namespace {

using namespace kestrix;

bool ReadFile(const std::string& path, std::string& content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  return static_cast<bool>(out);
}

int Run(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    std::cerr << "kxdebugmap: cannot run " << args[0] << "\n";
    return 127;
  }
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) return 127;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

uint32_t Dword(const std::string& s, size_t at) {
  uint32_t v = 0;
  if (at + 4 <= s.size()) std::memcpy(&v, s.data() + at, 4);
  return v;
}

// The code sections of a PE file: address, size and bytes of each.
std::string CodeOf(const std::string& pe) {
  std::string out;
  const uint32_t at = Dword(pe, 0x3c);
  if (at + 24 > pe.size()) return out;
  const uint16_t count = static_cast<uint16_t>(Dword(pe, at + 6));
  const uint32_t table = at + 24 + static_cast<uint16_t>(Dword(pe, at + 20));
  out.append(pe, at + 24 + 16, 4);  // entry point
  for (uint16_t i = 0; i < count && table + 40u * (i + 1) <= pe.size(); ++i) {
    const size_t s = table + 40u * i;
    if (!(Dword(pe, s + 36) & 0x20)) continue;
    out.append(pe, s, 16);  // name, virtual size, virtual address
    const uint32_t raw = Dword(pe, s + 16), ptr = Dword(pe, s + 20);
    if (uint64_t(ptr) + raw <= pe.size()) out.append(pe, ptr, raw);
  }
  return out;
}

// The maps of a linked program: the full one and, for a ".kx" file beside
// the program, the stripped one to embed.
struct TMaps {
  std::string full, stripped;
};

bool MakeMaps(const std::string& exe, TMaps& maps, bool quiet) {
  const auto start = std::chrono::steady_clock::now();
  TMapContents contents;
  uint32_t codeCrc = 0;
  TDwarfMapStats stats;
  std::string error;
  if (!ExtractMapContents(exe, contents, codeCrc, stats, error)) {
    std::cerr << "kxdebugmap: " << error << "\n";
    return false;
  }
  maps.full = WriteCompactMap(contents, codeCrc, false);
  maps.stripped = WriteCompactMap(contents, codeCrc, true);
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (!quiet)
    std::printf("kxdebugmap: %s: %zu units, %zu functions (%zu from DWARF), %zu line entries; map %zu bytes, "
                "DWARF %llu bytes; %.0f ms\n",
                exe.c_str(), stats.units, contents.publics.size(), stats.dwarfFunctions, stats.lines,
                maps.full.size(), static_cast<unsigned long long>(stats.dwarfBytes), ms);
  return true;
}

bool WriteMaps(const std::string& exe, const std::string& mapFile, const std::string& kxFile) {
  TMaps maps;
  if (!MakeMaps(exe, maps, false)) return false;
  const bool ok = kxFile.empty() ? WriteFile(mapFile, maps.full)
                                 : WriteFile(kxFile, maps.full) && WriteFile(mapFile, maps.stripped);
  if (!ok) std::cerr << "kxdebugmap: cannot write " << mapFile << "\n";
  return ok;
}

// The settings record to embed; with a ".kx" file beside the program it
// names the full map's fingerprint.
bool LinkRecord(const std::string& recordFile, const TMaps* kx, std::string& record) {
  if (!ReadFile(recordFile, record)) {
    std::cerr << "kxdebugmap: cannot read " << recordFile << "\n";
    return false;
  }
  if (!kx) return true;
  TRecordProperty fingerprint;
  fingerprint.name = "MinDebugInfo";
  fingerprint.kind = pkText;
  fingerprint.valueType = vaLString;
  fingerprint.textValue =
      CompactMapFingerprint(reinterpret_cast<const uint8_t*>(kx->full.data()), kx->full.size());
  try {
    const std::vector<unsigned char> out = SetRecordProperty(record.data(), record.size(), fingerprint);
    record.assign(out.begin(), out.end());
  } catch (const std::exception& e) {
    std::cerr << "kxdebugmap: " << recordFile << ": " << e.what() << "\n";
    return false;
  }
  return true;
}

std::string Quoted(const std::string& path) {
  std::string out = "\"";
  for (char c : path) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

int Link(int argc, char** argv) {
  std::string dir, rc, objcopy, settings;
  bool kxFile = false;
  int i = 2;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    const std::string a = argv[i];
    if (a == "--kx-file") {
      kxFile = true;
      continue;
    }
    if (i + 1 >= argc) break;
    if (a == "--dir") dir = argv[++i];
    else if (a == "--rc") rc = argv[++i];
    else if (a == "--strip") objcopy = argv[++i];
    else if (a == "--settings") settings = argv[++i];
  }
  if (i >= argc || dir.empty() || rc.empty() || (kxFile && settings.empty())) {
    std::cerr << "usage: kxdebugmap link --dir DIR --rc WINDRES [--settings RECORD] [--kx-file] [--strip OBJCOPY] "
                 "-- LINK COMMAND...\n       (--kx-file needs --settings)\n";
    return 2;
  }
  std::vector<std::string> command(argv + i + 1, argv + argc);
  std::string exe;
  for (size_t k = 0; k + 1 < command.size(); ++k)
    if (command[k] == "-o") exe = command[k + 1];
  if (command.empty() || exe.empty()) {
    std::cerr << "kxdebugmap: the link command names no output (-o)\n";
    return 2;
  }
  const std::string kx = ChangeFileExt(exe, ".kx");
  // The ".kx" file of an earlier build goes; this build's is written once
  // the program is.
  if (kxFile) std::remove(kx.c_str());
  if (int rc1 = Run(command)) return rc1;
  const std::string map = dir + "/except.bin", script = dir + "/except.rc", object = dir + "/except.res.o",
                    recordCopy = dir + "/tkestrix-linked.bin";
  TMaps maps;
  if (!MakeMaps(exe, maps, true)) return 1;
  std::string rcText = "EXCEPT KX " + Quoted(map) + "\n", record;
  if (!settings.empty()) {
    if (!LinkRecord(settings, kxFile ? &maps : nullptr, record) || !WriteFile(recordCopy, record)) return 1;
    rcText += "TKESTRIX RCDATA " + Quoted(recordCopy) + "\n";
  }
  if (!WriteFile(map, kxFile ? maps.stripped : maps.full) || !WriteFile(script, rcText)) {
    std::cerr << "kxdebugmap: cannot write into " << dir << "\n";
    return 1;
  }
  std::string first;
  ReadFile(exe, first);
  const std::string code = CodeOf(first);
  if (int r = Run({rc, "-O", "coff", "-i", script, "-o", object})) return r;
  command.push_back(object);
  if (int r = Run(command)) return r;
  std::string second;
  ReadFile(exe, second);
  if (CodeOf(second) != code) {
    std::cerr << "kxdebugmap: " << exe << ": the link with the map moved code; the map would not describe it\n";
    std::remove(exe.c_str());
    return 1;
  }
  if (kxFile && !WriteFile(kx, maps.full)) {
    std::cerr << "kxdebugmap: cannot write " << kx << "\n";
    std::remove(exe.c_str());
    return 1;
  }
  if (!objcopy.empty()) {
    if (int r = Run({objcopy, kxFile ? "--strip-all" : "--strip-debug", exe})) return r;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "write") == 0) {
    std::string kx;
    if (argc == 6 && std::strcmp(argv[4], "--stripped") == 0) kx = argv[5];
    return WriteMaps(argv[2], argv[3], kx) ? 0 : 1;
  }
  if (argc >= 2 && std::strcmp(argv[1], "link") == 0) return Link(argc, argv);
  std::cerr << "usage: kxdebugmap write EXE MAPFILE [--stripped KXFILE]\n"
               "       kxdebugmap link --dir DIR --rc WINDRES [--settings RECORD] [--kx-file] [--strip OBJCOPY] -- "
               "LINK COMMAND...\n";
  return 2;
}
