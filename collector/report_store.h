// The collector's store: the schema and its numbered migrations, a report's
// intake (its group by the library's duplicate rule, the group's counts,
// users, versions and days, a regression when a fixed group comes back),
// the ".kx" files, and the reads that the pages and the API show.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "collector/attachment_store.h"
#include "collector/database.h"
#include "crash/report/bug_report_file.h"

namespace kestrix::collector {

struct TIncomingFile {
  std::string name;   // as sent; shown and used for downloads, never as a path
  std::string field;  // the form field (empty for imports)
  std::string kind;   // "report", "screenshot" or "file"
  std::string data;
};

struct TSubmission {
  std::string report;       // one report's text
  int count = 1;            // occurrences it stands for; 0: the report's own "count" (a bug report file's)
  std::string source;       // "upload", "file", "mail"
  std::string fingerprint;  // the build's ".kx" fingerprint when the upload named one
  std::vector<TIncomingFile> files;  // the report's other files
};

struct TStoredReport {
  int64_t id = 0, groupId = 0;
  bool named = false;  // named from a ".kx" file
};

struct TGroupRow {
  int64_t id = 0, count = 0, users = 0;
  std::string exceptionClass, exceptionMessage, location, executable;
  std::string firstSeen, lastSeen, versions, fixedIn, regressionIn;
};

struct TGroupFilter {
  std::string version, exceptionClass, text;
  std::string sort = "last";  // "last", "first", "count", "users", "class"
  size_t limit = 1000;
};

struct TVersionRow {
  std::string version, firstSeen, lastSeen;
  int64_t count = 0;
};

struct TAttachmentRow {
  int64_t reportId = 0;
  int position = 0;
  std::string name, field, kind, hash;
  int64_t size = 0;
};

struct TReportRow {
  int64_t id = 0, groupId = 0, count = 0;
  std::string received, occurred, computer, version, source;
  bool named = false;
};

struct TGroupDetail {
  TGroupRow group;
  std::vector<TVersionRow> versions;
  std::vector<std::pair<std::string, int64_t>> days;  // "YYYY-MM-DD", occurrences
  int64_t reportCount = 0;
  std::vector<TReportRow> reports;  // newest first, as asked for
};

struct TStoreOptions {
  std::string database;  // "sqlite:PATH" or a postgresql:// URL
  std::string dataFolder;
  TBugReportFileRules rules;  // DupExceptDef / DupFreezeDef
};

class TReportStore {
 public:
  explicit TReportStore(const TStoreOptions& options);
  // Applies the migrations not yet applied; throws TDbError.
  void Migrate();
  static int SchemaVersion();

  // Stores one report with its files: everything or nothing. Throws
  // TDbError when the store fails; error is set (and nothing stored) when
  // the report cannot be read.
  bool Add(const TSubmission& submission, TStoredReport& stored, std::string& error);

  // Stores a ".kx" file and names the stored reports of its build; the
  // number of reports named.
  bool AddKxFile(const std::string& fileName, const std::string& bytes, int& renamed, std::string& error);

  std::vector<TGroupRow> Groups(const TGroupFilter& filter);
  // false when there is no such group. Reports from offset on, at most limit.
  bool Group(int64_t id, TGroupDetail& detail, size_t offset, size_t limit);
  std::vector<TAttachmentRow> Attachments(int64_t reportId);
  bool Report(int64_t id, TReportRow& row);
  bool LatestReport(int64_t groupId, TReportRow& row);
  // The file of a report's attachment.
  bool AttachmentData(const TAttachmentRow& row, std::string& data) const { return files_.Get(row.hash, data); }
  std::vector<std::string> ExceptionClasses();
  std::vector<std::string> AllVersions();

  // Marks a group fixed in version (empty: open again).
  bool MarkFixed(int64_t groupId, const std::string& version);

  TAttachmentStore& Files() { return files_; }

 private:
  struct TPrepared;
  bool Prepare(const TSubmission& submission, TPrepared& p, std::string& error);
  // The new report's id and its group's.
  TStoredReport Insert(IDbConnection& db, const TPrepared& p, const std::vector<TAttachmentRow>& files);
  void RecomputeGroup(IDbConnection& db, int64_t groupId);
  void UpdateVersionList(IDbConnection& db, int64_t groupId);

  TStoreOptions options_;
  TDbPool pool_;
  TAttachmentStore files_;
};

// The current time as the store writes it: "YYYY-MM-DD HH:MM:SS" (UTC).
std::string NowText();

}  // namespace kestrix::collector
