// Assistant pages as data: the stored forms applied, the conversion's rules
// for classes, names and damaged definitions, Continue, gaps and answers.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "report_ui/assistant/form_definition.h"
#include "report_ui/assistant/form_model.h"
#include "report_ui/assistant/form_text.h"

namespace kestrix {
namespace {

TFormModel StoredForm(const std::string& name) {
  std::ifstream in(std::string(KX_FORMS_DIR) + "/" + name + ".kxform", std::ios::binary);
  std::vector<uint8_t> bin = WriteFormDefinition(ParseFormText(std::string(std::istreambuf_iterator<char>(in), {})));
  TFormModel form;
  EXPECT_EQ(ApplyFormDefinition(form, bin.data(), bin.size()), "");
  return form;
}

std::vector<bool> Headings(const TFormModel& form) {
  std::vector<bool> h;
  for (const TFormItem& item : form.items) h.push_back(item.EndsLikeHeading());
  return h;
}

TEST(FormModel, ContactPage) {
  TFormModel form = StoredForm("ContactForm");
  EXPECT_EQ(form.name, "ContactForm");
  EXPECT_EQ(form.message, "Contact Information");
  EXPECT_EQ(form.onAction, "Kestrix.HandleContactForm");
  std::vector<std::string> names;
  for (const TFormItem& item : form.items) names.push_back(item.name);
  EXPECT_EQ(names, (std::vector<std::string>{"ContinueBtn", "SkipBtn", "CancelBtn", "NameLabel", "NameEdit",
                                             "EmailLabel", "EmailEdit", "MemCheck"}));
  EXPECT_EQ(form.items[0].caption, "Continue");
  EXPECT_FALSE(form.items[1].enabled);
  EXPECT_EQ(form.items[static_cast<size_t>(form.Find("memcheck"))].itemClass, TFormItemClass::CheckBox);

  // The mail address is required, the name is not.
  EXPECT_FALSE(form.ContinueAllowed());
  TFormItem& email = form.items[static_cast<size_t>(form.Find("EmailEdit"))];
  email.text = "jo@example.test";
  EXPECT_TRUE(form.ContinueAllowed());
  email.valid = false;
  EXPECT_FALSE(form.ContinueAllowed());

  // label, edit, label, edit, check box
  std::vector<bool> h = Headings(form);
  std::vector<int> gaps;
  for (size_t i = 3; i < form.items.size(); ++i) gaps.push_back(ItemGap(form, i, h));
  EXPECT_EQ(gaps, (std::vector<int>{4, 8, 4, 12, 0}));
}

TEST(FormModel, AnswersOfAPage) {
  TFormModel details = StoredForm("DetailsForm");
  EXPECT_TRUE(FormAnswers(details).empty()) << "an empty memo adds nothing";
  EXPECT_FALSE(details.ContinueAllowed());
  TFormItem& memo = details.items[static_cast<size_t>(details.Find("DetailsMemo"))];
  EXPECT_EQ(memo.lines, 9);
  memo.SetProperty("Text", "clicked open%lf%then it crashed");
  EXPECT_EQ(memo.text, "clicked open\r\nthen it crashed");
  std::vector<TFormAnswer> a = FormAnswers(details);
  ASSERT_EQ(a.size(), 1u);
  EXPECT_TRUE(a[0].section);
  EXPECT_EQ(a[0].name, "error details");

  TFormModel contact = StoredForm("ContactForm");
  contact.items[static_cast<size_t>(contact.Find("NameEdit"))].text = "Jo";
  TFormItem& check = contact.items[static_cast<size_t>(contact.Find("MemCheck"))];
  check.outputName = "remember";
  a = FormAnswers(contact);
  ASSERT_EQ(a.size(), 2u);
  EXPECT_FALSE(a[0].section);
  EXPECT_EQ(a[0].name, "contact name");
  EXPECT_EQ(a[0].content, "Jo");
  EXPECT_EQ(a[1].content, "no");
}

TEST(FormModel, ConversionRules) {
  TFormObject root;
  root.className = "TNVForm";
  root.name = "Odd";
  TFormObject abort;
  abort.className = "XNVButton";  // any first letter
  abort.name = "AbortBtn";
  abort.properties.push_back({"Caption", fvString, 0, "Stop"});
  abort.properties.push_back({"Visible", fvFalse, 0, ""});
  TFormObject label;
  label.className = "TNVLabel";
  label.name = "L";
  label.properties.push_back({"Caption", fvString, 0, "first"});
  label.properties.push_back({"Unknown", fvInt8, 3, ""});
  TFormObject foreign;
  foreign.className = "TPanel";  // not an item: its properties are the form's
  foreign.name = "P";
  foreign.properties.push_back({"MinWidth", fvInt16, 400, ""});
  root.children = {abort, label, foreign};
  std::vector<uint8_t> bin = WriteFormDefinition(root);
  TFormModel form;
  EXPECT_EQ(ApplyFormDefinition(form, bin.data(), bin.size()), "");
  ASSERT_EQ(form.items.size(), 4u);
  EXPECT_EQ(form.items[2].caption, "Stop");
  EXPECT_FALSE(form.items[2].visible);
  EXPECT_EQ(form.items[3].caption, "first");
  EXPECT_EQ(form.minWidth, 400);
  EXPECT_EQ(form.name, "Odd");

  // A value of an unknown type: what came before stays.
  std::vector<uint8_t> bad = bin;
  size_t unknown = std::string(bad.begin(), bad.end()).find("Unknown");
  bad[unknown + 7] = 0x0b;
  TFormModel partial;
  EXPECT_EQ(ApplyFormDefinition(partial, bad.data(), bad.size()), "Internal error: Invalid assistant resource (0b).");
  ASSERT_EQ(partial.items.size(), 4u);
  EXPECT_EQ(partial.items[3].caption, "first");

  // No definition: the three buttons with their default captions.
  TFormModel empty;
  EXPECT_EQ(ApplyFormDefinition(empty, "", 0), "");
  ASSERT_EQ(empty.items.size(), 3u);
  EXPECT_EQ(empty.items[0].caption, "Next >");
  EXPECT_TRUE(empty.ContinueAllowed());
  EXPECT_TRUE(FormBool("YES") && FormBool("True") && FormBool("1") && !FormBool("0") && !FormBool("on"));
}

}  // namespace
}  // namespace kestrix
