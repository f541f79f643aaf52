// Uploads as the delivery does, for the HTTP tests and the benchmark:
//   http_probe JOB   JOB: lines "key<TAB>hex" (bytes in hexadecimal):
//     server, port, account, password, sender, proxy, timeout (ms),
//     field<TAB>name<TAB>content, file<TAB>path<TAB>send-as<TAB>field name
// Prints "sent", "status", "location", "error" and "opened" lines; exit
// code 0 when sent.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "report_ui/delivery/win/http_upload.h"

namespace {

std::string Unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(strtol(hex.substr(i, 2).c_str(), nullptr, 16));
  return out;
}

void PrintOpened(const std::string& url) { printf("opened %s\n", url.c_str()); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: http_probe JOB\n");
    return 2;
  }
  kestrix::THttpUploadJob job;
  job.openLocation = PrintOpened;
  std::ifstream in(argv[1], std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> cols;
    std::stringstream ss(line);
    for (std::string col; std::getline(ss, col, '\t');) cols.push_back(col);
    if (cols.empty()) continue;
    const std::string& key = cols[0];
    std::string v = cols.size() > 1 ? Unhex(cols[1]) : std::string();
    if (key == "server") job.server = v;
    else if (key == "port") job.port = atoi(v.c_str());
    else if (key == "account") job.account = v;
    else if (key == "password") job.password = v;
    else if (key == "sender") job.sender = v;
    else if (key == "proxy") job.proxy = v;
    else if (key == "system-proxy") job.proxy = kestrix::QuerySystemProxy();
    else if (key == "timeout") job.replyTimeoutMs = static_cast<unsigned>(atoi(v.c_str()));
    else if (key == "field") job.fields.emplace_back(v, cols.size() > 2 ? Unhex(cols[2]) : std::string());
    else if (key == "file" && cols.size() == 4) {
      job.files.push_back(v);
      job.sendAs.push_back(Unhex(cols[2]));
      job.fieldNames.push_back(Unhex(cols[3]));
    }
  }
  kestrix::THttpUploadResult r = kestrix::SendViaHttp(job);
  printf("sent %d\nstatus %s\nlocation %s\nerror %s\n", r.sent ? 1 : 0, r.status.c_str(), r.location.c_str(),
         r.error.c_str());
  return r.sent ? 0 : 1;
}
