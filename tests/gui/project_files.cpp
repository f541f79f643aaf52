#include "tests/gui/project_files.h"

#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "tests/helpers/win/window_driver.h"

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

}  // namespace quorrin::gui
