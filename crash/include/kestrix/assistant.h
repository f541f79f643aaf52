// Assistants: the wizard pages that run before a report is sent, saved or
// printed, with their edit and check box items.
#pragma once

#include <windows.h>

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

class INVForm : public IKXUnknown {
 public:
  virtual std::string Name() = 0;
  virtual int ModalResult() = 0;
  virtual int ItemCount() = 0;
  virtual KXPtr<INVItem> Item(int index) = 0;
  virtual KXPtr<INVItem> ContinueBtn() = 0;
  virtual void SetActiveControl(INVItem* item) = 0;
};

class INVAssistant : public IKXUnknown {
 public:
  virtual std::string Title() = 0;
  virtual int PageCount() = 0;
  virtual KXPtr<INVForm> Page(int index) = 0;
};

}  // namespace kestrix
