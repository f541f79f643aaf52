// The connection pool and the choice of database (see database.h).
#include "collector/database.h"

namespace kestrix::collector {

std::unique_ptr<IDbConnection> OpenConnection(const std::string& location) {
  if (location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0) return OpenPostgres(location);
  if (location.rfind("sqlite:", 0) == 0) return OpenSqlite(location.substr(7));
  throw TDbError("unknown store \"" + location + "\": give a postgresql:// URL");
}

std::unique_ptr<IDbConnection> TDbPool::Take() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!idle_.empty()) {
      std::unique_ptr<IDbConnection> c = std::move(idle_.back());
      idle_.pop_back();
      return c;
    }
  }
  return OpenConnection(location_);
}

void TDbPool::Give(std::unique_ptr<IDbConnection> c) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (idle_.size() < 64) idle_.push_back(std::move(c));
}

void InWriteTransaction(IDbConnection& db, const std::function<void()>& work) {
  db.BeginWrite();
  try {
    work();
    db.Commit();
  } catch (...) {
    try {
      db.Rollback();
    } catch (...) {
    }
    throw;
  }
}

}  // namespace kestrix::collector
