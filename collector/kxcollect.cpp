// kxcollect: receives the library's uploaded reports, imports reports that
// arrived otherwise, groups them and shows them.
//
//   kxcollect serve --data DIR --listen HOST:PORT [--store postgresql://…]
//                   [--upload-login ACCOUNT:PASSWORD] [--admin USER:PASSWORD]
//                   [--max-upload BYTES] [--dup-except-def N] [--dup-freeze-def N]
//   kxcollect import --data DIR [--store postgresql://…] FILE...
//
// import takes bug report files, mbox files, Maildir folders and ".kx" files.
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "collector/collector_server.h"
#include "collector/intake.h"
#include "collector/report_store.h"
#include "debuginfo/map/compact_map.h"

namespace {

using namespace kestrix::collector;

const char kUsage[] =
    "usage: kxcollect serve --data DIR --listen HOST:PORT [--store postgresql://...]\n"
    "                       [--upload-login ACCOUNT:PASSWORD] [--admin USER:PASSWORD]\n"
    "                       [--max-upload BYTES] [--dup-except-def N] [--dup-freeze-def N]\n"
    "       kxcollect import --data DIR [--store postgresql://...] FILE...\n";

TCollectorServer* gServer = nullptr;

void OnSignal(int) {
  if (gServer) gServer->Stop();
}

bool ReadFile(const std::string& path, std::string& content) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> out;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') out.push_back(folder + "/" + e->d_name);
    closedir(d);
  }
  std::sort(out.begin(), out.end());
  return out;
}

struct TImportCount {
  int stored = 0, rejected = 0;
};

void StoreAll(TReportStore& store, const std::vector<TSubmission>& submissions, const std::string& from,
              TImportCount& count) {
  for (const TSubmission& s : submissions) {
    TStoredReport stored;
    std::string error;
    if (store.Add(s, stored, error)) {
      ++count.stored;
    } else {
      ++count.rejected;
      std::fprintf(stderr, "kxcollect: %s: %s\n", from.c_str(), error.c_str());
    }
  }
}

void ImportMail(TReportStore& store, const std::string& mail, const std::string& from, TImportCount& count) {
  TSubmission s;
  std::string error;
  if (!SubmissionFromMail(mail, s, error)) {
    ++count.rejected;
    std::fprintf(stderr, "kxcollect: %s: %s\n", from.c_str(), error.c_str());
    return;
  }
  StoreAll(store, {s}, from, count);
}

bool Import(TReportStore& store, const std::string& path, TImportCount& count) {
  if (IsFolder(path)) {
    // A Maildir: its messages in "new" and "cur".
    if (!IsFolder(path + "/new") && !IsFolder(path + "/cur")) {
      std::fprintf(stderr, "kxcollect: %s: a folder that is not a Maildir\n", path.c_str());
      return false;
    }
    for (const char* sub : {"/cur", "/new"})
      for (const std::string& file : FilesIn(path + sub)) {
        std::string mail;
        if (ReadFile(file, mail)) ImportMail(store, mail, file, count);
      }
    return true;
  }
  std::string content;
  if (!ReadFile(path, content)) {
    std::fprintf(stderr, "kxcollect: %s: cannot read\n", path.c_str());
    return false;
  }
  if (content.compare(0, 14, kestrix::kCompactMapSignature) == 0) {
    int renamed = 0;
    std::string error;
    if (!store.AddKxFile(path, content, renamed, error)) {
      std::fprintf(stderr, "kxcollect: %s: %s\n", path.c_str(), error.c_str());
      return false;
    }
    std::printf("%s: stored, %d reports named\n", path.c_str(), renamed);
    return true;
  }
  if (content.compare(0, 5, "From ") == 0) {
    for (const std::string& mail : SplitMbox(content)) ImportMail(store, mail, path, count);
    return true;
  }
  const std::vector<TSubmission> reports = SubmissionsFromReportFile(content, "file");
  if (reports.empty()) {
    std::fprintf(stderr, "kxcollect: %s: neither a bug report file, a mailbox nor a .kx file\n", path.c_str());
    return false;
  }
  StoreAll(store, reports, path, count);
  return true;
}

int Usage(const char* problem) {
  if (problem) std::fprintf(stderr, "kxcollect: %s\n", problem);
  std::fputs(kUsage, stderr);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage(nullptr);
  const std::string command = argv[1];
  if (command != "serve" && command != "import") return Usage(("unknown command " + command).c_str());
  std::map<std::string, std::string> options;
  std::vector<std::string> files;
  static const char* const kValued[] = {"--data", "--listen", "--store", "--upload-login", "--admin",
                                        "--max-upload", "--dup-except-def", "--dup-freeze-def", "--threads"};
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--", 0) != 0) {
      files.push_back(a);
      continue;
    }
    if (std::find(std::begin(kValued), std::end(kValued), a) == std::end(kValued))
      return Usage(("unknown option " + a).c_str());
    if (i + 1 >= argc) return Usage((a + " needs a value").c_str());
    options[a] = argv[++i];
  }
  if (options["--data"].empty()) return Usage("--data DIR is needed");
  const std::string data = options["--data"];
  mkdir(data.c_str(), 0755);
  if (!IsFolder(data)) return Usage(("cannot create " + data).c_str());

  TStoreOptions storeOptions;
  storeOptions.dataFolder = data;
  storeOptions.database = options["--store"].empty() ? "sqlite:" + data + "/kxcollect.sqlite" : options["--store"];
  storeOptions.rules.dupExceptDef = options.count("--dup-except-def") ? std::atoi(options["--dup-except-def"].c_str()) : 1;
  storeOptions.rules.dupFreezeDef = options.count("--dup-freeze-def") ? std::atoi(options["--dup-freeze-def"].c_str()) : 2;
  try {
    TReportStore store(storeOptions);
    store.Migrate();
    if (command == "import") {
      if (files.empty()) return Usage("import needs files");
      TImportCount count;
      bool ok = true;
      for (const std::string& f : files) ok &= Import(store, f, count);
      std::printf("%d reports imported, %d rejected\n", count.stored, count.rejected);
      return ok && count.rejected == 0 ? 0 : 2;
    }
    TServerOptions serverOptions;
    const std::string listen = options["--listen"].empty() ? "127.0.0.1:8080" : options["--listen"];
    const size_t colon = listen.rfind(':');
    if (colon == std::string::npos) return Usage("--listen wants HOST:PORT");
    serverOptions.host = listen.substr(0, colon);
    serverOptions.port = std::atoi(listen.c_str() + colon + 1);
    serverOptions.uploadLogin = options["--upload-login"];
    serverOptions.adminLogin = options["--admin"];
    if (!options["--max-upload"].empty()) serverOptions.maxUpload = std::strtoull(options["--max-upload"].c_str(), nullptr, 10);
    if (!options["--threads"].empty()) serverOptions.threads = std::max(1, std::atoi(options["--threads"].c_str()));
    TCollectorServer server(store, serverOptions);
    std::string error;
    if (!server.Bind(error)) {
      std::fprintf(stderr, "kxcollect: %s\n", error.c_str());
      return 2;
    }
    gServer = &server;
    signal(SIGINT, OnSignal);
    signal(SIGTERM, OnSignal);
    std::printf("kxcollect: listening on http://%s:%d/ (%s)\n", serverOptions.host.c_str(), server.Port(),
                options["--store"].empty() ? "SQLite" : "PostgreSQL");
    std::fflush(stdout);
    server.Run();
    gServer = nullptr;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kxcollect: %s\n", e.what());
    return 2;
  }
  return 0;
}
