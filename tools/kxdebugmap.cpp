// Build step: the compact debug-information map of a linked program.
//
//   kxdebugmap write EXE MAPFILE [--stripped KXFILE]
//       writes the compact map of EXE (with --stripped: MAPFILE is the
//       stripped map, KXFILE the full one beside the program)
//   kxdebugmap link --dir DIR --rc WINDRES [--strip OBJCOPY] -- LINK COMMAND...
//       links twice: the program, then the program with its map as the
//       resource KX "EXCEPT"; fails when the second link moved code.
//       With --strip the program's DWARF is removed afterwards.
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

bool WriteMaps(const std::string& exe, const std::string& mapFile, const std::string& kxFile, bool quiet) {
  const auto start = std::chrono::steady_clock::now();
  TMapContents contents;
  uint32_t codeCrc = 0;
  TDwarfMapStats stats;
  std::string error;
  if (!ExtractMapContents(exe, contents, codeCrc, stats, error)) {
    std::cerr << "kxdebugmap: " << error << "\n";
    return false;
  }
  const std::string full = WriteCompactMap(contents, codeCrc, false);
  bool ok;
  if (kxFile.empty()) {
    ok = WriteFile(mapFile, full);
  } else {
    ok = WriteFile(kxFile, full) && WriteFile(mapFile, WriteCompactMap(contents, codeCrc, true));
  }
  if (!ok) {
    std::cerr << "kxdebugmap: cannot write " << mapFile << "\n";
    return false;
  }
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (!quiet)
    std::printf("kxdebugmap: %s: %zu units, %zu functions (%zu from DWARF), %zu line entries; map %zu bytes, "
                "DWARF %llu bytes; %.0f ms\n",
                exe.c_str(), stats.units, contents.publics.size(), stats.dwarfFunctions, stats.lines, full.size(),
                static_cast<unsigned long long>(stats.dwarfBytes), ms);
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
  std::string dir, rc, objcopy;
  int i = 2;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) break;
    if (a == "--dir") dir = argv[++i];
    else if (a == "--rc") rc = argv[++i];
    else if (a == "--strip") objcopy = argv[++i];
  }
  if (i >= argc || dir.empty() || rc.empty()) {
    std::cerr << "usage: kxdebugmap link --dir DIR --rc WINDRES [--strip OBJCOPY] -- LINK COMMAND...\n";
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
  if (int rc1 = Run(command)) return rc1;
  const std::string map = dir + "/except.bin", script = dir + "/except.rc", object = dir + "/except.res.o";
  if (!WriteMaps(exe, map, "", true)) return 1;
  std::string first;
  ReadFile(exe, first);
  const std::string code = CodeOf(first);
  if (!WriteFile(script, "EXCEPT KX " + Quoted(map) + "\n")) return 1;
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
  if (!objcopy.empty()) {
    if (int r = Run({objcopy, "--strip-debug", exe})) return r;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "write") == 0) {
    std::string kx;
    if (argc == 6 && std::strcmp(argv[4], "--stripped") == 0) kx = argv[5];
    return WriteMaps(argv[2], argv[3], kx, false) ? 0 : 1;
  }
  if (argc >= 2 && std::strcmp(argv[1], "link") == 0) return Link(argc, argv);
  std::cerr << "usage: kxdebugmap write EXE MAPFILE [--stripped KXFILE]\n"
               "       kxdebugmap link --dir DIR --rc WINDRES [--strip OBJCOPY] -- LINK COMMAND...\n";
  return 2;
}
