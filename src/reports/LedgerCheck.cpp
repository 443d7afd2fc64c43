#include "reports/LedgerCheck.h"

#include <charconv>
#include <optional>

#include "common/Command.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Currency.h"
#include "ledgerkit/common/DataAccess.h"
#include "common/DataAccessInternal.h"
#include "common/Engine.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "common/UnitOfWork.h"
#include "entities/Catalog.h"
#include "entities/RegisterTotals.h"
#include "ledgerkit/entities/Schema.h"

namespace ledgerkit {

namespace {

std::string Text(const Variant& value) { return value.IsNull() ? std::string("(null)") : ToText(value); }

// An exact count of ten-thousandths as the engine gives it in text (CAST(... AS TEXT)); nullopt
// for Null and for anything that is not a whole number in the int64 range (a REAL).
std::optional<int64_t> Scaled(const Variant& value) {
  if (value.IsNull()) return std::nullopt;
  const std::string text = ToText(value);
  int64_t scaled = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), scaled);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return scaled;
}

// True for a whole number in text that an int64 cannot hold: a sum an engine made beyond the
// range without failing (a server's SUM() of bigint gives a numeric).
bool BeyondRange(const Variant& value) {
  if (value.IsNull() || Scaled(value)) return false;
  const std::string text = ToText(value);
  const size_t digits = text.starts_with('-') ? 1 : 0;
  return text.size() > digits && text.find_first_not_of("0123456789", digits) == std::string::npos;
}

// Money read as text: ten-thousandths as stored in units; an inexact value written plainly
// (a REAL such as 1000010.5) has its decimal point moved the same four places, anything else
// (an exponent, text) is given as stored, marked as ten-thousandths.
std::string MoneyText(const Variant& value) {
  if (value.IsNull()) return "(null)";
  const std::optional<int64_t> scaled = Scaled(value);
  if (scaled) return Currency::FromScaled(*scaled).ToText();
  const std::string text = ToText(value);
  const bool negative = text.starts_with('-');
  std::string whole = text.substr(negative ? 1 : 0), fraction;
  if (const size_t point = whole.find('.'); point != std::string::npos) {
    fraction = whole.substr(point + 1);
    whole.resize(point);
  }
  if (whole.empty() || whole.find_first_not_of("0123456789") != std::string::npos ||
      fraction.find_first_not_of("0123456789") != std::string::npos) {
    return text + " (ten-thousandths)";
  }
  whole.insert(0, std::string(whole.size() < 5 ? 5 - whole.size() : 0, '0'));
  fraction = whole.substr(whole.size() - 4) + fraction;
  whole.resize(whole.size() - 4);
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  while (whole.size() > 1 && whole.front() == '0') whole.erase(0, 1);
  return (negative ? "-" : "") + whole + (fraction.empty() ? "" : "." + fraction);
}

// True for the engine's refusal of a SUM() that leaves the int64 range.
bool IsSumOverflow(const Variant& account, const Error& error) { return CompanyDialect(account).IsSumOverflow(error); }

// One account's register as the check needs it: the sums of its rows, exactly, when they fit.
struct RegisterSums {
  bool overflow = false;   // a sum leaves the int64 range
  bool exact = true;       // every amount is an exact count (no REAL or text among them)
  int64_t debits = 0;      // SUM(Withdrawal), 0 when none
  int64_t credits = 0;     // SUM(Deposit), 0 when none
  int64_t debit_rows = 0;
  int64_t credit_rows = 0;
};

RegisterSums SumRegister(const Variant& account, const Variant& account_id) {
  Command command(account);
  command.SetText(Sql(
      "SELECT CAST(COALESCE(SUM(Withdrawal),0) AS TEXT), CAST(COALESCE(SUM(Deposit),0) AS TEXT), COUNT(Withdrawal), "
      "COUNT(Deposit) FROM ACTransaction WHERE Parent=",
      kValue, ";"));
  command.Bind(db::ACTransaction::Parent, account_id, "AccountID");
  RegisterSums sums;
  std::shared_ptr<Recordset> row;
  try {
    row = command.ExecuteQuery();
  } catch (const Error& error) {
    if (!IsSumOverflow(account, error)) throw;
    sums.overflow = true;
    return sums;
  }
  const std::optional<int64_t> debits = Scaled(row->Field(0));
  const std::optional<int64_t> credits = Scaled(row->Field(1));
  // An engine that sums beyond the 64-bit range without failing gives the whole number itself:
  // the same overflow as one whose SUM() refuses it.
  if (BeyondRange(row->Field(0)) || BeyondRange(row->Field(1))) {
    sums.overflow = true;
    return sums;
  }
  sums.exact = debits && credits;
  sums.debits = debits.value_or(0);
  sums.credits = credits.value_or(0);
  sums.debit_rows = ToLong(row->Field(2));
  sums.credit_rows = ToLong(row->Field(3));
  return sums;
}

}  // namespace

std::vector<CheckFinding> CheckCompanyFile(const Variant& account) {
  return UnitOfWork::Run(account, Access::kRead, [&] {
    std::vector<CheckFinding> findings;
    auto add = [&findings](CheckFinding::Severity severity, std::string kind, std::string message) {
      findings.push_back(CheckFinding{severity, std::move(kind), std::move(message)});
    };
    constexpr auto kProblem = CheckFinding::Severity::kProblem;
    constexpr auto kWarning = CheckFinding::Severity::kWarning;

    const std::vector<std::string> integrity =
        WithMarkedReraise([&] { return ConnectionScope(account).connection().IntegrityProblems(); });
    for (const std::string& line : integrity) add(kProblem, "integrity", "The engine's integrity check reports: " + line);

    const auto companies = OpenRecordset(account, Sql("SELECT COUNT(*) FROM ISubScriber;"));
    const int32_t company_count = ToLong(companies->Field(0));
    const std::string holder = NamesCompanyFile(account) ? "The file" : "The company database";
    if (company_count == 0) add(kProblem, "company", holder + " has no company record.");
    if (company_count > 1) {
      add(kProblem, "company", holder + " has " + std::to_string(company_count) + " company records; one is expected.");
    }

    // Every money value must be an exact count of ten-thousandths: a REAL is a sum that left
    // the range (or a value written by another program), text no amount at all. (Only an
    // engine whose columns take any value can hold either.)
    const EngineDialect& dialect = CompanyDialect(account);
    for (const TableDef& table : SchemaTables()) {
      for (const ColumnDef& column : table.columns) {
        if (column.kind != FieldType::kCurrency) continue;
        const std::string name(column.name);
        const auto inexact = OpenRecordset(
            account, "SELECT " + std::string(table.columns[0].name) + ", CAST(" + name + " AS TEXT), " +
                         dialect.StoredTypeExpression(name) + " FROM " + std::string(table.name) + " WHERE " + name +
                         " IS NOT NULL AND NOT (" + dialect.HoldsIntegerCondition(name) + ") ORDER BY 1;");
        for (; !inexact->AtEOF(); inexact->MoveNext()) {
          add(kProblem, "money",
              std::string(table.name) + " " + Text(inexact->Field(0)) + " holds " + name + " " +
                  Text(inexact->Field(1)) + " as " + Text(inexact->Field(2)) +
                  ", not an exact amount in the currency range.");
        }
      }
    }

    // Every text must fit its column, as the rule of the column says (the same rule on every
    // engine; written around on a file only, past its CHECK constraints).
    for (const TableDef& table : SchemaTables()) {
      for (const ColumnDef& column : table.columns) {
        if (column.kind != FieldType::kText) continue;
        const std::string name(column.name), width = std::to_string(column.width);
        const auto long_texts = OpenRecordset(
            account, "SELECT " + std::string(table.columns[0].name) + ", length(" + name + ") FROM " +
                         std::string(table.name) + " WHERE length(" + name + ")>" + width + " ORDER BY 1;");
        for (; !long_texts->AtEOF(); long_texts->MoveNext()) {
          add(kProblem, "text",
              std::string(table.name) + " " + Text(long_texts->Field(0)) + " holds " + name + " of " +
                  Text(long_texts->Field(1)) + " characters; the column takes " + width + ".");
        }
      }
    }

    // Per account (and per account key that register rows or kept totals name): its stored
    // balance, its kept totals and whether it exists, from exact sums of its rows.
    const auto ids = OpenRecordset(
        account,
        "SELECT ACAccountID FROM ACAccount UNION SELECT Parent FROM ACTransaction WHERE Parent IS NOT NULL "
        "UNION " + RegisterTotalsAccountsSql() + " ORDER BY 1;");
    for (; !ids->AtEOF(); ids->MoveNext()) {
      const Variant id = ids->Field(0);
      Command lookup(account);
      lookup.SetText(Sql("SELECT AccountNumber, Name, CAST(Balance AS TEXT), CASE WHEN " +
                             dialect.HoldsIntegerCondition("Balance") +
                             " THEN 1 ELSE 0 END FROM ACAccount WHERE ACAccountID=",
                         kValue, ";"));
      lookup.Bind(db::ACAccount::ACAccountID, id, "AccountID");
      const auto found = lookup.ExecuteQuery();
      const bool exists = !found->AtEOF();
      const std::string label = "Account " + Text(id) +
                                (exists ? " (" + Text(found->Field(0)) + " " + Text(found->Field(1)) + ")" : std::string());
      const RegisterSums sums = SumRegister(account, id);
      if (sums.overflow) {
        add(kProblem, "overflow", label + ": the sums of its register rows leave the currency range.");
        continue;
      }
      if (!exists && sums.debit_rows + sums.credit_rows > 0) {
        add(kProblem, "orphan-account",
            std::to_string(sums.debit_rows + sums.credit_rows) + " register amount(s) are posted to account " +
                Text(id) + ", which does not exist.");
      }
      if (!sums.exact) continue;  // reported as "money"

      if (exists) {
        std::optional<Currency> net;
        try {
          net = Currency::FromScaled(sums.credits) - Currency::FromScaled(sums.debits);
        } catch (const Error& error) {
          if (error.number() != kOverflow) throw;
          add(kProblem, "overflow", label + ": its register's credits minus debits leave the currency range.");
        }
        // A Null balance is no amount to compare with.
        const bool stored_exact = ToLong(found->Field(3)) == 1;
        const std::optional<int64_t> stored = Scaled(found->Field(2));
        if (net && stored_exact && (!stored || *stored != net->scaled())) {
          add(kProblem, "balance",
              label + " stores a balance of " + MoneyText(found->Field(2)) + " but its register gives " +
                  net->ToText() + ".");
        }
      }

      const std::optional<KeptRegisterTotals> totals = ReadRegisterTotals(account, id);
      const bool has_rows = sums.debit_rows + sums.credit_rows > 0;
      bool differs = false;
      if (!totals) {
        differs = has_rows;
      } else {
        const std::optional<int64_t> debit_rows = Scaled(totals->debit_rows);
        const std::optional<int64_t> credit_rows = Scaled(totals->credit_rows);
        differs = has_rows ? Scaled(totals->debits) != sums.debits || Scaled(totals->credits) != sums.credits ||
                                 debit_rows != sums.debit_rows || credit_rows != sums.credit_rows
                           : debit_rows != 0 || credit_rows != 0;
      }
      if (differs) {
        add(kProblem, "register-total",
            "The kept register totals of account " + Text(id) + " differ from its register rows.");
      }
    }

    const auto nowhere = OpenRecordset(account, Sql("SELECT COUNT(*) FROM ACTransaction WHERE Parent IS NULL;"));
    if (ToLong(nowhere->Field(0)) > 0) {
      add(kProblem, "orphan-account", Text(nowhere->Field(0)) + " register row(s) name no account.");
    }

    const auto lines_nowhere = OpenRecordset(
        account,
        "SELECT w.ACTransLogWIPID, w.AccountID, l.TransactionNumber FROM ACTransLogWIP w "
        "LEFT JOIN ACTransLog l ON l.ACTransLogID=w.Parent WHERE w.AccountID IS NULL OR w.AccountID NOT IN "
        "(SELECT ACAccountID FROM ACAccount) ORDER BY w.ACTransLogWIPID;");
    for (; !lines_nowhere->AtEOF(); lines_nowhere->MoveNext()) {
      add(kProblem, "line-account",
          "Waiting line " + Text(lines_nowhere->Field(0)) + " of transaction " + Text(lines_nowhere->Field(2)) +
              (lines_nowhere->Field(1).IsNull() ? std::string(" names no account.")
                                                 : " names account " + Text(lines_nowhere->Field(1)) +
                                                       ", which does not exist."));
    }

    // Debits against credits per transaction; a transaction whose sums leave the range is
    // found by summing transaction by transaction.
    const char* kUnbalancedSql =
        "SELECT TransactionNumber, CAST(COALESCE(SUM(Withdrawal),0) AS TEXT) AS Debits, "
        "CAST(COALESCE(SUM(Deposit),0) AS TEXT) AS Credits FROM ACTransaction %WHERE% GROUP BY TransactionNumber "
        "HAVING COALESCE(SUM(Withdrawal),0)<>COALESCE(SUM(Deposit),0) ORDER BY TransactionNumber;";
    const auto report_unbalanced = [&](const Recordset& rows) {
      for (const auto& row : rows.Rows()) {
        // As the engine whose SUM() refuses such a sum, summing transaction by transaction.
        if (BeyondRange(row[1]) || BeyondRange(row[2])) {
          add(kProblem, "overflow",
              "Transaction " + Text(row[0]) + ": the sums of its register rows leave the currency range.");
          continue;
        }
        add(kWarning, "unbalanced",
            "Transaction " + Text(row[0]) + " is committed with debits of " + MoneyText(row[1]) +
                " and credits of " + MoneyText(row[2]) + ".");
      }
    };
    std::string all_sql = kUnbalancedSql;
    all_sql.replace(all_sql.find("%WHERE%"), 7, "");
    try {
      report_unbalanced(*OpenRecordset(account, Sql(all_sql)));
    } catch (const Error& error) {
      if (!IsSumOverflow(account, error)) throw;
      std::string one_sql = kUnbalancedSql;
      const size_t where = one_sql.find("%WHERE%");
      const Sql one_number(one_sql.substr(0, where), "WHERE TransactionNumber IS NOT DISTINCT FROM ", kValue,
                           one_sql.substr(where + 7));
      const auto numbers =
          OpenRecordset(account, Sql("SELECT DISTINCT TransactionNumber FROM ACTransaction ORDER BY 1;"));
      for (; !numbers->AtEOF(); numbers->MoveNext()) {
        Command one(account);
        one.SetText(one_number);
        one.Append(Selecting(db::ACTransaction::TransactionNumber, numbers->Field(0)));
        try {
          report_unbalanced(*one.ExecuteQuery());
        } catch (const Error& inner) {
          if (!IsSumOverflow(account, inner)) throw;
          add(kProblem, "overflow",
              "Transaction " + Text(numbers->Field(0)) + ": the sums of its register rows leave the currency range.");
        }
      }
    }

    const auto orphan_rows = OpenRecordset(
        account,
        "SELECT TransactionNumber, COUNT(*) FROM ACTransaction WHERE TransactionNumber IS NULL OR TransactionNumber "
        "NOT IN (SELECT TransactionNumber FROM ACTransLog WHERE TransactionNumber IS NOT NULL) "
        "GROUP BY TransactionNumber ORDER BY TransactionNumber;");
    for (; !orphan_rows->AtEOF(); orphan_rows->MoveNext()) {
      add(kProblem, "orphan-register",
          Text(orphan_rows->Field(1)) + " register row(s) of transaction " + Text(orphan_rows->Field(0)) +
              " have no transaction header.");
    }

    const auto orphan_lines = OpenRecordset(
        account,
        "SELECT Parent, COUNT(*) FROM ACTransLogWIP WHERE Parent IS NULL OR Parent NOT IN "
        "(SELECT ACTransLogID FROM ACTransLog) GROUP BY Parent ORDER BY Parent;");
    for (; !orphan_lines->AtEOF(); orphan_lines->MoveNext()) {
      add(kProblem, "orphan-line",
          Text(orphan_lines->Field(1)) + " waiting line(s) name the missing header " + Text(orphan_lines->Field(0)) + ".");
    }

    const auto waiting = OpenRecordset(
        account,
        "SELECT l.TransactionNumber, COUNT(*) FROM ACTransLogWIP w JOIN ACTransLog l ON w.Parent=l.ACTransLogID "
        "WHERE l.TransLogStatus=1 GROUP BY l.ACTransLogID ORDER BY l.ACTransLogID;");
    for (; !waiting->AtEOF(); waiting->MoveNext()) {
      add(kProblem, "waiting-line",
          Text(waiting->Field(1)) + " line(s) wait under the committed transaction " + Text(waiting->Field(0)) + ".");
    }

    const auto invoices = OpenRecordset(
        account,
        "SELECT ACInvoiceID, InvoiceNo, TransactionNumber FROM ACInvoice WHERE TransactionNumber IS NULL OR "
        "TransactionNumber NOT IN (SELECT TransactionNumber FROM ACTransLog WHERE TransactionNumber IS NOT NULL) "
        "ORDER BY ACInvoiceID;");
    for (; !invoices->AtEOF(); invoices->MoveNext()) {
      add(kProblem, "orphan-invoice",
          "Invoice " + Text(invoices->Field(0)) + " (number " + Text(invoices->Field(1)) + ") names the missing transaction " +
              Text(invoices->Field(2)) + ".");
    }

    // An issued invoice (its transaction committed) is owed what was debited to its account.
    const char* kInvoiceTotalsSql =
        "SELECT i.ACInvoiceID, i.InvoiceNo, CAST(i.Total AS TEXT), CAST(d.Debit AS TEXT) FROM ACInvoice i "
        "JOIN ACTransLog l ON l.TransactionNumber=i.TransactionNumber AND l.TransLogStatus=1 "
        "LEFT JOIN (SELECT TransactionNumber, Parent, SUM(Withdrawal) AS Debit FROM ACTransaction "
        "GROUP BY TransactionNumber, Parent) d ON d.TransactionNumber=i.TransactionNumber AND d.Parent=i.AccountID "
        "WHERE i.Total IS DISTINCT FROM d.Debit ORDER BY i.ACInvoiceID;";
    // A debit beyond the range is one finding in place of the comparisons, whether the engine's
    // SUM() refuses it or gives the larger number.
    const std::string invoices_overflow = "The receivable debits of issued invoices sum beyond the currency range.";
    try {
      const auto totals = OpenRecordset(account, Sql(kInvoiceTotalsSql));
      std::vector<CheckFinding> warnings;
      bool beyond = false;
      for (; !totals->AtEOF(); totals->MoveNext()) {
        beyond = beyond || BeyondRange(totals->Field(3));
        warnings.push_back(CheckFinding{
            kWarning, "invoice-total",
            "Invoice " + Text(totals->Field(0)) + " (number " + Text(totals->Field(1)) + ") has a total of " +
                MoneyText(totals->Field(2)) + " but its receivable debit is " + MoneyText(totals->Field(3)) + "."});
      }
      if (beyond) {
        add(kProblem, "overflow", invoices_overflow);
      } else {
        findings.insert(findings.end(), warnings.begin(), warnings.end());
      }
    } catch (const Error& error) {
      if (!IsSumOverflow(account, error)) throw;
      add(kProblem, "overflow", invoices_overflow);
    }
    return findings;
  });
}

}  // namespace ledgerkit
