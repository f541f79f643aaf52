// Build step: writes a module's settings record (the resource "TKESTRIX")
// from its readable settings file, enciphering the passwords.
//
//   kxsettings <settings file> <record file>
//   kxsettings --dump <record file>        prints the record readably
#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

#include "crash/settings/settings_file.h"
#include "crash/settings/settings_record.h"

namespace {

bool ReadFile(const std::string& path, std::string& content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

int Dump(const std::string& path) {
  std::string bytes;
  if (!ReadFile(path, bytes)) {
    std::cerr << path << ": cannot read\n";
    return 1;
  }
  kestrix::TRecordParseResult result = kestrix::ParseSettingsRecord(bytes.data(), bytes.size());
  std::cout << kestrix::FormatSettingsFile(result.properties);
  switch (result.status) {
    case kestrix::TRecordStatus::Ok:
      return 0;
    case kestrix::TRecordStatus::NoPrefix:
      std::cerr << path << ": not a settings record\n";
      return 1;
    default:
      std::cerr << path << ": " << kestrix::InvalidRecordMessage(result) << "\n";
      return 1;
  }
}

int Write(const std::string& input, const std::string& output) {
  std::string text;
  if (!ReadFile(input, text)) {
    std::cerr << input << ": cannot read\n";
    return 1;
  }
  std::vector<unsigned char> record;
  try {
    std::vector<kestrix::TRecordProperty> properties = kestrix::ParseSettingsFile(text);
    kestrix::EncipherPasswords(properties);
    record = kestrix::WriteSettingsRecord(properties);
  } catch (const kestrix::TSettingsFileError& e) {
    std::cerr << input << ":" << e.Line() << ": " << e.what() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << input << ": " << e.what() << "\n";
    return 1;
  }
  // Write beside the target and rename, so a failed step leaves no half file.
  std::string temp = output + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(record.data()),
              static_cast<std::streamsize>(record.size()));
    if (!out.flush()) {
      std::cerr << temp << ": cannot write\n";
      std::remove(temp.c_str());
      return 1;
    }
  }
  if (std::rename(temp.c_str(), output.c_str()) != 0) {
    std::cerr << output << ": cannot write\n";
    std::remove(temp.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--dump") return Dump(argv[2]);
  if (argc == 3 && argv[1][0] != '-') return Write(argv[1], argv[2]);
  std::cerr << "usage: kxsettings <settings file> <record file>\n"
               "       kxsettings --dump <record file>\n";
  return 2;
}
