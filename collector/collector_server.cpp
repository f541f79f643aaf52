// kxcollect's HTTP server (see collector_server.h).
#include "collector/collector_server.h"

#include <httplib.h>
#include <sys/socket.h>

#include <cstdio>

#include "collector/html_pages.h"
#include "collector/intake.h"
#include "collector/json_api.h"
#include "collector/multipart_form.h"
#include "crash/settings/kx_cipher.h"

namespace kestrix::collector {

namespace {

// cpp-httplib would parse a multipart body itself and keep only a map of
// its parts; the upload is read byte for byte by the collector's own strict
// form parser instead, so its content type travels under this name.
const char kFormType[] = "X-Kxcollect-Form-Type";

int64_t NumberParam(const httplib::Request& req, const char* name, int64_t fallback) {
  if (!req.has_param(name)) return fallback;
  const std::string v = req.get_param_value(name);
  if (v.empty() || v.size() > 12 || v.find_first_not_of("0123456789") != std::string::npos) return fallback;
  return std::stoll(v);
}

void Answer(httplib::Response& res, int status, const std::string& text) {
  res.status = status;
  res.set_content(text + "\n", "text/plain; charset=utf-8");
}

}  // namespace

bool SameSecret(const std::string& given, const std::string& expected) {
  unsigned char diff = given.size() == expected.size() ? 0 : 1;
  for (size_t i = 0; i < given.size(); ++i)
    diff |= static_cast<unsigned char>(given[i] ^ (expected.empty() ? 0 : expected[i % expected.size()]));
  return diff == 0;
}

std::string BasicCredentials(const std::string& authorization) {
  if (authorization.size() < 6 || authorization.compare(0, 6, "Basic ") != 0) return std::string();
  std::string decoded;
  return Base64Decode(authorization.substr(6), decoded) ? decoded : std::string();
}

struct TCollectorServer::TImpl {
  TReportStore& store;
  TServerOptions options;
  httplib::Server server;
  int port = 0;
  int listenSocket = -1;

  TImpl(TReportStore& s, const TServerOptions& o) : store(s), options(o) {}

  bool Allowed(const httplib::Request& req, const std::string& login) {
    return SameSecret(BasicCredentials(req.get_header_value("Authorization")), login);
  }

  bool RequireLogin(const httplib::Request& req, httplib::Response& res, const std::string& login,
                    const char* realm) {
    if (login.empty() || Allowed(req, login)) return true;
    res.set_header("WWW-Authenticate", std::string("Basic realm=\"") + realm + "\"");
    Answer(res, 401, "login required");
    return false;
  }

  // The form of a request, parsed by the collector's own parser.
  bool ReadForm(const httplib::Request& req, std::vector<TFormPart>& parts, std::string& error) {
    const std::string boundary = FormBoundary(req.get_header_value(kFormType));
    if (boundary.empty()) {
      error = "the upload must be multipart/form-data with a boundary";
      return false;
    }
    return ParseMultipartForm(req.body, boundary, parts, error);
  }

  void Upload(const httplib::Request& req, httplib::Response& res) {
    if (!RequireLogin(req, res, options.uploadLogin, "kxcollect upload")) return;
    std::vector<TFormPart> parts;
    std::string error;
    TSubmission submission;
    if (!ReadForm(req, parts, error) || !SubmissionFromForm(parts, submission, error))
      return Answer(res, 400, "rejected: " + error);
    TStoredReport stored;
    try {
      if (!store.Add(submission, stored, error)) return Answer(res, 400, "rejected: " + error);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "kxcollect: cannot store an upload: %s\n", e.what());
      return Answer(res, 500, "the report could not be stored");
    }
    Answer(res, 200, "stored report " + std::to_string(stored.id));
  }

  void UploadKx(const httplib::Request& req, httplib::Response& res) {
    if (!RequireLogin(req, res, options.uploadLogin, "kxcollect upload")) return;
    std::string name = req.get_param_value("name"), bytes = req.body, error;
    if (!req.get_header_value(kFormType).empty()) {
      std::vector<TFormPart> parts;
      if (!ReadForm(req, parts, error)) return Answer(res, 400, "rejected: " + error);
      bytes.clear();
      for (const TFormPart& p : parts)
        if (p.isFile) {
          name = p.fileName;
          bytes = p.content;
          break;
        }
    }
    name = SafeFileName(name);
    int renamed = 0;
    try {
      if (!store.AddKxFile(name, bytes, renamed, error)) return Answer(res, 400, "rejected: " + error);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "kxcollect: cannot store a .kx file: %s\n", e.what());
      return Answer(res, 500, "the .kx file could not be stored");
    }
    Answer(res, 200, "stored " + name + "; " + std::to_string(renamed) + " reports named");
  }

  TGroupFilter Filter(const httplib::Request& req) {
    TGroupFilter f;
    f.version = req.get_param_value("version");
    f.exceptionClass = req.get_param_value("class");
    f.text = req.get_param_value("q");
    if (req.has_param("sort")) f.sort = req.get_param_value("sort");
    return f;
  }

  void Routes() {
    server.set_payload_max_length(options.maxUpload);
    // A slow sender (the library sends in small pieces, a busy client may
    // pause) still gets its report through; a stalled one is dropped.
    server.set_read_timeout(60, 0);
    server.set_write_timeout(60, 0);
    server.set_pre_routing_handler([](const httplib::Request& in, httplib::Response&) {
      auto& req = const_cast<httplib::Request&>(in);
      req.headers.erase(kFormType);
      auto type = req.headers.find("Content-Type");
      if (type != req.headers.end() && type->second.rfind("multipart/", 0) == 0) {
        req.headers.emplace(kFormType, type->second);
        type->second = "application/octet-stream";
      }
      return httplib::Server::HandlerResponse::Unhandled;
    });
    // The pages need nothing from elsewhere and run no script; they are
    // never framed (the fixed mark is a form).
    server.set_default_headers({{"Content-Security-Policy",
                                 "default-src 'none'; img-src 'self'; style-src 'unsafe-inline'; form-action 'self'; "
                                 "frame-ancestors 'none'"},
                                {"X-Content-Type-Options", "nosniff"},
                                {"X-Frame-Options", "DENY"}});
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
      try {
        std::rethrow_exception(ep);
      } catch (const std::exception& e) {
        std::fprintf(stderr, "kxcollect: %s\n", e.what());
      } catch (...) {
      }
      res.status = 500;
      res.set_content(MessagePage(500, "Error", "the request failed"), "text/html; charset=utf-8");
    });
    server.Post("/upload", [this](const httplib::Request& req, httplib::Response& res) { Upload(req, res); });
    server.Post("/api/kx", [this](const httplib::Request& req, httplib::Response& res) { UploadKx(req, res); });
    server.Get("/", [this](const httplib::Request& req, httplib::Response& res) {
      const TGroupFilter f = Filter(req);
      res.set_content(GroupsPage(store.Groups(f), f, store.ExceptionClasses(), store.AllVersions()),
                      "text/html; charset=utf-8");
    });
    server.Get("/api/groups", [this](const httplib::Request& req, httplib::Response& res) {
      res.set_content(GroupsJson(store.Groups(Filter(req))), "application/json");
    });
    server.Get(R"(/api/groups/(\d{1,12}))", [this](const httplib::Request& req, httplib::Response& res) {
      TGroupDetail d;
      const size_t limit = static_cast<size_t>(NumberParam(req, "limit", INT64_MAX / 2));
      if (!store.Group(std::stoll(req.matches[1]), d, static_cast<size_t>(NumberParam(req, "offset", 0)), limit))
        return Answer(res, 404, "no such group");
      std::vector<std::vector<TAttachmentRow>> files;
      for (const TReportRow& r : d.reports) files.push_back(store.Attachments(r.id));
      res.set_content(GroupJson(d, files), "application/json");
    });
    server.Get(R"(/groups/(\d{1,12}))", [this](const httplib::Request& req, httplib::Response& res) {
      TGroupPageData data;
      data.offset = static_cast<size_t>(NumberParam(req, "offset", 0));
      if (!store.Group(std::stoll(req.matches[1]), data.detail, data.offset, data.pageSize)) {
        res.status = 404;
        return res.set_content(MessagePage(404, "Not found", "no such group"), "text/html; charset=utf-8");
      }
      data.tab = static_cast<int>(std::min<int64_t>(NumberParam(req, "tab", 0), 100));
      if (store.LatestReport(data.detail.group.id, data.latest)) {
        data.latestFiles = store.Attachments(data.latest.id);
        for (const TAttachmentRow& a : data.latestFiles) {
          std::string text, error;
          if (a.kind == "report" && store.AttachmentData(a, text) && ParseReport(text, data.report, error)) {
            data.haveReport = true;
            break;
          }
        }
      }
      res.set_content(GroupPage(data), "text/html; charset=utf-8");
    });
    server.Post(R"(/groups/(\d{1,12})/fixed)", [this](const httplib::Request& req, httplib::Response& res) {
      if (options.adminLogin.empty()) {
        res.status = 403;
        return res.set_content(MessagePage(403, "Forbidden", "changes need a login: start kxcollect with --admin"),
                               "text/html; charset=utf-8");
      }
      if (!RequireLogin(req, res, options.adminLogin, "kxcollect")) return;
      std::string version = req.get_param_value("version");
      if (version.empty() && !req.body.empty()) {
        httplib::Params params;
        httplib::detail::parse_query_text(req.body, params);
        auto it = params.find("version");
        if (it != params.end()) version = it->second;
      }
      const int64_t id = std::stoll(req.matches[1]);
      if (!store.MarkFixed(id, version)) return Answer(res, 404, "no such group");
      res.status = 303;
      res.set_header("Location", "/groups/" + std::to_string(id));
    });
    server.Get(R"(/reports/(\d{1,12}))", [this](const httplib::Request& req, httplib::Response& res) {
      TReportRow r;
      if (!store.Report(std::stoll(req.matches[1]), r)) return Answer(res, 404, "no such report");
      res.set_content(ReportFilesPage(r, store.Attachments(r.id)), "text/html; charset=utf-8");
    });
    server.Get(R"(/reports/(\d{1,12})/files/(\d{1,6}))", [this](const httplib::Request& req, httplib::Response& res) {
      const int position = std::stoi(req.matches[2]);
      for (const TAttachmentRow& a : store.Attachments(std::stoll(req.matches[1]))) {
        if (a.position != position) continue;
        std::string data;
        if (!store.AttachmentData(a, data)) return Answer(res, 404, "the file is missing");
        const char* type = a.kind == "screenshot" ? "image/png" : a.kind == "report" ? "text/plain; charset=windows-1252"
                                                                                     : "application/octet-stream";
        // The name as sent, quoted for the header only: it never becomes a path.
        std::string quoted;
        for (char c : a.name) quoted += (c == '"' || c == '\\' || static_cast<unsigned char>(c) < 32) ? '_' : c;
        res.set_header("Content-Disposition", std::string(a.kind == "screenshot" ? "inline" : "attachment") +
                                                   "; filename=\"" + quoted + "\"");
        return res.set_content(data, type);
      }
      Answer(res, 404, "no such file");
    });
  }
};

TCollectorServer::TCollectorServer(TReportStore& store, const TServerOptions& options)
    : impl_(std::make_unique<TImpl>(store, options)) {
  impl_->server.new_task_queue = [n = options.threads] { return new httplib::ThreadPool(static_cast<size_t>(n)); };
  impl_->Routes();
}

TCollectorServer::~TCollectorServer() = default;

bool TCollectorServer::Bind(std::string& error) {
  // cpp-httplib listens with a backlog of 5: uploads arriving together
  // would be refused. The socket is noted here and given a longer queue.
  impl_->server.set_socket_options([impl = impl_.get()](socket_t sock) {
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    impl->listenSocket = sock;
  });
  if (impl_->options.port == 0) {
    impl_->port = impl_->server.bind_to_any_port(impl_->options.host);
  } else if (impl_->server.bind_to_port(impl_->options.host, impl_->options.port)) {
    impl_->port = impl_->options.port;
  } else {
    impl_->port = -1;
  }
  if (impl_->port <= 0) {
    error = "cannot listen on " + impl_->options.host + ":" + std::to_string(impl_->options.port);
    return false;
  }
  if (impl_->listenSocket >= 0) ::listen(impl_->listenSocket, 1024);
  return true;
}

int TCollectorServer::Port() const { return impl_->port; }
void TCollectorServer::Run() { impl_->server.listen_after_bind(); }
void TCollectorServer::Stop() { impl_->server.stop(); }

}  // namespace kestrix::collector
