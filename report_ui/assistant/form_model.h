// An assistant page as data: its items and their properties as the form
// definitions set them, the rule that enables Continue, the gaps of the
// layout and what a page answered. Portable; win/ shows it as a window.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kestrix {

enum class TFormItemClass { Button, Label, Edit, CheckBox, Image };

// The names of the three buttons every page has first.
extern const char* const kFormButtonNames[3];  // ContinueBtn, SkipBtn, CancelBtn

struct TFormItem {
  TFormItemClass itemClass = TFormItemClass::Label;
  std::string name;
  bool enabled = true;
  int spacing = 0;  // gap below the item; 0: by the layout rules
  bool ownSection = false;
  std::string outputName;
  std::string caption;  // buttons, labels, check boxes
  int minWidth = 0;     // buttons
  bool noOwnerDraw = false;
  bool visible = true;
  std::string text;  // edits ("%lf%" stored becomes CR LF)
  int lines = 1;
  bool optional = false;
  bool colored = true;
  bool valid = true;
  bool checked = false;  // check boxes
  std::string file;      // images: a BMP file
  int width = 0, height = 0;
  bool clickable = false;
  bool border = false;

  // Sets a property by its stored name from its text; false for a name the
  // item's class does not have.
  bool SetProperty(const std::string& name, const std::string& value);
  // An edit allows Continue when optional, or filled and not marked invalid.
  bool AllowsContinue() const;
  // A label's caption ends in ":" or "?" (the window also asks that it fits one line).
  bool EndsLikeHeading() const;
};

struct TFormModel {
  std::string name;
  std::string title;
  std::string message;
  int minWidth = 0;
  std::string activeControl;
  int timer = 0;  // ms, 0: none
  std::string onAction;
  std::vector<TFormItem> items;  // 0, 1, 2: ContinueBtn, SkipBtn, CancelBtn

  TFormModel();  // the three buttons "Next >", "Skip", "Cancel"
  bool SetProperty(const std::string& name, const std::string& value);
  int Find(const std::string& name) const;  // -1 when absent (case-insensitive)
  bool ContinueAllowed() const;
};

// Builds the page from a form definition ("TPF0" data; anything else leaves
// the three buttons). Returns the internal-error text of a damaged
// definition (what was read before stays applied), else empty.
std::string ApplyFormDefinition(TFormModel& form, const void* data, size_t size);

// "yes", "true" (any case) or "1".
bool FormBool(const std::string& value);

// The gap below item `i` (from 3 on) of the layout; `heading[k]` tells
// whether item k is a heading label.
int ItemGap(const TFormModel& form, size_t i, const std::vector<bool>& heading);

// What a page left with Continue adds to the report: header items, or own
// sections for multi-line edits whose output type says so.
struct TFormAnswer {
  bool section = false;
  std::string name;
  std::string content;
};
std::vector<TFormAnswer> FormAnswers(const TFormModel& form);

}  // namespace kestrix
