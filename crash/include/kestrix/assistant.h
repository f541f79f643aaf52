// Assistants: the wizard pages that run before a report is sent, saved or
// printed, with their edit and check box items.
#pragma once

#include <string>

#include "kestrix/interfaces.h"

namespace kestrix {

class IKXSettings;

enum TNVItemKind { nvkOther, nvkButton, nvkLabel, nvkEdit, nvkCheckBox, nvkImage };

// Modal results of a page or an assistant.
enum TNVModalResult { nvmrNone = 0, nvmrContinue = 1, nvmrSkip = 2, nvmrCancel = 3 };

class INVItem : public IKXUnknown {
 public:
  virtual std::string Name() = 0;
  virtual TNVItemKind Kind() = 0;
  virtual bool Enabled() = 0;
  // Edits: the text; check boxes: the checked state.
  virtual std::string Text() = 0;
  virtual void SetText(const std::string& text) = 0;
  virtual bool Checked() = 0;
  virtual void SetChecked(bool checked) = 0;
};

class INVForm;

// A page's action handler: the page, the action (0 created, 1 about to be
// shown, 2 closed, 3 an item's event or, without item, the timer), the
// item (may be none) and the exception the page works for. A form's
// OnAction names one: a built-in handler or a public function of the
// program ("unit.Function" or "Function" of its debug information).
using TNVFormAction = void (*)(INVForm* form, int action, INVItem* item, IKXSettings* exception);

class INVForm : public IKXUnknown {
 public:
  virtual std::string Name() = 0;
  virtual int ModalResult() = 0;
  virtual int ItemCount() = 0;
  virtual KXPtr<INVItem> Item(int index) = 0;
  virtual KXPtr<INVItem> ContinueBtn() = 0;
  virtual void SetActiveControl(INVItem* item) = 0;
  virtual KXPtr<INVItem> SkipBtn() = 0;
  virtual KXPtr<INVItem> CancelBtn() = 0;
  // None when no active control is named (or the name is no item's).
  virtual KXPtr<INVItem> ActiveControl() = 0;
  // The item of that name (letter case ignored) when it is of that kind.
  virtual KXPtr<INVItem> FindItem(const std::string& name, TNVItemKind kind) = 0;

  KXPtr<INVItem> Edit(const std::string& name) { return FindItem(name, nvkEdit); }
  KXPtr<INVItem> Label(const std::string& name) { return FindItem(name, nvkLabel); }
  KXPtr<INVItem> Button(const std::string& name) { return FindItem(name, nvkButton); }
  KXPtr<INVItem> CheckBox(const std::string& name) { return FindItem(name, nvkCheckBox); }
  KXPtr<INVItem> Image(const std::string& name) { return FindItem(name, nvkImage); }
};

class INVAssistant : public IKXUnknown {
 public:
  virtual std::string Title() = 0;
  virtual int PageCount() = 0;
  virtual KXPtr<INVForm> Page(int index) = 0;
  // Called for the actions of every page after the page's own handler
  // (none: not called).
  virtual void SetActionHandler(TNVFormAction handler) = 0;
};

// Called with every assistant the library has loaded (its pages created,
// none shown yet) and the exception it works for; none: no hook.
using TNVAssistantHook = void (*)(INVAssistant* assistant, IKXSettings* exception);
void SetAssistantHook(TNVAssistantHook hook);

}  // namespace kestrix
