#include "crash/dump/minidump_format.h"

namespace kestrix::minidump {

std::string StreamTypeName(uint32_t type) {
  static const struct {
    uint32_t type;
    const char* name;
  } kNames[] = {
      {kThreadListStream, "ThreadListStream"},     {kModuleListStream, "ModuleListStream"},
      {kMemoryListStream, "MemoryListStream"},     {kExceptionStream, "ExceptionStream"},
      {kSystemInfoStream, "SystemInfoStream"},     {kThreadExListStream, "ThreadExListStream"},
      {kMemory64ListStream, "Memory64ListStream"}, {kCommentStreamA, "CommentStreamA"},
      {kCommentStreamW, "CommentStreamW"},         {kHandleDataStream, "HandleDataStream"},
      {kUnloadedModuleListStream, "UnloadedModuleListStream"},
      {kMiscInfoStream, "MiscInfoStream"},         {kMemoryInfoListStream, "MemoryInfoListStream"},
      {kThreadInfoListStream, "ThreadInfoListStream"},
  };
  for (const auto& n : kNames)
    if (n.type == type) return n.name;
  return "stream " + std::to_string(type);
}

}  // namespace kestrix::minidump
