// SQLite connections: WAL journal, full synchronous commits (a stored
// report survives a power cut), a busy wait instead of failing when
// another connection writes.
#include <sqlite3.h>

#include <map>
#include <mutex>

#include "collector/database.h"

namespace kestrix::collector {

namespace {

// The writers of one database file in this process queue here, in turn,
// rather than polling SQLite's lock (which lets some wait for seconds).
std::mutex& WriterLine(const std::string& path) {
  static std::mutex* guard = new std::mutex;  // leaked on purpose: used until the process ends
  static auto* lines = new std::map<std::string, std::mutex>;
  std::lock_guard<std::mutex> lock(*guard);
  return (*lines)[path];
}

class TSqliteConnection : public IDbConnection {
 public:
  explicit TSqliteConnection(const std::string& path) : writers_(WriterLine(path)) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
      const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      throw TDbError("cannot open " + path + ": " + message);
    }
    sqlite3_busy_timeout(db_, 30000);
    Query("PRAGMA journal_mode=WAL");
    Query("PRAGMA synchronous=FULL");
    Query("PRAGMA foreign_keys=ON");
  }
  ~TSqliteConnection() override { sqlite3_close(db_); }

  TDbRows Query(const std::string& sql, const std::vector<std::string>& params = {}) override {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr) != SQLITE_OK)
      throw TDbError(std::string("SQLite: ") + sqlite3_errmsg(db_));
    TDbRows rows;
    for (size_t i = 0; i < params.size(); ++i)
      sqlite3_bind_text(stmt, static_cast<int>(i + 1), params[i].data(), static_cast<int>(params[i].size()),
                        SQLITE_TRANSIENT);
    int r;
    while ((r = sqlite3_step(stmt)) == SQLITE_ROW) {
      TDbRow row;
      const int n = sqlite3_column_count(stmt);
      for (int c = 0; c < n; ++c) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
        row.emplace_back(text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt, c))) : std::string());
      }
      rows.push_back(std::move(row));
    }
    if (r != SQLITE_DONE) {
      const std::string message = sqlite3_errmsg(db_);
      sqlite3_finalize(stmt);
      throw TDbError("SQLite: " + message);
    }
    sqlite3_finalize(stmt);
    return rows;
  }

  void BeginWrite() override {
    writing_ = std::unique_lock<std::mutex>(writers_);
    try {
      Query("BEGIN IMMEDIATE");
    } catch (...) {
      writing_.unlock();
      throw;
    }
  }
  void Commit() override { End("COMMIT"); }
  void Rollback() override { End("ROLLBACK"); }
  bool IsPostgres() const override { return false; }

 private:
  void End(const char* statement) {
    try {
      Query(statement);
    } catch (...) {
      if (writing_.owns_lock()) writing_.unlock();
      throw;
    }
    if (writing_.owns_lock()) writing_.unlock();
  }

  sqlite3* db_ = nullptr;
  std::mutex& writers_;
  std::unique_lock<std::mutex> writing_;
};

}  // namespace

std::unique_ptr<IDbConnection> OpenSqlite(const std::string& path) { return std::make_unique<TSqliteConnection>(path); }

}  // namespace kestrix::collector
