// The exception dialog's layout and the other arithmetic it draws with.
#include "report_ui/dialog/dialog_layout.h"

#include <algorithm>

#include "crash/base/html_text.h"
#include "crash/settings/kx_cipher.h"

namespace kestrix {

const char* ButtonPictureName(int index) {
  static const char* const kNames[] = {"kxisend",     "kxisave",    "kxiprint", "kxishow",        "kxicontinue",
                                       "kxirestart",  "kxiclose",   "kxicantContinue", "KXIBIG"};
  return index >= 0 && index <= dbBig ? kNames[index] : "";
}

TDialogLayout LayoutExceptionDialog(const TDialogLayoutInput& in) {
  TDialogLayout out;
  int w[kDialogButtons];
  std::copy(in.widths, in.widths + kDialogButtons, w);
  if (in.messageBox) {
    for (int b : {dbShow, dbContinue})
      if (w[b] > 0 && w[b] < 75) w[b] = 79;
  }
  out.buttonHeight = in.messageBox ? 23 : in.ugly ? 26 : 22;
  const int bh = out.buttonHeight;
  out.rightColumnWidth = std::max({w[dbContinue], w[dbRestart], w[dbClose]});
  const int right = out.rightColumnWidth;
  int c = (w[dbContinue] > 0) + (w[dbRestart] > 0) + (w[dbClose] > 0);
  const int left = w[dbSend] + w[dbSave] + w[dbPrint] + w[dbShow];
  const bool anyLeft = w[dbSend] || w[dbSave] || w[dbPrint] || w[dbShow];
  out.stacked = !in.messageBox && c > 1 && anyLeft;
  // One row of buttons needs two rows' room (row 0 stays free).
  if (c < 2) c = 2;

  int need, margin = 26;
  if (in.messageBox) {
    need = w[dbContinue] + 26 + (in.detailsAllowed ? w[dbShow] + 2 : 0);
  } else if (out.stacked) {
    need = left + right + 14;
    margin = right + 40;
  } else {
    need = left + w[dbContinue] + w[dbRestart] + w[dbClose] + 14;
  }
  if (in.picture) {
    margin += 40;
    out.picture = {9, 10, 32, 32};
  }
  int textHeight = 0;
  const int textWidth = in.measureText ? in.measureText(in.context, std::max(need, 664) - margin, textHeight) : 0;
  out.clientWidth = std::max(need, textWidth + margin);
  const int preferred = std::min(664, in.screenWidth - 5 * in.captionHeight);
  if (in.detailsView) out.clientWidth = std::max(out.clientWidth, preferred);

  int y0 = in.picture && textHeight < 26 ? 31 : textHeight + 5;
  if (c == 3 && out.stacked) {
    y0 = std::max(y0 - bh - 4, 7);
  } else if (c == 3) {
    c = 2;
  }
  auto rowY = [&](int r) { return y0 + r * (bh + 4); };
  const int cw = out.clientWidth;
  if (in.messageBox) {
    const bool details = in.detailsAllowed && w[dbShow] > 0;
    int x = details ? (cw + 2 - w[dbContinue] - w[dbShow]) / 2 - 3 : (cw + 4 - w[dbContinue]) / 2 - 3;
    out.buttons[dbContinue] = {x, rowY(1), w[dbContinue], bh};
    if (details) out.buttons[dbShow] = {x + w[dbContinue] + 2, rowY(1), w[dbShow], bh};
    out.contentHeight = y0 + 2 * bh + 21;
  } else {
    int x = 6;
    for (int b : {dbSend, dbSave, dbPrint, dbShow}) {
      if (!w[b]) continue;
      out.buttons[b] = {x, rowY(c - 1), w[b] - 4, bh};
      x += w[b];
    }
    if (out.stacked) {
      const int rx = cw - right - 8;
      if (w[dbContinue]) out.buttons[dbContinue] = {rx, rowY(0), right, bh};
      if (w[dbRestart]) out.buttons[dbRestart] = {rx, rowY(w[dbContinue] ? 1 : 0), right, bh};
      if (w[dbClose]) out.buttons[dbClose] = {rx, rowY(c - 1), right, bh};
    } else {
      x = cw - (w[dbContinue] + w[dbRestart] + w[dbClose]) - 8;
      for (int b : {dbContinue, dbRestart, dbClose}) {
        if (!w[b]) continue;
        out.buttons[b] = {x, rowY(c - 1), w[b] - 4, bh};
        x += w[b];
      }
    }
    out.contentHeight = c * (bh + 4) + y0 + 8;
  }
  if (in.picture) {
    out.message = {51, textHeight < 26 ? 10 + (32 - textHeight) / 2 : 12, textWidth, textHeight};
  } else {
    out.message = {11, 12, textWidth, textHeight};
  }
  if (!in.messageBox || in.detailsAllowed) {
    out.separatorY = out.contentHeight - 8 + 5;
    out.contentHeight += in.detailsView ? 9 : 11;
  }
  if (in.detailsView) {
    const int top = out.contentHeight;
    out.contentHeight += 474;
    out.tabs = {5, top, TabControlWidth(cw), 474 - 5};
  }
  out.contentHeight = std::min(out.contentHeight, in.screenHeight - 5 * in.captionHeight);
  if (in.detailsView) out.tabs.h = std::max(out.contentHeight - out.tabs.y - 5, 60);
  out.windowWidth = cw;
  out.windowHeight = out.contentHeight;
  return out;
}

std::string BreakMessageLines(const std::string& message) {
  std::string s = message;
  const int n = static_cast<int>(s.size());
  for (int i = n - 2; i >= 0; --i) {
    const int position = i + 1;  // of the full stop
    if (s[i] != '.' || s[i + 1] != ' ' || position < 20 || position > n - 10) continue;
    s.replace(i + 1, 1, "\r\n");
  }
  return s;
}

int CountDownX(uint32_t elapsedMs, int buttonWidth, int autoDelay, bool ugly) {
  if (autoDelay <= 0) return 0;
  const int64_t e = elapsedMs, d = autoDelay;
  if (ugly) return static_cast<int>((e * (buttonWidth - 11) + d * 500) / (d * 1000) + 5);
  return static_cast<int>((e * buttonWidth + d * 500) / (d * 1000));
}

int CountDownLimit(int buttonWidth, bool ugly) { return ugly ? buttonWidth - 6 : buttonWidth; }

uint32_t ShadeButtonFace(uint32_t rgb, bool disabled) {
  const int step = disabled ? 8 : 16;
  int ch[3] = {static_cast<int>(rgb >> 16 & 255), static_cast<int>(rgb >> 8 & 255), static_cast<int>(rgb & 255)};
  int over = 0;
  for (int v : ch) over += v + 16 > 255;
  for (int& v : ch) v = std::clamp(over >= 2 ? v - step : v + step, 0, 255);
  return static_cast<uint32_t>(ch[0] << 16 | ch[1] << 8 | ch[2]);
}

uint32_t BlendEighths(uint32_t a, uint32_t b, int weight) {
  uint32_t out = 0;
  for (int shift : {0, 8, 16}) {
    const int x = a >> shift & 255, y = b >> shift & 255;
    out |= static_cast<uint32_t>((x * (8 - weight) + y * weight) / 8) << shift;
  }
  return out;
}

uint32_t BlendPicturePixel32(uint32_t bgra, uint32_t rgb) {
  const uint32_t weight = (bgra >> 24) + 1;
  uint32_t out = 0;
  for (int shift : {0, 8, 16}) {
    const uint32_t p = bgra >> shift & 255, bg = rgb >> shift & 255;
    out |= ((p * weight + bg * (256 - weight)) >> 8) << shift;
  }
  return out;
}

int CloseButtonFor(int focusedBtn, bool continueExists, bool canContinue, bool closeExists, bool restartExists) {
  if (focusedBtn == dbContinue || focusedBtn == dbRestart || focusedBtn == dbClose) return focusedBtn;
  if (continueExists && canContinue) return dbContinue;
  if (closeExists) return dbClose;
  if (restartExists) return dbRestart;
  return -1;
}

std::string BuildReportHtmlPage(const std::string& report, const THtmlPageSettings& s,
                                std::string (*expand)(void*, const std::string&, const std::string&), void* context) {
  std::string page;
  page += "<html><head><title>" + HtmlEscape(s.titleBar) + "</title></head><body>\r\n";
  page += "<table border=\"0\" width=\"100%\" height=\"100%\">\r\n";
  page += "<tr><td colspan=4 style=\"height:2pt;\"></td></tr>\r\n";
  page += "<tr><td colspan=4 valign=\"top\">";
  page += "<p style=\"font-family:Tahoma,'MS Sans Serif';font-size:13pt;margin-left:4px;\">";
  std::string message = s.exceptMsg;
  for (size_t at = 0; (at = message.find("%LF%", at)) != std::string::npos; at += 6)
    message.replace(at, 4, "<br>\r\n");
  // The exception's message and the report are text: a message that
  // carries request input must not become markup.
  page += expand ? expand(context, message, HtmlEscape(ReportExceptionMessage(report))) : message;
  page += "</p></td></tr>\r\n";
  page += "<tr><td colspan=4 style=\"height:8pt;\"></td></tr>\r\n";
  page += "<tr><td><button onClick=\"history.back();\" style=\"height:19.5pt;\">&nbsp;";
  page += s.continueBtnVis ? s.continueBtnTxt : "continue application";
  page += "&nbsp;</button></td>\r\n<td><p>&nbsp;&nbsp;</p></td>\r\n<td>";
  if (s.autoShowBugRep || !s.showBtnVis) {
    page += "&nbsp;";
  } else {
    page += "<button onClick=\"document.getElementById('bugReport').style.visibility='visible';"
            "this.style.visibility='hidden';\" style=\"height:19.5pt;\">&nbsp;";
    page += s.showBtnTxt + "&nbsp;</button>";
  }
  page += "</td>\r\n<td width=\"100%\"></td></tr>\r\n";
  page += "<tr><td colspan=4 style=\"height:8pt;\"></td></tr>\r\n";
  page += "<tr><td colspan=4 height=\"100%\">\r\n";
  page += s.autoShowBugRep
              ? "<textarea id=\"bugReport\" readonly cols=\"80\" rows=\"20\" style=\"width:100%;height:100%;\">"
              : "<textarea id=\"bugReport\" readonly cols=\"80\" rows=\"20\" "
                "style=\"width:100%;height:100%;visibility:hidden;\">";
  page += "\r\n" + HtmlEscape(report) + "</textarea></td></tr></table></body></html>";
  return page;
}

namespace {

// Scrambled with EncodePassword(text, "Kestrix", "dialog").
const char kLinkText[] = "qCX9U/yHwTuQRcYZ6EtVO3k=";
const char kLinkTarget[] = "rTX9RrqMjC2FFa5gkC46E1hj3OepsE85ZYj9U6MmXEA=";

}  // namespace

std::string LinkLabelText() { return DecodePassword(kLinkText, "Kestrix", "dialog"); }
std::string LinkLabelTarget() { return DecodePassword(kLinkTarget, "Kestrix", "dialog"); }

}  // namespace kestrix
