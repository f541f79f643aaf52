// Drives quorrin.exe from a second process: starts it, finds its windows,
// reads controls back (also common controls, through memory of the other
// process), clicks, and works the open-file dialog.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/helpers/wait.h"
#include "tests/helpers/win/window_search.h"

namespace quorrin::gui {

// A build path as the running program sees it: a Unix path ("/a/b") under
// Wine's Z: drive ("Z:\a\b"); forward slashes become backslashes.
std::string WindowsPath(std::string path);
// Absolute form of a relative path, against the current directory.
std::string FullPath(const std::string& path);

using testhelpers::WaitUntil;

inline std::string ClassOf(HWND window) { return testhelpers::WindowClass(window); }
// WM_GETTEXT (marshalled by the system for every window class).
inline std::string TextOf(HWND window) { return testhelpers::WindowText(window); }
void SetText(HWND window, const std::string& text);
// A child's rectangle in its parent's client coordinates.
RECT ChildRect(HWND child);
// Lines of a memo's text, split at CR LF.
std::vector<std::string> Lines(const std::string& text);

// Memory in the other process for messages the system does not marshal.
class RemoteMemory {
 public:
  RemoteMemory(HANDLE process, size_t size);
  ~RemoteMemory();
  RemoteMemory(const RemoteMemory&) = delete;
  RemoteMemory& operator=(const RemoteMemory&) = delete;
  void* Address() const { return address_; }
  void Write(const void* data, size_t size, size_t offset = 0);
  void Read(void* data, size_t size, size_t offset = 0) const;

 private:
  HANDLE process_;
  void* address_;
};

// One tree-view node in pre-order with its depth (0 = top level).
struct TreeLine {
  int depth;
  std::string text;
  LPARAM data;
  HTREEITEM item;
};

// The running program and its main window.
class QuorrinProcess {
 public:
  explicit QuorrinProcess(const std::string& exe);
  ~QuorrinProcess();  // closes the program, ending it if it does not go
  QuorrinProcess(const QuorrinProcess&) = delete;
  QuorrinProcess& operator=(const QuorrinProcess&) = delete;

  HWND Main() const { return main_; }
  HWND Control(int id) const { return GetDlgItem(main_, id); }
  HANDLE Process() const { return process_; }
  DWORD ThreadId() const { return threadId_; }
  bool Running() const { return WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }

  // Returns once the main thread has handled everything sent before (a
  // long handler holds this until it ends); false when the time is up.
  bool WaitIdle(int timeoutMs = 120000) const;
  // A visible top-level dialog (#32770) of the program's main thread whose
  // caption is the given one, or nullptr.
  HWND FindDialog(const std::string& caption) const;
  HWND WaitForDialog(const std::string& caption, int timeoutMs = 15000) const;

  // Clicks Browse and returns the open-file dialog.
  HWND BeginBrowse() const;
  // Types an absolute file name into the dialog and presses OK; returns
  // once the dialog is gone and the handler has ended.
  bool ChooseFile(HWND dialog, const std::string& fileName) const;
  bool CancelDialog(HWND dialog) const;

  std::vector<TreeLine> Tree() const;
  std::vector<std::string> OrderItems() const;
  // An order-list item's rectangle in the list's client coordinates.
  RECT OrderItemRect(int index) const;
  // The text rectangle of a tree item, in the tree's client coordinates.
  RECT TreeItemRect(HTREEITEM item) const;
  HTREEITEM SelectedTreeItem() const;

  // Posts a left click at a point of a control's client area.
  static void Click(HWND control, POINT at);
  static void PostKey(HWND control, WORD key);
  // The control that has the keyboard focus in the program.
  HWND Focus() const;

  // Ends the program through its window; returns the exit code, or
  // STILL_ACTIVE when it did not end in time.
  DWORD Close(int timeoutMs = 30000);

 private:
  HANDLE process_ = nullptr;
  DWORD processId_ = 0;
  DWORD threadId_ = 0;
  HWND main_ = nullptr;
};

// Captures a window as it is on screen, frame included, into a 24-bit BMP
// file. Returns the number of distinct colours seen (0 on failure).
int SaveWindowBitmap(HWND window, const std::string& fileName);

}  // namespace quorrin::gui
