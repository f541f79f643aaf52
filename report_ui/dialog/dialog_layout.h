// The exception dialog's arithmetic: the button layout, the message's line
// breaks, the count-down line, the flat buttons' colours, the close rule and
// the report's HTML page. Portable; exception_box_win32.cpp measures and
// draws.
#pragma once

#include <cstdint>
#include <string>

#include "crash/report/bug_report_file.h"

namespace kestrix {

enum TDialogButton {
  dbSend, dbSave, dbPrint, dbShow, dbContinue, dbRestart, dbClose, kDialogButtons,
  dbCantContinue = 7, dbBig = 8
};

// The picture resource of a button index ("kxisend" ... "KXIBIG").
const char* ButtonPictureName(int index);
// 40-byte header and n x n 32-bit pixels.
constexpr uint32_t PictureResourceSize(int n) { return 40 + 4 * n * n; }

struct TRect {
  int x = 0, y = 0, w = 0, h = 0;
};

struct TDialogLayoutInput {
  bool messageBox = false;      // OK / Details message box
  bool detailsAllowed = false;  // message box with Details
  bool detailsView = false;     // the full dialog showing the report
  bool ugly = false;            // UglyBtns
  bool picture = false;         // KXIBIG exists
  int widths[kDialogButtons] = {};  // caption width + 39, 0 hidden
  // The message measured when wrapped at a given width.
  int (*measureText)(void* context, int wrapWidth, int& height) = nullptr;
  void* context = nullptr;
  int screenWidth = 1024, screenHeight = 768, captionHeight = 19;
  int frameExtraX = 0, frameExtraY = 0;  // sizing frame minus dialog frame, each side
};

struct TDialogLayout {
  int buttonHeight = 22;
  int clientWidth = 0, contentHeight = 0;
  int windowWidth = 0, windowHeight = 0;  // without the caption and frame
  TRect buttons[kDialogButtons];          // empty for hidden buttons
  TRect picture;                          // 32 x 32 at (9, 10), when shown
  TRect message;
  int separatorY = -1;                    // -1 no separator
  TRect tabs;                             // details view only
  int rightColumnWidth = 0;
  bool stacked = false;
};

TDialogLayout LayoutExceptionDialog(const TDialogLayoutInput& in);

// A line break replaces the blank of every ". " whose full stop stands at
// 1-based position 20 ... length - 10.
std::string BreakMessageLines(const std::string& message);

// The count-down line's x after elapsedMs; the auto button is clicked once
// x passes its limit (CountDownLimit).
int CountDownX(uint32_t elapsedMs, int buttonWidth, int autoDelay, bool ugly);
int CountDownLimit(int buttonWidth, bool ugly);

// The flat button's shade of face: +16 per channel (half when disabled),
// darkening instead when two or more channels would pass 255.
uint32_t ShadeButtonFace(uint32_t rgb, bool disabled);
// a and b blended: weight/8 of b.
uint32_t BlendEighths(uint32_t a, uint32_t b, int weight);
// A 32-bit picture pixel (B, G, R, A in memory) alpha-blended onto bgr
// (0x00RRGGBB) with weight (alpha + 1) / 256.
uint32_t BlendPicturePixel32(uint32_t bgra, uint32_t rgb);

// The button a close message acts as (FocusedBtn, then the fall-backs);
// -1: the dialog simply closes.
int CloseButtonFor(int focusedBtn, bool continueExists, bool canContinue, bool closeExists, bool restartExists);

// The details view's tab control: 5 pixels from the left, the client width
// less 19 wide (at any client width, also after resizing).
inline int TabControlWidth(int clientWidth) { return clientWidth - 19; }

struct THtmlPageSettings {
  std::string titleBar, exceptMsg, continueBtnTxt, showBtnTxt;
  bool continueBtnVis = true, showBtnVis = true, autoShowBugRep = false;
};
// The report as an HTML page; expand expands placeholders of ExceptMsg
// against the exception message (may be null: unchanged). The exception
// message and the report go in escaped; ExceptMsg is markup of its own.
std::string BuildReportHtmlPage(const std::string& report, const THtmlPageSettings& s,
                                std::string (*expand)(void* context, const std::string& text,
                                                      const std::string& exceptMsg),
                                void* context);

// The link label: stored scrambled, descrambled when drawn.
std::string LinkLabelText();
std::string LinkLabelTarget();

}  // namespace kestrix
