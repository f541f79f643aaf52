// Runs an assistant of the settings as the library does, for the GUI test:
//   assistant_probe OUT NAME   loads the assistant NAME through an exception
//                              object (LoadAssistantByName), runs it, puts the
//                              answers into the exception's report, and writes
//                              to OUT what came back: the result, each page's
//                              result, the report's header items and sections,
//                              the sender, and what a second load of the same
//                              assistant was prefilled with
//                              (StoreFormValues/RestoreFormValues).
//   assistant_probe OUT --actions
//                              a page whose OnAction names a function of
//                              this program (found through its debug
//                              information), the hook after loading an
//                              assistant and the assistant's handler for
//                              every page; writes what the handlers saw.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "crash/report/win/kx_exception_object.h"
#include "report_ui/assistant/form_definition.h"
#include "report_ui/assistant/form_text.h"
#include "report_ui/assistant/win/nv_form.h"

using namespace kestrix;

FILE* g_out = nullptr;

// Named by the test page's OnAction: fills the page's edit at creation.
void ProbePageAction(INVForm* form, int action, INVItem* item, IKXSettings*) {
  fprintf(g_out, "page action %d %s%s\n", action, form->Name().c_str(), item ? (" " + item->Name()).c_str() : "");
  if (action != 0) return;
  if (KXPtr<INVItem> edit = form->Edit("LabEdit")) edit->SetText("set by the page's handler");
  form->SetActiveControl(form->CancelBtn().get());
}

void ProbeAssistantAction(INVForm* form, int action, INVItem*, IKXSettings*) {
  fprintf(g_out, "assistant action %d %s\n", action, form->Name().c_str());
}

void ProbeAssistantHook(INVAssistant* assistant, IKXSettings* exception) {
  fprintf(g_out, "hook %s %d pages, exception %d\n", assistant->Title().c_str(), assistant->PageCount(),
          exception != nullptr);
  assistant->SetActionHandler(ProbeAssistantAction);
}

namespace {

const char kLabForm[] =
    "object LabForm: TNVForm\n"
    "  Message = 'Lab'\n"
    "  OnAction = 'assistant_probe.ProbePageAction'\n"
    "  object LabEdit: TNVEdit\n"
    "  end\n"
    "  object LabCheck: TNVCheckBox\n"
    "    Caption = 'lab'\n"
    "  end\n"
    "end\n";

int Actions(IKXSettings* settings) {
  const std::vector<uint8_t> definition = WriteFormDefinition(ParseFormText(kLabForm));
  KXPtr<TNVForm> form = TNVForm::Create(GetModuleHandleA(nullptr), "LabForm",
                                        std::string(definition.begin(), definition.end()), settings);
  KXPtr<INVItem> edit = form->Edit("labedit");
  fprintf(g_out, "edit %s\n", edit ? edit->Text().c_str() : "<none>");
  fprintf(g_out, "edit as check box %s\n", form->CheckBox("LabEdit") ? "found" : "<none>");
  fprintf(g_out, "check box %s\n", form->CheckBox("LabCheck") ? "found" : "<none>");
  KXPtr<INVItem> active = form->ActiveControl();
  fprintf(g_out, "active %s\n", active ? active->Name().c_str() : "<none>");
  fprintf(g_out, "skip %s\n", form->SkipBtn() ? form->SkipBtn()->Name().c_str() : "<none>");

  SetAssistantHook(ProbeAssistantHook);
  KXPtr<INVAssistant> loaded = LoadAssistant(GetModuleHandleA(nullptr), "Lab Assistant", {"ContactForm"}, settings);
  auto* assistant = static_cast<TNVAssistant*>(loaded.get());
  assistant->PageByName("ContactForm")->Fire(nvaEvent, nullptr);
  SetAssistantHook(nullptr);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  FILE* out = fopen(argv[1], "wb");
  if (!out) return 2;
  g_out = out;
  RegisterAssistantLoader();
  KXPtr<TIKXException> settings(new TIKXException(GetModuleHandleA(nullptr), TExceptionCreation()));
  if (std::string(argv[2]) == "--actions") {
    const int rc = Actions(settings.get());
    fclose(out);
    return rc;
  }
  KXPtr<INVAssistant> loaded;
  if (!settings->LoadAssistantByName(argv[2], loaded)) {
    fprintf(out, "no assistant\n");
    return 1;
  }
  auto* assistant = static_cast<TNVAssistant*>(loaded.get());
  int result = assistant->RunModal(nullptr);
  fprintf(out, "result %d\n", result);
  for (int i = 0; i < assistant->PageCount(); ++i) {
    KXPtr<INVForm> page = assistant->Page(i);
    fprintf(out, "page %s %d\n", page->Name().c_str(), page->ModalResult());
  }
  PutAnswersIntoReport(assistant, settings.get());
  for (const char* kind : {"header", "section"}) {
    KXPtr<IKXFields> fields = kind[0] == 'h' ? settings->ReportHeader() : settings->ReportSections();
    for (int i = 0; fields && i < fields->ItemCount(); ++i) {
      std::string content = fields->ContentAt(i);
      for (size_t p; (p = content.find("\r\n")) != std::string::npos;) content.replace(p, 2, "|");
      fprintf(out, "%s %s: %s\n", kind, fields->Name(i).c_str(), content.c_str());
    }
  }
  fprintf(out, "mailfrom %s\n", settings->MailFrom().c_str());
  if (result == nvmrContinue) settings->StoreFormValues(assistant);
  KXPtr<INVAssistant> again;
  settings->LoadAssistantByName(argv[2], again);
  for (int i = 0; again && i < again->PageCount(); ++i) {
    KXPtr<INVForm> page = again->Page(i);
    for (int k = 0; k < page->ItemCount(); ++k) {
      KXPtr<INVItem> item = page->Item(k);
      if (item->Kind() == nvkEdit && !item->Text().empty())
        fprintf(out, "restored %s=%s\n", item->Name().c_str(), item->Text().c_str());
    }
  }
  fclose(out);
  return 0;
}
