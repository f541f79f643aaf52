// The threads a report lists, in its order, and their section titles, from
// a process snapshot: the crashed thread first (for a freeze the main
// thread), then the main thread, then the others as the system lists them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "crash/report/process_snapshot.h"

namespace kestrix {

struct TThreadListing {
  uint32_t mainThreadId = 0;
  uint32_t exceptionThreadId = 0;  // ignored for a freeze
  bool freeze = false;
  bool listThreads = true;      // the other threads too, not only the first two
  bool listOwnThreads = false;  // the library's own threads too (a process trace)
  std::function<bool(uint32_t id)> isLibraryThread;
};

// The ids of the threads to list, in the report's order: those a snapshot
// must hold. `systemOrder` is the process's threads as the system lists them.
std::vector<uint32_t> ThreadsToList(const std::vector<uint32_t>& systemOrder, const TThreadListing& listing);

// "main thread ($1a4): <suspended>" and the like, from the thread's entry
// (null: none could be had); empty when the report leaves the thread out
// (a library thread registered as "-" that did not crash, unless showOwn).
std::string ThreadSectionTitle(const TSnapshotThread* thread, uint32_t id, bool crashed, bool showOwn);

struct TListedThread {
  uint32_t id = 0;
  std::string title;
  bool crashed = false;
  const TSnapshotThread* facts = nullptr;  // null: the snapshot has none
};
// The threads of the report with their titles; those without a title left out.
std::vector<TListedThread> ListReportThreads(const IProcessSnapshot& snapshot, const std::vector<uint32_t>& order,
                                             const TThreadListing& listing);

// The title of a thread that created a listed thread but is not listed
// itself, made from the snapshot; "?" when unknown.
std::string CreatorTitle(const IProcessSnapshot& snapshot, uint32_t creatorThreadId);

// Inserts ">> created by <creator> at:" before a thread section's last line
// (the creator's call-stack line); a section that is a note (">> ...") or
// has one line only is left as it is.
void MarkCreator(std::string& section, const std::string& creatorTitle);

}  // namespace kestrix
