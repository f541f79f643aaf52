// kxdump's reading of a minidump on any input: the reader refuses what it
// cannot read with a message; what it accepts is walked as kxdump walks it
// (threads traced over the dump's memory, modules looked up), never reading
// outside the data.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "crash/dump/minidump_reader.h"
#include "tools/dump_process.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kestrix::TMinidump dump;
  std::string error;
  if (!dump.Load(std::vector<uint8_t>(data, data + size), &error)) {
    if (error.empty()) __builtin_trap();  // a refusal always says why
    return 0;
  }
  kestrix::tools::TDumpProcess process(dump);
  kestrix::stack::TStackTracer tracer;
  // A few threads over a bounded stack: enough for every path of a trace.
  size_t traced = 0;
  for (const kestrix::TSnapshotThread& t : dump.Threads()) {
    if (++traced > 4) break;
    kestrix::stack::TTraceInput in;
    in.currentAddress = t.registers.eip;
    in.bottom = t.registers.esp;
    in.framePointer = t.registers.ebp;
    in.top = t.stackBase - t.registers.esp > 4096 ? t.registers.esp + 4096 : t.stackBase;
    tracer.TraceStack(process, in);
    uint8_t word[4];
    dump.ReadMemory(t.registers.esp, word, sizeof word);
  }
  for (const kestrix::TSnapshotModule& m : dump.Modules()) kestrix::FindSnapshotModule(dump, m.base + m.size / 2);
  return 0;
}
