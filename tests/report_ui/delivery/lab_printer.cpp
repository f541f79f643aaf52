// Gives the Wine prefix a PostScript printer that prints into a file:
//   lab_printer <printer name> <output file (host path)>
// The driver is Wine's PostScript driver with the generic PPD that Wine's
// spooler carries; the printer's port "LPT3:" is mapped to the file under
// HKCU\Software\Wine\Printing\Spooler, and the printer becomes the default.
// Exit code 0 when the printer is ready.
#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kDriver[] = "Kestrix Lab PostScript";
const char kPort[] = "LPT3:";

// Wine's generic PPD (resource "PPDFILE" 1 of winspool.drv) as a file.
bool WriteGenericPpd(const std::string& path) {
  HMODULE spooler = LoadLibraryExA("winspool.drv", nullptr, LOAD_LIBRARY_AS_DATAFILE);
  HRSRC resource = spooler ? FindResourceA(spooler, MAKEINTRESOURCEA(1), "PPDFILE") : nullptr;
  if (!resource) return false;
  DWORD size = SizeofResource(spooler, resource);
  const char* data = static_cast<const char*>(LockResource(LoadResource(spooler, resource)));
  if (const void* end = std::memchr(data, 0, size)) size = static_cast<DWORD>(static_cast<const char*>(end) - data);
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, data, size, &written, nullptr) && written == size;
  CloseHandle(file);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: lab_printer <printer name> <output file>\n", stderr);
    return 2;
  }
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string ppd = std::string(temp) + "kestrix-lab.ppd";
  if (!WriteGenericPpd(ppd)) {
    std::fputs("no generic PPD in winspool.drv\n", stderr);
    return 1;
  }
  DRIVER_INFO_3A driver{};
  driver.cVersion = 3;
  driver.pName = const_cast<char*>(kDriver);
  driver.pEnvironment = const_cast<char*>("Windows NT x86");
  driver.pDriverPath = const_cast<char*>("wineps.drv");
  driver.pConfigFile = const_cast<char*>("wineps.drv");
  driver.pDataFile = const_cast<char*>(ppd.c_str());
  driver.pDefaultDataType = const_cast<char*>("RAW");
  if (!AddPrinterDriverExA(nullptr, 3, reinterpret_cast<BYTE*>(&driver), APD_COPY_NEW_FILES | APD_COPY_FROM_DIRECTORY) &&
      GetLastError() != ERROR_PRINTER_DRIVER_ALREADY_INSTALLED) {
    std::fprintf(stderr, "AddPrinterDriverEx failed: %lu\n", GetLastError());
    return 1;
  }
  HKEY spooler;
  if (RegCreateKeyA(HKEY_CURRENT_USER, "Software\\Wine\\Printing\\Spooler", &spooler) != ERROR_SUCCESS) return 1;
  RegSetValueExA(spooler, kPort, 0, REG_SZ, reinterpret_cast<const BYTE*>(argv[2]), std::strlen(argv[2]) + 1);
  RegCloseKey(spooler);

  HANDLE printer = nullptr;
  if (OpenPrinterA(argv[1], &printer, nullptr)) {
    ClosePrinter(printer);  // there from an earlier run: the port mapping is all that changes
  } else {
    PRINTER_INFO_2A info{};
    info.pPrinterName = argv[1];
    info.pPortName = const_cast<char*>(kPort);
    info.pDriverName = const_cast<char*>(kDriver);
    info.pPrintProcessor = const_cast<char*>("WinPrint");
    info.pDatatype = const_cast<char*>("RAW");
    printer = AddPrinterA(nullptr, 2, reinterpret_cast<BYTE*>(&info));
    if (!printer) {
      std::fprintf(stderr, "AddPrinter failed: %lu\n", GetLastError());
      return 1;
    }
    ClosePrinter(printer);
  }
  if (!SetDefaultPrinterA(argv[1])) {
    std::fprintf(stderr, "SetDefaultPrinter failed: %lu\n", GetLastError());
    return 1;
  }
  return 0;
}
