#include "crash/report/thread_sections.h"

#include <algorithm>
#include <cstdio>

namespace kestrix {

std::vector<uint32_t> ThreadsToList(const std::vector<uint32_t>& systemOrder, const TThreadListing& listing) {
  std::vector<uint32_t> order;
  const uint32_t first = listing.freeze ? listing.mainThreadId : listing.exceptionThreadId;
  order.push_back(first);
  if (listing.mainThreadId && listing.mainThreadId != first) order.push_back(listing.mainThreadId);
  if (!listing.listThreads) return order;
  for (uint32_t id : systemOrder) {
    if (std::find(order.begin(), order.end(), id) != order.end()) continue;
    if (!listing.listOwnThreads && listing.isLibraryThread && listing.isLibraryThread(id)) continue;
    order.push_back(id);
  }
  return order;
}

std::string ThreadSectionTitle(const TSnapshotThread* t, uint32_t id, bool crashed, bool showOwn) {
  char idText[16];
  std::snprintf(idText, sizeof idText, "$%lx", static_cast<unsigned long>(id));
  std::string title;
  if (t && t->registered && !t->name.empty() && (t->name != "-" || showOwn)) {
    title = t->name + " (" + idText + ")";
  } else if (t && t->registered && t->name == "-" && !crashed) {
    return std::string();
  } else {
    title = std::string("thread ") + idText;
    if (t && !t->className.empty()) title += " (" + t->className + ")";
  }
  title += ":";
  if (t && t->suspended) title += " <suspended>";
  if (t && t->priority != 0) title += " <priority:" + std::to_string(t->priority) + ">";
  return title;
}

std::vector<TListedThread> ListReportThreads(const IProcessSnapshot& snapshot, const std::vector<uint32_t>& order,
                                             const TThreadListing& listing) {
  std::vector<TListedThread> listed;
  for (size_t i = 0; i < order.size(); ++i) {
    TListedThread t;
    t.id = order[i];
    t.crashed = i == 0 && !listing.freeze;
    t.facts = FindSnapshotThread(snapshot, t.id);
    t.title = ThreadSectionTitle(t.facts, t.id, t.crashed, listing.listOwnThreads);
    if (!t.title.empty()) listed.push_back(std::move(t));
  }
  return listed;
}

std::string CreatorTitle(const IProcessSnapshot& snapshot, uint32_t creatorThreadId) {
  const std::string title =
      ThreadSectionTitle(FindSnapshotThread(snapshot, creatorThreadId), creatorThreadId, false, true);
  return title.empty() ? std::string("?") : title;
}

void MarkCreator(std::string& section, const std::string& creatorTitle) {
  if (section.empty() || section[0] == '>') return;
  const size_t last = section.rfind("\r\n");
  if (last != std::string::npos) section.insert(last, "\r\n>> created by " + creatorTitle + " at:");
}

}  // namespace kestrix
