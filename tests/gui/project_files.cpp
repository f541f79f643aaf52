#include "tests/gui/project_files.h"

#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "tests/gui/window_driver.h"

namespace quorrin::gui {

std::string CrLf(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + path);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

std::string FreshProjectDir(const std::string& name) {
  const std::string dir = FullPath("gui-projects\\" + name);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

std::string WriteChainProject(const std::string& dir, int depth) {
  WriteFile(dir + "\\Deep.dpr", CrLf({"program Deep;", "uses C0;", "begin", "end."}));
  for (int i = 0; i < depth; ++i) {
    std::vector<std::string> unit{"unit C" + std::to_string(i) + ";", "interface"};
    if (i + 1 < depth) unit.push_back("uses C" + std::to_string(i + 1) + ";");
    unit.insert(unit.end(), {"implementation", "initialization", "  Touch(" + std::to_string(i) + ");", "end."});
    WriteFile(dir + "\\C" + std::to_string(i) + ".pas", CrLf(unit));
  }
  return dir + "\\Deep.dpr";
}

}  // namespace quorrin::gui
