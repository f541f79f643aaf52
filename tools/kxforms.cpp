// kxforms: writes the binary definitions of assistant forms from their
// readable files, a build step.
//   kxforms FORM.kxform OUTPUT.bin     one form
//   kxforms --text DEFINITION.bin      the definition as readable text
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "report_ui/assistant/form_definition.h"
#include "report_ui/assistant/form_text.h"

namespace {

bool ReadFile(const char* path, std::string& data) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  data.assign(std::istreambuf_iterator<char>(in), {});
  return !in.bad();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: kxforms FORM.kxform OUTPUT.bin | kxforms --text DEFINITION.bin\n");
    return 2;
  }
  std::string data;
  bool toText = std::string(argv[1]) == "--text";
  const char* input = toText ? argv[2] : argv[1];
  if (!ReadFile(input, data)) {
    fprintf(stderr, "kxforms: cannot read %s\n", input);
    return 1;
  }
  if (toText) {
    kestrix::TFormReadResult r = kestrix::ReadFormDefinition(data.data(), data.size());
    fputs(kestrix::FormText(r.root).c_str(), stdout);
    if (!r.valid) fprintf(stderr, "kxforms: %s\n", r.error.c_str());
    return r.valid ? 0 : 1;
  }
  try {
    std::vector<uint8_t> out = kestrix::WriteFormDefinition(kestrix::ParseFormText(data));
    std::ofstream file(argv[2], std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    if (!file.good()) {
      fprintf(stderr, "kxforms: cannot write %s\n", argv[2]);
      return 1;
    }
  } catch (const std::exception& e) {
    fprintf(stderr, "kxforms: %s: %s\n", input, e.what());
    return 1;
  }
  return 0;
}
