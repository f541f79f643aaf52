// PostgreSQL connections through libpq: "?" parameters become $1, $2, …;
// every value travels as text.
#include <libpq-fe.h>

#include "collector/database.h"

namespace kestrix::collector {

namespace {

std::string Numbered(const std::string& sql) {
  std::string out;
  int n = 0;
  bool quoted = false;
  for (char c : sql) {
    if (c == '\'') quoted = !quoted;
    if (c == '?' && !quoted) out += "$" + std::to_string(++n);
    else out += c;
  }
  return out;
}

class TPostgresConnection : public IDbConnection {
 public:
  explicit TPostgresConnection(const std::string& url) : conn_(PQconnectdb(url.c_str())) {
    if (PQstatus(conn_) != CONNECTION_OK) {
      const std::string message = PQerrorMessage(conn_);
      PQfinish(conn_);
      throw TDbError("cannot connect to PostgreSQL: " + message);
    }
    PQclear(PQexec(conn_, "SET client_min_messages = warning"));
  }
  ~TPostgresConnection() override { PQfinish(conn_); }

  TDbRows Query(const std::string& sql, const std::vector<std::string>& params = {}) override {
    std::vector<const char*> values;
    std::vector<int> lengths;
    for (const std::string& p : params) {
      values.push_back(p.c_str());
      lengths.push_back(static_cast<int>(p.size()));
    }
    PGresult* result = PQexecParams(conn_, Numbered(sql).c_str(), static_cast<int>(params.size()), nullptr,
                                    values.data(), lengths.data(), nullptr, 0);
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      const std::string message = PQresultErrorMessage(result);
      PQclear(result);
      throw TDbError("PostgreSQL: " + message);
    }
    TDbRows rows;
    const int n = PQntuples(result), columns = PQnfields(result);
    rows.reserve(static_cast<size_t>(n));
    for (int r = 0; r < n; ++r) {
      TDbRow row;
      for (int c = 0; c < columns; ++c)
        row.emplace_back(PQgetvalue(result, r, c), static_cast<size_t>(PQgetlength(result, r, c)));
      rows.push_back(std::move(row));
    }
    PQclear(result);
    return rows;
  }

  void BeginWrite() override { Query("BEGIN"); }
  bool IsPostgres() const override { return true; }

 private:
  PGconn* conn_;
};

}  // namespace

std::unique_ptr<IDbConnection> OpenPostgres(const std::string& url) {
  return std::make_unique<TPostgresConnection>(url);
}

}  // namespace kestrix::collector
