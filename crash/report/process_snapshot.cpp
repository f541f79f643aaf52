#include "crash/report/process_snapshot.h"

namespace kestrix {

const TSnapshotThread* FindSnapshotThread(const IProcessSnapshot& snapshot, uint32_t id) {
  for (const TSnapshotThread& t : snapshot.Threads())
    if (t.id == id) return &t;
  return nullptr;
}

const TSnapshotModule* FindSnapshotModule(const IProcessSnapshot& snapshot, uint32_t address) {
  for (const TSnapshotModule& m : snapshot.Modules())
    if (address >= m.base && address - m.base < m.size) return &m;
  return nullptr;
}

}  // namespace kestrix
