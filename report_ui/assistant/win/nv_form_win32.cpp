// Pages, items and assistants as objects; the loader over the module's
// resources; handler lookup by name; the contact page's handler.
#include "report_ui/assistant/win/nv_form.h"

#include <mutex>
#include <type_traits>

#include "crash/base/win/scoped_handle.h"
#include "crash/settings/win/settings_object.h"
#include "kestrix/exception_object.h"
#include "report_ui/assistant/form_definition.h"
#include "report_ui/assistant/mail_address.h"

namespace kestrix {

namespace {

void ShowErrorBox(const std::string& text) { MessageBoxA(nullptr, text.c_str(), "Kestrix", MB_ICONERROR | MB_TASKMODAL); }

// The assistants' state. Constant-initialized and never destroyed.
struct TAssistantState {
  // Finds the handler of an action by name: registered by the start-up.
  TNVActionResolver resolver = nullptr;
  TNVAssistantHook assistantHook = nullptr;  // the program's, SetAssistantHook
  // Where errors in a form's definition go: replaced by tests.
  TFormErrorReporter errorReporter = ShowErrorBox;
};
constinit TAssistantState g_state;
static_assert(std::is_trivially_destructible_v<TAssistantState>, "no destructor runs at the process's end");

TNVItemKind KindOf(TFormItemClass c) {
  switch (c) {
    case TFormItemClass::Button: return nvkButton;
    case TFormItemClass::Label: return nvkLabel;
    case TFormItemClass::Edit: return nvkEdit;
    case TFormItemClass::CheckBox: return nvkCheckBox;
    case TFormItemClass::Image: return nvkImage;
  }
  return nvkOther;
}

// An item of a page: the page and the item's index.
class TNVItemRef final : public INVItem, public TKXRefCounted {
 public:
  TNVItemRef(TNVForm* form, int index) : form_(form), index_(index) {}
  bool QueryInterface(const KXIID&, void**) override { return false; }
  KX_IMPLEMENT_REFCOUNT

  std::string Name() override { return Item().name; }
  TNVItemKind Kind() override { return KindOf(Item().itemClass); }
  bool Enabled() override { return Item().enabled; }
  std::string Text() override { return form_->ItemText(index_); }
  void SetText(const std::string& text) override { form_->SetItemText(index_, text); }
  bool Checked() override { return form_->ItemChecked(index_); }
  void SetChecked(bool checked) override { form_->SetItemChecked(index_, checked); }
  int Index() const { return index_; }

 private:
  TFormItem& Item() { return form_->Model().items[static_cast<size_t>(index_)]; }
  KXPtr<TNVForm> form_;
  int index_;
};

bool SameText(const std::string& a, const std::string& b) { return lstrcmpiA(a.c_str(), b.c_str()) == 0; }

TNVActionHandler BuiltInHandler(const std::string& name) {
  if (SameText(name, "Kestrix.HandleContactForm")) return HandleContactForm;
  if (SameText(name, "Kestrix.HandleScreenshotForm")) return HandleScreenshotForm;
  return nullptr;
}

std::string ResourceText(HMODULE module, const std::string& formName) {
  HRSRC found = FindResourceA(module, FormResourceName(formName).c_str(), MAKEINTRESOURCEA(10));  // RT_RCDATA
  if (!found) return {};
  HGLOBAL loaded = LoadResource(module, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  DWORD size = SizeofResource(module, found);
  return data ? std::string(static_cast<const char*>(data), size) : std::string();
}

constexpr char kContactKey[] = "Software\\Vemtor\\ContactForm";

std::string ReadUserValue(const char* name) {
  TScopedRegistryKey key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kContactKey, 0, KEY_READ, key.Receive()) != ERROR_SUCCESS) return {};
  char buffer[1024];
  DWORD size = sizeof buffer - 1, type = 0;
  std::string value;
  if (RegQueryValueExA(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) == ERROR_SUCCESS &&
      type == REG_SZ) {
    buffer[size] = 0;
    value = buffer;
  }
  return value;
}

void WriteUserValues(const std::string& name, const std::string& email, bool keep) {
  TScopedRegistryKey key;
  if (keep) {
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kContactKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.Receive(), nullptr) !=
        ERROR_SUCCESS)
      return;
    RegSetValueExA(key.Get(), "RememberName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                   static_cast<DWORD>(name.size() + 1));
    RegSetValueExA(key.Get(), "RememberEmail", 0, REG_SZ, reinterpret_cast<const BYTE*>(email.c_str()),
                   static_cast<DWORD>(email.size() + 1));
  } else {
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kContactKey, 0, KEY_WRITE, key.Receive()) != ERROR_SUCCESS) return;
    RegDeleteValueA(key.Get(), "RememberName");
    RegDeleteValueA(key.Get(), "RememberEmail");
  }
}

}  // namespace

void SetFormActionResolver(TNVActionResolver resolver) { g_state.resolver = resolver; }
void SetAssistantHook(TNVAssistantHook hook) { g_state.assistantHook = hook; }

TFormErrorReporter SetFormErrorReporter(TFormErrorReporter reporter) {
  TFormErrorReporter old = g_state.errorReporter;
  g_state.errorReporter = reporter ? reporter : ShowErrorBox;
  return old;
}

// --- TNVForm -----------------------------------------------------------------

TNVForm::TNVForm(HMODULE module, const std::string& name, const std::string& definition, IKXSettings* exception)
    : module_(module), exception_(exception) {
  model_.name = name;
  definitionError_ = ApplyFormDefinition(model_, definition.data(), definition.size());
  if (!definitionError_.empty()) g_state.errorReporter(definitionError_);
  handler_ = BuiltInHandler(model_.onAction);
  // Other names are functions of the module's debug-info map.
  if (!handler_ && !model_.onAction.empty() && g_state.resolver)
    programHandler_ = g_state.resolver(module, model_.onAction);
}

KXPtr<TNVForm> TNVForm::Create(HMODULE module, const std::string& name, const std::string& definition,
                               IKXSettings* exception) {
  KXPtr<TNVForm> form(new TNVForm(module, name, definition, exception));
  form->Fire(nvaCreated, nullptr);
  return form;
}

TNVForm::~TNVForm() { ReleaseUserData(); }

KXPtr<INVItem> TNVForm::Item(int index) {
  if (index < 0 || index >= ItemCount()) return {};
  return KXPtr<INVItem>(new TNVItemRef(this, index));
}

KXPtr<INVItem> TNVForm::ItemByName(const std::string& name) { return Item(model_.Find(name)); }

void TNVForm::SetActiveControl(INVItem* item) { model_.activeControl = item ? item->Name() : std::string(); }

KXPtr<INVItem> TNVForm::ActiveControl() {
  return model_.activeControl.empty() ? KXPtr<INVItem>() : ItemByName(model_.activeControl);
}

KXPtr<INVItem> TNVForm::FindItem(const std::string& name, TNVItemKind kind) {
  KXPtr<INVItem> item = ItemByName(name);
  return item && item->Kind() == kind ? item : KXPtr<INVItem>();
}

void TNVForm::SetUserData(void* data, void (*release)(void*)) {
  ReleaseUserData();
  userData_ = data;
  releaseUserData_ = release;
}

void TNVForm::ReleaseUserData() {
  if (userData_ && releaseUserData_) releaseUserData_(userData_);
  userData_ = nullptr;
  releaseUserData_ = nullptr;
}

void TNVForm::Fire(int action, INVItem* item) {
  // A handler's fault must not leave the page's window procedure.
  try {
    if (handler_) handler_(this, action, item, exception_);
    else if (programHandler_) programHandler_(this, action, item, exception_);
  } catch (...) {
  }
  try {
    if (owner_ && owner_->ActionHandler()) owner_->ActionHandler()(this, action, item, exception_);
  } catch (...) {
  }
}

std::string TNVForm::ItemText(int index) {
  if (index < 0 || index >= ItemCount()) return {};
  TFormItem& item = model_.items[static_cast<size_t>(index)];
  return item.itemClass == TFormItemClass::Edit ? item.text : item.caption;
}

void TNVForm::SetItemText(int index, const std::string& text) {
  if (index < 0 || index >= ItemCount()) return;
  TFormItem& item = model_.items[static_cast<size_t>(index)];
  (item.itemClass == TFormItemClass::Edit ? item.text : item.caption) = text;
  HWND w = static_cast<size_t>(index) < itemWindows_.size() ? itemWindows_[static_cast<size_t>(index)] : nullptr;
  if (w) SetWindowTextA(w, text.c_str());
}

bool TNVForm::ItemChecked(int index) {
  return index >= 0 && index < ItemCount() && model_.items[static_cast<size_t>(index)].checked;
}

void TNVForm::SetItemChecked(int index, bool checked) {
  if (index < 0 || index >= ItemCount()) return;
  model_.items[static_cast<size_t>(index)].checked = checked;
  HWND w = static_cast<size_t>(index) < itemWindows_.size() ? itemWindows_[static_cast<size_t>(index)] : nullptr;
  if (w) SendMessageA(w, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TNVForm::SetItemValid(int index, bool valid) {
  if (index < 0 || index >= ItemCount()) return;
  model_.items[static_cast<size_t>(index)].valid = valid;
  if (window_) {
    HWND w = static_cast<size_t>(index) < itemWindows_.size() ? itemWindows_[static_cast<size_t>(index)] : nullptr;
    if (w) InvalidateRect(w, nullptr, TRUE);
    PostMessageA(window_, WM_APP, 0, 0);  // re-checks Continue
  }
}

KXPtr<imaging::INVBitmap> TNVForm::ItemBitmap(int index) {
  if (index < 0 || static_cast<size_t>(index) >= bitmaps_.size()) return {};
  return bitmaps_[static_cast<size_t>(index)];
}

void TNVForm::SetItemBitmap(int index, const KXPtr<imaging::INVBitmap>& bitmap) {
  if (index < 0 || index >= ItemCount()) return;
  if (bitmaps_.size() < model_.items.size()) bitmaps_.resize(model_.items.size());
  bitmaps_[static_cast<size_t>(index)] = bitmap;
  if (window_) PostMessageA(window_, WM_APP + 1, static_cast<WPARAM>(index), 0);  // shows it
}

// --- TNVAssistant -----------------------------------------------------------

KXPtr<INVForm> TNVAssistant::Page(int index) {
  if (index < 0 || index >= PageCount()) return {};
  return KXPtr<INVForm>(forms_[static_cast<size_t>(index)].get());
}

KXPtr<TNVForm> TNVAssistant::PageByName(const std::string& name) {
  for (const KXPtr<TNVForm>& f : forms_)
    if (SameText(f->Name(), name)) return f;
  return {};
}

void TNVAssistant::Add(const KXPtr<TNVForm>& form) {
  form->SetOwner(this);
  forms_.push_back(form);
}

TNVAssistant::~TNVAssistant() {
  for (const KXPtr<TNVForm>& f : forms_) f->SetOwner(nullptr);
}

int TNVAssistant::RunModal(HWND owner) {
  bool ownerWasEnabled = owner && IsWindowEnabled(owner);
  if (owner) EnableWindow(owner, FALSE);
  modalResult_ = nvmrContinue;
  for (size_t i = 0; i < forms_.size(); ++i) {
    forms_[i]->SetPosition(static_cast<int>(i), PageCount());
    forms_[i]->SetTitle(title_);
    if (forms_[i]->RunModal(owner) == nvmrCancel) {
      modalResult_ = nvmrCancel;
      break;
    }
  }
  if (owner && ownerWasEnabled) {
    EnableWindow(owner, TRUE);
    SetActiveWindow(owner);
  }
  return modalResult_;
}

KXPtr<INVAssistant> LoadAssistant(HMODULE module, const std::string& title, const std::vector<std::string>& forms,
                                  IKXSettings* exception) {
  KXPtr<TNVAssistant> assistant(new TNVAssistant(title, exception));
  for (size_t i = 0; i < forms.size(); ++i) {
    KXPtr<TNVForm> form = TNVForm::Create(module, forms[i], ResourceText(module, forms[i]), exception);
    form->SetTitle(title);
    form->SetPosition(static_cast<int>(i), static_cast<int>(forms.size()));
    assistant->Add(form);
  }
  if (g_state.assistantHook) {
    try {
      g_state.assistantHook(assistant.get(), exception);
    } catch (...) {
    }
  }
  return KXPtr<INVAssistant>(assistant.get());
}

void RegisterAssistantLoader() { SetAssistantLoader(LoadAssistant); }

std::vector<TFormAnswer> AssistantAnswers(TNVAssistant* assistant) {
  std::vector<TFormAnswer> out;
  if (!assistant || assistant->ModalResult() != nvmrContinue) return out;
  for (int i = 0; i < assistant->PageCount(); ++i) {
    KXPtr<INVForm> page = assistant->Page(i);
    auto* form = static_cast<TNVForm*>(page.get());
    if (form->ModalResult() != nvmrContinue) continue;
    std::vector<TFormAnswer> answers = FormAnswers(form->Model());
    out.insert(out.end(), answers.begin(), answers.end());
  }
  return out;
}

void PutAnswersIntoReport(TNVAssistant* assistant, IKXSettings* settings) {
  IKXException* raw = nullptr;
  if (!settings || !settings->QueryInterface(IKXException::IID, reinterpret_cast<void**>(&raw)) || !raw) return;
  KXPtr<IKXException> exception = KXPtr<IKXException>::Adopt(raw);
  const std::vector<TFormAnswer> answers = AssistantAnswers(assistant);
  if (answers.empty()) return;
  KXPtr<IKXFields> header = exception->ReportHeader(), sections = exception->ReportSections();
  // One change of the report: its listeners (the dialog) hear of it once.
  exception->BeginReportChange();
  try {
    for (const TFormAnswer& a : answers) {
      IKXFields* target = a.section ? sections.get() : header.get();
      if (target) target->SetContent(a.name, a.content);
    }
  } catch (...) {
    exception->EndReportChange();
    throw;
  }
  exception->EndReportChange();
}

int RunReportAssistant(TIKXSettings* settings, const std::string& name, HWND owner) {
  KXPtr<INVAssistant> loaded;
  if (!settings || name.empty() || !settings->LoadAssistantByName(name, loaded) || !loaded) return -1;
  auto* assistant = dynamic_cast<TNVAssistant*>(loaded.get());
  if (!assistant) return -1;
  const int result = assistant->RunModal(owner);
  if (result == nvmrContinue) PutAnswersIntoReport(assistant, settings);
  settings->StoreFormValues(assistant);  // the pages left with Continue
  return result;
}

// --- the contact page --------------------------------------------------------

void HandleContactForm(TNVForm* form, int action, INVItem* item, IKXSettings* exception) {
  TFormModel& m = form->Model();
  int name = m.Find("NameEdit"), email = m.Find("EmailEdit"), remember = m.Find("MemCheck");
  switch (action) {
    case nvaCreated: {
      std::string keptName = ReadUserValue("RememberName"), keptEmail = ReadUserValue("RememberEmail");
      if (keptName.empty() && keptEmail.empty()) return;
      form->SetItemText(name, keptName);
      form->SetItemText(email, keptEmail);
      form->SetItemChecked(remember, true);
      if (email >= 0) m.items[static_cast<size_t>(email)].valid = IsValidMailAddress(keptEmail);
      if (m.items[0].enabled && m.ContinueAllowed()) m.activeControl = m.items[0].name;
      return;
    }
    case nvaEvent:
      if (item && email >= 0 && item->Name() == m.items[static_cast<size_t>(email)].name)
        form->SetItemValid(email, IsValidMailAddress(item->Text()));
      return;
    case nvaClosed: {
      if (form->ModalResult() != nvmrContinue) return;
      std::string n = form->ItemText(name), e = form->ItemText(email);
      WriteUserValues(n, e, form->ItemChecked(remember));
      if (exception && !n.empty()) exception->SetMailFrom(n + " <" + e + ">");
      return;
    }
    default:
      return;
  }
}

}  // namespace kestrix
