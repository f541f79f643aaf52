// A library with its own copy of Kestrix that carries the crash lab's
// settings, for a crash lab whose own record says NoSettings.
#include <windows.h>

extern "C" __declspec(dllexport) int LabSettingsLibrary() { return 1; }
