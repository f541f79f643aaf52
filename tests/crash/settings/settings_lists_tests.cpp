// Lists inside text settings, placeholder expansion and the field and
// attachment lists: the portable parts of the settings objects.
#include <gtest/gtest.h>

#include "kestrix/fields.h"
#include "crash/base/normalised_fields.h"
#include "crash/settings/placeholders.h"
#include "crash/settings/settings_lists.h"

namespace kestrix {
namespace {

TEST(SettingsLists, CountAndItems) {
  EXPECT_EQ(ListCount(""), 0);
  EXPECT_EQ(ListCount("a"), 1);
  EXPECT_EQ(ListCount("a||b|"), 4);
  EXPECT_EQ(ListItem("a||b|", 1), "a");
  EXPECT_EQ(ListItem("a||b|", 2), "");
  EXPECT_EQ(ListItem("a||b|", 3), "b");
  EXPECT_EQ(ListItem("a||b|", 5), "");
  EXPECT_EQ(ListItem("a||b|", 0), "");
  EXPECT_EQ(ListItem("x=y", 2, '='), "y");
  EXPECT_EQ(ListItems("a|b").size(), 2u);
}

TEST(SettingsLists, NormaliseTrimsEndsAndBlanksAtSeparators) {
  EXPECT_EQ(NormaliseList(" ,\tEDBEditError , EFoo ,\r\n", ','), "EDBEditError,EFoo");
  EXPECT_EQ(NormaliseList("|a b | c|"), "a b|c");
  EXPECT_EQ(NormaliseList("  "), "");
}

TEST(SettingsLists, PluginListEdits) {
  std::string list = "modules|processes|hardware";
  EXPECT_TRUE(ListContains(list, "PROCESSES"));
  EXPECT_FALSE(ListContains(list, "process"));
  EXPECT_EQ(SetPluginInList(list, "Registry", true), "Registry|modules|processes|hardware");
  EXPECT_EQ(SetPluginInList(list, "Modules", true), list);  // already there
  EXPECT_EQ(SetPluginInList("", "x", true), "x");
  EXPECT_EQ(SetPluginInList(list, "PROCESSES", false), "modules|hardware");
  EXPECT_EQ(SetPluginInList(list, "modules", false), "processes|hardware");
  EXPECT_EQ(SetPluginInList(list, "hardware", false), "modules|processes");
  EXPECT_EQ(SetPluginInList("modules", "modules", false), "");
  EXPECT_EQ(SetPluginInList("a|a|b|a", "a", false), "b");  // adjacent repeats too
  EXPECT_EQ(SetPluginInList(list, "nothere", false), list);
}

TEST(SettingsLists, ScreenshotFormIsDropped) {
  EXPECT_EQ(DropListItem("SendAssistant|Send Assistant|ContactForm|DetailsForm|ScrShotForm",
                         "ScrShotForm"),
            "SendAssistant|Send Assistant|ContactForm|DetailsForm");
  EXPECT_EQ(DropListItem("A|T|scrshotform|B", "ScrShotForm"), "A|T|B");
  EXPECT_EQ(DropListItem("A|T|ScrShotFormX", "ScrShotForm"), "A|T|ScrShotFormX");
}

TEST(SettingsLists, AdditionalAttachmentsAndFields) {
  auto attachments = ParseAdditionalAttachments("c:\\a.log>a.txt>logs.zip>Log|d.ini||e.dat>e");
  ASSERT_EQ(attachments.size(), 3u);
  EXPECT_EQ(attachments[0].file, "c:\\a.log");
  EXPECT_EQ(attachments[0].sendAs, "a.txt");
  EXPECT_EQ(attachments[0].zipName, "logs.zip");
  EXPECT_EQ(attachments[0].fieldName, "Log");
  EXPECT_EQ(attachments[1].file, "d.ini");
  EXPECT_EQ(attachments[1].sendAs, "");
  EXPECT_EQ(attachments[2].sendAs, "e");

  auto fields = ParseAdditionalFields("Product=Quorrin|Query=a=b|Empty");
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields[0], (std::pair<std::string, std::string>("Product", "Quorrin")));
  EXPECT_EQ(fields[1].second, "a=b");  // content keeps its own "="
  EXPECT_EQ(fields[2].first, "Empty");
  EXPECT_EQ(fields[2].second, "");
}

class TFixedSource final : public TPlaceholderSource {
 public:
  int asked = 0;
  std::string AppName() override { return ++asked, "quorrin.exe"; }
  std::string ModName() override { return ++asked, "plugin.dll"; }
  std::string AppVersion() override { return ++asked, "1.0.0.0"; }
  std::string ModVersion() override { return ++asked, "?"; }
  TLocalTime Now() override { return {2026, 3, 4, 9, 5, 3, 7}; }
};

TEST(Placeholders, ExpandInOrderIgnoringCase) {
  TFixedSource source;
  EXPECT_EQ(ExpandPlaceholders("no placeholders", source, "m", "r"), "no placeholders");
  EXPECT_EQ(source.asked, 0);
  EXPECT_EQ(ExpandPlaceholders("%APPNAME% / %ModName% %appversion% %modversion%", source, "", ""),
            "quorrin.exe / plugin.dll 1.0.0.0 ?");
  EXPECT_EQ(ExpandPlaceholders("[%exceptmsg%]%lf%%BugReport%", source, "", "R"), "[Unknown]\r\nR");
  EXPECT_EQ(ExpandPlaceholders("%exceptMsg%", source, "boom", ""), "boom");
  EXPECT_EQ(ExpandPlaceholders("%date%|%time%|%datetime%", source, "", ""),
            "2026-03-04|09:05:03, 7ms|2026-03-04, 09:05:03, 7ms");
  // Later placeholders are expanded inside earlier values (fixed order).
  EXPECT_EQ(ExpandPlaceholders("%exceptMsg%", source, "a%LF%b", ""), "a\r\nb");
  EXPECT_EQ(ExpandPlaceholders("%bugReport%", source, "", "%appname%"), "%appname%");
}

TEST(Placeholders, TimeAndVersionTexts) {
  EXPECT_EQ(FormatTime({2026, 1, 1, 23, 59, 59, 999}), "23:59:59, 999ms");
  EXPECT_EQ(FormatTime({2026, 1, 1, 0, 0, 0, 0}), "00:00:00, 0ms");
  EXPECT_EQ(VersionDisplayText("", 0x00010002, 0x00030004), "1.2.3.4");
  EXPECT_EQ(VersionDisplayText("", 0, 0), "?");
  EXPECT_EQ(VersionDisplayText("2.0 beta", 0x00010000, 0), "2.0 beta");
}

class TChangeCounter final : public IKXChangeSink {
 public:
  int begun = 0, ended = 0;
  void BeginReportChange() override { ++begun; }
  void EndReportChange() override { ++ended; }
};

std::string TrimBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return std::string(s);
}

TEST(Fields, NormalisedListStoresNormalFormsOnly) {
  KXPtr<IKXFields> f = NewNormalisedFields(TrimBlanks);
  TChangeCounter sink;
  f->SetChangeSink(&sink);
  f->Add("a", " 1 ");
  f->Add("empty", "   ");
  EXPECT_FALSE(f->Insert(0, "blank", " "));
  EXPECT_TRUE(f->Insert(0, "first", " x"));
  EXPECT_EQ(f->ItemCount(), 2);
  EXPECT_EQ(f->Content("a"), "1");
  EXPECT_EQ(f->Content("first"), "x");
  f->SetInsertionIndex(1);
  f->SetContent("b", "  two");
  EXPECT_EQ(f->Name(1), "b");
  EXPECT_EQ(f->Content("b"), "two");
  f->SetContent("first", " ");  // removes it; the insertion index follows
  EXPECT_EQ(f->FindItem("first"), -1);
  EXPECT_EQ(f->InsertionIndex(), 1);
  f->SetContent("never", "");
  EXPECT_EQ(f->FindItem("never"), -1);
  EXPECT_FALSE(f->Clone()->Insert(0, "c", " ")) << "a clone keeps the normal form";
  EXPECT_EQ(sink.begun, sink.ended);
  f->SetChangeSink(nullptr);
}

TEST(Fields, OrderedNameContentList) {
  KXPtr<IKXFields> f = NewFields();
  TChangeCounter sink;
  f->SetChangeSink(&sink);
  f->Add("a", "1");
  f->SetContent("b", "2");
  f->SetContent("a", "one");  // replaces
  EXPECT_EQ(f->ItemCount(), 2);
  EXPECT_EQ(f->Content("a"), "one");
  EXPECT_EQ(f->FindItem("A"), -1);  // exact
  f->SetInsertionIndex(1);
  f->SetContent("x", "inserted");
  f->SetContent("y", "after x");
  EXPECT_EQ(f->Name(1), "x");
  EXPECT_EQ(f->Name(2), "y");
  EXPECT_EQ(f->Name(3), "b");
  EXPECT_EQ(f->InsertionIndex(), 3);
  EXPECT_TRUE(f->Insert(0, "first", ""));
  EXPECT_EQ(f->InsertionIndex(), 4);
  EXPECT_TRUE(f->DeleteByName("x"));
  EXPECT_EQ(f->InsertionIndex(), 3);
  EXPECT_FALSE(f->Delete(10));
  EXPECT_FALSE(f->Insert(10, "n", "c"));
  EXPECT_EQ(f->Name(-1), "");
  EXPECT_EQ(sink.begun, sink.ended);
  EXPECT_GE(sink.begun, 8);

  KXPtr<IKXFields> copy = f->Clone();
  f->SetChangeSink(nullptr);
  f->Add("late", "");
  EXPECT_EQ(copy->ItemCount(), f->ItemCount() - 1);
  EXPECT_EQ(copy->Content("y"), "after x");
}

TEST(Attachments, KeepOrderAndAllFourFields) {
  KXPtr<IKXAttachments> a = NewAttachments();
  a->Add("c:\\f1", "one.txt", "z.zip", "F1");
  a->Add("c:\\f2", "", "", "");
  ASSERT_EQ(a->ItemCount(), 2);
  TAttachment first = a->Item(0);
  EXPECT_EQ(first.file, "c:\\f1");
  EXPECT_EQ(first.sendAs, "one.txt");
  EXPECT_EQ(first.zipName, "z.zip");
  EXPECT_EQ(first.fieldName, "F1");
  KXPtr<IKXAttachments> copy = a->Clone();
  EXPECT_TRUE(a->Delete(0));
  EXPECT_EQ(a->Item(0).file, "c:\\f2");
  EXPECT_EQ(copy->ItemCount(), 2);
  a->Clear();
  EXPECT_EQ(a->ItemCount(), 0);
}

}  // namespace
}  // namespace kestrix
