#include "reports/LedgerCheck.h"

#include "common/Convert.h"
#include "common/DataAccess.h"
#include "common/UnitOfWork.h"

namespace ledgerkit {

namespace {

std::string Text(const Variant& value) { return value.IsNull() ? std::string("(null)") : ToText(value); }

// Money read from an expression column: ten-thousandths as stored.
std::string MoneyText(const Variant& value) {
  if (value.IsNull()) return "(null)";
  return Currency::FromScaled(static_cast<int64_t>(ToDouble(value))).ToText();
}

}  // namespace

std::vector<CheckFinding> CheckCompanyFile(const Variant& account) {
  return UnitOfWork::Run(account, Access::kRead, [&] {
    std::vector<CheckFinding> findings;
    auto add = [&findings](CheckFinding::Severity severity, std::string kind, std::string message) {
      findings.push_back(CheckFinding{severity, std::move(kind), std::move(message)});
    };
    constexpr auto kProblem = CheckFinding::Severity::kProblem;

    const auto integrity = OpenRecordset(account, "PRAGMA integrity_check;");
    for (; !integrity->AtEOF(); integrity->MoveNext()) {
      const std::string line = Text(integrity->Field(0));
      if (line != "ok") add(kProblem, "integrity", "The engine's integrity check reports: " + line);
    }

    const auto balances = OpenRecordset(
        account,
        "SELECT a.ACAccountID, a.AccountNumber, a.Name, a.Balance AS Stored, COALESCE(r.Net,0) AS Expected "
        "FROM ACAccount a LEFT JOIN (SELECT Parent, COALESCE(SUM(Deposit),0)-COALESCE(SUM(Withdrawal),0) AS Net "
        "FROM ACTransaction GROUP BY Parent) r ON r.Parent=a.ACAccountID "
        "WHERE a.Balance IS NOT COALESCE(r.Net,0) ORDER BY a.ACAccountID;");
    for (; !balances->AtEOF(); balances->MoveNext()) {
      add(kProblem, "balance",
          "Account " + Text(balances->Field("ACAccountID")) + " (" + Text(balances->Field("AccountNumber")) + " " +
              Text(balances->Field("Name")) + ") stores a balance of " +
              (balances->Field("Stored").IsNull() ? std::string("(null)") : ToText(balances->Field("Stored"))) +
              " but its register gives " + MoneyText(balances->Field("Expected")) + ".");
    }

    const auto totals = OpenRecordset(
        account,
        "SELECT r.Parent, t.AccountID FROM (SELECT Parent, COALESCE(SUM(Withdrawal),0) AS W, COALESCE(SUM(Deposit),0) AS D, "
        "COUNT(Withdrawal) AS WR, COUNT(Deposit) AS DR FROM ACTransaction WHERE Parent IS NOT NULL GROUP BY Parent) r "
        "LEFT JOIN lk_RegisterTotal t ON t.AccountID=r.Parent "
        "WHERE t.AccountID IS NULL OR t.Debits<>r.W OR t.Credits<>r.D OR t.DebitRows<>r.WR OR t.CreditRows<>r.DR "
        "UNION ALL SELECT t.AccountID, t.AccountID FROM lk_RegisterTotal t WHERE (t.DebitRows<>0 OR t.CreditRows<>0) "
        "AND NOT EXISTS (SELECT 1 FROM ACTransaction WHERE Parent=t.AccountID) ORDER BY 1;");
    for (; !totals->AtEOF(); totals->MoveNext()) {
      add(kProblem, "register-total",
          "The kept register totals of account " + Text(totals->Field(0)) + " differ from its register rows.");
    }

    const auto unbalanced = OpenRecordset(
        account,
        "SELECT TransactionNumber, COALESCE(SUM(Withdrawal),0) AS Debits, COALESCE(SUM(Deposit),0) AS Credits "
        "FROM ACTransaction GROUP BY TransactionNumber HAVING Debits<>Credits ORDER BY TransactionNumber;");
    for (; !unbalanced->AtEOF(); unbalanced->MoveNext()) {
      add(CheckFinding::Severity::kWarning, "unbalanced",
          "Transaction " + Text(unbalanced->Field(0)) + " is committed with debits of " +
              MoneyText(unbalanced->Field(1)) + " and credits of " + MoneyText(unbalanced->Field(2)) + ".");
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
    return findings;
  });
}

}  // namespace ledgerkit
