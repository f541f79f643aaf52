// The store's SQL connection, one interface over SQLite and PostgreSQL:
// statements with "?" parameters (all passed as text), rows of text (NULL
// reads as empty), and a pool that hands one connection to one thread at
// a time.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace kestrix::collector {

class TDbError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using TDbRow = std::vector<std::string>;
using TDbRows = std::vector<TDbRow>;

class IDbConnection {
 public:
  virtual ~IDbConnection() = default;
  virtual TDbRows Query(const std::string& sql, const std::vector<std::string>& params = {}) = 0;
  // A write transaction: SQLite takes the write lock at its start.
  virtual void BeginWrite() = 0;
  virtual void Commit() { Query("COMMIT"); }
  virtual void Rollback() { Query("ROLLBACK"); }
  virtual bool IsPostgres() const = 0;
};

// "sqlite:PATH" or "postgresql://…" (or "postgres://…").
std::unique_ptr<IDbConnection> OpenConnection(const std::string& location);
std::unique_ptr<IDbConnection> OpenSqlite(const std::string& path);
std::unique_ptr<IDbConnection> OpenPostgres(const std::string& url);

class TDbPool {
 public:
  explicit TDbPool(std::string location) : location_(std::move(location)) {}
  // Runs work with a connection of its own.
  template <class Work>
  auto With(Work&& work) -> decltype(work(std::declval<IDbConnection&>())) {
    // A connection whose work threw is closed rather than reused.
    std::unique_ptr<IDbConnection> c = Take();
    if constexpr (std::is_void_v<decltype(work(*c))>) {
      work(*c);
      Give(std::move(c));
    } else {
      auto result = work(*c);
      Give(std::move(c));
      return result;
    }
  }
  const std::string& Location() const { return location_; }

 private:
  std::unique_ptr<IDbConnection> Take();
  void Give(std::unique_ptr<IDbConnection> c);
  std::string location_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<IDbConnection>> idle_;
};

// Runs work inside a write transaction, rolled back when it throws.
void InWriteTransaction(IDbConnection& db, const std::function<void()>& work);

}  // namespace kestrix::collector
