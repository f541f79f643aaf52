// Assistant pages as data (see form_model.h).
#include "report_ui/assistant/form_model.h"

#include <cstdlib>

#include "report_ui/assistant/form_definition.h"

namespace kestrix {

const char* const kFormButtonNames[3] = {"ContinueBtn", "SkipBtn", "CancelBtn"};

namespace {

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool Same(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

int Int(const std::string& v) { return atoi(v.c_str()); }

std::string LineBreaks(const std::string& stored) {
  std::string out;
  for (size_t i = 0; i < stored.size();) {
    if (stored.compare(i, 4, "%lf%") == 0) {
      out += "\r\n";
      i += 4;
    } else {
      out += stored[i++];
    }
  }
  return out;
}

bool ClassOf(const std::string& storedClass, TFormItemClass& itemClass) {
  if (storedClass.empty()) return false;
  std::string name = "T" + storedClass.substr(1);
  static const struct {
    const char* name;
    TFormItemClass itemClass;
  } kClasses[] = {{"TNVButton", TFormItemClass::Button},
                  {"TNVLabel", TFormItemClass::Label},
                  {"TNVEdit", TFormItemClass::Edit},
                  {"TNVCheckBox", TFormItemClass::CheckBox},
                  {"TNVImage", TFormItemClass::Image}};
  for (const auto& c : kClasses)
    if (name == c.name) return itemClass = c.itemClass, true;
  return false;
}

void ApplyObject(TFormModel& form, const TFormObject& object) {
  std::string name = object.name == "AbortBtn" ? "CancelBtn" : object.name;
  TFormItemClass itemClass;
  TFormItem* item = nullptr;
  if (ClassOf(object.className, itemClass)) {
    int standard = -1;
    for (int k = 0; k < 3; ++k)
      if (Same(name, kFormButtonNames[k])) standard = k;
    if (itemClass == TFormItemClass::Button && standard >= 0) {
      item = &form.items[static_cast<size_t>(standard)];
    } else {
      TFormItem added;
      added.itemClass = itemClass;
      added.name = name;
      form.items.push_back(added);
      item = &form.items.back();
    }
  } else if (form.name.empty()) {
    form.name = name;
  }
  for (const TFormProperty& p : object.properties) {
    if (item)
      item->SetProperty(p.name, p.ValueText());
    else
      form.SetProperty(p.name, p.ValueText());
  }
}

void ApplyTree(TFormModel& form, const TFormObject& object) {
  ApplyObject(form, object);
  for (const TFormObject& child : object.children) ApplyTree(form, child);
}

}  // namespace

bool FormBool(const std::string& value) {
  std::string v = Lower(value);
  return v == "yes" || v == "true" || v == "1";
}

bool TFormItem::SetProperty(const std::string& prop, const std::string& value) {
  std::string p = Lower(prop);
  if (p == "spacing") return spacing = Int(value), true;
  if (p == "enabled") return enabled = FormBool(value), true;
  if (p == "outputtype") return ownSection = Lower(value).find("ownsection") != std::string::npos, true;
  if (p == "outputname") return outputName = value, true;
  switch (itemClass) {
    case TFormItemClass::Button:
      if (p == "caption") return caption = value, true;
      if (p == "minwidth") return minWidth = Int(value), true;
      if (p == "noownerdraw") return noOwnerDraw = FormBool(value), true;
      if (p == "visible") return visible = FormBool(value), true;
      return false;
    case TFormItemClass::Label:
      if (p == "caption") return caption = value, true;
      return false;
    case TFormItemClass::Edit:
      if (p == "text") return text = LineBreaks(value), true;
      if (p == "lines") return lines = Int(value) < 1 ? 1 : Int(value), true;
      if (p == "optional") return optional = FormBool(value), true;
      if (p == "colored") return colored = FormBool(value), true;
      if (p == "valid") return valid = FormBool(value), true;
      return false;
    case TFormItemClass::CheckBox:
      if (p == "caption") return caption = value, true;
      if (p == "checked") return checked = FormBool(value), true;
      return false;
    case TFormItemClass::Image:
      if (p == "file") return file = value, true;
      if (p == "width") return width = Int(value), true;
      if (p == "height") return height = Int(value), true;
      if (p == "clickable") return clickable = FormBool(value), true;
      if (p == "border") return border = FormBool(value), true;
      return false;
  }
  return false;
}

bool TFormItem::AllowsContinue() const {
  if (itemClass != TFormItemClass::Edit) return true;
  return optional || (!text.empty() && valid);
}

bool TFormItem::EndsLikeHeading() const {
  const std::string& c = caption.empty() ? name : caption;
  return itemClass == TFormItemClass::Label && !c.empty() && (c.back() == ':' || c.back() == '?');
}

TFormModel::TFormModel() {
  const char* captions[3] = {"Next >", "Skip", "Cancel"};
  for (int k = 0; k < 3; ++k) {
    TFormItem button;
    button.itemClass = TFormItemClass::Button;
    button.name = kFormButtonNames[k];
    button.caption = captions[k];
    items.push_back(button);
  }
}

bool TFormModel::SetProperty(const std::string& prop, const std::string& value) {
  std::string p = Lower(prop);
  if (p == "message") return message = value, true;
  if (p == "minwidth") return minWidth = Int(value), true;
  if (p == "activecontrol") return activeControl = value, true;
  if (p == "timer") return timer = Int(value), true;
  if (p == "onaction") return onAction = value, true;
  return false;
}

int TFormModel::Find(const std::string& itemName) const {
  for (size_t i = 0; i < items.size(); ++i)
    if (Same(items[i].name, itemName)) return static_cast<int>(i);
  return -1;
}

bool TFormModel::ContinueAllowed() const {
  for (const TFormItem& item : items)
    if (!item.AllowsContinue()) return false;
  return true;
}

std::string ApplyFormDefinition(TFormModel& form, const void* data, size_t size) {
  TFormReadResult r = ReadFormDefinition(data, size);
  if (!r.root.className.empty()) ApplyTree(form, r.root);
  return r.valid ? std::string() : r.error;
}

int ItemGap(const TFormModel& form, size_t i, const std::vector<bool>& heading) {
  const std::vector<TFormItem>& items = form.items;
  auto isHeading = [&](size_t k) { return k < heading.size() && heading[k]; };
  if (items[i].spacing != 0) return items[i].spacing;
  if (i + 1 >= items.size()) return 0;
  if (isHeading(i)) return 4;
  TFormItemClass cls = items[i].itemClass;
  if (items[i + 1].itemClass == cls) {
    if (cls == TFormItemClass::Button) return 4;
    if (cls == TFormItemClass::Edit) return 6;
    return 8;
  }
  if (isHeading(i + 1) && i >= 1 && isHeading(i - 1) && i + 2 < items.size() && items[i + 2].itemClass == cls)
    return 8;
  return 12;
}

std::vector<TFormAnswer> FormAnswers(const TFormModel& form) {
  std::vector<TFormAnswer> out;
  for (const TFormItem& item : form.items) {
    if (item.outputName.empty()) continue;
    if (item.itemClass == TFormItemClass::Edit && !item.text.empty()) {
      out.push_back({item.ownSection && item.lines > 1, item.outputName, item.text});
    } else if (item.itemClass == TFormItemClass::CheckBox) {
      out.push_back({false, item.outputName, item.checked ? "yes" : "no"});
    }
  }
  return out;
}

}  // namespace kestrix
