// The screenshot page's handler: shows the exception's screenshot, lets the
// user edit a BMP copy of it in the shell's editor and takes the edited
// picture back, and decides whether the screenshot is attached.
#include <windows.h>
// After windows.h.
#include <objbase.h>
#include <shellapi.h>

#include "crash/base/win/scoped_handle.h"
#include "crash/handling/win/screenshot_file_win32.h"
#include "report_ui/assistant/win/nv_form.h"

namespace kestrix {

namespace {

constexpr char kCopyName[] = "screenShot.bmp";

// The page's user data from the first click on the picture until the page
// closes: the copy, the time it was last seen written, the editor.
struct TScreenshotEdit {
  std::string path;
  FILETIME written{};
  ULONGLONG size = 0;
  TScopedHandle editor;
};

void ReleaseEdit(void* data) {
  auto* edit = static_cast<TScreenshotEdit*>(data);
  delete edit;
}

std::string CopyPath() {
  char temp[MAX_PATH + 1];
  const DWORD n = GetTempPathA(sizeof temp, temp);
  if (n == 0 || n > MAX_PATH) return {};
  return std::string(temp, n) + kCopyName;
}

// The last write time and size of a file; false when it cannot be read.
// The whole time, not the 2-second DOS time: an edit saved within the same
// two seconds as the copy would otherwise go unnoticed.
bool FileStamp(const std::string& path, FILETIME& written, ULONGLONG& size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  written = data.ftLastWriteTime;
  size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return true;
}

KXPtr<IKXException> ExceptionOf(IKXSettings* settings) {
  IKXException* raw = nullptr;
  if (!settings || !settings->QueryInterface(IKXException::IID, reinterpret_cast<void**>(&raw)) || !raw) return {};
  return KXPtr<IKXException>::Adopt(raw);
}

KXPtr<imaging::INVBitmap> BitmapOf(const KXPtr<IKXUnknown>& object) {
  imaging::INVBitmap* raw = nullptr;
  if (!object || !object->QueryInterface(imaging::INVBitmap::IID, reinterpret_cast<void**>(&raw)) || !raw) return {};
  return KXPtr<imaging::INVBitmap>::Adopt(raw);
}

bool EditorRunning(const TScreenshotEdit& edit) {
  return edit.editor && WaitForSingleObject(edit.editor.Get(), 0) == WAIT_TIMEOUT;
}

// A click on the picture: the copy written on the first click, then the
// shell's editor for it unless one started earlier still runs.
bool EditCopy(TNVForm* form, IKXException* e) {
  auto* edit = static_cast<TScreenshotEdit*>(form->UserData());
  if (!edit) {
    const KXPtr<imaging::INVBitmap> picture = BitmapOf(e->ScreenShot());
    const std::string path = CopyPath();
    if (!picture || path.empty() || !picture->SaveBmp(path)) return false;
    edit = new TScreenshotEdit;
    edit->path = path;
    FileStamp(path, edit->written, edit->size);
    form->SetUserData(edit, ReleaseEdit);
  }
  if (EditorRunning(*edit)) return true;
  edit->editor.Reset();
  // Shell extensions behind a verb may need COM on this thread.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  SHELLEXECUTEINFOA info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = "edit";
  info.lpFile = edit->path.c_str();
  info.nShow = SW_SHOWMAXIMIZED;
  const bool started = ShellExecuteExA(&info) != FALSE;
  if (SUCCEEDED(com)) CoUninitialize();
  if (!started) return false;
  edit->editor.Reset(info.hProcess);  // none when the shell handed it to a running program
  return true;
}

// The timer: a copy written since it was last seen becomes the exception's
// screenshot. A copy that cannot be read (the editor is still writing it)
// is tried again on the next tick.
void TakeBackEdited(TNVForm* form, IKXException* e, int image) {
  auto* edit = static_cast<TScreenshotEdit*>(form->UserData());
  if (!edit) return;
  FILETIME written;
  ULONGLONG size = 0;
  if (!FileStamp(edit->path, written, size)) return;
  if (CompareFileTime(&written, &edit->written) == 0 && size == edit->size) return;
  const KXPtr<imaging::INVBitmap> picture = imaging::LoadBmpFile(edit->path);
  if (!picture) return;
  edit->written = written;
  edit->size = size;
  e->SetScreenShot(KXPtr<IKXUnknown>(picture.get()));
  // The attachment file follows the picture.
  if (auto* object = dynamic_cast<TIKXException*>(e)) WriteScreenshotFile(object);
  form->SetItemBitmap(image, picture);
}

}  // namespace

void HandleScreenshotForm(TNVForm* form, int action, INVItem* item, IKXSettings* settings) {
  const KXPtr<IKXException> e = ExceptionOf(settings);
  if (!form || !e) return;
  TFormModel& m = form->Model();
  const int image = m.Find("ScrShotImg"), attach = m.Find("AttachCheck");
  switch (action) {
    case nvaCreated:
      form->SetItemBitmap(image, BitmapOf(e->ScreenShot()));
      form->SetItemChecked(attach, e->AttachScreenShot());
      return;
    case nvaEvent:
      if (!item) {
        TakeBackEdited(form, e.get(), image);
      } else if (image >= 0 && item->Name() == m.items[static_cast<size_t>(image)].name) {
        if (!EditCopy(form, e.get())) Beep(60, 60);
      }
      return;
    case nvaClosed: {
      // An edit saved just before the page closed still counts.
      if (form->ModalResult() == nvmrContinue) TakeBackEdited(form, e.get(), image);
      std::string copy;
      if (auto* edit = static_cast<TScreenshotEdit*>(form->UserData())) copy = edit->path;
      form->SetUserData(nullptr, nullptr);  // closes the editor's handle
      if (!copy.empty()) DeleteFileA(copy.c_str());
      // A cancelled page changes nothing, as its edits keep nothing.
      if (form->ModalResult() == nvmrContinue && attach >= 0) e->SetAttachScreenShot(form->ItemChecked(attach));
      return;
    }
    default:
      return;
  }
}

}  // namespace kestrix
