// Mail benchmark (run by bench/mail_bench.py, which starts the peers):
// mailing a report with a 2 MB attachment to the local SMTP server end to
// end, and an MX lookup against the local DNS server. Prints the median and
// the range of each in milliseconds.
//   mail_bench <smtp port> <dns port> <attachment file> [runs]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "report_ui/mail/win/dns_client_win32.h"
#include "report_ui/mail/win/mail_test_network.h"
#include "report_ui/mail/win/send_via_network_win32.h"

namespace {

double Now() {
  LARGE_INTEGER t, f;
  QueryPerformanceCounter(&t);
  QueryPerformanceFrequency(&f);
  return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

void Print(const char* what, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  std::printf("%-36s median %8.2f ms  (min %.2f, max %.2f, %zu runs)\n", what, ms[ms.size() / 2], ms.front(),
              ms.back(), ms.size());
}

}  // namespace

int main(int argc, char** argv) {
  using namespace kestrix::mail;
  if (argc < 4) {
    std::fprintf(stderr, "usage: mail_bench <smtp port> <dns port> <attachment> [runs]\n");
    return 2;
  }
  const int runs = argc > 4 ? std::atoi(argv[4]) : 9;
  TMailTestNetwork network;
  network.dnsServers = {"127.0.0.1"};
  network.dnsPort = static_cast<uint16_t>(std::atoi(argv[2]));
  SetMailTestNetwork(&network);

  std::vector<double> send, lookup;
  for (int i = 0; i < runs; ++i) {
    TSendRequest r;
    r.sender = "bench@sender.test";
    r.recipients = "desk@kx.test";
    r.server = "127.0.0.1";
    r.port = static_cast<uint16_t>(std::atoi(argv[1]));
    r.subject = "bench";
    r.body = "a report with a 2 MB attachment";
    r.files = {argv[3]};
    r.sendAsNames = {"big.bin"};
    r.fieldNames = {""};
    std::string error;
    const double t0 = Now();
    if (!SendViaNetwork(r, &error)) {
      std::fprintf(stderr, "send failed: %s\n", error.c_str());
      return 1;
    }
    send.push_back(Now() - t0);
  }
  for (int i = 0; i < runs * 5; ++i) {
    const double t0 = Now();
    const TMailExchangers found = FindMailExchanger("desk@kx.test");
    lookup.push_back(Now() - t0);
    if (found.names.empty()) {
      std::fprintf(stderr, "no mail exchanger\n");
      return 1;
    }
  }
  Print("mail with 2 MB attachment, end to end", send);
  Print("MX lookup (FindMailExchanger)", lookup);
  return 0;
}
