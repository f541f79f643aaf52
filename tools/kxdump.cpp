// kxdump: a minidump of a Kestrix program read without Windows: the
// exception, every thread with its registers and call stack (the stack
// tracer and the program's map, as the bug report names them) and the
// modules.
//
//   kxdump [--dir FOLDER]... [--map FILE] FILE.dmp
//
// The modules' files are looked for under their names in each --dir, in
// the dump's folder and where the dump's paths point (Wine's Z: drive is
// the root folder); a module's map is the one embedded in its file or the
// ".kx" file beside it. --map names the executable's map file instead.
#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "crash/dump/minidump_format.h"
#include "crash/dump/minidump_reader.h"
#include "debuginfo/stack/stack_tracer.h"
#include "tools/dump_process.h"
#include "tools/pe_image.h"
#include "tools/program_map.h"

namespace {

using namespace kestrix;
using namespace kestrix::tools;

const char* CodeName(uint32_t code) {
  static const struct {
    uint32_t code;
    const char* name;
  } kNames[] = {
      {0xc0000005, "access violation"},       {0xc00000fd, "stack overflow"},
      {0xc0000094, "integer division by zero"}, {0xc0000095, "integer overflow"},
      {0xc000001d, "illegal instruction"},    {0xc0000096, "privileged instruction"},
      {0x80000003, "breakpoint"},             {0xc0000409, "stack buffer overrun"},
      {0xc000008e, "floating-point division by zero"}, {minidump::kCppExceptionCode, "C++ exception"},
      {minidump::kFreezeCode, "frozen"},
  };
  for (const auto& n : kNames)
    if (n.code == code) return n.name;
  return "exception";
}

bool IsFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string Folder(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// Where a module's file may be: under its name in the folders, then its
// own path on Wine's Z: drive.
std::string FindModuleFile(const std::string& windowsPath, const std::vector<std::string>& folders) {
  const std::string name = BaseName(windowsPath);
  for (const std::string& folder : folders)
    if (IsFile(folder + "/" + name)) return folder + "/" + name;
  if (windowsPath.size() > 3 && (windowsPath[0] == 'Z' || windowsPath[0] == 'z') && windowsPath[1] == ':') {
    std::string unix = windowsPath.substr(2);
    for (char& c : unix)
      if (c == '\\') c = '/';
    if (IsFile(unix)) return unix;
  }
  return std::string();
}

void PrintRegisters(const TSnapshotRegisters& r) {
  std::printf("  eax = %08" PRIx32 "  ebx = %08" PRIx32 "  ecx = %08" PRIx32 "  edx = %08" PRIx32 "\n", r.eax, r.ebx,
              r.ecx, r.edx);
  std::printf("  esi = %08" PRIx32 "  edi = %08" PRIx32 "  ebp = %08" PRIx32 "  esp = %08" PRIx32 "\n", r.esi, r.edi,
              r.ebp, r.esp);
  std::printf("  eip = %08" PRIx32 "  eflags = %08" PRIx32 "\n", r.eip, r.eflags);
}

// The end of the captured memory that runs on from address.
uint32_t CapturedEnd(const TMinidump& dump, uint32_t address) {
  const uint8_t* p = nullptr;
  while (uint32_t n = dump.Readable(address, 0x10000, &p)) {
    if (address + n < address) break;
    address += n;
  }
  return address;
}

void PrintCallStack(stack::TStackTracer& tracer, const TDumpProcess& process, const TMinidump& dump,
                    const TSnapshotThread& thread, const TSnapshotRegisters& r, bool crashed) {
  stack::TTraceInput in;
  in.currentAddress = r.eip;
  in.bottom = r.esp;
  in.framePointer = r.ebp;
  // The stack as captured; a crash reported from another stack has its own.
  in.top = r.esp >= thread.stackLimit && r.esp < thread.stackBase ? thread.stackBase : CapturedEnd(dump, r.esp);
  in.isException = crashed;
  in.isExternal = crashed && dump.Exception() && dump.Exception()->code != minidump::kCppExceptionCode &&
                   dump.Exception()->code != minidump::kFreezeCode;
  const stack::TTraceResult t = tracer.TraceStack(process, in);
  if (t.text.text.empty()) {
    std::printf("  (no call stack: the stack at %08" PRIx32 " was not captured)\n", r.esp);
    return;
  }
  std::string text = t.text.text;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::printf("  %s\n", line.c_str());
    start = end + 1;
  }
}

int Usage() {
  std::fprintf(stderr, "usage: kxdump [--dir FOLDER]... [--map FILE] FILE.dmp\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> folders;
  std::string dumpPath, mapPath;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--dir" && i + 1 < argc) folders.push_back(argv[++i]);
    else if (a == "--map" && i + 1 < argc) mapPath = argv[++i];
    else if (!a.empty() && a[0] != '-' && dumpPath.empty()) dumpPath = a;
    else return Usage();
  }
  if (dumpPath.empty()) return Usage();
  folders.push_back(Folder(dumpPath));

  std::string bytes, error;
  if (!ReadFile(dumpPath, bytes)) {
    std::fprintf(stderr, "kxdump: %s: cannot read\n", dumpPath.c_str());
    return 1;
  }
  TMinidump dump;
  if (!dump.Load(std::vector<uint8_t>(bytes.begin(), bytes.end()), &error)) {
    std::fprintf(stderr, "kxdump: %s: %s\n", dumpPath.c_str(), error.c_str());
    return 1;
  }

  TDumpProcess process(dump);
  const uint32_t mainBase = process.MainModule();
  for (const TSnapshotModule& m : dump.Modules()) {
    const std::string file = FindModuleFile(m.path, folders);
    std::vector<uint8_t> raw;
    TPeImage image;
    if (!file.empty() && ReadWholeFile(file, &raw) && LoadPeImage(raw, &image, &error))
      process.AddImage(m.base, std::move(image));
    const std::string mapFile = m.base == mainBase && !mapPath.empty() ? mapPath : file;
    auto map = std::make_shared<TMapFile>();
    std::string module;
    if (!mapFile.empty() && LoadProgramMap(mapFile, *map, module, error)) process.AddMap(m.base, map);
    else if (m.base == mainBase)
      std::fprintf(stderr, "kxdump: no map for %s%s%s\n", BaseName(m.path).c_str(), mapFile.empty() ? "" : ": ",
                   mapFile.empty() ? "file not found" : error.c_str());
  }

  const TSnapshotException* e = dump.Exception();
  if (e) {
    std::printf("exception %08" PRIx32 " (%s) at %08" PRIx32 " in thread $%" PRIx32 "\n", e->code, CodeName(e->code),
                e->address, e->threadId);
    if (e->code == 0xc0000005 && e->parameters.size() >= 2)
      std::printf("  %s of address %08" PRIx32 "\n",
                  e->parameters[0] == 8 ? "execution" : e->parameters[0] ? "write" : "read", e->parameters[1]);
  } else {
    std::printf("no exception\n");
  }
  if (!dump.Comment().empty()) std::printf("bug report: %zu bytes (comment stream)\n", dump.Comment().size());

  stack::TStackTracer tracer;
  std::printf("\nthreads: %zu\n", dump.Threads().size());
  // The exception's thread first, with the exception's context.
  std::vector<const TSnapshotThread*> order;
  for (const TSnapshotThread& t : dump.Threads())
    if (e && t.id == e->threadId) order.insert(order.begin(), &t);
    else order.push_back(&t);
  for (const TSnapshotThread* t : order) {
    const bool crashed = e && t->id == e->threadId;
    const bool haveRegisters = crashed ? e->haveRegisters : t->haveRegisters;
    const TSnapshotRegisters& r = crashed && e->haveRegisters ? e->registers : t->registers;
    std::printf("\nthread $%" PRIx32 "%s:\n", t->id, crashed ? " (exception)" : "");
    if (!haveRegisters) {
      std::printf("  (no registers)\n");
      continue;
    }
    PrintRegisters(r);
    PrintCallStack(tracer, process, dump, *t, r, crashed);
  }

  std::printf("\nmodules: %zu\n", dump.Modules().size());
  for (const TSnapshotModule& m : dump.Modules()) {
    std::printf("%08" PRIx32 " %08" PRIx32 " %u.%u.%u.%u %s\n", m.base, m.size, m.versionMS >> 16,
                m.versionMS & 0xffff, m.versionLS >> 16, m.versionLS & 0xffff, m.path.c_str());
  }
  return 0;
}
