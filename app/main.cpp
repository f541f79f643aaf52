// Program entry: the application object, its title, the main window, the
// message loop.
#include <windows.h>

#include "app/application.h"
#include "app/unit1.h"
#include "kestrix/kestrix.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  using namespace quorrin;
  Application.Initialize();
  Application.Title = "Quorrin";
  // Exceptions escaping event handlers go to the crash-report library.
  Application.SetExceptionHook(kestrix::EventHandlerExceptionHook, nullptr);
  static TForm1 form;
  Form1 = &form;
  form.Create(instance);
  ShowWindow(form.Handle, showCommand);
  UpdateWindow(form.Handle);
  return Application.Run();
}
