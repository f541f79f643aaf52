// The screenshot page's handler in-process, without windows: the page shows
// the exception's screenshot and flag, a click writes the editable copy, the
// timer takes an edited copy back (also one written within the same second,
// and only once it can be read), closing deletes the copy.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "crash/handling/win/screenshot_file_win32.h"
#include "report_ui/assistant/form_definition.h"
#include "report_ui/assistant/form_text.h"
#include "report_ui/assistant/win/nv_form.h"
#include "report_ui/imaging/png_writer.h"

namespace kestrix {
namespace {

using imaging::INVBitmap;

std::string StoredDefinition(const char* form) {
  std::ifstream in(std::string(KX_FORMS_DIR) + "/" + form + ".kxform", std::ios::binary);
  const std::vector<uint8_t> bytes =
      WriteFormDefinition(ParseFormText(std::string(std::istreambuf_iterator<char>(in), {})));
  return std::string(bytes.begin(), bytes.end());
}

KXPtr<INVBitmap> Filled(int width, int height, uint8_t red, uint8_t green, uint8_t blue) {
  KXPtr<INVBitmap> b = imaging::CreateNVBitmap(width, height);
  for (int i = 0; i < width * height; ++i) {
    b->Bits()[4 * i] = blue;
    b->Bits()[4 * i + 1] = green;
    b->Bits()[4 * i + 2] = red;
  }
  return b;
}

KXPtr<INVBitmap> BitmapOf(const KXPtr<IKXUnknown>& object) {
  INVBitmap* raw = nullptr;
  if (!object || !object->QueryInterface(INVBitmap::IID, reinterpret_cast<void**>(&raw))) return {};
  return KXPtr<INVBitmap>::Adopt(raw);
}

// Red of the first pixel, -1 without a picture.
int RedOf(const KXPtr<INVBitmap>& b) { return b ? b->Bits()[2] : -1; }

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// HKCR\.bmp of a kind without an "edit" verb, so that no editor starts;
// the previous kind comes back afterwards.
class TNoEditor {
 public:
  TNoEditor() {
    char value[256] = "";
    LONG size = sizeof value;
    had_ = RegQueryValueA(HKEY_CLASSES_ROOT, ".bmp", value, &size) == ERROR_SUCCESS;
    old_ = value;
    RegSetValueA(HKEY_CLASSES_ROOT, ".bmp", REG_SZ, "KestrixNoEditor", 0);
  }
  ~TNoEditor() {
    if (had_) RegSetValueA(HKEY_CLASSES_ROOT, ".bmp", REG_SZ, old_.c_str(), 0);
    else RegDeleteKeyA(HKEY_CLASSES_ROOT, ".bmp");
  }

 private:
  bool had_ = false;
  std::string old_;
};

class ScreenshotPage : public ::testing::Test {
 protected:
  void SetUp() override {
    // The attachment file as start-up has it written (this program has no
    // settings record, so the library did not start).
    TScreenshotHooks hooks;
    hooks.savePng = [](IKXUnknown* object, const std::string& path, int32_t depth) {
      const KXPtr<INVBitmap> b = BitmapOf(KXPtr<IKXUnknown>(object));
      return b && b->SavePng(path, imaging::ColourModeForDepth(depth));
    };
    SetScreenshotHooks(hooks);
    e_ = KXPtr<TIKXException>(new TIKXException(GetModuleHandleA(nullptr), TExceptionCreation()));
    shot_ = Filled(64, 48, 10, 20, 30);
    e_->SetScreenShot(KXPtr<IKXUnknown>(shot_.get()));
    e_->SetAttachScreenShot(true);
    e_->SetScrShotDepth(24);
    char temp[MAX_PATH];
    copy_ = std::string(temp, GetTempPathA(MAX_PATH, temp)) + "screenShot.bmp";
    DeleteFileA(copy_.c_str());
  }
  KXPtr<TNVForm> Page() {
    return TNVForm::Create(GetModuleHandleA(nullptr), "ScrShotForm", StoredDefinition("ScrShotForm"),
                           static_cast<IKXException*>(e_.get()));
  }
  int Index(TNVForm* page, const char* name) { return page->Model().Find(name); }

  KXPtr<TIKXException> e_;
  KXPtr<INVBitmap> shot_;
  std::string copy_;
};

TEST_F(ScreenshotPage, ShowsTheScreenshotAndItsFlag) {
  e_->SetAttachScreenShot(false);
  KXPtr<TNVForm> page = Page();
  EXPECT_EQ(page->Handler(), HandleScreenshotForm) << "selected by its OnAction name";
  EXPECT_EQ(page->ItemBitmap(Index(page.get(), "ScrShotImg")).get(), shot_.get());
  EXPECT_FALSE(page->ItemChecked(Index(page.get(), "AttachCheck")));
  e_->SetAttachScreenShot(true);
  EXPECT_TRUE(Page()->ItemChecked(Index(page.get(), "AttachCheck")));
}

TEST_F(ScreenshotPage, EditedCopyBecomesTheScreenshot) {
  const TNoEditor noEditor;
  KXPtr<TNVForm> page = Page();
  const int image = Index(page.get(), "ScrShotImg");
  const KXPtr<INVItem> picture = page->Item(image);
  // A click writes the copy (the editor cannot start: a beep).
  page->Fire(nvaEvent, picture.get());
  ASSERT_TRUE(Exists(copy_));
  ASSERT_NE(page->UserData(), nullptr);
  EXPECT_EQ(RedOf(imaging::LoadBmpFile(copy_)), 10);
  page->Fire(nvaEvent, nullptr);
  EXPECT_EQ(BitmapOf(e_->ScreenShot()).get(), shot_.get()) << "unchanged copy: nothing taken back";

  // Edited within the same second: taken back at the next tick, the
  // attachment file with it.
  const std::string png = TemporaryDirectory() + kScreenshotFileName;
  DeleteFileA(png.c_str());
  ASSERT_TRUE(Filled(64, 48, 200, 0, 0)->SaveBmp(copy_));
  page->Fire(nvaEvent, nullptr);
  EXPECT_EQ(RedOf(BitmapOf(e_->ScreenShot())), 200);
  EXPECT_EQ(RedOf(page->ItemBitmap(image)), 200);
  EXPECT_TRUE(Exists(png));

  // A copy the editor is still writing is tried again.
  {
    std::ofstream half(copy_, std::ios::binary | std::ios::trunc);
    half << "BM half written";
  }
  page->Fire(nvaEvent, nullptr);
  EXPECT_EQ(RedOf(BitmapOf(e_->ScreenShot())), 200);
  ASSERT_TRUE(Filled(64, 48, 77, 0, 0)->SaveBmp(copy_));
  page->Fire(nvaEvent, nullptr);
  EXPECT_EQ(RedOf(BitmapOf(e_->ScreenShot())), 77);

  // A second click keeps the edited copy (no new copy of the old picture).
  page->Fire(nvaEvent, picture.get());
  EXPECT_EQ(RedOf(imaging::LoadBmpFile(copy_)), 77);

  // Closed (not with Continue): the copy goes, the flag stays.
  page->SetItemChecked(Index(page.get(), "AttachCheck"), false);
  page->Fire(nvaClosed, nullptr);
  EXPECT_FALSE(Exists(copy_));
  EXPECT_EQ(page->UserData(), nullptr);
  EXPECT_TRUE(e_->AttachScreenShot()) << "a cancelled page changes nothing";
}

TEST_F(ScreenshotPage, WithoutAnExceptionNothingHappens) {
  KXPtr<TNVForm> page = TNVForm::Create(GetModuleHandleA(nullptr), "ScrShotForm", StoredDefinition("ScrShotForm"),
                                        nullptr);
  const KXPtr<INVItem> picture = page->Item(Index(page.get(), "ScrShotImg"));
  page->Fire(nvaEvent, picture.get());
  EXPECT_EQ(page->UserData(), nullptr);
  EXPECT_FALSE(Exists(copy_));
}

}  // namespace
}  // namespace kestrix
