// The main window: search paths, project field, Browse, unit tree,
// initialization order, section view and console.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "analyzer/analysis.h"
#include "crash/base/win/scoped_gdi.h"

namespace quorrin {

// Control identifiers (also what GUI drivers look controls up by).
enum ControlId : int {
  idSearchPaths = 100,
  idLabel1,
  idProject,
  idOpen,
  idUnits,
  idUnitOrder,
  idSection,
  idConsole,
};

// The system-menu item that switches the order list to the compiler's
// order (a multiple of 16 below 0xF000, as system-menu commands must be).
constexpr UINT kCompilerOrderCommand = 0x0110;
constexpr const char* kCompilerOrderCaption = "Compiler order (with implementation uses, as Free Pascal)";

// The standard open-file dialog with the settings the Browse button uses.
class TOpenDialog {
 public:
  bool Execute(HWND owner);
  std::string FileName;
};

class TForm1 : public IAnalysisLog {
 public:
  static constexpr int kClientWidth = 637;
  static constexpr int kClientHeight = 684;

  HWND Handle = nullptr;
  HWND Label1 = nullptr;
  HWND project = nullptr;
  HWND open = nullptr;
  TOpenDialog OpenDialog;
  HWND units = nullptr;
  HWND section = nullptr;
  HWND unitOrder = nullptr;
  HWND SearchPaths = nullptr;
  HWND console = nullptr;
  std::unique_ptr<TLoadedUnitList> LoadedUnits;
  // Set by the checked item of the system menu: the next Browse follows
  // implementation uses too and lists the compiler's order.
  bool CompilerOrder = false;

  // Registers the window class and creates the window with its controls.
  void Create(HINSTANCE instance);

  void FormCreate();
  void FormDestroy();
  void openClick(HWND sender);
  void unitsClick(HWND sender);
  void AnalyzeProject();
  void AnalyzeCompilerOrder();
  void CompilerOrderClick();

  // Appends one line to the console. Lines logged inside an event handler
  // reach the control when the handler ends: the first 256 KB at once, a
  // longer log after that in pieces, so that the window shows the tree and
  // the order and answers the user while the rest is written.
  void Log(const std::string& text) override;
  void FlushLog();  // writes all pending lines now

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam);
  void CreateControls();
  void AddCompilerOrderMenuItem();
  void ShowTree(const TUnitTree& tree);
  void ShowOrder(const TOrderList& order);

  kestrix::TScopedFont font_;
  HBRUSH windowBrush_ = nullptr;
  // Appends pending lines up to about limit bytes, cut at a line end.
  void AppendLog(size_t limit);
  void ScheduleLogFlush();

  std::string pendingLog_;
  bool consoleEmpty_ = true;
};

extern TForm1* Form1;

// Appends a line to the main window's console.
void Log(const std::string& text);

std::string GetControlText(HWND control);
void SetControlText(HWND control, const std::string& text);

}  // namespace quorrin
