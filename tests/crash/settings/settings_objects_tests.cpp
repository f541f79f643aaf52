// Settings objects over real records: this program carries Quorrin's
// settings; helper libraries carry a copy of the library or hand-made
// records.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "crash/report/win/kx_exception_object.h"
#include "crash/settings/win/settings_object.h"
#include "crash/settings/placeholders.h"
#include "crash/settings/settings_file.h"

namespace kestrix {
namespace {

HMODULE Exe() { return GetModuleHandleA(nullptr); }

// Messages of the settings code, caught instead of shown.
std::vector<std::pair<std::string, std::string>> g_messages;
void CatchMessage(const char* text, const char* caption) { g_messages.emplace_back(text, caption); }

template <class F>
F Proc(HMODULE module, const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

HMODULE Load(const char* name) {
  HMODULE m = LoadLibraryA(name);
  EXPECT_TRUE(m) << name;
  return m;
}

// Quorrin's readable settings file, carried as a resource of this program.
std::vector<TRecordProperty> QuorrinFile() {
  HRSRC info = FindResourceA(nullptr, "QUORRIN_SETTINGS", MAKEINTRESOURCEA(10));
  HGLOBAL h = info ? LoadResource(nullptr, info) : nullptr;
  if (!h) return {};
  return ParseSettingsFile(std::string(static_cast<const char*>(LockResource(h)),
                                       SizeofResource(nullptr, info)));
}

KXPtr<TIKXSettings> Object(HMODULE module) { return KXPtr<TIKXSettings>(new TIKXSettings(module)); }

class Settings : public ::testing::Test {
 protected:
  void SetUp() override {
    g_messages.clear();
    previous_ = SetSettingsMessageHandler(CatchMessage);
    SetMainSettings(KXPtr<IKXSettings>());
  }
  void TearDown() override {
    // Undo changes made through setters.
    Object(Exe())->Reload();
    SetMainSettings(KXPtr<IKXSettings>());
    SetSettingsMessageHandler(previous_);
  }
  void UseExeAsMain() { SetMainSettings(SettingsForModule(Exe())); }

  TSettingsMessageHandler previous_ = nullptr;
};

// Every setting of the built-in table reads as Quorrin's file stores it, or
// as the default when the file lacks it.
void ExpectQuorrinValues(TIKXSettings* s) {
  std::vector<TRecordProperty> file = QuorrinFile();
  ASSERT_EQ(file.size(), 120u);
  std::map<std::string, TRecordProperty> stored;
  for (const TRecordProperty& p : file) stored[p.name] = p;
  ASSERT_TRUE(s->IsValid());
  EXPECT_EQ(s->Entry()->count, 120);
  for (const TPropertyEntry& d : kDefaultSettings) {
    SCOPED_TRACE(d.name);
    auto it = stored.find(d.name);
    switch (d.kind) {
      case pkBoolean:
        EXPECT_EQ(s->GetBoolSetting(d.name), it != stored.end() ? it->second.boolValue : d.boolValue != 0);
        break;
      case pkInteger:
        EXPECT_EQ(s->GetIntSetting(d.name), it != stored.end() ? it->second.intValue : d.intValue);
        break;
      default:
        EXPECT_EQ(s->GetRawTextSetting(d.name),
                  it != stored.end() ? it->second.textValue : std::string(d.textValue ? d.textValue : ""));
    }
  }
  for (const char* a : {"Assistant1", "Assistant2", "Assistant3"})
    EXPECT_EQ(s->GetRawTextSetting(a), stored[a].textValue);
}

TEST_F(Settings, ProgramReadsEveryStoredOrBuiltInValue) {
  KXPtr<TIKXSettings> s = Object(Exe());
  ExpectQuorrinValues(s.get());
  // The cases that differ between record and defaults, through typed getters.
  EXPECT_EQ(s->AutoDelay(), 60);        // record lacks it
  EXPECT_EQ(s->MailFrom(), "");         // record lacks it
  EXPECT_EQ(s->FreezeTimeout(), 60000); // default would be 60
  EXPECT_FALSE(s->NoSettings());        // default would be true
  EXPECT_EQ(s->PrepAttMsg(), "Preparing attachments...");
  EXPECT_EQ(s->F1ShowCfg(), 3);
  EXPECT_EQ(s->SmtpPassword(), "");
  EXPECT_FALSE(s->HasMinimalDebugInfo());
  EXPECT_EQ(s->GetRawTextSetting("Assistant2"), "SaveAssistant|Save Assistant|ContactForm|DetailsForm");
  EXPECT_EQ(s->TitleBar(), "kestrix_test.exe");
  EXPECT_EQ(s->BitFaultMsg(), "The file \"kestrix_test.exe\" seems to be corrupt!");
  EXPECT_TRUE(g_messages.empty());
}

TEST_F(Settings, SettersKeepKindsAndCreateMissingSettings) {
  KXPtr<TIKXSettings> s = Object(Exe());
  EXPECT_FALSE(s->SetBoolSetting("FreezeTimeout", true));  // integer setting
  EXPECT_EQ(s->FreezeTimeout(), 60000);
  EXPECT_TRUE(s->SetTextSetting("BrandNew", "x"));
  EXPECT_FALSE(s->SetIntSetting("BrandNew", 1));
  EXPECT_EQ(s->Entry()->count, 121);
  EXPECT_TRUE(s->SetAutoDelay(30));  // only in the defaults: created in the record's entry
  EXPECT_EQ(s->Entry()->count, 122);
  EXPECT_TRUE(s->SetMailAddr(""));
  // The entry is shared: another object sees the changes.
  KXPtr<TIKXSettings> other = Object(Exe());
  EXPECT_EQ(other->AutoDelay(), 30);
  EXPECT_EQ(other->GetTextSetting("BrandNew"), "x");
  EXPECT_EQ(other->MailAddr(), "");
  EXPECT_EQ(other->Entry(), s->Entry());
  // Growing past the first capacity keeps everything.
  for (int i = 0; i < 40; ++i) EXPECT_TRUE(s->SetIntSetting(("Extra" + std::to_string(i)).c_str(), i));
  EXPECT_EQ(other->GetIntSetting("Extra39"), 39);
  EXPECT_EQ(other->FreezeTimeout(), 60000);
  s->Reload();
  EXPECT_EQ(other->AutoDelay(), 60);
  EXPECT_EQ(other->Entry()->count, 120);
  EXPECT_NE(other->MailAddr(), "");
}

TEST_F(Settings, ModuleWithoutRecordFallsBack) {
  KXPtr<TIKXSettings> s = Object(GetModuleHandleA("kernel32.dll"));
  EXPECT_FALSE(s->IsValid());
  EXPECT_EQ(s->FreezeTimeout(), 60);  // no main object yet: built-in default
  EXPECT_FALSE(s->SetAutoSave(false));
  UseExeAsMain();
  EXPECT_EQ(s->FreezeTimeout(), 60000);  // the main object's value
  EXPECT_EQ(s->AutoDelay(), 60);         // the main object's default
  // The process-wide search finds the program.
  EXPECT_EQ(SettingsForModule(GetModuleHandleA("kernel32.dll"))->Module(),
            GetModuleHandleA("kernel32.dll"));
  EXPECT_EQ(SettingsForAddress(reinterpret_cast<void*>(GetProcAddress(
                GetModuleHandleA("kernel32.dll"), "GetTickCount")))->Module(),
            Exe());
  EXPECT_EQ(FindProcessSettings()->Module(), Exe());
}

TEST_F(Settings, NoSettingsDefersToTheProgram) {
  HMODULE m = Load("kx_nosettings.dll");
  KXPtr<TIKXSettings> own = Object(m);
  EXPECT_TRUE(own->IsValid());
  EXPECT_TRUE(own->NoSettings());
  EXPECT_EQ(own->MailAddr(), "own@mod.org");
  EXPECT_EQ(SettingsForModule(m)->Module(), Exe());
  EXPECT_EQ(SettingsForAddress(reinterpret_cast<void*>(GetProcAddress(m, "KxResourceOnly")))->Module(),
            Exe());
  own = nullptr;
  FreeLibrary(m);
}

TEST_F(Settings, DefaultsOnlyForTheMainModule) {
  HMODULE m = Load("kestrix_copy.dll");
  KXPtr<TIKXSettings> s = Object(m);
  ASSERT_TRUE(s->IsValid());
  EXPECT_EQ(s->FreezeTimeout(), 60);  // no main object: defaults apply
  UseExeAsMain();
  EXPECT_EQ(s->FreezeTimeout(), 60000);  // not in this record: the main object's
  EXPECT_EQ(s->MailAddr(), "dll@example.org");
  EXPECT_EQ(SettingsForModule(m)->Module(), m);
  auto settingsModule = Proc<HMODULE (*)(int)>(m, "KxCopySettingsModule");
  ASSERT_TRUE(settingsModule);
  EXPECT_EQ(settingsModule(0), m);      // SettingsForCaller inside the library
  EXPECT_EQ(settingsModule(1), Exe());  // one frame up: this program
  EXPECT_EQ(settingsModule(1000), Exe());  // walking off the chain's end is safe
  EXPECT_EQ(SettingsForCaller(0)->Module(), Exe());
}

TEST_F(Settings, ExceptionObjectsFallBackToTheBuiltInTable) {
  HMODULE m = Load("kestrix_copy.dll");
  UseExeAsMain();
  KXPtr<TIKXSettings> plain = Object(m);
  KXPtr<TIKXException> e(new TIKXException(m, TExceptionCreation()));
  // Missing from the library's record: the plain object inherits the
  // program's value, the exception the built-in default.
  EXPECT_EQ(plain->FreezeTimeout(), 60000);
  EXPECT_EQ(e->FreezeTimeout(), 60);
  EXPECT_TRUE(plain->SaveBtnVis());
  EXPECT_FALSE(e->SaveBtnVis());
  EXPECT_EQ(plain->GetRawTextSetting("SendAssis"), "SendAssistant");
  EXPECT_EQ(e->GetRawTextSetting("SendAssis"), "");
  // In the library's record: its own value.
  EXPECT_EQ(e->MailAddr(), "dll@example.org");
  EXPECT_EQ(e->GetRawTextSetting("Plugins"), "modules");
  // The private list comes first and stays private.
  EXPECT_TRUE(e->SetIntSetting("FreezeTimeout", 5));
  EXPECT_TRUE(e->SetMailAddr("only@this.one"));
  EXPECT_EQ(e->FreezeTimeout(), 5);
  EXPECT_EQ(e->MailAddr(), "only@this.one");
  EXPECT_EQ(plain->FreezeTimeout(), 60000);
  EXPECT_EQ(plain->MailAddr(), "dll@example.org");
  // The program's own exceptions read its record as before.
  KXPtr<TIKXException> own(new TIKXException(Exe(), TExceptionCreation()));
  EXPECT_EQ(own->FreezeTimeout(), 60000);
  EXPECT_EQ(own->AutoDelay(), 60);
}

TEST_F(Settings, UnknownValueTypeKeepsEarlierEntriesAndSaysSo) {
  HMODULE m = Load("kx_badtype.dll");
  KXPtr<TIKXSettings> s = Object(m);
  ASSERT_EQ(g_messages.size(), 1u);
  EXPECT_EQ(g_messages[0].first, "Internal error: Invalid settings resource (1a).");
  EXPECT_EQ(g_messages[0].second, "Kestrix");
  EXPECT_TRUE(s->IsValid());
  EXPECT_EQ(s->Entry()->count, 2);
  EXPECT_TRUE(s->Enabled());
  EXPECT_EQ(s->SmtpPort(), 25);
  KXPtr<TIKXSettings> again = Object(m);  // parsed once per process
  EXPECT_EQ(g_messages.size(), 1u);
  s->Reload();
  EXPECT_EQ(g_messages.size(), 2u);
  s = again = nullptr;
  FreeLibrary(m);

  m = Load("kx_wrongprefix.dll");
  s = Object(m);
  EXPECT_TRUE(s->IsValid());  // the resource exists
  EXPECT_EQ(s->Entry()->count, 0);
  EXPECT_FALSE(s->Enabled());  // built-in default
  EXPECT_EQ(g_messages.size(), 2u);
  s = nullptr;
  FreeLibrary(m);
}

TEST_F(Settings, TwoLibraryCopiesShareOneParsedList) {
  HMODULE m = Load("kestrix_copy.dll");
  auto entry = Proc<void* (*)(HMODULE)>(m, "KxCopyEntry");
  auto setText = Proc<BOOL (*)(HMODULE, const char*, const char*)>(m, "KxCopySetText");
  auto getText = Proc<void (*)(HMODULE, const char*, char*, int)>(m, "KxCopyGetText");
  auto hold = Proc<void (*)()>(m, "KxCopyHold");
  auto drop = Proc<void (*)()>(m, "KxCopyDrop");
  ASSERT_TRUE(entry && setText && getText && hold && drop);

  KXPtr<TIKXSettings> mine = Object(Exe());
  KXPtr<TIKXSettings> dll = Object(m);
  EXPECT_EQ(mine->Entry()->refCount, 1);
  KXPtr<TIKXSettings> second = Object(Exe());
  EXPECT_EQ(mine->Entry()->refCount, 2);
  second = nullptr;
  EXPECT_EQ(entry(Exe()), mine->Entry());
  EXPECT_EQ(mine->Entry()->refCount, 1);  // the copy's object is gone again
  EXPECT_EQ(entry(nullptr), dll->Entry());
  EXPECT_TRUE(setText(Exe(), "MailSubj", "changed by the copy"));
  EXPECT_EQ(mine->MailSubj(), "changed by the copy");
  EXPECT_TRUE(mine->SetMailBody("changed here"));
  char buffer[100];
  getText(Exe(), "MailBody", buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "changed here");
  // The copy's placeholders name its own module.
  getText(nullptr, "Probe", buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "");
  EXPECT_TRUE(setText(nullptr, "Probe", "%modname% in %appname%"));
  getText(nullptr, "Probe", buffer, sizeof buffer);
  EXPECT_STREQ(buffer, "kestrix_copy.dll in kestrix_test.exe");
  // Its password was enciphered by the build step and is plain again here.
  EXPECT_EQ(dll->SmtpPassword(), "p@ss word");
  // A wide text arrives in the code page.
  wchar_t wide[] = L"gr\u00fc\u00dfe";
  char ansi[16] = {};
  WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, sizeof ansi, nullptr, nullptr);
  EXPECT_EQ(dll->GetTextSetting("Wide"), ansi);

  // The buffer lives while any copy holds an entry and goes with the last.
  char name[64];
  wsprintfA(name, "KestrixSettingsBuf$%lx", GetCurrentProcessId());
  hold();
  mine = dll = nullptr;
  HANDLE open = OpenFileMappingA(FILE_MAP_READ, FALSE, name);
  EXPECT_TRUE(open);
  if (open) CloseHandle(open);
  drop();
  open = OpenFileMappingA(FILE_MAP_READ, FALSE, name);
  EXPECT_FALSE(open);
  if (open) CloseHandle(open);
  FreeLibrary(m);
}

// The version text that VersionVar points at.
extern "C" const char kTestVersionText[] = "7.1 (test build)";

TEST_F(Settings, VersionVarAndVersionPlaceholders) {
  KXPtr<TIKXSettings> s = Object(Exe());
  EXPECT_EQ(s->VersionText(), "");
  EXPECT_EQ(s->ExpandText("%appversion%/%MODVERSION%"), "?/?");  // no version resource
  auto offset = static_cast<int32_t>(reinterpret_cast<const char*>(kTestVersionText) -
                                     reinterpret_cast<const char*>(Exe()));
  ASSERT_TRUE(s->SetIntSetting("VersionVar", offset));
  KXPtr<TIKXSettings> versioned = Object(Exe());
  EXPECT_EQ(versioned->VersionText(), "7.1 (test build)");
  EXPECT_EQ(versioned->ExpandText("v%AppVersion%"), "v7.1 (test build)");
  ASSERT_TRUE(s->SetIntSetting("VersionVar", 0x7FFFFFF0));  // outside the image
  EXPECT_EQ(Object(Exe())->VersionText(), "");
  EXPECT_EQ(ExpandPlaceholderText("[%exceptMsg%|%bugReport%]", Exe(), "", "r"), "[Unknown|r]");
  EXPECT_EQ(s->ExpandText("%exceptMsg%"), "%exceptMsg%");  // getters leave it
}

TEST_F(Settings, PluginsFieldsAndAttachments) {
  KXPtr<TIKXSettings> s = Object(Exe());
  EXPECT_TRUE(s->PluginEnabled("Processes"));
  EXPECT_TRUE(s->SetPluginEnabled("processes", false));
  EXPECT_EQ(s->GetRawTextSetting("Plugins"), "modules|hardware");
  EXPECT_TRUE(s->SetPluginEnabled("registry", true));
  EXPECT_EQ(s->GetRawTextSetting("Plugins"), "registry|modules|hardware");
  EXPECT_TRUE(s->PluginEnabled("REGISTRY"));

  EXPECT_EQ(s->AdditionalFields()->ItemCount(), 0);  // built once: empty
  ASSERT_TRUE(s->SetTextSetting("AddFields", "Product=%appname%|Build=42"));
  ASSERT_TRUE(s->SetTextSetting("AddAttachs", "c:\\x.log>x.txt>x.zip>XLog|c:\\y.ini"));
  EXPECT_EQ(s->AdditionalFields()->ItemCount(), 0);  // kept
  KXPtr<TIKXSettings> fresh = Object(Exe());
  KXPtr<IKXFields> fields = fresh->AdditionalFields();
  ASSERT_EQ(fields->ItemCount(), 2);
  EXPECT_EQ(fields->Content("Product"), "kestrix_test.exe");
  EXPECT_EQ(fields.get(), fresh->AdditionalFields().get());
  KXPtr<IKXAttachments> attachments = fresh->AdditionalAttachments();
  ASSERT_EQ(attachments->ItemCount(), 2);
  EXPECT_EQ(attachments->Item(0).zipName, "x.zip");
  EXPECT_EQ(attachments->Item(0).fieldName, "XLog");
  EXPECT_EQ(attachments->Item(1).file, "c:\\y.ini");
  fresh = nullptr;  // the lists outlive the object
  EXPECT_EQ(fields->ItemCount(), 2);
}

// --- assistants ---------------------------------------------------------

class TFakeItem final : public INVItem, public TKXRefCounted {
 public:
  TFakeItem(std::string name, TNVItemKind kind) : name_(std::move(name)), kind_(kind) {}
  KX_IMPLEMENT_REFCOUNT
  bool QueryInterface(const KXIID&, void**) override { return false; }
  std::string Name() override { return name_; }
  TNVItemKind Kind() override { return kind_; }
  bool Enabled() override { return enabled; }
  std::string Text() override { return text; }
  void SetText(const std::string& t) override { text = t; }
  bool Checked() override { return checked; }
  void SetChecked(bool c) override { checked = c; }
  std::string text;
  bool checked = false, enabled = true;

 private:
  std::string name_;
  TNVItemKind kind_;
};

class TFakeForm final : public INVForm, public TKXRefCounted {
 public:
  explicit TFakeForm(std::string name) : name_(std::move(name)) {
    continueBtn = new TFakeItem("ContinueBtn", nvkButton);
    items.push_back(continueBtn);
  }
  KX_IMPLEMENT_REFCOUNT
  bool QueryInterface(const KXIID&, void**) override { return false; }
  std::string Name() override { return name_; }
  int ModalResult() override { return result; }
  int ItemCount() override { return static_cast<int>(items.size()); }
  KXPtr<INVItem> Item(int i) override { return KXPtr<INVItem>(items.at(i).get()); }
  KXPtr<INVItem> ContinueBtn() override { return KXPtr<INVItem>(continueBtn.get()); }
  void SetActiveControl(INVItem* item) override { active = item; }
  KXPtr<INVItem> SkipBtn() override { return {}; }
  KXPtr<INVItem> CancelBtn() override { return {}; }
  KXPtr<INVItem> ActiveControl() override { return KXPtr<INVItem>(active); }
  KXPtr<INVItem> FindItem(const std::string& name, TNVItemKind kind) override {
    for (const KXPtr<TFakeItem>& item : items)
      if (item->Name() == name && item->Kind() == kind) return KXPtr<INVItem>(item.get());
    return {};
  }
  TFakeItem* Add(const std::string& name, TNVItemKind kind) {
    KXPtr<TFakeItem> item(new TFakeItem(name, kind));
    items.push_back(item);
    return item.get();
  }
  int result = 0;
  INVItem* active = nullptr;
  KXPtr<TFakeItem> continueBtn;
  std::vector<KXPtr<TFakeItem>> items;

 private:
  std::string name_;
};

class TFakeAssistant final : public INVAssistant, public TKXRefCounted {
 public:
  KX_IMPLEMENT_REFCOUNT
  bool QueryInterface(const KXIID&, void**) override { return false; }
  std::string Title() override { return title; }
  int PageCount() override { return static_cast<int>(pages.size()); }
  KXPtr<INVForm> Page(int i) override { return KXPtr<INVForm>(pages.at(i).get()); }
  void SetActionHandler(TNVFormAction) override {}
  std::string title;
  std::vector<KXPtr<TFakeForm>> pages;
};

// Builds pages named as asked, with the items of the stored contact form.
struct TLoaderLog {
  HMODULE module;
  std::string title;
  std::vector<std::string> forms;
  KXPtr<TFakeAssistant> assistant;
} g_loaded;

KXPtr<INVAssistant> FakeLoader(HMODULE module, const std::string& title,
                               const std::vector<std::string>& forms, IKXSettings*) {
  KXPtr<TFakeAssistant> a(new TFakeAssistant);
  a->title = title;
  for (const std::string& f : forms) {
    KXPtr<TFakeForm> form(new TFakeForm(f));
    if (f == "ContactForm") {
      form->Add("your name:", nvkLabel);
      form->Add("NameEdit", nvkEdit);
      form->Add("EmailEdit", nvkEdit);
      form->Add("MemCheck", nvkCheckBox);
    }
    a->pages.push_back(form);
  }
  g_loaded = {module, title, forms, a};
  return KXPtr<INVAssistant>(a.get());
}

TEST_F(Settings, AssistantsByNameWithTheScreenshotRule) {
  KXPtr<TIKXSettings> s = Object(Exe());
  KXPtr<INVAssistant> a;
  // The start-up installs the form runtime's loader; without any loader
  // nothing loads.
  TAssistantLoader previous = SetAssistantLoader(nullptr);
  EXPECT_NE(previous, nullptr);
  EXPECT_FALSE(s->LoadAssistantByName("SendAssistant", a));
  SetAssistantLoader(FakeLoader);
  ASSERT_TRUE(s->LoadAssistantByName("sendassistant", a));
  EXPECT_EQ(g_loaded.module, Exe());
  EXPECT_EQ(g_loaded.title, "Send Assistant");
  EXPECT_EQ(g_loaded.forms, (std::vector<std::string>{"ContactForm", "DetailsForm", "ScrShotForm"}));
  ASSERT_TRUE(s->SetScrShotDepth(0));
  ASSERT_TRUE(s->LoadAssistantByName("SendAssistant", a));
  EXPECT_EQ(g_loaded.forms, (std::vector<std::string>{"ContactForm", "DetailsForm"}));
  ASSERT_TRUE(s->LoadAssistantByName("PrintAssistant", a));
  EXPECT_EQ(g_loaded.title, "Print Assistant");
  EXPECT_FALSE(s->LoadAssistantByName("NoSuchAssistant", a));
  EXPECT_FALSE(a);
  // Numbering ends at the first gap.
  ASSERT_TRUE(s->SetTextSetting("Assistant5", "Late|Late|X"));
  EXPECT_FALSE(s->LoadAssistantByName("Late", a));
  SetAssistantLoader(previous);
}

TEST_F(Settings, FormCacheStoresContinuedPagesAndRefills) {
  TAssistantLoader previous = SetAssistantLoader(FakeLoader);
  KXPtr<TIKXSettings> s = Object(Exe());
  KXPtr<INVAssistant> a;
  ASSERT_TRUE(s->LoadAssistantByName("SaveAssistant", a));
  TFakeForm* contact = g_loaded.assistant->pages[0].get();
  contact->items[2]->text = "Ann";
  contact->items[3]->text = "ann@example.org";
  contact->items[4]->checked = true;
  TFakeForm* details = g_loaded.assistant->pages[1].get();
  details->Add("DetailsMemo", nvkEdit)->text = "not stored";
  contact->result = nvmrContinue;
  details->result = nvmrCancel;
  s->StoreFormValues(a.get());

  // Loading again pre-fills the contact page and makes Continue active.
  ASSERT_TRUE(s->LoadAssistantByName("SaveAssistant", a));
  contact = g_loaded.assistant->pages[0].get();
  EXPECT_EQ(contact->items[2]->text, "Ann");
  EXPECT_EQ(contact->items[3]->text, "ann@example.org");
  EXPECT_TRUE(contact->items[4]->checked);
  EXPECT_EQ(contact->active, contact->continueBtn.get());

  // A page with an item the cache lacks is filled but keeps its focus; a
  // disabled Continue button is not made active either.
  KXPtr<TFakeAssistant> other(new TFakeAssistant);
  KXPtr<TFakeForm> partial(new TFakeForm("ContactForm"));
  partial->Add("NameEdit", nvkEdit);
  partial->Add("PhoneEdit", nvkEdit);
  KXPtr<TFakeForm> disabled(new TFakeForm("ContactForm"));
  disabled->Add("NameEdit", nvkEdit);
  disabled->continueBtn->enabled = false;
  other->pages = {partial, disabled};
  s->RestoreFormValues(other.get());
  EXPECT_EQ(partial->items[1]->text, "Ann");
  EXPECT_EQ(partial->active, nullptr);
  EXPECT_EQ(disabled->items[1]->text, "Ann");
  EXPECT_EQ(disabled->active, nullptr);
  // Another object has its own (empty) cache.
  KXPtr<TFakeAssistant> third(new TFakeAssistant);
  KXPtr<TFakeForm> page(new TFakeForm("ContactForm"));
  page->Add("NameEdit", nvkEdit);
  third->pages = {page};
  Object(Exe())->RestoreFormValues(third.get());
  EXPECT_EQ(page->items[1]->text, "");
  SetAssistantLoader(previous);
}

#ifdef QUORRIN_EXE
// The program itself carries the record and its version.
TEST_F(Settings, QuorrinExecutableCarriesRecordAndVersion) {
  std::string path = "Z:" QUORRIN_EXE;
  for (char& c : path)
    if (c == '/') c = '\\';
  if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
    GTEST_SKIP() << "not built: " << path;
  HMODULE m = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_TRUE(m);
  {
    KXPtr<TIKXSettings> s = Object(m);
    SetMainSettings(KXPtr<IKXSettings>(s.get()));  // its defaults apply
    ExpectQuorrinValues(s.get());
    EXPECT_EQ(s->AutoDelay(), 60);
    EXPECT_EQ(s->MailFrom(), "");
    uint32_t ms = 0, ls = 0;
    EXPECT_TRUE(ModuleFileVersion(m, ms, ls));
    EXPECT_EQ(VersionDisplayText("", ms, ls), "1.0.0.0");
    SetMainSettings(KXPtr<IKXSettings>());
  }
  FreeLibrary(m);
}
#endif

}  // namespace
}  // namespace kestrix
