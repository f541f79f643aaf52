// The library's start-up before the program's own code, its catch points
// and its shutdown after the program's static destructors.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <type_traits>

#include "crash/base/little_endian.h"
#include "crash/base/win/pe_file_checksum_win32.h"
#include "crash/base/win/scoped_handle.h"
#include "crash/exception/win/fault_conversion_win32.h"
#include "crash/handling/win/emergency_reserve_win32.h"
#include "crash/handling/win/ending_win32.h"
#include "crash/handling/win/handling_entry_win32.h"
#include "crash/handling/win/library_window_win32.h"
#include "crash/handling/win/pausing_win32.h"
#include "crash/handling/win/presentation_win32.h"
#include "crash/dump/win/exception_dump_win32.h"
#include "crash/report/win/save_bug_report.h"
#include "crash/handling/win/screenshot_file_win32.h"
#include "crash/threads/win/library_threads.h"
#include "crash/settings/win/settings_object.h"
#include "crash/startup/win/calibration_win32.h"
#include "crash/startup/win/runtime_catch_points_win32.h"
#include "crash/startup/win/startup_state_win32.h"
#include "crash/startup/win/startup_win32.h"
#include "crash/sysinfo/win/system_info_win32.h"
#include "crash/sysinfo/win/system_lists_win32.h"
#include "crash/report/win/code_locations_win32.h"
#include "crash/threads/win/code_patch_win32.h"
#include "crash/threads/win/thread_hooks_win32.h"
#include "crash/threads/win/thread_table_win32.h"
#include "crash/watchdog/win/freeze_watch_win32.h"
#include "debuginfo/decoder/decoder.h"
#include "debuginfo/decoder/win/safe_read_win32.h"
#include "debuginfo/readers/win/module_maps_win32.h"
#include "debuginfo/parser/win/own_process_win32.h"
#include "debuginfo/stack/win/stack_trace_win32.h"
#include "kestrix/kestrix.h"
#include "report_ui/assistant/win/nv_form.h"
#include "report_ui/delivery/win/dispatch_bug_report_win32.h"
#include "report_ui/delivery/win/print_report.h"
#include "report_ui/progress/progress_alert.h"
#include "report_ui/imaging/png_writer.h"
#include "report_ui/imaging/win/capture_win32.h"
#include "report_ui/dialog/win/exception_box_win32.h"

// Referenced by the library's link options, so that this file (and with it
// the start-up) is always linked into the program.
extern "C" int kestrix_startup_anchor = 0;
// The process-trace export lives in another file of the library; this
// reference links it into every program.
extern "C" DWORD WINAPI kxTraceProcess(DWORD size);
extern "C" void* const kestrix_trace_export = reinterpret_cast<void*>(&kxTraceProcess);

namespace kestrix {

namespace {

constinit TStartupState g_state;
static_assert(std::is_trivially_destructible_v<TStartupState>, "no destructor runs at the process's end");

[[noreturn]] void __cdecl ExitHook(int code) {
  g_state.exiting = true;
  g_state.originalExit(code);
  for (;;) Sleep(INFINITE);
}

// Points the executable's import of `exit` at ExitHook, so that errors at
// exit (static destructors, atexit functions) are known as such.
void PatchExitImport() {
  g_state.originalExit = reinterpret_cast<void(__cdecl*)(int)>(
      PatchModuleImport(GetModuleHandleA(nullptr), "exit", reinterpret_cast<void*>(&ExitHook)));
}

void UnpatchExitImport() {
  if (g_state.originalExit)
    PatchModuleImports(GetModuleHandleA(nullptr), reinterpret_cast<void*>(&ExitHook),
                       reinterpret_cast<void*>(g_state.originalExit));
}

// std::terminate: an exception left a thread or the program (13), or an
// error at exit (11).
[[noreturn]] void OnTerminate() {
  static thread_local bool inside = false;
  if (!inside) {
    inside = true;
    const bool exiting = g_state.exiting;
    const bool mainThread = GetCurrentThreadId() == MainThreadId();
    if (std::exception_ptr error = std::current_exception())
      HandleCppException(error, exiting ? esAtExit : esUnhandled, !exiting && !mainThread);
    else
      ReportTerminateCall(exiting ? esAtExit : esUnhandled, !exiting && !mainThread);
    if (!exiting && !mainThread) {
      UnregisterThread(GetCurrentThreadId());
      ExitThread(0);
    }
  }
  TerminateProcess(GetCurrentProcess(), kRuntimeErrorExitCode);
  for (;;) Sleep(INFINITE);
}

// Operating-system exceptions nobody handled (faults outside the program's
// own code, or that cannot be unwound): source 14, from a fresh stack.
LONG WINAPI UnhandledFilter(EXCEPTION_POINTERS* info) {
  if (info->ExceptionRecord->ExceptionCode == 0x406D1388) return EXCEPTION_CONTINUE_EXECUTION;
  return HandleUnhandledFault(info);
}

bool IsLibraryThreadOtherThanMain(DWORD id) { return id != MainThreadId() && IsLibraryThread(id); }

// Where faults that cannot be unwound are reported.
void WireFaultSinks() {
  TFaultSinks sinks;
  sinks.report = MapSystemException;
  sinks.libraryFault = EndAfterLibraryFault;
  sinks.isLibraryThread = IsLibraryThreadOtherThanMain;
  SetFaultSinks(sinks);
}

void RecordThreadName(DWORD id, const char* name) { AssignThreadName(id, name); }

// The file checksum of a module: false when the file's sum is not the one
// its header holds.
bool ChecksumMatches(HMODULE module) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return true;
  const TPeFileChecksum sum = ReadPeFileChecksum(path, true);
  return !sum.valid || sum.stored == 0 || sum.stored == sum.computed;
}

// BitFaultMsg naming the module whose file failed.
std::string BitFaultText(IKXSettings* settings, HMODULE failed) {
  auto* object = dynamic_cast<TIKXSettings*>(settings);
  if (!object) return settings->BitFaultMsg();
  return ExpandPlaceholderText(object->GetRawTextSetting("BitFaultMsg"), failed, "%exceptMsg%", "%bugReport%");
}

// The executable's file, and the settings' module's when that is another
// one. A corrupt executable ends the process; a corrupt settings module
// drops the main settings and raises a KxException: raised here, before the
// program runs, it ends the program the way any exception leaving static
// initialisation does (std::terminate).
void CheckFileChecksums(const KXPtr<IKXSettings>& settings) {
  const HMODULE exe = GetModuleHandleA(nullptr);
  if (!ChecksumMatches(exe)) {
    const std::string text = BitFaultText(settings.get(), exe);
    MessageBoxA(nullptr, text.c_str(), nullptr, MB_OK | MB_ICONERROR);
    ExitProcess(0);
  }
  const HMODULE module = settings->Module();
  if (module && module != exe && !ChecksumMatches(module)) {
    const std::string text = BitFaultText(settings.get(), module);
    MessageBoxA(nullptr, text.c_str(), nullptr, MB_OK | MB_ICONERROR);
    SetMainSettings(KXPtr<IKXSettings>());
    throw KxException(text);
  }
}

// A restarted process takes over the exception history of the old one.
void TakeOverRestartBlock() {
  const std::string name = RestartBlockName(GetCurrentProcessId());
  TScopedHandle map(OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str()));
  if (!map) return;
  TMappedView view(MapViewOfFile(map.Get(), FILE_MAP_READ, 0, 0, kRestartBlockSize));
  if (!view) return;
  const TRestartBlock block =
      ReadRestartBlock(*reinterpret_cast<const uint8_t(*)[kRestartBlockSize]>(view.As<const uint8_t>()));
  view.Reset();
  // The old process duplicated its mapping handle into this process, so
  // that the block outlives it: closed before the wait, as it was kept.
  TScopedHandle(reinterpret_cast<HANDLE>(block.mappingHandle)).Reset();
  if (TScopedHandle old{OpenProcess(SYNCHRONIZE, FALSE, block.oldProcessId)}) WaitForSingleObject(old.Get(), 10000);
  SetExceptionTimes(block.ring);
}

bool IsConsoleProgram() {
  auto* base = reinterpret_cast<uint8_t*>(GetModuleHandleA(nullptr));
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS32*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  return nt->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_CUI;
}

void KestrixShutdown();

// Names and lines from the module's debug-information map. A stripped map
// (its ".kx" file missing or of another build) gives the names it makes up
// ("segment%3", "public%17"): the ".kx" file names them later.
bool DescribeFromMap(uint32_t address, TCodeLocation& location) {
  std::string module, unit, name;
  int32_t line = 0;
  uint32_t entry = 0;
  if (!DescribeAddress(address, module, unit, line, entry, name)) return false;
  location.unit = unit;
  location.function = name;
  location.entry = entry;
  location.line = line;
  location.entryLine = 0;
  if (entry) {
    uint32_t start = 0, end = 0;
    CachedLineNumber(entry, location.entryLine, start, end);
  }
  return true;
}

// The source line of a code address from its module's map; 0 unknown.
int MapLineOf(uint32_t address) {
  std::string module, unit, name;
  int32_t line = 0;
  uint32_t entry = 0;
  return DescribeAddress(address, module, unit, line, entry, name) ? line : 0;
}

// The runtime's exception-handling routines of the module holding a code
// address, by their names in unit "System" of its map.
parser::TRuntimeRoutines MapRuntimeRoutines(uint32_t address) {
  parser::TRuntimeRoutines r;
  const std::shared_ptr<const TMapFile> map = MapFileForAddress(address);
  if (!map) return r;
  auto find = [&](const char* name) { return map->AddressOfPublic(true, "System", true, name); };
  r.handleAnyException = find("@HandleAnyException");
  r.halt0 = find("@Halt0");
  r.handleFinally = find("@HandleFinally");
  r.handleAutoException = find("@HandleAutoException");
  r.handleOnException = find("@HandleOnException");
  return r;
}

// An assistant page's OnAction that names no built-in handler: "unit.name"
// or "name", a public function of the module's map whose code parses as a
// function.
TNVFormAction ResolveFormAction(HMODULE module, const std::string& name) {
  const std::shared_ptr<const TMapFile> map = MapFileForAddress(reinterpret_cast<uint32_t>(module));
  if (!map || !map->Valid) return nullptr;
  uint32_t address = 0;
  const size_t dot = name.find('.');
  if (dot != std::string::npos) address = map->AddressOfPublic(true, name.substr(0, dot), false, name.substr(dot + 1));
  for (const TMfPublic& p : map->Publics()) {
    if (address) break;
    if (p.IsCode && lstrcmpiA(p.Name.c_str(), name.c_str()) == 0) address = p.Address;
  }
  if (!address || !parser::ParsesAsOwnFunction(address)) return nullptr;
  return reinterpret_cast<TNVFormAction>(address);
}

// Screenshots at the crash: captured and written by the imaging code.
void WireScreenshots() {
  TScreenshotHooks shots;
  shots.capture = [](bool appOnly) { return KXPtr<IKXUnknown>(imaging::CaptureScreen(appOnly).get()); };
  shots.savePng = [](IKXUnknown* object, const std::string& path, int32_t depth) {
    imaging::INVBitmap* bitmap = nullptr;
    if (!object || !object->QueryInterface(imaging::INVBitmap::IID, reinterpret_cast<void**>(&bitmap))) return false;
    const KXPtr<imaging::INVBitmap> held = KXPtr<imaging::INVBitmap>::Adopt(bitmap);
    return held->SavePng(path, imaging::ColourModeForDepth(depth));
  };
  SetScreenshotHooks(shots);
}

// The layers above the report, made known to it.
void WireLayers() {
  SetNameLineProvider(DescribeFromMap);
  TReportHooks hooks;
  hooks.completed = ReportCompleted;
  hooks.show = ShowException;
  hooks.pleaseWaitBox = CreateProgressAlert;
  SetExceptionDialog(RunExceptionDialog);
  SetReportHtmlPage(ReportHtmlPageOf);
  hooks.disassemble = parser::DisassembleOwnFunction;
  parser::SetOwnLineLookup(MapLineOf);
  parser::SetOwnRoutinesLookup(MapRuntimeRoutines);
  hooks.correctAddress = parser::CorrectOwnExceptionAddress;
  // Call stacks: the stack tracer.
  hooks.traceThread = stack::TraceThreadForReport;
  SetReportHooks(hooks);
  WireScreenshots();
  // Minidumps: beside the bug report file wherever a report is saved.
  SetReportSavedHook(PlaceDumpBeside);
  // Sending: the delivery channels, automatically and from the dialog.
  SetSendReportHook(SendReportFromHandling);
  TDeliveryHooks delivery;
  delivery.dispatch = [](TIKXException* e, const std::string& report, const KXPtr<IKXUnknown>&, HWND parent,
                         HANDLE& sendThread, bool background) {
    return DispatchBugReport(report, parent, &sendThread, false, e, background, false) == 1;
  };
  delivery.print = [](TIKXException* e, const std::string& report, HWND parent) {
    return PrintReport(report, parent, e);
  };
  SetDeliveryHooks(delivery);
  // A freeze's dialog closes by itself once the main thread answers again.
  SetFreezeDialogSink([](HWND dialog) { WatchFreezeDialog(dialog); });
  // Assistants of the settings are built by the form runtime; they run
  // before sending, saving and printing, and as display mode 1.
  RegisterAssistantLoader();
  SetFormActionResolver(ResolveFormAction);
  SetAssistantRunner([](TIKXException* e, const std::string& name, HWND owner) {
    return RunReportAssistant(e, name, owner);
  });
}

HMODULE OwnModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&OwnModule), &module);
  return module;
}

// --- the system lists' plug-ins ("modules", "processes", "hardware") ---

void RegisterSystemListPlugins() {
  for (const TSystemListPlugin& p : kSystemListPlugins) RegisterReportPlugin(p.name, p.description, p.procedure, true);
}

void UnregisterSystemListPlugins() {
  for (const TSystemListPlugin& p : kSystemListPlugins) UnregisterReportPlugin(p.name);
}

// --- thread hooks and the freeze watchdog --------------------------------------

void ReportThreadException(std::exception_ptr error, uint8_t source, const void* related) {
  HandleCppException(error, source, true, related);
}

// The relative call inside `function` (past jump stubs) to one of the
// targets: the address of its 4-byte displacement; 0 when there is none
// before the function's first return.
uint32_t FindInternalCall(uint32_t function, const uint32_t* targets, int count) {
  const decoder::ProcessReader reader;
  uint32_t at = function;
  for (int i = 0, hops = 0; i < 128 && at; ++i) {
    const decoder::TInstructionInfo info = decoder::DecodeInstruction(at, reader);
    if (!info.isValid) return 0;
    if (info.isCall && info.isRelative && info.targetSize == 4)
      for (int t = 0; t < count; ++t)
        if (targets[t] && info.target == targets[t]) return info.targetField;
    // An unconditional jump (a stub's jump on to the real function): the
    // function goes on there.
    const bool unconditional = info.opcode == 0xE9 || info.opcode == 0xEB || (info.opcode == 0xFF && info.isJump);
    if (info.isJump && unconditional) {
      if (!info.target || ++hops > 3) return 0;
      at = info.target;
      continue;
    }
    if (info.opcode == 0xC3 || info.opcode == 0xC2) return 0;
    at = info.end;
  }
  return 0;
}

// std::thread's start code, by its name in the module's map.
bool IsStdThreadStart(uint32_t address) {
  std::string module, unit, name;
  int32_t line = 0;
  uint32_t entry = 0;
  return DescribeAddress(address - 1, module, unit, line, entry, name) &&
         name.find("thread._M_start_thread") != std::string::npos;
}

// The settings module's header carries the linker version bytes "S" "R".
bool LinkerMarker(HMODULE module) {
  auto* base = reinterpret_cast<const uint8_t*>(module ? module : GetModuleHandleA(nullptr));
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  return nt->OptionalHeader.MajorLinkerVersion == 83 && nt->OptionalHeader.MinorLinkerVersion == 82;
}

TThreadHookConfig ThreadHookConfig(HMODULE settingsModule) {
  TThreadHookConfig config;
  config.report = ReportThreadException;
  config.findInternalCall = FindInternalCall;
  config.isRuntimeThreadStart = IsStdThreadStart;
  config.creatorOneFrameUp = LinkerMarker(settingsModule);
  return config;
}

void StartThreadHooks(const KXPtr<IKXSettings>& settings) {
  InstallThreadHooks(ThreadHookConfig(settings->Module()));
  if (settings->CheckFreeze()) StartFreezeWatch();
}

void RemoveHooks() {
  RemoveMessageHooks();
  RemoveThreadHooks();
}

// The start-up proper (KestrixStartup times it).
void StartUp();

__attribute__((constructor(101))) void KestrixStartup() {
  QueryPerformanceCounter(&g_state.startupBegin);
  StartUp();
  QueryPerformanceCounter(&g_state.startupEnd);
}

void StartUp() {
  NoteProgramStart();
  RegisterSystemListPlugins();
  SetMainThreadId(GetCurrentThreadId());
  const HMODULE exe = GetModuleHandleA(nullptr);
  // A copy of the library in a library module leaves the catch points to
  // the executable's copy when the executable carries settings of its own.
  if (OwnModule() != exe && FindResourceA(exe, "TKESTRIX", MAKEINTRESOURCEA(10))) {
    OpenThreadTable();
    return;
  }
  KXPtr<IKXSettings> settings = SettingsForModule(exe);
  if (!settings || !settings->IsValid()) {
    SetMainSettings(KXPtr<IKXSettings>());
    return;
  }
  SetMainSettings(settings);
  const bool enabled = settings->Enabled();
  if (enabled && settings->CheckFileCrc()) CheckFileChecksums(settings);
  CalibrateModuleHeaders();
  if (!OpenThreadTable()) {
    MessageBoxA(nullptr, "internal error (opening global buffer)", "Kestrix", MB_OK | MB_ICONERROR);
    ExitProcess(0);
  }
  if (!enabled) return;
  TakeOverRestartBlock();
  RememberStartFolder();
  SetConsoleMode(IsConsoleProgram());
  WireLayers();
  SetThreadNameSink(RecordThreadName);
  SetRaiseHook(HandleRaisedException);
  WireFaultSinks();
  InstallFaultConversion();
  g_state.previousTerminate = std::set_terminate(OnTerminate);
  SetUnhandledExceptionFilter(UnhandledFilter);
  KeepUnhandledFilter(UnhandledFilter);
  PatchExitImport();
  StartHandlingThread();
  // The main thread's message window, for a program that has windows: one
  // that does not load user32 itself has no message loop to run it (the
  // freeze watchdog makes it when it starts).
  if (GetModuleHandleA("user32.dll")) CreateLibraryWindow();
  StartThreadHooks(settings);
  ReserveEmergencyMemory();
  InstallRuntimeCatchPoints();
  g_state.active = true;
}

// Registered first, so that it runs after every static destructor and
// atexit function of the program (errors there are still caught).
__attribute__((constructor(102))) void RegisterShutdown() { atexit(KestrixShutdown); }

void KestrixShutdown() {
  // A report still being mailed in the background may finish first.
  if (g_state.active) WaitForBackgroundSends(30000);
  SetShuttingDown(true);
  if (g_state.active) {
    g_state.active = false;
    // Code patches go first, while the library's threads still wait:
    // patching holds the other threads, and a thread ending meanwhile has
    // been seen to stall the process's end under Wine.
    RemoveHooks();
    RemoveRuntimeCatchPoints();
    StopFreezeWatch();
    StopHandlingThread();
    UnpatchExitImport();
    KeepUnhandledFilter(nullptr);
    SetUnhandledExceptionFilter(nullptr);
    std::set_terminate(g_state.previousTerminate);
    RemoveFaultConversion();
    SetThreadNameSink(nullptr);
    SetRaiseHook(nullptr);
    ReleaseEmergencyMemory();
    DestroyLibraryWindow();
    SetNameLineProvider(nullptr);
    SetSendReportHook(nullptr);
    stack::ClearStackTables();
    SetAssistantLoader(nullptr);
    SetFormActionResolver(nullptr);
    SetAssistantRunner(nullptr);
    ClearMapCache();
  }
  // Threads still paused go on; the main settings go, and with them the
  // executable's entry in the settings list (unless a program's object
  // still holds it).
  ResumeProgramThreads();
  SetMainSettings(KXPtr<IKXSettings>());
  UnregisterSystemListPlugins();
  CloseThreadTable();
}

}  // namespace

TStartupState& StartupState() { return g_state; }

bool KestrixActive() { return g_state.active; }

bool InstallLibraryThreadHooks() {
  KXPtr<IKXSettings> settings = MainSettings();
  return InstallThreadHooks(ThreadHookConfig(settings ? settings->Module() : nullptr));
}

double StartupMilliseconds() {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  const LONGLONG ticks = g_state.startupEnd.QuadPart - g_state.startupBegin.QuadPart;
  return ticks * 1000.0 / static_cast<double>(frequency.QuadPart);
}

bool HandleException(std::exception_ptr error, bool canContinue) {
  if (!g_state.active) return false;
  HandleCppException(error, esShowException, canContinue);
  return true;
}

void SetThreadName(unsigned long threadId, const char* name) { AssignThreadName(threadId, name ? name : ""); }

bool HandleEventHandlerException(std::exception_ptr error) {
  if (!g_state.active) return false;
  // A window holding the mouse capture is told to cancel its mode first.
  if (HWND capture = GetCapture()) SendMessageA(capture, WM_CANCELMODE, 0, 0);
  HandleCppException(error, esEventHandler, true);
  return !TakePresentationLeft(GetCurrentThreadId());
}

}  // namespace kestrix
