// A temporary folder for tests over real files, removed with its contents.
#pragma once

#include <windows.h>

#include <string>

namespace quorrin::testing {

class TempDir {
 public:
  TempDir() {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    static int counter = 0;
    path_ = std::string(base) + "quorrin_test_" + std::to_string(GetCurrentProcessId()) + "_" +
            std::to_string(++counter);
    CreateDirectoryA(path_.c_str(), nullptr);
    GetCurrentDirectoryA(MAX_PATH, base);
    savedDir_ = base;
  }
  ~TempDir() {
    SetCurrentDirectoryA(savedDir_.c_str());
    Remove(path_);
  }
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

  // Writes bytes to a file below the folder, creating sub-folders.
  std::string Write(const std::string& name, const std::string& bytes) const {
    const std::string full = *this / name;
    if (name.find('\\') != std::string::npos)
      for (size_t p = full.find('\\', path_.size() + 1); p != std::string::npos; p = full.find('\\', p + 1))
        CreateDirectoryA(full.substr(0, p).c_str(), nullptr);
    HANDLE h = CreateFileA(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (h != INVALID_HANDLE_VALUE) {
      WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
      CloseHandle(h);
    }
    return full;
  }

 private:
  static void Remove(const std::string& dir) {
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = fd.cFileName;
        if (name == "." || name == "..") continue;
        const std::string full = dir + "\\" + name;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) Remove(full);
        else DeleteFileA(full.c_str());
      } while (FindNextFileA(h, &fd));
      FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
  }

  std::string path_;
  std::string savedDir_;
};

}  // namespace quorrin::testing
