// Runs an assistant of the settings as the library does, for the GUI test:
//   assistant_probe OUT NAME   loads the assistant NAME through an exception
//                              object (LoadAssistantByName), runs it, puts the
//                              answers into the exception's report, and writes
//                              to OUT what came back: the result, each page's
//                              result, the report's header items and sections,
//                              the sender, and what a second load of the same
//                              assistant was prefilled with
//                              (StoreFormValues/RestoreFormValues).
#include <windows.h>

#include <cstdio>
#include <string>

#include "crash/report/win/kx_exception_object.h"
#include "report_ui/assistant/win/nv_form.h"

using namespace kestrix;

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  FILE* out = fopen(argv[1], "wb");
  if (!out) return 2;
  RegisterAssistantLoader();
  KXPtr<TIKXException> settings(new TIKXException(GetModuleHandleA(nullptr), TExceptionCreation()));
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
