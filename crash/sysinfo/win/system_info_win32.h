// Values of the report header items that describe the machine, the system
// and the process. Each returns the item's text, empty when it cannot be
// had (the item is then left out). These are plain first versions: the
// system-information collectors refine their texts.
#pragma once

#include <windows.h>

#include <string>

namespace kestrix {

void NoteProgramStart();  // start time for "program up time"

std::string ComputerNameText();
std::string WtsClientNameText();
std::string UserNameText();  // "  <admin>" appended for administrators
std::string RegisteredOwnerText();
std::string OperatingSystemText();
std::string SystemLanguageText();
std::string SystemUpTimeText();
std::string ProgramUpTimeText();
int ProcessorCount();
std::string ProcessorNameText();
std::string PhysicalMemoryText();
std::string FreeDiskSpaceText();
std::string DisplayModeText();
std::string AllocatedMemoryText();
// "yyyy-mm-dd hh:nn" of the file's last write, local time; empty when missing.
std::string FileDateTimeText(const std::string& path);

}  // namespace kestrix
