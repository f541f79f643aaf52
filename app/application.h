// The application object: title, message loop, and the boundary around
// every event handler of the program's windows.
#pragma once

#include <exception>
#include <string>

namespace quorrin {

class TApplication {
 public:
  // Receives an exception that escaped an event handler. Returns true when
  // it dealt with the exception; false lets the application show it.
  using ExceptionHook = bool (*)(std::exception_ptr error, void* context);

  std::string Title;

  void Initialize();
  int Run();  // message loop until the main window closes
  // Called for every exception that leaves an event handler; the program
  // goes on with its message loop afterwards.
  void HandleException(std::exception_ptr error) noexcept;
  // Shows an exception's message in a message box captioned with the title.
  void ShowException(const std::string& message) noexcept;
  // The crash-report library plugs in here.
  void SetExceptionHook(ExceptionHook hook, void* context);

 private:
  ExceptionHook hook_ = nullptr;
  void* hookContext_ = nullptr;
};

extern TApplication Application;

// Runs one event handler; nothing escapes into the window procedure (a C++
// exception cannot cross a system callback).
template <class F>
void CallEventHandler(F&& handler) noexcept {
  try {
    handler();
  } catch (...) {
    Application.HandleException(std::current_exception());
  }
}

}  // namespace quorrin
