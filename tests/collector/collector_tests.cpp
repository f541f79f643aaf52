// kxcollect's portable parts against the library's own producers: forms
// written by the upload's request code, archives by its ZIP writer, reports
// by its text layout and its report-file rules, maps by the build step's
// writer; and the server in the process for the hostile cases.
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "collector/collector_server.h"
#include "collector/intake.h"
#include "collector/kx_symbols.h"
#include "collector/multipart_form.h"
#include "collector/report_facts.h"
#include "collector/report_store.h"
#include "collector/zip_reader.h"
#include "crash/report/bug_report_file.h"
#include "crash/report/call_stack_text.h"
#include "crash/report/report_text.h"
#include "crash/settings/kx_cipher.h"
#include "debuginfo/map/compact_map.h"
#include "report_ui/delivery/http_upload_request.h"
#include "report_ui/delivery/zip_archive.h"

namespace kestrix::collector {
namespace {

namespace fs = std::filesystem;

// A report as the library lays it out.
std::string Report(const std::string& crc, const std::string& cls = "EDivByZero",
                   const std::string& message = "Division by zero.", const std::string& computer = "PC1",
                   const std::string& version = "1.2.0.0", const std::string& stack = "") {
  TFieldList header = {{"date/time", "2026-12-01, 10:11:12, 5ms"}, {"computer name", computer},
                       {"executable", "app.exe"}, {"version", version}, {"callstack crc", crc},
                       {"exception number", "1"}};
  if (!cls.empty()) header.push_back({"exception class", cls});
  header.push_back({"exception message", message});
  TFieldList sections = {
      {"main thread ($1a4)", stack.empty() ? "00402110 +0030 app.exe main 86 +3 DivideByZero\r\n"
                                             "00402136 +0006 app.exe main 310 +0 Run"
                                           : stack},
      {"cpu registers", "eax = 00000001\r\nebx = 00000002"}};
  return FormatReportText(header, sections);
}

const char kCrcA[] = "$11111111, $22222222, $33333333";

std::string TempDir() {
  char pattern[] = "/tmp/kxcollect-testXXXXXX";
  return mkdtemp(pattern);
}

std::string UploadBody(const std::vector<std::pair<std::string, std::string>>& fields,
                       const std::vector<std::tuple<std::string, std::string, std::string>>& files) {
  std::string body = FormFieldText(fields);
  for (const auto& [field, name, data] : files) {
    THttpFilePart part{field, name, data.size()};
    body += FilePartHead(part) + data;
  }
  body += BodyTrailer();
  return body.substr(2);  // the head's closing CR LF
}

TEST(Form, ReadsTheLibrarysUploadByteForByte) {
  const std::string png("\x89PNG\r\n\x1a\nrest", 12);
  std::vector<std::tuple<std::string, std::string, std::string>> files = {
      {"BugReport", "bug\"report\".txt", Report(kCrcA)}, {"ScreenShot", "screenshot.png", png}};
  const std::string body = UploadBody({{"MailFrom", "a@b"}, {"Product", "Line1\r\nLine2"}}, files);
  std::vector<THttpFilePart> parts;
  for (const auto& [f, n, d] : files) parts.push_back({f, n, d.size()});
  ASSERT_EQ(body.size(), UploadContentLength(FormFieldText({{"MailFrom", "a@b"}, {"Product", "Line1\r\nLine2"}}), parts));

  const std::string boundary = FormBoundary("multipart/form-data; boundary=" + std::string(kUploadBoundary));
  ASSERT_EQ(boundary, kUploadBoundary);
  std::vector<TFormPart> form;
  std::string error;
  ASSERT_TRUE(ParseMultipartForm(body, boundary, form, error)) << error;
  ASSERT_EQ(form.size(), 4u);
  EXPECT_EQ(form[1].content, "Line1\r\nLine2");
  EXPECT_EQ(form[2].fileName, "bug\"report\".txt");  // the library's %22 undone
  EXPECT_EQ(form[2].content, Report(kCrcA));
  EXPECT_EQ(form[3].content, png);

  TSubmission s;
  ASSERT_TRUE(SubmissionFromForm(form, s, error)) << error;
  EXPECT_EQ(s.report, Report(kCrcA));
  ASSERT_EQ(s.files.size(), 1u);
  EXPECT_EQ(s.files[0].kind, "screenshot");
}

TEST(Form, MalformedFormsAreRefusedWithTheReason) {
  const std::string good = UploadBody({{"MailFrom", "a@b"}}, {{"BugReport", "r.txt", Report(kCrcA)}});
  std::vector<TFormPart> parts;
  std::string error;
  struct Case {
    std::string body, reason;
  } cases[] = {
      {good.substr(0, good.size() - 10), "closing boundary"},
      {"garbage" + good, "begin"},
      {good + "trailing", "after the form's closing"},
      {"--" + std::string(kUploadBoundary) + "\r\nContent-Type: x\r\n\r\nabc\r\n--" + kUploadBoundary + "--\r\n",
       "without Content-Disposition"},
      {"--" + std::string(kUploadBoundary) + "\r\nContent-Disposition: form-data\r\n\r\nabc\r\n--" +
           kUploadBoundary + "--\r\n",
       "without a name"},
      {"--" + std::string(kUploadBoundary) + "--\r\n", "without parts"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(ParseMultipartForm(c.body, kUploadBoundary, parts, error)) << c.reason;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
  EXPECT_EQ(FormBoundary("text/plain"), "");
  EXPECT_EQ(FormBoundary("multipart/form-data"), "");
  EXPECT_EQ(FormBoundary("multipart/form-data; boundary=\"a b\""), "");
}

TEST(Zip, ReadsTheLibrarysArchivesAndRefusesDamagedOnes) {
  const std::string dir = TempDir();
  const std::string report = dir + "/bugreport.txt", shot = dir + "/shot.png", archive = dir + "/Report.zip";
  std::ofstream(report, std::ios::binary) << Report(kCrcA);
  std::ofstream(shot, std::ios::binary) << std::string("\x89PNG\r\n\x1a\n", 8) << std::string(5000, 'x');
  ASSERT_TRUE(WriteZipArchive(archive, {report, shot}, {"bugreport.txt", "screenshot.png"}, TZipPlatform{}).ok);
  std::ifstream in(archive, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<TZipEntry> entries;
  std::string error;
  ASSERT_TRUE(ReadZipArchive(bytes, entries, error)) << error;
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].content, Report(kCrcA));
  EXPECT_EQ(entries[1].name, "screenshot.png");

  std::string damaged = bytes;
  damaged[30 + 13 + 4] ^= 0x20;  // inside the first entry's data (after its 30-byte header and name)
  EXPECT_FALSE(ReadZipArchive(damaged, entries, error));
  EXPECT_FALSE(ReadZipArchive(bytes, entries, error, 1000)) << "more than the size limit";
  EXPECT_NE(error.find("size limit"), std::string::npos);
  EXPECT_FALSE(ReadZipArchive(bytes.substr(0, bytes.size() - 5), entries, error));

  // An upload whose archive holds the report and the screenshot.
  std::vector<TFormPart> form = {{"Report.zip", "Report.zip", true, bytes}};
  TSubmission s;
  ASSERT_TRUE(SubmissionFromForm(form, s, error)) << error;
  EXPECT_EQ(s.report, Report(kCrcA));
  ASSERT_EQ(s.files.size(), 1u);
  EXPECT_EQ(s.files[0].name, "screenshot.png");
  fs::remove_all(dir);
}

TEST(Report, ParsesTheLibrarysLayoutAndItsReportFile) {
  const std::string text = Report(kCrcA, "EAccessViolation", "Access violation at address $0.");
  TParsedReport r;
  std::string error;
  ASSERT_TRUE(ParseReport(text, r, error)) << error;
  EXPECT_EQ(FormatReportText(r.header, r.sections), text);
  const TReportFacts f = ReportFacts(r);
  EXPECT_EQ(f.exceptionClass, "EAccessViolation");
  EXPECT_EQ(f.location, "main 86 +3 DivideByZero");
  EXPECT_EQ(ReportTime(f.dateTime), "2026-12-01 10:11:12");
  // LF line ends (a mail client's) read the same.
  std::string lf = text;
  for (size_t p; (p = lf.find("\r\n")) != std::string::npos;) lf.erase(p, 1);
  TParsedReport r2;
  ASSERT_TRUE(ParseReport(lf, r2, error));
  EXPECT_EQ(r2.text, text);
  EXPECT_FALSE(ParseReport("hello", r2, error));
  EXPECT_FALSE(ParseReport("date/time: x\r\nfoo: bar", r2, error)) << "no callstack crc";

  // The library's report file after three saves of one crash and one of another.
  TBugReportFileRules rules;
  std::string file;
  for (const std::string& report : {Report(kCrcA), Report(kCrcA), Report("$99999999, $22222222, $33333333"),
                                    Report(kCrcA)})
    file = UpdateBugReportFile(file, report, rules).content;
  const std::vector<TSubmission> reports = SubmissionsFromReportFile(file, "file");
  ASSERT_EQ(reports.size(), 2u);
  TParsedReport last;
  ASSERT_TRUE(ParseReport(reports[1].report, last, error));
  EXPECT_EQ(ReportFacts(last).count, 3);
}

TEST(Report, VersionsCompareNumberByNumber) {
  EXPECT_LT(CompareVersions("1.2.9", "1.2.10"), 0);
  EXPECT_EQ(CompareVersions("1.02", "1.2"), 0);
  EXPECT_GT(CompareVersions("2026-12-08 01:55", "2000-01-01 00:00"), 0);
  EXPECT_LT(CompareVersions("1.2", "1.2.1"), 0);
}

// A store in a fresh folder (SQLite).
struct TStoreFixture : ::testing::Test {
  std::string dir = TempDir();
  TStoreOptions options() {
    TStoreOptions o;
    o.dataFolder = dir;
    o.database = "sqlite:" + dir + "/db.sqlite";
    return o;
  }
  void TearDown() override { fs::remove_all(dir); }
  static TSubmission Upload(const std::string& report, std::vector<TIncomingFile> files = {}) {
    TSubmission s;
    s.report = report;
    s.source = "upload";
    s.files = std::move(files);
    return s;
  }
};

TEST_F(TStoreFixture, GroupsByTheLibrarysDuplicateRule) {
  TReportStore store(options());
  store.Migrate();
  store.Migrate();  // applied once
  TStoredReport stored;
  std::string error;
  // DupExceptDef 1: the first two checksums decide; the third may differ.
  ASSERT_TRUE(store.Add(Upload(Report("$11111111, $22222222, $33333333", "E", "m", "PC1", "1.0")), stored, error));
  ASSERT_TRUE(store.Add(Upload(Report("$11111111, $22222222, $44444444", "E", "m", "PC2", "1.1")), stored, error));
  ASSERT_TRUE(store.Add(Upload(Report("$11111111, $55555555, $33333333", "E", "m", "PC1", "1.0")), stored, error));
  // A freeze (no class) with the same checksums is a group of its own.
  ASSERT_TRUE(store.Add(Upload(Report("$11111111, $22222222, $33333333", "", "frozen")), stored, error));
  std::vector<TGroupRow> groups = store.Groups({});
  ASSERT_EQ(groups.size(), 3u);
  TGroupFilter byCount;
  byCount.sort = "count";
  groups = store.Groups(byCount);
  EXPECT_EQ(groups[0].count, 2);
  EXPECT_EQ(groups[0].users, 2);
  EXPECT_EQ(groups[0].versions, "1.0, 1.1");
  TGroupFilter freezes;
  freezes.exceptionClass = "freeze";
  EXPECT_EQ(store.Groups(freezes).size(), 1u);
  TGroupFilter version;
  version.version = "1.1";
  EXPECT_EQ(store.Groups(version).size(), 1u);
  TGroupFilter text;
  text.text = "FROZ";
  EXPECT_EQ(store.Groups(text).size(), 1u);
  text.text = "%";  // a LIKE wildcard is only text
  EXPECT_EQ(store.Groups(text).size(), 0u);

  // DupExceptDef 0: the first checksum alone.
  TStoreOptions loose = options();
  loose.database = "sqlite:" + dir + "/loose.sqlite";
  loose.rules.dupExceptDef = 0;
  TReportStore looseStore(loose);
  looseStore.Migrate();
  ASSERT_TRUE(looseStore.Add(Upload(Report("$11111111, $22222222, $33333333")), stored, error));
  ASSERT_TRUE(looseStore.Add(Upload(Report("$11111111, $55555555, $33333333")), stored, error));
  EXPECT_EQ(looseStore.Groups({}).size(), 1u);
}

TEST_F(TStoreFixture, FixedGroupReopensForALaterVersionOnly) {
  TReportStore store(options());
  store.Migrate();
  TStoredReport stored;
  std::string error;
  ASSERT_TRUE(store.Add(Upload(Report(kCrcA, "E", "m", "PC1", "1.9.0")), stored, error));
  ASSERT_TRUE(store.MarkFixed(stored.groupId, "1.10.0"));
  ASSERT_TRUE(store.Add(Upload(Report(kCrcA, "E", "m", "PC1", "1.9.5")), stored, error));
  EXPECT_EQ(store.Groups({})[0].fixedIn, "1.10.0") << "an older build still crashing";
  ASSERT_TRUE(store.Add(Upload(Report(kCrcA, "E", "m", "PC1", "1.10.1")), stored, error));
  const TGroupRow g = store.Groups({})[0];
  EXPECT_EQ(g.fixedIn, "");
  EXPECT_EQ(g.regressionIn, "1.10.1");
  EXPECT_EQ(g.count, 3);
}

// A map of a program whose code starts at 0x401000: two functions with lines.
std::string SampleKx() {
  TMapContents c;
  c.segments.push_back({0, 0x400, "lab", true});
  c.publics.push_back({"Outer", 0x100});
  c.publics.push_back({"Crash", 0x200});
  c.lines = {{10, 0x100}, {12, 0x120}, {40, 0x200}, {43, 0x230}};
  return WriteCompactMap(c, 0x1234, false);
}

TEST(KxNames, NameTheAddressOnlyLinesAsTheProgramWould) {
  TKxFile kx;
  std::string error;
  ASSERT_TRUE(LoadKxFile(SampleKx(), "lab.kx", kx, error)) << error;
  EXPECT_EQ(kx.fingerprint.size(), 31u);
  // What a build without its ".kx" file writes: module and address.
  const std::string stack = "00401230 +030 lab.exe\r\n00401125 +025 lab.exe\r\n7b001000 +010 kernel32.dll  Start";
  TParsedReport r;
  ASSERT_TRUE(ParseReport(Report("$00000001, $00000002, $00000003", "E", "m", "PC1", "1", stack), r, error));
  ASSERT_TRUE(NameReport(r, kx));
  // The same entries, named, as the library composes them.
  std::vector<TCallStackEntry> named(3);
  named[0] = {0x401230, 0x401200, "lab.exe", "lab", 3, 43, "Crash", false, true};
  named[1] = {0x401125, 0x401100, "lab.exe", "lab", 2, 12, "Outer", false, false};
  named[2] = {0x7b001000, 0x7b000ff0, "kernel32.dll", "", 0, 0, "Start", false, false};
  const TCallStackText expected = ComposeCallStack(named, TCallStackOptions{});
  EXPECT_EQ(r.sections[0].second, expected.text);
  EXPECT_EQ(ReportHeaderValue(r.text, "callstack crc"),
            CallstackCrcText(expected.checksum1, expected.checksum2, expected.checksum2));
  EXPECT_EQ(ReportFacts(r).location, "lab 43 +3 Crash");
  // Nothing to name twice; a stripped map is no ".kx" file.
  EXPECT_FALSE(NameReport(r, kx));
  EXPECT_FALSE(LoadKxFile(WriteCompactMap(TMapContents(), 1, true), "lab.kx", kx, error));
}

// The server in this process, on a free port, for the hostile cases.
struct TServerFixture : TStoreFixture {
  std::unique_ptr<TReportStore> store;
  std::unique_ptr<TCollectorServer> server;
  std::thread thread;
  void Start(TServerOptions o) {
    store = std::make_unique<TReportStore>(options());
    store->Migrate();
    o.port = 0;
    server = std::make_unique<TCollectorServer>(*store, o);
    std::string error;
    ASSERT_TRUE(server->Bind(error)) << error;
    thread = std::thread([this] { server->Run(); });
  }
  void TearDown() override {
    if (server) server->Stop();
    if (thread.joinable()) thread.join();
    TStoreFixture::TearDown();
  }
  httplib::Result Post(const std::string& body, const std::string& login = "") {
    httplib::Client c("127.0.0.1", server->Port());
    httplib::Headers h;
    if (!login.empty()) h.emplace("Authorization", "Basic " + Base64Encode(login));
    return c.Post("/upload", h, body, "multipart/form-data; boundary=" + std::string(kUploadBoundary));
  }
  std::string Get(const std::string& path) {
    httplib::Client c("127.0.0.1", server->Port());
    auto r = c.Get(path);
    return r ? r->body : std::string();
  }
};

TEST_F(TServerFixture, HostileUploadsAreRefusedAndLeaveNothing) {
  TServerOptions o;
  o.uploadLogin = "lab:pw";
  o.maxUpload = 64 * 1024;
  Start(o);
  const std::string good = UploadBody({}, {{"BugReport", "../../etc/passwd", Report(kCrcA)},
                                           {"Extra", "..\\..\\boot.ini", "data"}});
  EXPECT_EQ(Post(good)->status, 401);
  EXPECT_EQ(Post(good, "lab:px")->status, 401);
  EXPECT_EQ(Post(good, "lab:pw ")->status, 401);
  EXPECT_EQ(Post(good.substr(0, good.size() - 20), "lab:pw")->status, 400);
  EXPECT_EQ(Post(UploadBody({}, {{"BugReport", "r.txt", "not a report"}}), "lab:pw")->status, 400);
  EXPECT_EQ(Post(UploadBody({}, {{"BugReport", "r.txt", Report(kCrcA) + std::string(70000, 'x')}}), "lab:pw")->status,
            413);
  EXPECT_EQ(store->Groups({}).size(), 0u) << "nothing half-stored";

  auto stored = Post(good, "lab:pw");
  ASSERT_EQ(stored->status, 200) << stored->body;
  const TGroupRow g = store->Groups({})[0];
  TGroupDetail d;
  ASSERT_TRUE(store->Group(g.id, d, 0, 10));
  const std::vector<TAttachmentRow> files = store->Attachments(d.reports[0].id);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[1].name, "boot.ini") << "a name, never a path";
  // Downloads go by position; the name is only in the header.
  httplib::Client c("127.0.0.1", server->Port());
  auto file = c.Get("/reports/" + std::to_string(d.reports[0].id) + "/files/1");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->body, "data");
  EXPECT_EQ(file->get_header_value("Content-Disposition"), "attachment; filename=\"boot.ini\"");
  EXPECT_EQ(c.Get("/reports/1/files/9")->status, 404);
}

TEST_F(TServerFixture, TextIsEscapedAndChangesNeedTheLogin) {
  TServerOptions o;
  o.adminLogin = "admin:pw";
  Start(o);
  const std::string evil = "<script>alert(\"x\")</script> & \xe9";  // a Latin-1 byte
  ASSERT_EQ(Post(UploadBody({}, {{"BugReport", "r.txt", Report(kCrcA, "E<b>", evil)}}))->status, 200);
  const std::string page = Get("/");
  EXPECT_EQ(page.find("<script>"), std::string::npos);
  httplib::Client browser("127.0.0.1", server->Port());
  EXPECT_EQ(browser.Get("/")->get_header_value("Content-Security-Policy").rfind("default-src 'none';", 0), 0u);
  EXPECT_EQ(page.find("E<b>"), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt; &amp;"), std::string::npos);
  const std::string json = Get("/api/groups");
  EXPECT_NE(json.find(R"(<script>alert(\"x\")</script> & )" "\xc3\xa9"), std::string::npos) << json;
  const int64_t id = store->Groups({})[0].id;
  EXPECT_EQ(Get("/groups/" + std::to_string(id)).find("<script>"), std::string::npos);

  httplib::Client c("127.0.0.1", server->Port());
  const std::string path = "/groups/" + std::to_string(id) + "/fixed";
  EXPECT_EQ(c.Post(path, "version=2.0", "application/x-www-form-urlencoded")->status, 401);
  httplib::Headers admin = {{"Authorization", "Basic " + Base64Encode("admin:pw")}};
  EXPECT_EQ(c.Post(path, admin, "version=2.0", "application/x-www-form-urlencoded")->status, 303);
  EXPECT_EQ(store->Groups({})[0].fixedIn, "2.0");
}

TEST(Secrets, CompareWholeTexts) {
  EXPECT_TRUE(SameSecret("a:b", "a:b"));
  EXPECT_FALSE(SameSecret("a:b", "a:c"));
  EXPECT_FALSE(SameSecret("a:", "a:b"));
  EXPECT_FALSE(SameSecret("", "a"));
  EXPECT_EQ(BasicCredentials("Basic " + Base64Encode("x:y:z")), "x:y:z");
  EXPECT_EQ(BasicCredentials("Basic !!!"), "");
}

}  // namespace
}  // namespace kestrix::collector
