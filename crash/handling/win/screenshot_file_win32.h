// The screenshot at the crash and its attachment file in the library's
// temporary directory. Capture and PNG writing are the imaging code's,
// wired in at start-up.
#pragma once

#include <cstdint>
#include <string>

#include "crash/report/win/kx_exception_object.h"

namespace kestrix {

struct TScreenshotHooks {
  // The bitmap of the screen (or of the program's windows only); empty when
  // there is nothing to capture.
  KXPtr<IKXUnknown> (*capture)(bool appOnly) = nullptr;
  // Writes the bitmap as a PNG file in the colour mode that ScrShotDepth
  // asks for; false (and no file) when it could not be written completely.
  bool (*savePng)(IKXUnknown* bitmap, const std::string& path, int32_t depth) = nullptr;
};
void SetScreenshotHooks(const TScreenshotHooks& hooks);

// The library's temporary directory, "<exe name>.Kestrix" in the system's
// temporary directory, with a trailing backslash; created when missing.
// Empty when it cannot be made.
std::string TemporaryDirectory();
// Deletes the directory and the attachments of earlier reports in it.
void ClearTemporaryDirectory();
// The screenshot's attachment file in it.
inline constexpr const char* kScreenshotFileName = "screenShot.png";
// Takes the exception's screenshot and writes its attachment file; a failed
// capture switches screenshots off for this exception.
void TakeScreenshot(TIKXException* exception);
// Writes the exception's screenshot as its attachment file (after it was
// taken, or replaced by an edited copy); false when it could not.
bool WriteScreenshotFile(TIKXException* exception);

}  // namespace kestrix
