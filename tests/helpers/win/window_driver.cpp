#include "tests/helpers/win/window_driver.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <stdexcept>

#include "app/unit1.h"  // control identifiers
#include "wine_threads.h"

namespace quorrin::gui {
namespace {

struct WindowSearch {
  std::string cls, caption;  // an empty caption matches any
  HWND found = nullptr;
};

BOOL CALLBACK MatchWindow(HWND w, LPARAM p) {
  auto* s = reinterpret_cast<WindowSearch*>(p);
  if (ClassOf(w) == s->cls && IsWindowVisible(w) && (s->caption.empty() || TextOf(w) == s->caption)) {
    s->found = w;
    return FALSE;
  }
  return TRUE;
}

HWND FindThreadWindow(DWORD threadId, const std::string& cls, const std::string& caption) {
  WindowSearch search{cls, caption};
  EnumThreadWindows(threadId, MatchWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace

std::string WindowsPath(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  if (!path.empty() && path[0] == '\\') path = "Z:" + path;
  return path;
}

std::string FullPath(const std::string& path) {
  char buffer[MAX_PATH];
  const DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, buffer, nullptr);
  return n && n < MAX_PATH ? std::string(buffer, n) : path;
}

void SetText(HWND window, const std::string& text) {
  SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

RECT ChildRect(HWND child) {
  RECT r;
  GetWindowRect(child, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    const size_t eol = text.find("\r\n", start);
    if (eol == std::string::npos) {
      lines.push_back(text.substr(start));
      return lines;
    }
    lines.push_back(text.substr(start, eol - start));
    start = eol + 2;
  }
}

RemoteMemory::RemoteMemory(HANDLE process, size_t size) : process_(process) {
  address_ = VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (!address_) throw std::runtime_error("VirtualAllocEx failed");
}

RemoteMemory::~RemoteMemory() { VirtualFreeEx(process_, address_, 0, MEM_RELEASE); }

void RemoteMemory::Write(const void* data, size_t size, size_t offset) {
  SIZE_T done = 0;
  if (!WriteProcessMemory(process_, static_cast<char*>(address_) + offset, data, size, &done) || done != size)
    throw std::runtime_error("WriteProcessMemory failed");
}

void RemoteMemory::Read(void* data, size_t size, size_t offset) const {
  SIZE_T done = 0;
  if (!ReadProcessMemory(process_, static_cast<char*>(address_) + offset, data, size, &done) || done != size)
    throw std::runtime_error("ReadProcessMemory failed");
}

QuorrinProcess::QuorrinProcess(const std::string& exe) {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::string commandLine = "\"" + exe + "\"";
  if (!CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    throw std::runtime_error("cannot start " + exe + " (error " + std::to_string(GetLastError()) + ")");
  process_ = pi.hProcess;
  processId_ = pi.dwProcessId;
  threadId_ = pi.dwThreadId;
  CloseHandle(pi.hThread);
  WaitForInputIdle(process_, 15000);
  WaitUntil([&] { return (main_ = FindThreadWindow(threadId_, "TForm1", "")) != nullptr; });
  if (!main_) {
    TerminateProcess(process_, 1);
    CloseHandle(process_);
    throw std::runtime_error("the main window did not appear");
  }
}

QuorrinProcess::~QuorrinProcess() {
  if (Running() && Close(10000) == STILL_ACTIVE) TerminateProcess(process_, 1);
  WaitForSingleObject(process_, 5000);
  CloseHandle(process_);
}

bool QuorrinProcess::WaitIdle(int timeoutMs) const {
  DWORD_PTR result;
  return SendMessageTimeoutA(main_, WM_NULL, 0, 0, SMTO_NORMAL, static_cast<UINT>(timeoutMs), &result) != 0;
}

HWND QuorrinProcess::FindDialog(const std::string& caption) const {
  return FindThreadWindow(threadId_, "#32770", caption);
}

HWND QuorrinProcess::WaitForDialog(const std::string& caption, int timeoutMs) const {
  HWND dialog = nullptr;
  WaitUntil([&] { return (dialog = FindDialog(caption)) != nullptr; }, timeoutMs);
  return dialog;
}

HWND QuorrinProcess::BeginBrowse() const {
  // Posted: the click handler runs the modal dialog and does not return.
  PostMessageA(Control(idOpen), BM_CLICK, 0, 0);
  HWND dialog = WaitForDialog("Open");
  // The dialog fills its controls after it shows; let it settle.
  if (dialog) WaitUntil([&] { return GetDlgItem(dialog, 1148) && IsWindowEnabled(GetDlgItem(dialog, IDOK)); });
  return dialog;
}

bool QuorrinProcess::ChooseFile(HWND dialog, const std::string& fileName) const {
  SetText(GetDlgItem(dialog, 1148), fileName);
  PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
  return WaitUntil([&] { return !IsWindow(dialog); }) && WaitIdle();
}

bool QuorrinProcess::CancelDialog(HWND dialog) const {
  PostMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
  return WaitUntil([&] { return !IsWindow(dialog); }) && WaitIdle();
}

std::vector<TreeLine> QuorrinProcess::Tree() const {
  const HWND tree = Control(idUnits);
  constexpr size_t kTextMax = 1024;
  RemoteMemory memory(process_, sizeof(TVITEMA) + kTextMax);
  const auto remoteText = static_cast<char*>(memory.Address()) + sizeof(TVITEMA);
  auto get = [&](HTREEITEM item, UINT flag) {
    return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, flag, reinterpret_cast<LPARAM>(item)));
  };
  std::vector<TreeLine> lines;
  HTREEITEM item = get(nullptr, TVGN_ROOT);
  int depth = 0;
  while (item) {
    TVITEMA tv{};
    tv.mask = TVIF_TEXT | TVIF_PARAM;
    tv.hItem = item;
    tv.pszText = remoteText;
    tv.cchTextMax = kTextMax;
    memory.Write(&tv, sizeof tv);
    char text[kTextMax] = {};
    if (SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(memory.Address()))) {
      memory.Read(&tv, sizeof tv);
      memory.Read(text, kTextMax - 1, sizeof(TVITEMA));
    }
    lines.push_back({depth, text, tv.lParam, item});
    if (HTREEITEM child = get(item, TVGN_CHILD)) {
      item = child;
      ++depth;
      continue;
    }
    // Next sibling, or the next sibling of the nearest ancestor that has one.
    for (;;) {
      if (HTREEITEM next = get(item, TVGN_NEXT)) {
        item = next;
        break;
      }
      item = get(item, TVGN_PARENT);
      --depth;
      if (!item) break;
    }
  }
  return lines;
}

std::vector<std::string> QuorrinProcess::OrderItems() const {
  // Read as UTF-16 and converted back to the ANSI code page: Wine hands
  // LB_GETTEXTA across processes in UTF-16.
  const HWND list = Control(idUnitOrder);
  std::vector<std::string> items;
  const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    std::wstring text(static_cast<size_t>(SendMessageW(list, LB_GETTEXTLEN, i, 0)) + 1, L'\0');
    const LRESULT got = SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(std::max<LRESULT>(got, 0)));
    std::string ansi(text.size() * 2, '\0');
    const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), ansi.data(),
                                      static_cast<int>(ansi.size()), nullptr, nullptr);
    ansi.resize(static_cast<size_t>(std::max(n, 0)));
    items.push_back(ansi);
  }
  return items;
}

RECT QuorrinProcess::OrderItemRect(int index) const {
  const HWND list = Control(idUnitOrder);
  const int height = static_cast<int>(SendMessageA(list, LB_GETITEMHEIGHT, 0, 0));
  const int top = static_cast<int>(SendMessageA(list, LB_GETTOPINDEX, 0, 0));
  RECT r;
  GetClientRect(list, &r);
  r.top = (index - top) * height;
  r.bottom = r.top + height;
  return r;
}

RECT QuorrinProcess::TreeItemRect(HTREEITEM item) const {
  RemoteMemory memory(process_, sizeof(RECT));
  RECT r{};
  *reinterpret_cast<HTREEITEM*>(&r) = item;
  memory.Write(&r, sizeof r);
  if (!SendMessageA(Control(idUnits), TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(memory.Address()))) return {};
  memory.Read(&r, sizeof r);
  return r;
}

HTREEITEM QuorrinProcess::SelectedTreeItem() const {
  return reinterpret_cast<HTREEITEM>(SendMessageA(Control(idUnits), TVM_GETNEXTITEM, TVGN_CARET, 0));
}

void QuorrinProcess::Click(HWND control, POINT at) {
  const LPARAM where = MAKELPARAM(at.x, at.y);
  PostMessageA(control, WM_MOUSEMOVE, 0, where);
  PostMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, where);
  PostMessageA(control, WM_LBUTTONUP, 0, where);
}

void QuorrinProcess::PostKey(HWND control, WORD key) {
  const UINT scan = MapVirtualKeyA(key, MAPVK_VK_TO_VSC);
  PostMessageA(control, WM_KEYDOWN, key, 1 | (scan << 16));
  PostMessageA(control, WM_KEYUP, key, 1 | (scan << 16) | 0xC0000000u);
}

HWND QuorrinProcess::Focus() const {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(threadId_, &info) ? info.hwndFocus : nullptr;
}

DWORD QuorrinProcess::Close(int timeoutMs) {
  PostMessageA(main_, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(process_, static_cast<DWORD>(timeoutMs)) == WAIT_TIMEOUT)
    winethreads::DumpProgramThreads("quorrin did not end after WM_CLOSE", {"quorrin.exe", "explorer.exe"});
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process_, &code);
  return code;
}

int SaveWindowBitmap(HWND window, const std::string& fileName) {
  RECT r;
  if (!GetWindowRect(window, &r)) return 0;
  const int width = r.right - r.left, height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFOHEADER header{};
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height;  // bottom-up, as BMP files store rows
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap =
      CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  const bool copied = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY | CAPTUREBLT);
  GdiFlush();
  const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
  const size_t imageSize = stride * static_cast<size_t>(height);
  std::set<uint32_t> colours;
  if (copied) {
    const auto* p = static_cast<const unsigned char*>(bits);
    for (int y = 0; y < height && colours.size() < 64; ++y)
      for (int x = 0; x < width; ++x) {
        const unsigned char* px = p + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 3;
        colours.insert(px[0] | (px[1] << 8) | (px[2] << 16));
      }
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = static_cast<DWORD>(file.bfOffBits + imageSize);
    header.biSizeImage = static_cast<DWORD>(imageSize);
    if (FILE* f = std::fopen(fileName.c_str(), "wb")) {
      std::fwrite(&file, sizeof file, 1, f);
      std::fwrite(&header, sizeof header, 1, f);
      std::fwrite(bits, 1, imageSize, f);
      std::fclose(f);
    } else {
      colours.clear();
    }
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return static_cast<int>(colours.size());
}

}  // namespace quorrin::gui
