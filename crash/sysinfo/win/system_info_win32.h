// The system-information items of the report header, read from the
// system. Each gives its empty result ("", 0, false) when a system call it
// needs is missing or fails; none throws of its own.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "crash/sysinfo/system_info_text.h"

namespace kestrix {

void NoteProgramStart();  // the start for "program up time", at start-up

// FormatSize with the decimal separator of the calling thread's locale
// (read once; "," when it cannot be read).
std::string FormatSize(int64_t bytes);

TOS QueryOsInfo();  // computed once per process
std::string OsVersionText();
std::string OsLanguageText();
std::string SystemUpTimeText();
std::string ProgramUpTimeText();
std::string CpuNameText();
int CountProcessors();
std::string PhysicalMemoryText();
std::string FreeResourcesText();
std::string DisplayModeText();
bool HasAdminRights();
std::string RemoteClientName();
uint32_t PrivateCommittedBytes();
std::string AllocatedMemoryText();

// Header items that need no rules of their own.
std::string ComputerNameText();
std::string UserNameText();  // "  <admin>" appended for administrators
std::string RegisteredOwnerText();
std::string FreeDiskSpaceText();
// "yyyy-mm-dd hh:nn" of the file's last write, local time; empty when missing.
std::string FileDateTimeText(const std::string& path);

}  // namespace kestrix
