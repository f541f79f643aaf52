// The screenshot at the crash and the library's temporary directory, where
// attachments wait to be sent.
#include "crash/handling/win/screenshot_file_win32.h"

#include "crash/handling/win/handling_state_win32.h"

namespace kestrix {
namespace {

// "<exe name>.Kestrix" in the system's temporary directory; empty when unknown.
std::string TemporaryDirectoryPath() {
  char temp[MAX_PATH], exe[MAX_PATH];
  if (!GetTempPathA(MAX_PATH, temp) || !GetModuleFileNameA(nullptr, exe, MAX_PATH)) return std::string();
  std::string name = exe;
  name = name.substr(name.find_last_of("\\/") + 1);
  name = name.substr(0, name.rfind('.'));
  return std::string(temp) + name + ".Kestrix";
}

}  // namespace

void SetScreenshotHooks(const TScreenshotHooks& hooks) { HandlingState().screenshotHooks = hooks; }

std::string TemporaryDirectory() {
  const std::string dir = TemporaryDirectoryPath();
  if (dir.empty()) return dir;
  if (!CreateDirectoryA(dir.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
  return dir + "\\";
}

void ClearTemporaryDirectory() {
  const std::string dir = TemporaryDirectoryPath();
  if (dir.empty()) return;
  {
    // The search is closed before the folder is removed.
    WIN32_FIND_DATAA fd;
    const TScopedFindHandle find(FindFirstFileA((dir + "\\*").c_str(), &fd));
    if (!find) return;
    do {
      if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        const std::string file = dir + "\\" + fd.cFileName;
        SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(file.c_str());
      }
    } while (FindNextFileA(find.Get(), &fd));
  }
  RemoveDirectoryA(dir.c_str());
}

void TakeScreenshot(TIKXException* e) {
  const TScreenshotHooks& hooks = HandlingState().screenshotHooks;
  if (!hooks.capture) return;
  KXPtr<IKXUnknown> bitmap;
  try {
    bitmap = hooks.capture(e->ScrShotAppOnly());
  } catch (...) {
  }
  if (!bitmap) {
    e->SetCreateScreenShot(false);
    e->SetAttachScreenShot(false);
    return;
  }
  e->SetScreenShot(bitmap);
  // The picture stays with the exception even when its file is missing.
  WriteScreenshotFile(e);
}

bool WriteScreenshotFile(TIKXException* e) {
  const TScreenshotHooks& hooks = HandlingState().screenshotHooks;
  const KXPtr<IKXUnknown> bitmap = e ? e->ScreenShot() : KXPtr<IKXUnknown>();
  if (!bitmap || !hooks.savePng) return false;
  const std::string dir = TemporaryDirectory();
  if (dir.empty()) return false;
  try {
    return hooks.savePng(bitmap.get(), dir + kScreenshotFileName, e->ScrShotDepth());
  } catch (...) {
    return false;
  }
}

}  // namespace kestrix
