// The PostgreSQL engine's statements (PostgresStatement.h): bound values sent as text with
// their types, results read back as the other engine's typed values.
#include "engines/postgres/PostgresStatement.h"

#include <libpq-fe.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ledgerkit/common/Error.h"

namespace ledgerkit::postgres {

namespace {

// Type identifiers of the server's built-in types (pg_type.oid; fixed across versions).
constexpr Oid kBoolOid = 16, kByteaOid = 17, kInt8Oid = 20, kInt2Oid = 21, kInt4Oid = 23, kOidOid = 26,
              kFloat4Oid = 700, kFloat8Oid = 701, kDateOid = 1082, kTimestampOid = 1114, kTimestampTzOid = 1184,
              kNumericOid = 1700, kTextOid = 25;

class PostgresStatement final : public EngineStatement {
 public:
  PostgresStatement(Session& session, std::shared_ptr<Prepared> prepared, const Catalog* catalog, int64_t& changes)
      : session_(session), prepared_(std::move(prepared)), catalog_(catalog), changes_(changes),
        values_(static_cast<size_t>(prepared_->sql.parameters)),
        types_(static_cast<size_t>(prepared_->sql.parameters), 0) {}

  int ParameterCount() const override { return prepared_->sql.parameters; }
  void BindNull(int index) override { Bind(index, std::nullopt, 0); }
  void BindInteger(int index, int64_t value) override { Bind(index, std::to_string(value), kInt8Oid); }
  void BindReal(int index, double value) override {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    Bind(index, std::string(text), kFloat8Oid);
  }
  void BindText(int index, std::string_view value) override {
    // The server's texts cannot hold a NUL, and libpq would send only what precedes it: a
    // different text, which could match (or overwrite) rows the caller never named.
    if (value.find('\0') != std::string_view::npos) {
      throw Error::Runtime(kInvalidArgument, "A text holding a NUL character cannot be sent to the server.");
    }
    Bind(index, std::string(value), kTextOid);
  }

  bool Step() override {
    if (!result_) Execute();
    ++row_;
    if (row_ >= PQntuples(result_.get())) {
      row_ = PQntuples(result_.get());
      return false;
    }
    CheckWholeNumbers();
    return true;
  }
  void Reset() override {
    result_.reset();
    row_ = -1;
  }
  bool IsReadOnly() const override { return prepared_->sql.reads_only; }

  int ColumnCount() const override {
    // Without a shape known beforehand, the columns are known once it ran.
    if (!result_ && !prepared_->shape) const_cast<PostgresStatement*>(this)->Execute();
    return PQnfields(result_ ? result_.get() : prepared_->shape.get());
  }
  EngineColumn Column(int index) const override {
    const PGresult* shape = result_ ? result_.get() : prepared_->shape.get();
    EngineColumn column;
    if (shape == nullptr) return column;
    column.name = PQfname(shape, index);
    const ColumnOrigin* origin = session_.Origin(PQftable(shape, index), PQftablecol(shape, index));
    if (origin != nullptr) {
      column.not_null = origin->not_null;
      if (catalog_ != nullptr) {
        if (const std::optional<ColumnDef> found = FindCatalogColumn(*catalog_, origin->table, origin->column)) {
          column.type = found->kind;
          column.width = found->width;
          // The server folds an unquoted name to lower case; the catalog's spelling is given back.
          if (Lower(found->name) == column.name) column.name = std::string(found->name);
        }
        column.is_key = IsKey(*origin);
      }
    }
    if (const auto spelled = prepared_->sql.spellings.find(column.name); spelled != prepared_->sql.spellings.end()) {
      column.name = spelled->second;
    }
    return column;
  }
  bool ColumnIsNull(int index) const override { return PQgetisnull(result_.get(), row_, index) != 0; }
  std::optional<int64_t> ColumnInteger(int index) const override {
    if (ColumnIsNull(index)) return std::nullopt;
    const char* text = PQgetvalue(result_.get(), row_, index);
    switch (PQftype(result_.get(), index)) {
      case kBoolOid: return text[0] == 't' ? 1 : 0;
      case kNumericOid:
        if (!WholeNumeric(index)) return std::nullopt;
        break;  // in range: CheckWholeNumbers saw it when the row came
      case kInt2Oid:
      case kInt4Oid:
      case kInt8Oid:
      case kOidOid: break;
      default: return std::nullopt;
    }
    int64_t value = 0;
    std::from_chars(text, text + PQgetlength(result_.get(), row_, index), value);
    return value;
  }
  std::optional<double> ColumnReal(int index) const override {
    if (ColumnIsNull(index)) return std::nullopt;
    const Oid type = PQftype(result_.get(), index);
    if (type != kFloat4Oid && type != kFloat8Oid && !(type == kNumericOid && !WholeNumeric(index))) return std::nullopt;
    const char* text = PQgetvalue(result_.get(), row_, index);
    const std::string_view word(text);
    if (word == "NaN") return std::numeric_limits<double>::quiet_NaN();
    if (word == "Infinity") return std::numeric_limits<double>::infinity();
    if (word == "-Infinity") return -std::numeric_limits<double>::infinity();
    return std::strtod(text, nullptr);
  }
  bool ColumnIsBinary(int index) const override {
    return !ColumnIsNull(index) && PQftype(result_.get(), index) == kByteaOid;
  }
  std::string_view ColumnText(int index) const override {
    if (PQgetisnull(result_.get(), row_, index)) return {};
    std::string_view text(PQgetvalue(result_.get(), row_, index),
                          static_cast<size_t>(PQgetlength(result_.get(), row_, index)));
    switch (PQftype(result_.get(), index)) {
      case kTimestampOid:
      case kTimestampTzOid: return text.substr(0, 19);  // to the second, no zone
      case kDateOid:
        scratch_ = std::string(text) + " 00:00:00";
        return scratch_;
      case kBoolOid: return text == "t" ? "1" : "0";
      default: return text;
    }
  }

 private:
  bool IsKey(const ColumnOrigin& origin) const {
    for (const TableDef& table : catalog_->tables) {
      if (Lower(table.name) != origin.table) continue;
      for (const ColumnDef& column : table.columns) {
        if (column.name == table.columns[0].name && Lower(column.name) == origin.column) return true;
      }
    }
    return false;
  }

  void Bind(int index, std::optional<std::string> value, Oid type) {
    if (index < 1 || index > prepared_->sql.parameters) {
      throw Error::Runtime(kInvalidArgument, "The statement has no parameter " + std::to_string(index) + ".");
    }
    values_[static_cast<size_t>(index - 1)] = std::move(value);
    types_[static_cast<size_t>(index - 1)] = type;
  }

  // Runs the statement. A session found lost before the statement could run (it was idle, and
  // the server ended it: SQLSTATE 57P0x, or the statement only reads) is connected again and the
  // statement run once more; one lost while it ran is an error, since a change may have been made.
  void Execute() {
    const bool idle = PQtransactionStatus(session_.conn()) == PQTRANS_IDLE;
    try {
      RunOnce();
    } catch (const Error& error) {
      if (!idle || PQstatus(session_.conn()) == CONNECTION_OK) throw;
      const bool not_run = error.description().find("[SQLSTATE 57P0") != std::string::npos;
      if (!(not_run || prepared_->sql.reads_only) || !session_.Reconnect()) throw;
      if (!prepared_->name.empty()) prepared_ = session_.Prepare(prepared_->text, prepared_->sql.parameters);
      RunOnce();
    }
  }

  void RunOnce() {
    std::vector<const char*> values;
    values.reserve(values_.size());
    for (const auto& value : values_) values.push_back(value ? value->c_str() : nullptr);
    CountStatementRun();
    const int count = static_cast<int>(values.size());
    if (prepared_->untyped) {
      std::vector<Oid> types(types_);
      for (Oid& type : types) type = type == 0 ? kTextOid : type;
      result_.reset(PQexecParams(session_.conn(), prepared_->sql.text.c_str(), count, types.data(), values.data(),
                                 nullptr, nullptr, 0));
    } else {
      result_.reset(
          PQexecPrepared(session_.conn(), prepared_->name.c_str(), count, values.data(), nullptr, nullptr, 0));
    }
    if (Failed(result_.get())) {
      Result failed = std::move(result_);
      ThrowResult(session_.conn(), failed.get());
    }
    const std::string_view status = PQcmdStatus(result_.get());
    if (status.starts_with("INSERT") || status.starts_with("UPDATE") || status.starts_with("DELETE") ||
        status.starts_with("MERGE")) {
      changes_ = std::atoll(PQcmdTuples(result_.get()));
    }
    row_ = -1;
  }

  // True when the numeric column holds a whole number; one beyond the 64-bit range (a SUM of
  // amounts) fails as the other engine's SUM does rather than be read inexactly.
  bool WholeNumeric(int index) const {
    const std::string_view text(PQgetvalue(result_.get(), row_, index));
    return text.find_first_of(".eEN") == std::string_view::npos;
  }
  void CheckWholeNumbers() const {
    for (int i = 0; i < PQnfields(result_.get()); ++i) {
      if (PQftype(result_.get(), i) != kNumericOid || PQgetisnull(result_.get(), row_, i) || !WholeNumeric(i)) continue;
      const char* text = PQgetvalue(result_.get(), row_, i);
      int64_t value = 0;
      const auto [end, error] = std::from_chars(text, text + PQgetlength(result_.get(), row_, i), value);
      if (error != std::errc()) {
        throw Error(PostgresErrorNumber("22003"), std::string(kPostgresSource), "integer overflow");
      }
    }
  }

  Session& session_;
  std::shared_ptr<Prepared> prepared_;
  const Catalog* catalog_;
  int64_t& changes_;
  std::vector<std::optional<std::string>> values_;
  std::vector<Oid> types_;
  Result result_{nullptr, &PQclear};
  int row_ = -1;
  mutable std::string scratch_;
};

}  // namespace

std::unique_ptr<EngineStatement> MakeStatement(Session& session, std::shared_ptr<Prepared> prepared,
                                               const Catalog* catalog, int64_t& changes) {
  return std::make_unique<PostgresStatement>(session, std::move(prepared), catalog, changes);
}

}  // namespace ledgerkit::postgres
