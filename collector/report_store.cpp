// The collector's store (see report_store.h).
#include "collector/report_store.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <map>
#include <mutex>

#include "collector/kx_symbols.h"
#include "collector/report_facts.h"

namespace kestrix::collector {

namespace {

// Numbered migrations, applied in order; "{ID}" is the dialect's key column.
const char* const kMigrations[] = {
    // 1: groups, reports, their files, per-group aggregates, ".kx" files.
    R"(CREATE TABLE groups (
         id {ID}, gkey TEXT NOT NULL UNIQUE, exception_class TEXT NOT NULL, exception_message TEXT NOT NULL,
         location TEXT NOT NULL, executable TEXT NOT NULL, count BIGINT NOT NULL DEFAULT 0,
         users BIGINT NOT NULL DEFAULT 0, first_seen TEXT NOT NULL, last_seen TEXT NOT NULL,
         versions TEXT NOT NULL DEFAULT '', fixed_in TEXT NOT NULL DEFAULT '', regression_in TEXT NOT NULL DEFAULT '');
       CREATE TABLE reports (
         id {ID}, group_id BIGINT NOT NULL REFERENCES groups(id), received TEXT NOT NULL, occurred TEXT NOT NULL,
         computer TEXT NOT NULL, version TEXT NOT NULL, count BIGINT NOT NULL, source TEXT NOT NULL,
         fingerprint TEXT NOT NULL, named INTEGER NOT NULL DEFAULT 0);
       CREATE INDEX reports_by_group ON reports(group_id, id);
       CREATE INDEX reports_by_fingerprint ON reports(fingerprint, named);
       CREATE TABLE attachments (
         report_id BIGINT NOT NULL REFERENCES reports(id), position INTEGER NOT NULL, name TEXT NOT NULL,
         field TEXT NOT NULL, kind TEXT NOT NULL, hash TEXT NOT NULL, size BIGINT NOT NULL,
         PRIMARY KEY (report_id, position));
       CREATE TABLE group_versions (
         group_id BIGINT NOT NULL REFERENCES groups(id), version TEXT NOT NULL, count BIGINT NOT NULL,
         first_seen TEXT NOT NULL, last_seen TEXT NOT NULL, PRIMARY KEY (group_id, version));
       CREATE INDEX group_versions_by_version ON group_versions(version);
       CREATE TABLE group_users (
         group_id BIGINT NOT NULL REFERENCES groups(id), computer TEXT NOT NULL, PRIMARY KEY (group_id, computer));
       CREATE TABLE group_days (
         group_id BIGINT NOT NULL REFERENCES groups(id), day TEXT NOT NULL, count BIGINT NOT NULL,
         PRIMARY KEY (group_id, day));
       CREATE TABLE kx_files (
         fingerprint TEXT PRIMARY KEY, module TEXT NOT NULL, name TEXT NOT NULL, hash TEXT NOT NULL,
         received TEXT NOT NULL))",
    // 2: the groups list's orders.
    R"(CREATE INDEX groups_by_last_seen ON groups(last_seen);
       CREATE INDEX groups_by_count ON groups(count))",
};

std::vector<std::string> Statements(const std::string& script) {
  std::vector<std::string> out;
  size_t begin = 0;
  for (;;) {
    const size_t end = script.find(';', begin);
    std::string s = script.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    if (s.find_first_not_of(" \n\r\t") != std::string::npos) out.push_back(s);
    if (end == std::string::npos) return out;
    begin = end + 1;
  }
}

int64_t ToInt(const std::string& s) { return s.empty() ? 0 : std::stoll(s); }

std::string LikePattern(const std::string& text) {
  std::string out = "%";
  for (char c : text) {
    if (c == '%' || c == '_' || c == '\\') out += '\\';
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out + "%";
}

TGroupRow GroupFrom(const TDbRow& r) {
  TGroupRow g;
  g.id = ToInt(r[0]);
  g.exceptionClass = r[1];
  g.exceptionMessage = r[2];
  g.location = r[3];
  g.executable = r[4];
  g.count = ToInt(r[5]);
  g.users = ToInt(r[6]);
  g.firstSeen = r[7];
  g.lastSeen = r[8];
  g.versions = r[9];
  g.fixedIn = r[10];
  g.regressionIn = r[11];
  return g;
}

const char kGroupColumns[] =
    "id, exception_class, exception_message, location, executable, count, users, first_seen, last_seen, "
    "versions, fixed_in, regression_in";
const char kReportColumns[] = "id, group_id, count, received, occurred, computer, version, source, named";

TReportRow ReportFrom(const TDbRow& r) {
  TReportRow row;
  row.id = ToInt(r[0]);
  row.groupId = ToInt(r[1]);
  row.count = ToInt(r[2]);
  row.received = r[3];
  row.occurred = r[4];
  row.computer = r[5];
  row.version = r[6];
  row.source = r[7];
  row.named = r[8] == "1";
  return row;
}

// Loaded ".kx" files by fingerprint, shared by all requests.
struct TKxCache {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<const TKxFile>> files;
};
TKxCache& KxCache() {
  static TKxCache* cache = new TKxCache;  // leaked on purpose: lives as long as the process
  return *cache;
}

}  // namespace

std::string NowText() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

struct TReportStore::TPrepared {
  TParsedReport report;
  TReportFacts facts;
  std::string groupKey, occurred, received, version, source, fingerprint;
  int count = 1;
  bool named = false;
};

TReportStore::TReportStore(const TStoreOptions& options)
    : options_(options), pool_(options.database), files_(options.dataFolder + "/attachments") {}

int TReportStore::SchemaVersion() { return static_cast<int>(std::size(kMigrations)); }

void TReportStore::Migrate() {
  pool_.With([&](IDbConnection& db) {
    InWriteTransaction(db, [&] {
      // Two servers starting at once: one applies, the other waits and finds them applied.
      if (db.IsPostgres()) db.Query("SELECT pg_advisory_xact_lock(482301)");
      db.Query("CREATE TABLE IF NOT EXISTS schema_migrations (version INTEGER PRIMARY KEY, applied TEXT NOT NULL)");
      const TDbRows rows = db.Query("SELECT COALESCE(MAX(version), 0) FROM schema_migrations");
      const int applied = static_cast<int>(ToInt(rows[0][0]));
      for (int n = applied + 1; n <= SchemaVersion(); ++n) {
        std::string script = kMigrations[n - 1];
        const std::string id = db.IsPostgres() ? "BIGSERIAL PRIMARY KEY" : "INTEGER PRIMARY KEY AUTOINCREMENT";
        for (size_t p; (p = script.find("{ID}")) != std::string::npos;) script.replace(p, 4, id);
        for (const std::string& statement : Statements(script)) db.Query(statement);
        db.Query("INSERT INTO schema_migrations (version, applied) VALUES (?, ?)", {std::to_string(n), NowText()});
      }
    });
  });
}

bool TReportStore::Prepare(const TSubmission& s, TPrepared& p, std::string& error) {
  if (!ParseReport(s.report, p.report, error)) return false;
  p.fingerprint = s.fingerprint;
  if (!p.fingerprint.empty()) {
    std::shared_ptr<const TKxFile> kx;
    {
      std::lock_guard<std::mutex> lock(KxCache().mutex);
      auto it = KxCache().files.find(p.fingerprint);
      if (it != KxCache().files.end()) kx = it->second;
    }
    if (!kx) {
      const TDbRows rows = pool_.With([&](IDbConnection& db) {
        return db.Query("SELECT name, hash FROM kx_files WHERE fingerprint = ?", {p.fingerprint});
      });
      std::string bytes, kxError;
      auto loaded = std::make_shared<TKxFile>();
      if (!rows.empty() && files_.Get(rows[0][1], bytes) && LoadKxFile(bytes, rows[0][0], *loaded, kxError)) {
        std::lock_guard<std::mutex> lock(KxCache().mutex);
        KxCache().files[p.fingerprint] = loaded;
        kx = loaded;
      }
    }
    if (kx) p.named = NameReport(p.report, *kx);
  }
  p.facts = ReportFacts(p.report);
  const std::string prefix = DuplicateChecksumPrefix("\r\n" + p.report.text, options_.rules);
  p.groupKey = p.facts.exceptionClass + "\x1f" + p.facts.executable + "\x1f" + p.facts.module + "\x1f" +
               (prefix.empty() ? p.facts.exceptionMessage + "\x1f" + p.facts.location : prefix);
  p.received = NowText();
  p.occurred = ReportTime(p.facts.dateTime);
  if (p.occurred.empty()) p.occurred = p.received;
  p.version = p.facts.version.empty() ? p.facts.buildDate : p.facts.version;
  p.source = s.source;
  p.count = s.count > 0 ? s.count : p.facts.count;
  return true;
}

TStoredReport TReportStore::Insert(IDbConnection& db, const TPrepared& p, const std::vector<TAttachmentRow>& files) {
  const std::string count = std::to_string(p.count);
  const TDbRows group = db.Query(
      "INSERT INTO groups (gkey, exception_class, exception_message, location, executable, count, first_seen, "
      "last_seen) VALUES (?, ?, ?, ?, ?, ?, ?, ?) ON CONFLICT (gkey) DO UPDATE SET count = groups.count + "
      "excluded.count, first_seen = CASE WHEN excluded.first_seen < groups.first_seen THEN excluded.first_seen "
      "ELSE groups.first_seen END, last_seen = CASE WHEN excluded.last_seen > groups.last_seen THEN "
      "excluded.last_seen ELSE groups.last_seen END RETURNING id, fixed_in",
      {p.groupKey, p.facts.exceptionClass, p.facts.exceptionMessage, p.facts.location, p.facts.executable, count,
       p.occurred, p.occurred});
  const std::string groupId = group[0][0];
  const std::string& fixedIn = group[0][1];
  const std::string reportId =
      db.Query("INSERT INTO reports (group_id, received, occurred, computer, version, count, source, fingerprint, "
               "named) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?) RETURNING id",
               {groupId, p.received, p.occurred, p.facts.computer, p.version, count, p.source, p.fingerprint,
                p.named ? "1" : "0"})[0][0];
  for (const TAttachmentRow& f : files)
    db.Query("INSERT INTO attachments (report_id, position, name, field, kind, hash, size) VALUES (?, ?, ?, ?, ?, ?, ?)",
             {reportId, std::to_string(f.position), f.name, f.field, f.kind, f.hash, std::to_string(f.size)});
  const TDbRows newVersion = db.Query(
      "INSERT INTO group_versions (group_id, version, count, first_seen, last_seen) VALUES (?, ?, ?, ?, ?) "
      "ON CONFLICT (group_id, version) DO UPDATE SET count = group_versions.count + excluded.count, "
      "first_seen = CASE WHEN excluded.first_seen < group_versions.first_seen THEN excluded.first_seen ELSE "
      "group_versions.first_seen END, last_seen = CASE WHEN excluded.last_seen > group_versions.last_seen THEN "
      "excluded.last_seen ELSE group_versions.last_seen END RETURNING count",
      {groupId, p.version, count, p.occurred, p.occurred});
  if (ToInt(newVersion[0][0]) == p.count) UpdateVersionList(db, ToInt(groupId));
  if (!db.Query("INSERT INTO group_users (group_id, computer) VALUES (?, ?) ON CONFLICT DO NOTHING RETURNING 1",
                {groupId, p.facts.computer})
           .empty())
    db.Query("UPDATE groups SET users = users + 1 WHERE id = ?", {groupId});
  db.Query("INSERT INTO group_days (group_id, day, count) VALUES (?, ?, ?) ON CONFLICT (group_id, day) DO UPDATE "
           "SET count = group_days.count + excluded.count",
           {groupId, p.occurred.substr(0, 10), count});
  // A report from a version after the fix opens the group again: a regression.
  if (!fixedIn.empty() && CompareVersions(p.version, fixedIn) > 0)
    db.Query("UPDATE groups SET fixed_in = '', regression_in = ? WHERE id = ?", {p.version, groupId});
  TStoredReport stored;
  stored.id = ToInt(reportId);
  stored.groupId = ToInt(groupId);
  stored.named = p.named;
  return stored;
}

void TReportStore::UpdateVersionList(IDbConnection& db, int64_t groupId) {
  const std::string id = std::to_string(groupId);
  std::vector<std::string> versions;
  for (const TDbRow& r : db.Query("SELECT version FROM group_versions WHERE group_id = ?", {id}))
    versions.push_back(r[0]);
  std::sort(versions.begin(), versions.end(),
            [](const std::string& a, const std::string& b) { return CompareVersions(a, b) < 0; });
  std::string list;
  for (const std::string& v : versions) list += (list.empty() ? "" : ", ") + (v.empty() ? std::string("?") : v);
  db.Query("UPDATE groups SET versions = ? WHERE id = ?", {list, id});
}

bool TReportStore::Add(const TSubmission& submission, TStoredReport& stored, std::string& error) {
  TPrepared p;
  if (!Prepare(submission, p, error)) return false;
  // The files first: a file without its row is harmless (stored once by
  // content); a row without its file would not be.
  std::vector<TAttachmentRow> rows;
  auto put = [&](const std::string& name, const std::string& field, const std::string& kind,
                 const std::string& data) {
    TAttachmentRow row;
    row.position = static_cast<int>(rows.size());
    row.name = name;
    row.field = field;
    row.kind = kind;
    row.size = static_cast<int64_t>(data.size());
    row.hash = files_.Put(data, error);
    if (row.hash.empty()) throw TDbError(error);
    rows.push_back(row);
  };
  put("bugreport.txt", "BugReport", "report", p.report.text);
  for (const TIncomingFile& f : submission.files) put(f.name, f.field, f.kind, f.data);
  pool_.With([&](IDbConnection& db) {
    InWriteTransaction(db, [&] { stored = Insert(db, p, rows); });
  });
  return true;
}

void TReportStore::RecomputeGroup(IDbConnection& db, int64_t groupId) {
  const std::string id = std::to_string(groupId);
  const TDbRows totals =
      db.Query("SELECT COUNT(*), SUM(count), MIN(occurred), MAX(occurred) FROM reports WHERE group_id = ?", {id});
  db.Query("DELETE FROM group_users WHERE group_id = ?", {id});
  db.Query("DELETE FROM group_versions WHERE group_id = ?", {id});
  db.Query("DELETE FROM group_days WHERE group_id = ?", {id});
  if (ToInt(totals[0][0]) == 0) {
    db.Query("DELETE FROM groups WHERE id = ?", {id});
    return;
  }
  db.Query("INSERT INTO group_users (group_id, computer) SELECT DISTINCT group_id, computer FROM reports WHERE "
           "group_id = ?", {id});
  db.Query("INSERT INTO group_versions (group_id, version, count, first_seen, last_seen) SELECT group_id, version, "
           "SUM(count), MIN(occurred), MAX(occurred) FROM reports WHERE group_id = ? GROUP BY group_id, version", {id});
  db.Query("INSERT INTO group_days (group_id, day, count) SELECT group_id, SUBSTR(occurred, 1, 10), SUM(count) "
           "FROM reports WHERE group_id = ? GROUP BY group_id, SUBSTR(occurred, 1, 10)", {id});
  db.Query("UPDATE groups SET count = ?, first_seen = ?, last_seen = ?, users = (SELECT COUNT(*) FROM group_users "
           "WHERE group_id = ?) WHERE id = ?",
           {totals[0][1], totals[0][2], totals[0][3], id, id});
  UpdateVersionList(db, groupId);
}

bool TReportStore::AddKxFile(const std::string& fileName, const std::string& bytes, int& renamed,
                             std::string& error) {
  renamed = 0;
  auto kx = std::make_shared<TKxFile>();
  if (!LoadKxFile(bytes, fileName, *kx, error)) return false;
  const std::string hash = files_.Put(bytes, error);
  if (hash.empty()) return false;
  const std::string base = fileName.substr(fileName.find_last_of("\\/") + 1);
  pool_.With([&](IDbConnection& db) {
    InWriteTransaction(db, [&] {
      db.Query("INSERT INTO kx_files (fingerprint, module, name, hash, received) VALUES (?, ?, ?, ?, ?) "
               "ON CONFLICT (fingerprint) DO NOTHING",
               {kx->fingerprint, kx->moduleStem, base, hash, NowText()});
    });
  });
  {
    std::lock_guard<std::mutex> lock(KxCache().mutex);
    KxCache().files[kx->fingerprint] = kx;
  }
  // Reports of that build stored before: named now, and moved to the group
  // their named call stacks belong to.
  const TDbRows waiting = pool_.With([&](IDbConnection& db) {
    return db.Query("SELECT r.id, a.hash FROM reports r JOIN attachments a ON a.report_id = r.id AND a.kind = "
                    "'report' WHERE r.fingerprint = ? AND r.named = 0",
                    {kx->fingerprint});
  });
  for (const TDbRow& row : waiting) {
    std::string text;
    if (!files_.Get(row[1], text)) continue;
    TSubmission again;
    again.report = text;
    again.fingerprint = kx->fingerprint;
    TPrepared p;
    std::string ignored;
    if (!Prepare(again, p, ignored) || !p.named) continue;
    const std::string newHash = files_.Put(p.report.text, error);
    if (newHash.empty()) return false;
    pool_.With([&](IDbConnection& db) {
      InWriteTransaction(db, [&] {
        const TDbRows old = db.Query("SELECT group_id, named FROM reports WHERE id = ?", {row[0]});
        if (old.empty() || old[0][1] == "1") return;
        const TDbRows current = db.Query(
            "INSERT INTO groups (gkey, exception_class, exception_message, location, executable, count, first_seen, "
            "last_seen) VALUES (?, ?, ?, ?, ?, 0, ?, ?) ON CONFLICT (gkey) DO UPDATE SET location = "
            "excluded.location RETURNING id",
            {p.groupKey, p.facts.exceptionClass, p.facts.exceptionMessage, p.facts.location, p.facts.executable,
             p.occurred, p.occurred});
        db.Query("UPDATE reports SET group_id = ?, named = 1 WHERE id = ?", {current[0][0], row[0]});
        db.Query("UPDATE attachments SET hash = ?, size = ? WHERE report_id = ? AND kind = 'report'",
                 {newHash, std::to_string(p.report.text.size()), row[0]});
        RecomputeGroup(db, ToInt(old[0][0]));
        if (current[0][0] != old[0][0]) RecomputeGroup(db, ToInt(current[0][0]));
      });
    });
    ++renamed;
  }
  return true;
}

std::vector<TGroupRow> TReportStore::Groups(const TGroupFilter& f) {
  std::string sql = std::string("SELECT ") + kGroupColumns + " FROM groups g WHERE 1 = 1";
  std::vector<std::string> params;
  if (!f.version.empty()) {
    sql += " AND EXISTS (SELECT 1 FROM group_versions v WHERE v.group_id = g.id AND v.version = ?)";
    params.push_back(f.version);
  }
  if (!f.exceptionClass.empty()) {
    sql += " AND exception_class = ?";
    params.push_back(f.exceptionClass);
  }
  if (!f.text.empty()) {
    sql += " AND (LOWER(exception_class) LIKE ? ESCAPE '\\' OR LOWER(exception_message) LIKE ? ESCAPE '\\' OR "
           "LOWER(location) LIKE ? ESCAPE '\\')";
    for (int i = 0; i < 3; ++i) params.push_back(LikePattern(f.text));
  }
  static const std::map<std::string, std::string> kOrders = {
      {"last", "last_seen DESC, id DESC"},   {"first", "first_seen ASC, id ASC"},
      {"count", "count DESC, id DESC"},      {"users", "users DESC, count DESC, id DESC"},
      {"class", "exception_class ASC, id ASC"}};
  auto order = kOrders.find(f.sort);
  sql += " ORDER BY " + (order == kOrders.end() ? kOrders.at("last") : order->second);
  sql += " LIMIT " + std::to_string(f.limit);
  std::vector<TGroupRow> out;
  for (const TDbRow& r : pool_.With([&](IDbConnection& db) { return db.Query(sql, params); }))
    out.push_back(GroupFrom(r));
  return out;
}

bool TReportStore::Group(int64_t id, TGroupDetail& d, size_t offset, size_t limit) {
  const std::string key = std::to_string(id);
  return pool_.With([&](IDbConnection& db) {
    const TDbRows g = db.Query(std::string("SELECT ") + kGroupColumns + " FROM groups WHERE id = ?", {key});
    if (g.empty()) return false;
    d.group = GroupFrom(g[0]);
    d.versions.clear();
    for (const TDbRow& r :
         db.Query("SELECT version, count, first_seen, last_seen FROM group_versions WHERE group_id = ?", {key}))
      d.versions.push_back({r[0], r[2], r[3], ToInt(r[1])});
    std::sort(d.versions.begin(), d.versions.end(),
              [](const TVersionRow& a, const TVersionRow& b) { return CompareVersions(a.version, b.version) < 0; });
    d.days.clear();
    for (const TDbRow& r : db.Query("SELECT day, count FROM group_days WHERE group_id = ? ORDER BY day", {key}))
      d.days.emplace_back(r[0], ToInt(r[1]));
    d.reportCount = ToInt(db.Query("SELECT COUNT(*) FROM reports WHERE group_id = ?", {key})[0][0]);
    d.reports.clear();
    for (const TDbRow& r : db.Query(std::string("SELECT ") + kReportColumns +
                                        " FROM reports WHERE group_id = ? ORDER BY id DESC LIMIT ? OFFSET ?",
                                    {key, std::to_string(limit), std::to_string(offset)}))
      d.reports.push_back(ReportFrom(r));
    return true;
  });
}

std::vector<TAttachmentRow> TReportStore::Attachments(int64_t reportId) {
  std::vector<TAttachmentRow> out;
  for (const TDbRow& r : pool_.With([&](IDbConnection& db) {
         return db.Query("SELECT report_id, position, name, field, kind, hash, size FROM attachments WHERE "
                         "report_id = ? ORDER BY position",
                         {std::to_string(reportId)});
       })) {
    TAttachmentRow a;
    a.reportId = ToInt(r[0]);
    a.position = static_cast<int>(ToInt(r[1]));
    a.name = r[2];
    a.field = r[3];
    a.kind = r[4];
    a.hash = r[5];
    a.size = ToInt(r[6]);
    out.push_back(a);
  }
  return out;
}

bool TReportStore::Report(int64_t id, TReportRow& row) {
  const TDbRows r = pool_.With([&](IDbConnection& db) {
    return db.Query(std::string("SELECT ") + kReportColumns + " FROM reports WHERE id = ?", {std::to_string(id)});
  });
  if (r.empty()) return false;
  row = ReportFrom(r[0]);
  return true;
}

bool TReportStore::LatestReport(int64_t groupId, TReportRow& row) {
  const TDbRows r = pool_.With([&](IDbConnection& db) {
    return db.Query(std::string("SELECT ") + kReportColumns + " FROM reports WHERE group_id = ? ORDER BY id DESC LIMIT 1",
                    {std::to_string(groupId)});
  });
  if (r.empty()) return false;
  row = ReportFrom(r[0]);
  return true;
}

std::vector<std::string> TReportStore::ExceptionClasses() {
  std::vector<std::string> out;
  for (const TDbRow& r : pool_.With([](IDbConnection& db) {
         return db.Query("SELECT DISTINCT exception_class FROM groups ORDER BY exception_class");
       }))
    out.push_back(r[0]);
  return out;
}

std::vector<std::string> TReportStore::AllVersions() {
  std::vector<std::string> out;
  for (const TDbRow& r :
       pool_.With([](IDbConnection& db) { return db.Query("SELECT DISTINCT version FROM group_versions"); }))
    out.push_back(r[0]);
  std::sort(out.begin(), out.end(), [](const std::string& a, const std::string& b) { return CompareVersions(a, b) < 0; });
  return out;
}

bool TReportStore::MarkFixed(int64_t groupId, const std::string& version) {
  return pool_.With([&](IDbConnection& db) {
    bool found = false;
    InWriteTransaction(db, [&] {
      found = !db.Query("UPDATE groups SET fixed_in = ?, regression_in = '' WHERE id = ? RETURNING id",
                        {version, std::to_string(groupId)})
                   .empty();
    });
    return found;
  });
}

}  // namespace kestrix::collector
