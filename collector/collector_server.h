// kxcollect's HTTP server: the library's upload ("POST /upload"), ".kx"
// files ("POST /api/kx"), the pages, the JSON API and the downloads.
#pragma once

#include <memory>
#include <string>

#include "collector/report_store.h"

namespace kestrix::collector {

struct TServerOptions {
  std::string host = "127.0.0.1";
  int port = 8080;
  size_t maxUpload = 32u << 20;  // bytes of one request body
  std::string uploadLogin;       // "account:password" the uploads must give (HttpAccount/HttpPassword); empty: none
  std::string adminLogin;        // "user:password" for the pages that change data; empty: they are refused
  int threads = 8;
};

// Compares without leaking where the texts differ (time does not depend on
// the content, only on the length of what was given).
bool SameSecret(const std::string& given, const std::string& expected);

// "Basic …" → "account:password"; empty when malformed.
std::string BasicCredentials(const std::string& authorization);

class TCollectorServer {
 public:
  TCollectorServer(TReportStore& store, const TServerOptions& options);
  ~TCollectorServer();
  // Binds; false with the reason when the address cannot be had.
  bool Bind(std::string& error);
  // The bound port (useful with port 0).
  int Port() const;
  // Serves until Stop().
  void Run();
  void Stop();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> impl_;
};

}  // namespace kestrix::collector
