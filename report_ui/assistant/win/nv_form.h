// The form runtime: assistant pages (TNVForm) with their items, assistants
// (TNVAssistant), the loader that builds them from the form definitions in
// a module's resources, and the built-in action handlers.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "crash/settings/win/settings_object.h"
#include "kestrix/assistant.h"
#include "kestrix/settings.h"
#include "report_ui/assistant/form_model.h"
#include "report_ui/imaging/inv_bitmap.h"

namespace kestrix {

class TNVForm;
class TNVAssistant;

// Action codes handed to handlers.
enum TNVAction { nvaCreated = 0, nvaShowing = 1, nvaClosed = 2, nvaEvent = 3 };

// form, action, item (may be none: the timer), the exception (may be none).
using TNVActionHandler = void (*)(TNVForm* form, int action, INVItem* item, IKXSettings* exception);

// Resolves an OnAction name that is no built-in handler ("Unit.Function" or
// "Function" of the module's debug-info map); installed at start-up.
using TNVActionResolver = TNVFormAction (*)(HMODULE module, const std::string& name);
void SetFormActionResolver(TNVActionResolver resolver);

// Shows the internal-error text of a damaged definition; a message box
// ("Kestrix", error icon) unless replaced (the tests record it).
using TFormErrorReporter = void (*)(const std::string& text);
TFormErrorReporter SetFormErrorReporter(TFormErrorReporter reporter);

class TNVForm final : public INVForm, public TKXRefCounted {
 public:
  // Builds the page from `definition` (may be empty) and fires action 0.
  static KXPtr<TNVForm> Create(HMODULE module, const std::string& name, const std::string& definition,
                               IKXSettings* exception);
  ~TNVForm() override;

  bool QueryInterface(const KXIID&, void**) override { return false; }
  KX_IMPLEMENT_REFCOUNT

  // INVForm
  std::string Name() override { return model_.name; }
  int ModalResult() override { return modalResult_; }
  int ItemCount() override { return static_cast<int>(model_.items.size()); }
  KXPtr<INVItem> Item(int index) override;
  KXPtr<INVItem> ContinueBtn() override { return Item(0); }
  void SetActiveControl(INVItem* item) override;
  KXPtr<INVItem> SkipBtn() override { return Item(1); }
  KXPtr<INVItem> CancelBtn() override { return Item(2); }
  KXPtr<INVItem> ActiveControl() override;
  KXPtr<INVItem> FindItem(const std::string& name, TNVItemKind kind) override;

  KXPtr<INVItem> ItemByName(const std::string& name);
  TFormModel& Model() { return model_; }
  std::string Title() const { return model_.title; }
  void SetTitle(const std::string& title) { model_.title = title; }
  std::string Message() const { return model_.message; }
  void SetMessage(const std::string& message) { model_.message = message; }
  IKXSettings* Exception() const { return exception_; }
  void SetException(IKXSettings* exception) { exception_ = exception; }
  TNVActionHandler Handler() const { return handler_; }
  void SetHandler(TNVActionHandler handler) { handler_ = handler; }
  // The program's handler that OnAction named; none when a built-in one
  // (or no handler) is set.
  TNVFormAction ProgramHandler() const { return programHandler_; }
  void SetOwner(TNVAssistant* owner) { owner_ = owner; }
  // The page's user data and how to release it when the page closes.
  void* UserData() const { return userData_; }
  void SetUserData(void* data, void (*release)(void*));
  void SetSkipped(bool skipped) { skipped_ = skipped; }
  void SetPosition(int index, int count) {
    pageIndex_ = index;
    pageCount_ = count;
  }
  // The definition's internal-error text, empty when it was read whole.
  const std::string& DefinitionError() const { return definitionError_; }

  // Shows the page modally; 1 Continue, 2 Skip, 3 Cancel.
  int RunModal(HWND owner);
  void Fire(int action, INVItem* item);

  // Item state that also lives in the page's windows while it is shown.
  std::string ItemText(int index);
  void SetItemText(int index, const std::string& text);
  bool ItemChecked(int index);
  void SetItemChecked(int index, bool checked);
  void SetItemValid(int index, bool valid);
  // The picture of an image item; none: its File is loaded when the page
  // is shown. A page on the screen shows a new picture at once.
  KXPtr<imaging::INVBitmap> ItemBitmap(int index);
  void SetItemBitmap(int index, const KXPtr<imaging::INVBitmap>& bitmap);

 private:
  friend class TNVFormWindow;
  TNVForm(HMODULE module, const std::string& name, const std::string& definition, IKXSettings* exception);
  void ReleaseUserData();

  HMODULE module_;
  TFormModel model_;
  IKXSettings* exception_;
  TNVActionHandler handler_ = nullptr;
  TNVFormAction programHandler_ = nullptr;
  TNVAssistant* owner_ = nullptr;  // set while the assistant holds the page
  std::string definitionError_;
  int modalResult_ = 0;
  bool skipped_ = false;
  int pageIndex_ = 0, pageCount_ = 1;
  void* userData_ = nullptr;
  void (*releaseUserData_)(void*) = nullptr;
  HWND window_ = nullptr;
  std::vector<HWND> itemWindows_;
  std::vector<KXPtr<imaging::INVBitmap>> bitmaps_;  // per item; images only
};

class TNVAssistant final : public INVAssistant, public TKXRefCounted {
 public:
  TNVAssistant(const std::string& title, IKXSettings* exception) : title_(title), exception_(exception) {}
  ~TNVAssistant() override;
  bool QueryInterface(const KXIID&, void**) override { return false; }
  KX_IMPLEMENT_REFCOUNT

  std::string Title() override { return title_; }
  void SetTitle(const std::string& title) { title_ = title; }
  int PageCount() override { return static_cast<int>(forms_.size()); }
  KXPtr<INVForm> Page(int index) override;
  void SetActionHandler(TNVFormAction handler) override { actionHandler_ = handler; }
  TNVFormAction ActionHandler() const { return actionHandler_; }
  KXPtr<TNVForm> PageByName(const std::string& name);
  void Add(const KXPtr<TNVForm>& form);
  IKXSettings* Exception() const { return exception_; }
  // Shows the pages in order: 3 when one is cancelled, else 1.
  int RunModal(HWND owner);
  int ModalResult() const { return modalResult_; }

 private:
  std::string title_;
  IKXSettings* exception_;
  std::vector<KXPtr<TNVForm>> forms_;
  TNVFormAction actionHandler_ = nullptr;
  int modalResult_ = 0;
};

// The loader of the settings (SetAssistantLoader): each page's definition
// from the resource RCDATA "TKX" + its upper-cased name in `module`.
KXPtr<INVAssistant> LoadAssistant(HMODULE module, const std::string& title, const std::vector<std::string>& forms,
                                  IKXSettings* exception);
// Installs LoadAssistant as the settings' assistant loader.
void RegisterAssistantLoader();

// What the pages of an assistant that returned 1 add to the report: header
// items and sections (pages left by Skip add nothing).
std::vector<TFormAnswer> AssistantAnswers(TNVAssistant* assistant);
// Puts those answers into the report of `exception` (when it is an
// exception object): header items, or sections; answering again replaces.
void PutAnswersIntoReport(TNVAssistant* assistant, IKXSettings* exception);

// Runs the assistant `name` of a settings or exception object modally above
// `owner`: when it is confirmed, its answers go into the exception's
// report; the field values are kept in the object's form cache. Returns its
// modal result, or -1 when the object has no such assistant.
int RunReportAssistant(TIKXSettings* settings, const std::string& name, HWND owner);

// The built-in page handlers: the contact page and the screenshot page.
void HandleContactForm(TNVForm* form, int action, INVItem* item, IKXSettings* exception);
void HandleScreenshotForm(TNVForm* form, int action, INVItem* item, IKXSettings* exception);

}  // namespace kestrix
