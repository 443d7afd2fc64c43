// The company's schema in PostgreSQL's words: a schema of the database per company (and one,
// lk_shared, for what every company of the database shares), its tables
// written from the catalog, the register totals kept by triggers, the account delete guards, the
// CDATE and MONEY functions, the mark and version in a table of their own, and the role the
// company's report queries run as.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/Engine.h"
#include "ledgerkit/common/Error.h"
#include "common/UnitOfWork.h"
#include "engines/postgres/PostgresEngine.h"

namespace ledgerkit {

namespace {

// Compared and sorted without regard to letter case, as the other engine's NOCASE: an ICU
// collation at strength 2 (accents still count). Not deterministic, so equal texts of
// different case are one key in a unique index as well. One for every company of the database,
// in a schema of its own: a statement prepared once serves every company, and the server
// refuses to reuse one whose result columns changed collation.
constexpr std::string_view kSharedSql =
    "CREATE SCHEMA IF NOT EXISTS lk_shared; CREATE COLLATION IF NOT EXISTS lk_shared.lk_nocase "
    "(provider = icu, locale = 'und-u-ks-level2', deterministic = false);";

// Granting or revoking a role's use of lk_shared rewrites that schema's one catalog row, and two
// transactions doing so at once fail with "tuple concurrently updated": companies made or dropped
// at the same time take turns here, until their transaction ends.
constexpr std::string_view kSharedGrantsLock = "SELECT pg_catalog.pg_advisory_xact_lock(7740301065551);\n";

// CDATE reads the date forms the library reads (common/Date.h): year-month-day, then optionally
// a blank or T and hours:minutes[:seconds]; MONEY turns stored ten-thousandths into the amount
// as exact text, a REAL rounded half to even. MONEY is the server's name of a type, whose cast
// would take a quoted argument: the library's statements call it as lk_money.
constexpr std::string_view kFunctionsSql = R"sql(
CREATE FUNCTION cdate(value text) RETURNS timestamp(0) LANGUAGE plpgsql IMMUTABLE AS $f$
BEGIN
  IF value IS NULL THEN RETURN NULL; END IF;
  IF value !~ '^[0-9]{4}-[0-9]{2}-[0-9]{2}([ T][0-9]{2}:[0-9]{2}(:[0-9]{2})?)?$' THEN
    RAISE EXCEPTION 'CDATE cannot read "%" as a date.', value USING ERRCODE = '22007';
  END IF;
  RETURN value::timestamp(0);
EXCEPTION WHEN data_exception THEN
  RAISE EXCEPTION 'CDATE cannot read "%" as a date.', value USING ERRCODE = '22007';
END $f$;
CREATE FUNCTION cdate(value timestamp) RETURNS timestamp(0) LANGUAGE sql IMMUTABLE AS $f$ SELECT value::timestamp(0) $f$;
CREATE FUNCTION lk_money_text(value numeric) RETURNS text LANGUAGE plpgsql IMMUTABLE AS $f$
DECLARE whole numeric;
BEGIN
  IF value IS NULL THEN RETURN NULL; END IF;
  whole := CASE WHEN abs(value - trunc(value)) = 0.5 THEN 2 * round(value / 2) ELSE round(value) END;
  IF whole < -9223372036854775808 OR whole > 9223372036854775807 THEN
    RAISE EXCEPTION 'MONEY takes a whole count of ten-thousandths in the currency range.' USING ERRCODE = '22023';
  END IF;
  RETURN trim_scale(whole / 10000);
END $f$;
CREATE FUNCTION lk_money(value bigint) RETURNS text LANGUAGE sql IMMUTABLE AS $f$ SELECT lk_money_text(value) $f$;
CREATE FUNCTION lk_money(value numeric) RETURNS text LANGUAGE sql IMMUTABLE AS $f$ SELECT lk_money_text(value) $f$;
CREATE FUNCTION lk_money(value double precision) RETURNS text LANGUAGE plpgsql IMMUTABLE AS $f$
BEGIN
  IF value <> value OR abs(value) > 1e19 THEN
    RAISE EXCEPTION 'MONEY takes a whole count of ten-thousandths in the currency range.' USING ERRCODE = '22023';
  END IF;
  RETURN lk_money_text(value::numeric);
END $f$;
CREATE FUNCTION lk_money(value text) RETURNS text LANGUAGE plpgsql IMMUTABLE AS $f$
BEGIN
  IF value !~ '^[-+]?[0-9]+$' THEN
    RAISE EXCEPTION 'MONEY takes a whole count of ten-thousandths, not "%".', value USING ERRCODE = '22023';
  END IF;
  RETURN lk_money_text(value::numeric);
END $f$;
CREATE FUNCTION lk_money(value anyelement) RETURNS text LANGUAGE plpgsql IMMUTABLE AS $f$
BEGIN
  RAISE EXCEPTION 'MONEY takes a whole count of ten-thousandths, not a value of type %.', pg_typeof(value)
    USING ERRCODE = '22023';
END $f$;
)sql";

std::string Joined(const std::vector<std::string>& items, std::string_view separator = ", ") {
  std::string sql;
  for (const std::string& item : items) sql += (sql.empty() ? "" : std::string(separator)) + item;
  return sql;
}

// A text as an SQL string literal.
std::string Quoted(std::string_view text) {
  std::string sql = "'";
  for (const char c : text) sql += c == '\'' ? std::string("''") : std::string(1, c);
  return sql + "'";
}

// The table of kept totals.
std::string KeptTotalsTableSql(const KeptTotalsDef& kept) {
  std::string sql = "\nCREATE TABLE " + std::string(kept.table) + " (\n  " + std::string(kept.key) + " bigint PRIMARY KEY";
  for (const bool counts : {false, true}) {
    for (const KeptSumDef& sum : kept.sums) {
      sql += ",\n  " + std::string(counts ? sum.count : sum.total) + " bigint NOT NULL DEFAULT 0";
    }
  }
  return sql + "\n);\n";
}

// The one trigger function that keeps the table of kept totals on every insert, delete and
// update of its source rows, and its triggers; written over the ones there. A total that would
// leave the bigint range is the server's own error (22003), reported as Overflow (6): the range
// guard needs nothing written here.
std::string KeptTotalsRulesSql(const KeptTotalsDef& kept) {
  const std::string table(kept.table), key(kept.key), source(kept.source), source_key(kept.source_key);
  const std::string function(kept.change_function);
  std::string sql;
  std::vector<std::string> columns{key}, values{"NEW." + source_key}, remove_totals, remove_counts, add_totals,
      add_counts;
  std::string watched = source_key;
  for (const KeptSumDef& sum : kept.sums) {
    const std::string total(sum.total), amount(sum.amount);
    columns.push_back(total);
    values.push_back("COALESCE(NEW." + amount + ", 0)");
    remove_totals.push_back(total + " = " + total + " - COALESCE(OLD." + amount + ", 0)");
    add_totals.push_back(total + " = t." + total + " + excluded." + total);
    watched += ", " + amount;
  }
  for (const KeptSumDef& sum : kept.sums) {
    const std::string count(sum.count), amount(sum.amount);
    columns.push_back(count);
    values.push_back("(NEW." + amount + " IS NOT NULL)::int");
    remove_counts.push_back(count + " = " + count + " - (OLD." + amount + " IS NOT NULL)::int");
    add_counts.push_back(count + " = t." + count + " + excluded." + count);
  }
  const std::string last_value = values.back();
  values.pop_back();
  std::vector<std::string> removals = remove_totals;
  removals.insert(removals.end(), remove_counts.begin(), remove_counts.end());
  sql += "CREATE OR REPLACE FUNCTION " + function + "() RETURNS trigger LANGUAGE plpgsql AS $f$\nBEGIN\n"
         "  IF TG_OP IN ('DELETE', 'UPDATE') AND OLD." + source_key + " IS NOT NULL THEN\n"
         "    UPDATE " + table + " SET " + Joined(removals, ",\n      ") + "\n"
         "    WHERE " + key + " = OLD." + source_key + ";\n"
         "  END IF;\n"
         "  IF TG_OP IN ('INSERT', 'UPDATE') AND NEW." + source_key + " IS NOT NULL THEN\n"
         "    INSERT INTO " + table + " AS t (" + Joined(columns) + ")\n"
         "    VALUES (" + Joined(values) + ",\n            " + last_value + ")\n"
         "    ON CONFLICT (" + key + ") DO UPDATE SET " + Joined(add_totals) + ",\n      " + Joined(add_counts) + ";\n"
         "  END IF;\n  RETURN NULL;\nEND $f$;\n";
  // One trigger serves inserts and deletes; the other only the updates that change a total.
  sql += "DROP TRIGGER IF EXISTS " + std::string(kept.insert_trigger) + " ON " + source + ";\n";
  sql += "CREATE TRIGGER " + std::string(kept.insert_trigger) + " AFTER INSERT OR DELETE ON " + source +
         "\n  FOR EACH ROW EXECUTE FUNCTION " + function + "();\n";
  sql += "DROP TRIGGER IF EXISTS " + std::string(kept.update_trigger) + " ON " + source + ";\n";
  sql += "CREATE TRIGGER " + std::string(kept.update_trigger) + " AFTER UPDATE OF " + watched + " ON " + source +
         "\n  FOR EACH ROW EXECUTE FUNCTION " + function + "();\n";
  return sql;
}

// The key column of the catalog's table `name`.
std::string KeyOf(const Catalog& catalog, std::string_view name) {
  for (const TableDef& table : catalog.tables) {
    if (table.name == name) return std::string(table.columns[0].name);
  }
  throw Error::Runtime(kInvalidArgument, "The catalog has no table named " + std::string(name) + ".");
}

// The delete guards of the catalog: one function and trigger per guarded table, refusing with
// 23503 (a row still referred to), written over the ones there. The range guards need nothing:
// the server's bigint refuses a value beyond the range itself.
std::string DeleteGuardsSql(const Catalog& catalog) {
  std::string sql = "\n";
  std::vector<std::string_view> done;
  for (const DeleteGuardDef& first : catalog.delete_guards) {
    if (std::find(done.begin(), done.end(), first.table) != done.end()) continue;
    done.push_back(first.table);
    const std::string name = "lk_" + std::string(first.row) + "_delete", key = KeyOf(catalog, first.table);
    sql += "CREATE OR REPLACE FUNCTION " + name + "() RETURNS trigger LANGUAGE plpgsql AS $f$\nBEGIN\n";
    for (const DeleteGuardDef& guard : catalog.delete_guards) {
      if (guard.table != first.table) continue;
      sql += "  IF EXISTS (SELECT 1 FROM " + std::string(guard.referencing) + " WHERE " + std::string(guard.column) +
             " = OLD." + key + ") THEN\n    RAISE EXCEPTION " + Quoted(DeleteGuardMessage(guard)) +
             "\n      USING ERRCODE = '23503';\n  END IF;\n";
    }
    sql += "  RETURN OLD;\nEND $f$;\nDROP TRIGGER IF EXISTS " + name + " ON " + std::string(first.table) +
           ";\nCREATE TRIGGER " + name + " BEFORE DELETE ON " + std::string(first.table) +
           " FOR EACH ROW EXECUTE FUNCTION " + name + "();\n";
  }
  return sql;
}

std::string_view DefaultSql(ColumnDefault value) {
  switch (value) {
    case ColumnDefault::kNone: return {};
    case ColumnDefault::kZero: return "0";
    case ColumnDefault::kNow: return "LOCALTIMESTAMP(0)";
  }
  return {};
}

// `table_key` is the name of the table's own key (its first column); other kKey columns are links.
std::string ColumnSql(const ColumnDef& column, std::string_view table_key) {
  const std::string name(column.name);
  std::string sql = name;
  switch (column.kind) {
    case FieldType::kKey:
      if (column.name == table_key) return sql + " bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY";
      sql += " bigint";
      break;
    case FieldType::kLong:
    case FieldType::kInteger: sql += " bigint"; break;
    case FieldType::kVariant: break;
    case FieldType::kText:
      sql += " text";
      if (column.ignore_case) sql += " COLLATE lk_shared.lk_nocase";
      sql += " CHECK (char_length(" + name + ") <= " + std::to_string(column.width) + ")";
      break;
    case FieldType::kCurrency: sql += " bigint"; break;  // ten-thousandths
    case FieldType::kDouble: sql += " double precision"; break;
    case FieldType::kDate: sql += " timestamp(0)"; break;
    case FieldType::kBoolean: sql += " integer"; break;  // 0 or any other number, as written
  }
  if (column.default_value != ColumnDefault::kNone) sql += " DEFAULT " + std::string(DefaultSql(column.default_value));
  return sql;
}

struct Mark {
  int64_t mark = 0;
  int64_t version = 0;
};

}  // namespace

std::string PostgresReportRole(std::string_view database, std::string_view company) {
  // FNV-1a over both names, a zero byte between them: the same for every process and version.
  uint64_t hash = 14695981039346656037ull;
  const auto mix = [&hash](std::string_view text) {
    for (const char c : text) {
      hash ^= static_cast<unsigned char>(c);
      hash *= 1099511628211ull;
    }
  };
  mix(database);
  mix(std::string_view("\0", 1));
  mix(company);
  char digits[17];
  std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
  return "lk_" + std::string(company.substr(0, 43)) + "_" + digits;
}

std::string PostgresReportRoleSql(const PostgresTarget& target, std::string_view role_name) {
  const std::string role(role_name), company(target.company);
  // The role may have been made beside this transaction by another process opening the company:
  // then it is there. Membership lets the connecting user take the role (a superuser may anyway);
  // the server's own catalog of roles carries the company and database it serves.
  return std::string(kSharedGrantsLock) +
         "DO $lk$ BEGIN\n"
         "  BEGIN\n"
         "    CREATE ROLE " + role + " NOLOGIN;\n"
         "    EXECUTE format('COMMENT ON ROLE %I IS %L', '" + role + "', 'Report queries of the ledgerkit company " +
         company + " in the database ' || current_database());\n"
         "  EXCEPTION WHEN duplicate_object OR unique_violation THEN NULL;\n"
         "  END;\n"
         "  IF NOT pg_catalog.pg_has_role(CURRENT_USER, '" + role + "', 'USAGE') THEN\n"
         "    GRANT " + role + " TO CURRENT_USER;\n"
         "  END IF;\n"
         "END $lk$;\n"
         "GRANT USAGE ON SCHEMA " + company + ", lk_shared TO " + role + ";\n"
         "GRANT SELECT, INSERT, UPDATE, DELETE ON ALL TABLES IN SCHEMA " + company + " TO " + role + ";\n"
         "REVOKE INSERT, UPDATE, DELETE ON " + company + ".lk_Schema FROM " + role + ";\n"
         "GRANT SELECT, UPDATE ON ALL SEQUENCES IN SCHEMA " + company + " TO " + role + ";\n";
}

std::string PostgresDropCompanySql(std::string_view company, std::string_view role_name) {
  const std::string role(role_name);
  return std::string(kSharedGrantsLock) + "DROP SCHEMA IF EXISTS " + std::string(company) + " CASCADE;\n"
         "DO $lk$ BEGIN\n"
         "  IF EXISTS (SELECT FROM pg_catalog.pg_roles WHERE rolname = '" + role + "') THEN\n"
         "    DROP OWNED BY " + role + ";\n"
         "    DROP ROLE " + role + ";\n"
         "  END IF;\n"
         "END $lk$;\n";
}

namespace {

// One table of the catalog: the table, and the trigger that moves its key sequence past a key
// written by the caller, so a key handed out later is never one already used (as the other
// engine's AUTOINCREMENT).
std::string TableSql(const TableDef& table) {
  const std::string t(table.name), k(table.columns[0].name);
  std::string sql = "CREATE TABLE " + t + " (\n";
  for (size_t i = 0; i < table.columns.size(); ++i) {
    sql += "  " + ColumnSql(table.columns[i], table.columns[0].name) + (i + 1 < table.columns.size() ? ",\n" : "\n");
  }
  sql += ");\n";
  sql += "CREATE OR REPLACE FUNCTION lk_key_" + t + "() RETURNS trigger LANGUAGE plpgsql AS $f$\nDECLARE top bigint;\nBEGIN\n"
         "  SELECT max(" + k + ") INTO top FROM lk_new;\n"
         "  IF top > (SELECT CASE WHEN is_called THEN last_value ELSE 0 END FROM " + t + "_" + k + "_seq) THEN\n"
         "    PERFORM setval('" + t + "_" + k + "_seq', top);\n"
         "  END IF;\n  RETURN NULL;\nEND $f$;\n"
         "CREATE TRIGGER lk_key_" + t + " AFTER INSERT ON " + t + " REFERENCING NEW TABLE AS lk_new FOR EACH "
         "STATEMENT EXECUTE FUNCTION lk_key_" + t + "();\n";
  return sql;
}

std::string IndexesSql(const Catalog& catalog) {
  std::string sql;
  for (const IndexDef& index : catalog.indexes) sql += IndexSql(index, PostgresEngineDialect());
  return sql;
}

// True when every step that brings a company of `version` to the catalog's version is one the
// server takes. A change of column definitions is a file's alone: companies on a server began
// at version 2, after the only one.
bool StepsReachFrom(const Catalog& catalog, int64_t version) {
  for (const SchemaStep& step : catalog.steps) {
    if (step.version > version && step.kind == SchemaStepKind::kRedefineColumns) return false;
  }
  return true;
}

// One step in the server's words, inside the upgrade's transaction. A table added is given to
// the report role `report_role` as the company's tables are, when the role is there; a column
// added is the role's with its table.
void ApplyStep(EngineConnection& connection, const Catalog& catalog, const SchemaStep& step,
               std::string_view report_role, bool role_there) {
  switch (step.kind) {
    case SchemaStepKind::kAddTable: {
      const TableDef& table = CatalogTable(catalog, step.table);
      const std::vector<ColumnDef> columns = ColumnsAtStep(catalog, table, step);
      std::string sql = TableSql(TableDef{table.name, columns});
      if (role_there) {
        const std::string t(table.name), role(report_role);
        sql += "GRANT SELECT, INSERT, UPDATE, DELETE ON " + t + " TO " + role + ";\n"
               "GRANT SELECT, UPDATE ON " + t + "_" + std::string(table.columns[0].name) + "_seq TO " + role + ";\n";
      }
      connection.ExecuteControl(sql);
      return;
    }
    case SchemaStepKind::kAddColumn: {
      const TableDef& table = CatalogTable(catalog, step.table);
      connection.ExecuteControl("ALTER TABLE " + std::string(table.name) + " ADD COLUMN " +
                                ColumnSql(*step.column, table.columns[0].name) + ";");
      return;
    }
    case SchemaStepKind::kAddIndex:
      connection.ExecuteControl(
          IndexSql(IndexDef{step.table, step.columns, step.whole_numbers}, connection.Dialect(), true));
      return;
    case SchemaStepKind::kRedefineColumns:
      throw Error::Runtime(kInvalidArgument, "A company on a server cannot take the schema step to version " +
                                                 std::to_string(step.version) + " (a change of column definitions).");
    case SchemaStepKind::kBackfill:
      RunBackfill(connection, step);
      return;
  }
}

// Brings a company of an earlier version to the catalog's in one transaction: the catalog's
// steps after the stored version, in order, then the company's rules (kept totals' triggers,
// delete guards) written again from the catalog, and the version. Another process may have
// done it meanwhile: the version read under the lock tells.
void UpgradePostgresSchema(EngineConnection& connection, const PostgresTarget& target, std::string_view report_role,
                           const Catalog& catalog) {
  connection.ExecuteControl("BEGIN; LOCK TABLE lk_Schema IN EXCLUSIVE MODE;");
  try {
    int64_t version = 0;
    bool role_there = false;
    {
      const auto statement = connection.Prepare(
          Sql("SELECT Version, EXISTS (SELECT FROM pg_catalog.pg_roles WHERE rolname = ", kValue, ") FROM lk_Schema"));
      statement->BindText(1, report_role);
      if (statement->Step()) {
        version = statement->ColumnInteger(0).value_or(0);
        role_there = statement->ColumnInteger(1).value_or(0) != 0;
      }
    }
    // A newer library may have been first.
    if (version > catalog.version) {
      throw Error::Runtime(kInvalidArgument, "The company " + target.company + " has schema version " +
                                                 std::to_string(version) +
                                                 ", which this library (schema version " +
                                                 std::to_string(catalog.version) + ") cannot open.");
    }
    if (version < catalog.version) {
      for (const SchemaStep& step : catalog.steps) {
        if (step.version > version && step.version <= catalog.version) {
          ApplyStep(connection, catalog, step, report_role, role_there);
        }
      }
      std::string rules;
      for (const KeptTotalsDef& kept : catalog.kept_totals) rules += KeptTotalsRulesSql(kept);
      connection.ExecuteControl(rules + DeleteGuardsSql(catalog) + "UPDATE lk_Schema SET Version = " +
                                std::to_string(catalog.version) + ";");
    }
    connection.ExecuteControl("COMMIT;");
  } catch (...) {
    try {
      if (connection.InTransaction()) connection.ExecuteControl("ROLLBACK;");
    } catch (...) {
      // The first failure is the one reported; closing the connection ends the transaction.
    }
    throw;
  }
}

}  // namespace

std::string PostgresSchemaSql(const Catalog& catalog) {
  std::string sql(kFunctionsSql);
  for (const TableDef& table : catalog.tables) sql += TableSql(table);
  sql += IndexesSql(catalog);
  for (const KeptTotalsDef& kept : catalog.kept_totals) sql += KeptTotalsTableSql(kept) + KeptTotalsRulesSql(kept);
  sql += DeleteGuardsSql(catalog);
  sql += "CREATE TABLE lk_Schema (Mark bigint NOT NULL, Version bigint NOT NULL);\n";
  return sql;
}

bool CheckPostgresSchema(EngineConnection& connection, const PostgresTarget& target, std::string_view report_role,
                         const Catalog& catalog) {
  std::vector<Mark> marks;
  bool role_there = false;
  try {
    // The role is looked for in the same statement, which costs an opening nothing more.
    const auto statement = connection.Prepare(Sql(
        "SELECT Mark, Version, EXISTS (SELECT FROM pg_catalog.pg_roles WHERE rolname = ", kValue, ") FROM lk_Schema"));
    statement->BindText(1, report_role);
    while (statement->Step()) {
      marks.push_back(Mark{statement->ColumnInteger(0).value_or(0), statement->ColumnInteger(1).value_or(0)});
      role_there = statement->ColumnInteger(2).value_or(0) != 0;
    }
  } catch (const Error& error) {
    // 42P01, no such table: the schema is missing or holds something else.
    if (error.number() != PostgresErrorNumber("42P01")) throw;
    throw PostgresError("3F000", "The company \"" + target.company + "\" does not exist in the database (" +
                                     target.given + ")");
  }
  if (marks.size() != 1 || marks[0].mark != catalog.mark) {
    throw PostgresError("3F000", "The schema \"" + target.company + "\" holds no company (" + target.given + ")");
  }
  // The catalog's steps tell which earlier versions the server can bring up to date.
  if (marks[0].version >= 1 && marks[0].version < catalog.version && StepsReachFrom(catalog, marks[0].version)) {
    UpgradePostgresSchema(connection, target, report_role, catalog);
  } else if (marks[0].version != catalog.version) {
    throw Error::Runtime(kInvalidArgument, "The company " + target.company + " has schema version " +
                                               std::to_string(marks[0].version) + ", which this library (schema version " +
                                               std::to_string(catalog.version) + ") cannot open.");
  }
  return role_there;
}

void CreatePostgresDatabase(std::string_view uri, const Catalog& catalog, const std::function<void()>& first_rows) {
  const PostgresTarget target = ParsePostgresTarget(uri);
  auto connection = OpenPostgresCompany(target);
  // Two first creators in a database race for the shared objects: the loser finds them made.
  for (int attempt = 0;; ++attempt) {
    try {
      connection->ExecuteControl(kSharedSql);
      break;
    } catch (const Error& error) {
      if (attempt > 0 || error.number() != PostgresErrorNumber("23505")) throw;
    }
  }
  // The company, its rows and its report role are made in one transaction that commits last: a
  // creator stopped at any moment, even by SIGKILL, leaves nothing of it (roles are the
  // server's, not the database's, but their creation is undone with the transaction too).
  //
  // The schema's own creation decides a race between two creators: the second is refused, at
  // once when the first has committed (42P06), or once the first commits when it waits on the
  // name (23505, the server's unique index of schema names); when the first rolls back, the
  // second goes on.
  try {
    connection->ExecuteControl("BEGIN; CREATE SCHEMA " + target.company + ";");
  } catch (const Error& error) {
    if (connection->InTransaction()) connection->ExecuteControl("ROLLBACK");
    if (error.number() != PostgresErrorNumber("42P06") && error.number() != PostgresErrorNumber("23505")) throw;
    throw Error::Runtime(kInvalidArgument, "The company " + target.company +
                                               " already exists; a company is never written over an existing one.");
  }
  const std::string role = PostgresReportRoleOf(*connection);
  try {
    // The role is made here, so the check below finds it; its rights, and the grant on lk_shared
    // that companies made at once take turns for, come last, just before the commit.
    connection->ExecuteControl(PostgresSchemaSql(catalog) + "INSERT INTO lk_Schema (Mark, Version) VALUES (" +
                               std::to_string(catalog.mark) + ", " + std::to_string(catalog.version) + ");\n" +
                               "DO $lk$ BEGIN\n  CREATE ROLE " + role + " NOLOGIN;\n"
                               "  EXECUTE format('COMMENT ON ROLE %I IS %L', '" + role +
                               "', 'Report queries of the ledgerkit company " + target.company +
                               " in the database ' || current_database());\n"
                               "EXCEPTION WHEN duplicate_object OR unique_violation THEN NULL;\nEND $lk$;\n");
    connection->CheckSchema(catalog);
    UnitOfWork::RunOnNewCompany(std::string(uri), *connection, first_rows);
    connection->ExecuteControl(PostgresReportRoleSql(target, role));
    // On its own: a server still running the statements above when this process ends then finds
    // no COMMIT, and rolls back.
    connection->Commit();
  } catch (...) {
    try {
      if (connection->InTransaction()) connection->ExecuteControl("ROLLBACK");
    } catch (...) {
      // The first failure is the one reported; the server rolls back when the session ends.
    }
    throw;
  }
}

}  // namespace ledgerkit
