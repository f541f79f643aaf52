#include "crash/dump/minidump_patch.h"

#include <algorithm>

#include "crash/base/little_endian.h"
#include "crash/dump/minidump_format.h"

namespace kestrix {

using namespace minidump;

namespace {

void Put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (8 * i));
}
uint64_t Get64(const uint8_t* p) { return Dword(p) | (static_cast<uint64_t>(Dword(p + 4)) << 32); }

struct TDirEntry {
  uint32_t index, type, size, rva;
};

bool Fail(std::string* error, const char* what) {
  *error = what;
  return false;
}

}  // namespace

bool PlanExceptionThreadFix(const TDumpFileRead& read, uint64_t fileSize, const TExceptionThreadFix& fix,
                            std::vector<TDumpFileEdit>* edits, std::string* error) {
  edits->clear();
  auto readBytes = [&](uint64_t offset, size_t size, std::vector<uint8_t>& out) {
    out.assign(size, 0);
    return offset <= fileSize && size <= fileSize - offset && (size == 0 || read(offset, out.data(), size));
  };
  std::vector<uint8_t> header, directory;
  if (!readBytes(0, kHeaderSize, header) || Dword(header.data()) != kSignature)
    return Fail(error, "not a minidump");
  const uint32_t count = Dword(header.data() + 8), dirRva = Dword(header.data() + 12);
  if (count > 4096 || !readBytes(dirRva, count * kDirectoryEntrySize, directory))
    return Fail(error, "the stream directory cannot be read");
  std::vector<TDirEntry> dir;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = directory.data() + i * kDirectoryEntrySize;
    dir.push_back({i, Dword(e), Dword(e + 4), Dword(e + 8)});
  }
  auto find = [&](uint32_t type) -> TDirEntry* {
    for (TDirEntry& e : dir)
      if (e.type == type) return &e;
    return nullptr;
  };
  TDirEntry* threadList = find(kThreadListStream);
  TDirEntry* exception = find(kExceptionStream);
  TDirEntry* memoryList = find(kMemoryListStream);
  TDirEntry* memory64 = find(kMemory64ListStream);
  if (!threadList || !exception) return Fail(error, "the dump has no thread list or no exception");
  std::vector<uint8_t> threads, exc, memory, memory64Head;
  if (!readBytes(threadList->rva, threadList->size, threads) || threads.size() < 4 ||
      !readBytes(exception->rva, exception->size, exc) || exc.size() < kExceptionStreamSize)
    return Fail(error, "the thread list or the exception cannot be read");
  if (memoryList && (!readBytes(memoryList->rva, memoryList->size, memory) || memory.size() < 4))
    return Fail(error, "the memory list cannot be read");
  const uint32_t threadCount = std::min<uint32_t>(Dword(threads.data()), (threads.size() - 4) / kThreadSize);
  uint32_t memoryCount = memoryList ? std::min<uint32_t>(Dword(memory.data()), (memory.size() - 4) / kMemoryDescriptorSize) : 0;
  uint64_t end = fileSize;  // where appended bytes go
  auto directoryEdit = [&](const TDirEntry& e) {
    std::vector<uint8_t> d(kDirectoryEntrySize);
    Put32(d, 0, e.type);
    Put32(d, 4, e.size);
    Put32(d, 8, e.rva);
    edits->push_back({dirRva + e.index * kDirectoryEntrySize, d});
  };

  // The thread list without the writer; the exception's thread with the
  // exception's context.
  std::vector<uint8_t> kept(4, 0);
  std::vector<std::pair<uint64_t, uint32_t>> dropped;  // the writer's stack (start, rva)
  size_t exceptionEntry = SIZE_MAX;
  for (uint32_t i = 0; i < threadCount; ++i) {
    const uint8_t* t = threads.data() + 4 + i * kThreadSize;
    const uint32_t id = Dword(t + kThreadId);
    if (fix.writerThreadId && id == fix.writerThreadId) {
      dropped.push_back({Get64(t + kThreadStackStart), Dword(t + kThreadStackRva)});
      continue;
    }
    const size_t at = kept.size();
    kept.insert(kept.end(), t, t + kThreadSize);
    if (id == fix.exceptionThreadId) {
      exceptionEntry = at;
      Put32(kept, at + kThreadContextSize, Dword(exc.data() + kExceptionContextSize));
      Put32(kept, at + kThreadContextRva, Dword(exc.data() + kExceptionContextRva));
    }
  }
  Put32(kept, 0, static_cast<uint32_t>((kept.size() - 4) / kThreadSize));

  // The memory list without the writer's stack.
  std::vector<uint8_t> descriptors;
  for (uint32_t i = 0; i < memoryCount; ++i) {
    const uint8_t* d = memory.data() + 4 + i * kMemoryDescriptorSize;
    const bool writers = std::any_of(dropped.begin(), dropped.end(), [&](const auto& s) {
      return s.first == Get64(d) && s.second == Dword(d + 12);
    });
    if (!writers) descriptors.insert(descriptors.end(), d, d + kMemoryDescriptorSize);
  }
  bool memoryChanged = descriptors.size() != memoryCount * kMemoryDescriptorSize;

  // The stack copy: written over the memory that holds it; where the
  // thread's own stack range does not reach it, the copy becomes its stack.
  const uint64_t copyStart = fix.stackAddress, copyEnd = copyStart + fix.stack.size();
  if (!fix.stack.empty() && exceptionEntry != SIZE_MAX) {
    auto overwrite = [&](uint64_t start, uint64_t size, uint64_t rva) {
      const uint64_t from = std::max(start, copyStart), to = std::min(start + size, copyEnd);
      if (from >= to || rva + (to - start) > fileSize) return;
      edits->push_back({rva + (from - start), std::vector<uint8_t>(fix.stack.begin() + (from - copyStart),
                                                                    fix.stack.begin() + (to - copyStart))});
    };
    for (size_t o = 0; o < descriptors.size(); o += kMemoryDescriptorSize)
      overwrite(Get64(&descriptors[o]), Dword(&descriptors[o + 8]), Dword(&descriptors[o + 12]));
    if (memory64 && readBytes(memory64->rva, std::min<uint64_t>(memory64->size, 16), memory64Head) &&
        memory64Head.size() == 16) {
      const uint64_t n = std::min<uint64_t>(Get64(memory64Head.data()), (memory64->size - 16) / 16);
      std::vector<uint8_t> list;
      if (readBytes(memory64->rva + 16, n * 16, list)) {
        uint64_t rva = Get64(memory64Head.data() + 8);
        for (uint64_t i = 0; i < n; ++i) {
          overwrite(Get64(&list[i * 16]), Get64(&list[i * 16 + 8]), rva);
          rva += Get64(&list[i * 16 + 8]);
        }
      }
    }
    const uint64_t stackStart = Get64(&kept[exceptionEntry + kThreadStackStart]);
    const uint64_t stackEnd = stackStart + Dword(&kept[exceptionEntry + kThreadStackSize]);
    if (copyStart < stackStart || copyStart >= stackEnd) {
      const uint32_t rva = static_cast<uint32_t>(end);
      edits->push_back({end, fix.stack});
      end += fix.stack.size();
      Put32(kept, exceptionEntry + kThreadStackStart, fix.stackAddress);
      Put32(kept, exceptionEntry + kThreadStackStart + 4, 0);
      Put32(kept, exceptionEntry + kThreadStackSize, static_cast<uint32_t>(fix.stack.size()));
      Put32(kept, exceptionEntry + kThreadStackRva, rva);
      if (memoryList) {
        descriptors.insert(descriptors.end(), kept.begin() + exceptionEntry + kThreadStackStart,
                           kept.begin() + exceptionEntry + kThreadStackStart + kMemoryDescriptorSize);
        memoryChanged = true;
      }
    }
  }

  if (fix.readProcess && memoryList) {
    // Values on the stacks that point at memory the dump lacks.
    std::vector<std::pair<uint64_t, uint64_t>> covered;
    for (size_t o = 0; o < descriptors.size(); o += kMemoryDescriptorSize)
      covered.push_back({Get64(&descriptors[o]), Get64(&descriptors[o]) + Dword(&descriptors[o + 8])});
    std::sort(covered.begin(), covered.end());
    auto isCovered = [&](uint64_t a) {
      auto it = std::upper_bound(covered.begin(), covered.end(), std::make_pair(a, UINT64_MAX));
      return it != covered.begin() && a < std::prev(it)->second;
    };
    std::vector<std::pair<uint32_t, uint32_t>> blocks;  // [begin, end)
    for (size_t at = 4; at + kThreadSize <= kept.size(); at += kThreadSize) {
      std::vector<uint8_t> stack;
      if (at == exceptionEntry && !fix.stack.empty()) stack = fix.stack;
      else if (!readBytes(Dword(&kept[at + kThreadStackRva]), std::min<uint32_t>(Dword(&kept[at + kThreadStackSize]), 1u << 20), stack))
        continue;
      for (size_t i = 0; i + 4 <= stack.size(); i += 4) {
        const uint32_t v = Dword(&stack[i]);
        if (v < 0x10000 || isCovered(v)) continue;
        const uint32_t page = v & ~0xfffu;
        const uint32_t begin = std::max(v - std::min(v, kReferencedBefore), page);
        const uint32_t end = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{v} + kReferencedAfter, uint64_t{page} + 0x1000));
        blocks.push_back({begin, end});
      }
    }
    std::sort(blocks.begin(), blocks.end());
    std::vector<std::pair<uint32_t, uint32_t>> merged;
    for (const auto& b : blocks)
      if (!merged.empty() && b.first <= merged.back().second) merged.back().second = std::max(merged.back().second, b.second);
      else merged.push_back(b);
    uint64_t added = 0;
    for (const auto& [begin, blockEnd] : merged) {
      std::vector<uint8_t> bytes(blockEnd - begin);
      if (added + bytes.size() > kMaxReferencedBytes) break;
      if (!fix.readProcess(begin, bytes.data(), bytes.size())) continue;
      std::vector<uint8_t> d(kMemoryDescriptorSize, 0);
      Put32(d, 0, begin);
      Put32(d, 8, static_cast<uint32_t>(bytes.size()));
      Put32(d, 12, static_cast<uint32_t>(end));
      descriptors.insert(descriptors.end(), d.begin(), d.end());
      end += bytes.size();
      added += bytes.size();
      edits->push_back({end - bytes.size(), std::move(bytes)});
      memoryChanged = true;
    }
  }

  // The thread list fits where it was (never longer).
  edits->push_back({threadList->rva, kept});
  threadList->size = static_cast<uint32_t>(kept.size());
  directoryEdit(*threadList);
  if (memoryChanged) {
    std::vector<uint8_t> list(4, 0);
    Put32(list, 0, static_cast<uint32_t>(descriptors.size() / kMemoryDescriptorSize));
    list.insert(list.end(), descriptors.begin(), descriptors.end());
    if (list.size() <= memoryList->size) {
      edits->push_back({memoryList->rva, list});
    } else {
      end = (end + 3) & ~uint64_t{3};
      memoryList->rva = static_cast<uint32_t>(end);
      edits->push_back({end, list});
      end += list.size();
    }
    memoryList->size = static_cast<uint32_t>(list.size());
    directoryEdit(*memoryList);
  }
  return true;
}

}  // namespace kestrix
