// The main window's compiler-order mode: the checked system-menu item and
// the analysis it selects. The window's layout does not change.
#include "analyzer/compiler_analysis.h"
#include "analyzer/file_unit_source.h"
#include "app/unit1.h"

namespace quorrin {

void TForm1::AddCompilerOrderMenuItem() {
  HMENU menu = GetSystemMenu(Handle, FALSE);
  if (!menu) return;
  AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuA(menu, MF_STRING | (CompilerOrder ? MF_CHECKED : MF_UNCHECKED), kCompilerOrderCommand,
              kCompilerOrderCaption);
}

void TForm1::CompilerOrderClick() {
  CompilerOrder = !CompilerOrder;
  CheckMenuItem(GetSystemMenu(Handle, FALSE), kCompilerOrderCommand,
                MF_BYCOMMAND | (CompilerOrder ? MF_CHECKED : MF_UNCHECKED));
}

void TForm1::AnalyzeCompilerOrder() {
  TFileUnitSource source(*this, SplitMemoLines(GetControlText(SearchPaths)));
  TCompilerOrderAnalyzer analyzer(source, *this, *LoadedUnits);
  try {
    analyzer.AnalyzeProject(OpenDialog.FileName);
  } catch (...) {
    // What was built stays on screen also when a file cannot be opened.
    ShowTree(analyzer.Tree());
    throw;
  }
  ShowTree(analyzer.Tree());
  ShowOrder(analyzer.Order());
}

}  // namespace quorrin
