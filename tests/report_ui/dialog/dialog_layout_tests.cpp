// The exception dialog's arithmetic: layout rules, line breaks, count-down,
// colours, the close rule, the HTML page.
#include <gtest/gtest.h>

#include <string>

#include "report_ui/dialog/dialog_layout.h"

namespace kestrix {
namespace {

// A message 300 pixels wide and 13 high, whatever the wrap width.
int FixedText(void*, int wrapWidth, int& height) {
  height = 13;
  return std::min(300, wrapWidth);
}

TDialogLayoutInput FullDialog() {
  TDialogLayoutInput in;
  in.measureText = FixedText;
  const int widths[kDialogButtons] = {120, 0, 0, 121, 140, 130, 125};  // send, show, continue, restart, close
  std::copy(widths, widths + kDialogButtons, in.widths);
  in.screenWidth = 1280;
  in.screenHeight = 1024;
  in.captionHeight = 18;
  return in;
}

TEST(DialogLayout, StackedRightColumnAndBottomRow) {
  TDialogLayoutInput in = FullDialog();
  const TDialogLayout l = LayoutExceptionDialog(in);
  ASSERT_TRUE(l.stacked);
  EXPECT_EQ(l.rightColumnWidth, 140);
  EXPECT_EQ(l.buttonHeight, 22);
  // need = 120 + 121 + 140 + 14 = 395 < 300 + 140 + 40
  EXPECT_EQ(l.clientWidth, 480);
  // c = 3 and stacked: y0 = 13 + 5 - 26 -> not below 7
  const int y0 = 7;
  EXPECT_EQ(l.buttons[dbContinue].y, y0);
  EXPECT_EQ(l.buttons[dbRestart].y, y0 + 26);
  EXPECT_EQ(l.buttons[dbClose].y, y0 + 52);
  for (int b : {dbContinue, dbRestart, dbClose}) {
    EXPECT_EQ(l.buttons[b].x, 480 - 140 - 8);
    EXPECT_EQ(l.buttons[b].w, 140);
  }
  // send and show in the bottom row from x = 6, each 4 narrower than measured.
  EXPECT_EQ(l.buttons[dbSend].x, 6);
  EXPECT_EQ(l.buttons[dbSend].w, 116);
  EXPECT_EQ(l.buttons[dbShow].x, 126);
  EXPECT_EQ(l.buttons[dbSend].y, y0 + 52);
  EXPECT_EQ(l.buttons[dbSave].w, 0);
  // content 3 * 26 + 7 + 8 = 93, separator at 93 - 3, then 11 more
  EXPECT_EQ(l.separatorY, 90);
  EXPECT_EQ(l.contentHeight, 104);
}

TEST(DialogLayout, OneRowWhenOnlyOneRightButtonAndNotStacked) {
  TDialogLayoutInput in = FullDialog();
  in.widths[dbRestart] = in.widths[dbClose] = 0;
  const TDialogLayout l = LayoutExceptionDialog(in);
  EXPECT_FALSE(l.stacked);
  // c = 1 becomes 2: the buttons sit in row 1, y0 = text height + 5.
  const int y1 = 18 + 26;
  EXPECT_EQ(l.buttons[dbSend].y, y1);
  EXPECT_EQ(l.buttons[dbContinue].y, y1);
  EXPECT_EQ(l.buttons[dbContinue].x, l.clientWidth - 140 - 8);
  EXPECT_EQ(l.buttons[dbContinue].w, 136);
}

TEST(DialogLayout, UglyButtonsPictureAndDetailsView) {
  TDialogLayoutInput in = FullDialog();
  in.ugly = true;
  in.picture = true;
  in.detailsView = true;
  in.widths[dbShow] = 0;
  const TDialogLayout l = LayoutExceptionDialog(in);
  EXPECT_EQ(l.buttonHeight, 26);
  EXPECT_EQ(l.picture.x, 9);
  EXPECT_EQ(l.picture.y, 10);
  EXPECT_EQ(l.message.x, 51);
  // the details view is at least the preferred width
  EXPECT_EQ(l.clientWidth, 664);
  // picture and a text lower than 26: y0 = 31, stacked c = 3: 31 - 30 = 1 -> 7
  EXPECT_EQ(l.buttons[dbContinue].y, 7);
  EXPECT_GT(l.tabs.h, 400);
  EXPECT_GT(l.tabs.y, l.separatorY);
  EXPECT_EQ(l.tabs.x, 5);
  EXPECT_EQ(l.tabs.w, 664 - 19);
}

TEST(DialogLayout, CappedByTheScreen) {
  TDialogLayoutInput in = FullDialog();
  in.detailsView = true;
  in.screenWidth = 640;
  in.screenHeight = 480;
  in.captionHeight = 20;
  const TDialogLayout l = LayoutExceptionDialog(in);
  EXPECT_EQ(l.contentHeight, 480 - 100);
  EXPECT_EQ(l.clientWidth, 540);  // 640 - 5 * 20 is less than 664
}

TEST(DialogLayout, MessageBoxCentresOkAndDetails) {
  TDialogLayoutInput in;
  in.messageBox = true;
  in.detailsAllowed = true;
  in.measureText = FixedText;
  in.widths[dbContinue] = 50;  // raised to 79
  in.widths[dbShow] = 90;
  const TDialogLayout l = LayoutExceptionDialog(in);
  EXPECT_EQ(l.buttonHeight, 23);
  EXPECT_EQ(l.buttons[dbContinue].w, 79);
  EXPECT_EQ(l.clientWidth, 326);  // 300 + 26
  EXPECT_EQ(l.buttons[dbContinue].x, (326 + 2 - 79 - 90) / 2 - 3);
  EXPECT_EQ(l.buttons[dbShow].x, l.buttons[dbContinue].x + 79 + 2);
  EXPECT_EQ(l.buttons[dbContinue].y, 18 + 27);
  EXPECT_EQ(l.separatorY, 18 + 46 + 21 - 3);
  in.detailsAllowed = false;
  in.widths[dbShow] = 0;
  const TDialogLayout ok = LayoutExceptionDialog(in);
  EXPECT_EQ(ok.buttons[dbContinue].x, (326 + 4 - 79) / 2 - 3);
  EXPECT_EQ(ok.separatorY, -1);
  EXPECT_EQ(ok.contentHeight, 18 + 46 + 21);
}

TEST(DialogText, FullStopsBreakOnlyInsideTheMiddle) {
  std::string m(100, 'x');
  m[14] = '.', m[15] = ' ';  // full stop at 15
  m[39] = '.', m[40] = ' ';  // at 40
  m[94] = '.', m[95] = ' ';  // at 95
  const std::string out = BreakMessageLines(m);
  EXPECT_EQ(out.substr(39, 3), ".\r\n");
  EXPECT_EQ(out.substr(14, 2), ". ");
  EXPECT_EQ(out.substr(95, 2), ". ");
  EXPECT_EQ(out.size(), 101u);
}

TEST(DialogCountDown, LinePositionAndLimit) {
  EXPECT_EQ(CountDownX(0, 100, 10, false), 0);
  EXPECT_EQ(CountDownX(5000, 100, 10, false), 50);
  EXPECT_EQ(CountDownX(10000, 100, 10, false), 100);
  EXPECT_GT(CountDownX(10100, 100, 10, false), CountDownLimit(100, false));
  EXPECT_EQ(CountDownX(0, 100, 10, true), 5);
  EXPECT_EQ(CountDownX(10000, 100, 10, true), 94);
  EXPECT_EQ(CountDownLimit(100, true), 94);
  EXPECT_EQ(CountDownX(999999, 100, 0, false), 0);  // no delay: never pressed
}

TEST(DialogColours, FlatFaceLightensOrDarkens) {
  EXPECT_EQ(ShadeButtonFace(0xD4D0C8, false), 0xE4E0D8u);
  EXPECT_EQ(ShadeButtonFace(0xD4D0C8, true), 0xDCD8D0u);
  EXPECT_EQ(ShadeButtonFace(0xF0F0F0, false), 0xE0E0E0u);  // two channels would pass 255
  EXPECT_EQ(ShadeButtonFace(0xF5F5F5, true), 0xEDEDEDu);
  EXPECT_EQ(BlendEighths(0x000000, 0xFFFFFF, 4), 0x7F7F7Fu);
  EXPECT_EQ(BlendPicturePixel32(0xFF102030, 0xFFFFFF), 0x102030u);  // opaque
  EXPECT_EQ(BlendPicturePixel32(0x00102030, 0xFFFFFF), 0xFEFEFEu);  // weight 1/256
}

TEST(DialogClose, FocusedButtonThenFallbacks) {
  EXPECT_EQ(CloseButtonFor(5, true, true, true, true), dbRestart);
  EXPECT_EQ(CloseButtonFor(2, true, true, true, true), dbContinue);   // print focused: falls back
  EXPECT_EQ(CloseButtonFor(0, true, false, true, true), dbClose);     // cannot continue
  EXPECT_EQ(CloseButtonFor(0, false, true, false, true), dbRestart);
  EXPECT_EQ(CloseButtonFor(0, false, false, false, false), -1);      // message box: just closes
}

TEST(DialogPictures, NamesAndSizes) {
  EXPECT_STREQ(ButtonPictureName(dbSend), "kxisend");
  EXPECT_STREQ(ButtonPictureName(dbCantContinue), "kxicantContinue");
  EXPECT_STREQ(ButtonPictureName(dbBig), "KXIBIG");
  EXPECT_EQ(PictureResourceSize(16), 1064u);
  EXPECT_EQ(PictureResourceSize(32), 4136u);
}

std::string Upper(void*, const std::string& text, const std::string& exceptMsg) {
  std::string out = text;
  const size_t at = out.find("%exceptMsg%");
  if (at != std::string::npos) out.replace(at, 11, exceptMsg);
  return out;
}

TEST(DialogHtml, PageByteForByte) {
  const std::string report = "date/time         : 2026-12-07\r\nexception message : Access violation.\r\n";
  THtmlPageSettings s;
  s.titleBar = "lab";
  s.exceptMsg = "Oops.%LF%%exceptMsg%";
  s.continueBtnTxt = "go on";
  s.showBtnTxt = "show";
  const std::string page = BuildReportHtmlPage(report, s, Upper, nullptr);
  const std::string expected =
      "<html><head><title>lab</title></head><body>\r\n"
      "<table border=\"0\" width=\"100%\" height=\"100%\">\r\n"
      "<tr><td colspan=4 style=\"height:2pt;\"></td></tr>\r\n"
      "<tr><td colspan=4 valign=\"top\"><p style=\"font-family:Tahoma,'MS Sans Serif';font-size:13pt;"
      "margin-left:4px;\">Oops.<br>\r\nAccess violation.</p></td></tr>\r\n"
      "<tr><td colspan=4 style=\"height:8pt;\"></td></tr>\r\n"
      "<tr><td><button onClick=\"history.back();\" style=\"height:19.5pt;\">&nbsp;go on&nbsp;</button></td>\r\n"
      "<td><p>&nbsp;&nbsp;</p></td>\r\n"
      "<td><button onClick=\"document.getElementById('bugReport').style.visibility='visible';"
      "this.style.visibility='hidden';\" style=\"height:19.5pt;\">&nbsp;show&nbsp;</button></td>\r\n"
      "<td width=\"100%\"></td></tr>\r\n"
      "<tr><td colspan=4 style=\"height:8pt;\"></td></tr>\r\n"
      "<tr><td colspan=4 height=\"100%\">\r\n"
      "<textarea id=\"bugReport\" readonly cols=\"80\" rows=\"20\" style=\"width:100%;height:100%;"
      "visibility:hidden;\">\r\n" +
      report + "</textarea></td></tr></table></body></html>";
  EXPECT_EQ(page, expected);

  s.autoShowBugRep = true;
  s.continueBtnVis = false;
  const std::string shown = BuildReportHtmlPage(report, s, nullptr, nullptr);
  EXPECT_NE(shown.find("&nbsp;continue application&nbsp;"), std::string::npos);
  EXPECT_NE(shown.find("<td>&nbsp;</td>"), std::string::npos);
  EXPECT_NE(shown.find("style=\"width:100%;height:100%;\">\r\n" + report), std::string::npos);
  EXPECT_NE(shown.find("Oops.<br>\r\n%exceptMsg%"), std::string::npos);
}

TEST(DialogHtml, MessageAndReportAreEscaped) {
  // A message carrying request input stays text, in the message and in the
  // report's text area (which it could otherwise end).
  const std::string report =
      "date/time : 2026-12-07\r\nexception message : bad id <script>alert(\"x\")</script> & co\r\nline : </textarea><b>x</b>\r\n";
  THtmlPageSettings s;
  s.titleBar = "a<b>";
  s.exceptMsg = "<i>Sorry</i>: %exceptMsg%";
  const std::string page = BuildReportHtmlPage(report, s, Upper, nullptr);
  EXPECT_NE(page.find("<title>a&lt;b&gt;</title>"), std::string::npos);
  EXPECT_NE(page.find("<i>Sorry</i>: bad id &lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt; &amp; co</p>"),
            std::string::npos);
  EXPECT_EQ(page.find("<script>"), std::string::npos);
  EXPECT_EQ(page.find("<b>x</b>"), std::string::npos);
  EXPECT_NE(page.find("line : &lt;/textarea&gt;&lt;b&gt;x&lt;/b&gt;\r\n</textarea>"), std::string::npos);
  EXPECT_EQ(page.find("</textarea>"), page.rfind("</textarea>")) << "one text area end";
}

TEST(DialogHtml, ExceptionMessageFromTheReport) {
  EXPECT_EQ(ReportExceptionMessage("a : b\r\nexception message : Division by zero.  \r\nx"), "Division by zero.");
  EXPECT_EQ(ReportExceptionMessage("exception message : at start is not after a line break"), "");
}

TEST(DialogLink, LabelIsStoredScrambled) {
  EXPECT_EQ(LinkLabelText(), "made with Kestrix");
  EXPECT_EQ(LinkLabelTarget().rfind("https://", 0), 0u);
}

}  // namespace
}  // namespace kestrix
