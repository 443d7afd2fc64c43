// CACMgr: the life of a ledger transaction. Begun under a fresh number (a header in progress,
// with the first line of a cheque or deposit), filled with debit and credit lines, then
// committed to the register and the stored balances, or aborted without a trace.
#include "common/Command.h"
#include "common/Convert.h"
#include "common/Error.h"
#include "common/ErrorNumbers.h"
#include "common/Operation.h"
#include "entities/ColumnWidths.h"
#include "enums/PublicEnums.h"
#include "enums/eTransTypeEnm.h"
#include "ledger/CACMgr.h"
#include "ledger/LedgerInternal.h"
#include "subscriber/CAccountMgr.h"

namespace ledgerkit {

namespace {

[[noreturn]] void ThrowBadTransType() { throw Error::Library(errCACMgr::eBadTransType, messages::kBadTransType); }

// The amount of a line: money, never Null (a Null amount would turn a stored balance Null).
Currency LineAmount(const Variant& amount) { return ToCurrency(amount); }

}  // namespace

std::string CACMgr::BeginTransaction(const Variant& Account, const Variant& UserName, const Variant& Token,
                                     const Variant& TransType, const Variant& TransactionDate,
                                     const Variant& Description, const Variant& AccountID, const Variant& Amount,
                                     const Variant& Address, const Variant& Memo, const Variant& ChequeNo) {
  return RunOperation(Account, Access::kWrite, [&] {
    CAccountMgr company;
    const std::shared_ptr<ISubScriber> subscriber = company.GetAccountInfo(Account);
    if (!subscriber) throw Error::Runtime(kObjectIsNothing, "The company file has no company record.");
    // From here the number is consumed, whatever happens next.
    const std::string number = std::to_string(ToLong(company.GetNextTransactionNumber(Account, UserName, Token)));
    if (!eTransTypeEnm().IsValidValue(TransType)) ThrowBadTransType();
    const int32_t type = ToLong(TransType);
    const bool long_form = type == ttCHQ || type == ttINV;
    if (!long_form && type != ttGENJRNL && type != ttDEP) ThrowBadTransType();

    Command command(Account);
    command.SetText(long_form ? "INSERT INTO ACTransLog (Parent,LogDate,TransactionDate,Description,TransactionNumber,"
                                "TransLogStatus,UserName,TransType,ChequeNo,Address,Amount) "
                                "VALUES (?,?,?,?,?,?,?,?,?,?,?);"
                              : "INSERT INTO ACTransLog (Parent,LogDate,TransactionDate,Description,TransactionNumber,"
                                "TransLogStatus,UserName,TransType,Amount) VALUES (?,?,?,?,?,?,?,?,?);");
    command.Append("p1", ParamType::kLong, 0, subscriber->Value("ISubScriberID"), "SubscriberID");
    command.Append("p2", ParamType::kDate, 0, Date::Now(), "LogDate");
    command.Append("p3", ParamType::kDate, 0, TransactionDate, "TransactionDate");
    command.Append("p4", ParamType::kText, lenACTransLog::lenDescription, Description, "Description");
    command.Append("p5", ParamType::kText, lenACTransLog::lenTransactionNumber, number, "TransactionNumber");
    command.Append("p6", ParamType::kLong, 0, static_cast<int32_t>(tlsINPROGRESS), "TransLogStatus");
    command.Append("p7", ParamType::kText, lenACTransLog::lenUserName, UserName, "UserName");
    command.Append("p8", ParamType::kLong, 0, TransType, "TransType");
    if (long_form) {
      command.Append("p9", ParamType::kText, lenACTransLog::lenChequeNo, ChequeNo, "ChequeNo");
      command.Append("p10", ParamType::kLongText, lenACTransLog::lenAddress, Address, "Address");
      command.Append("p11", ParamType::kCurrency, 0, Amount, "Amount");
    } else {
      command.Append("p9", ParamType::kCurrency, 0, Amount, "Amount");
    }
    command.Execute();

    if (type == ttCHQ) PostCredit(Account, number, AccountID, Amount, Memo);
    if (type == ttDEP) PostDebit(Account, number, AccountID, Amount, Memo);
    return number;
  });
}

Variant CACMgr::PostDebit(const Variant& Account, const Variant& TransactionID, const Variant& AccountID,
                          const Variant& Amount, const Variant& Description) {
  return PostLine(Account, TransactionID, AccountID, Amount, Description, true);
}

Variant CACMgr::PostCredit(const Variant& Account, const Variant& TransactionID, const Variant& AccountID,
                           const Variant& Amount, const Variant& Description) {
  return PostLine(Account, TransactionID, AccountID, Amount, Description, false);
}

Variant CACMgr::PostLine(const Variant& Account, const Variant& TransactionID, const Variant& AccountID,
                         const Variant& Amount, const Variant& Description, bool is_debit) {
  return RunOperation(Account, Access::kWrite, [&] {
    const std::shared_ptr<ACTransLog> header = ledger::RequireHeader(Account, TransactionID);
    Command command(Account);
    command.SetText(
        "INSERT INTO ACTransLogWIP (Parent,AccountID,IsDebit,Description,Amount) VALUES (?,?,?,?,?) "
        "RETURNING ACTransLogWIPID;");
    command.Append("p1", ParamType::kLong, 0, header->Value("ACTransLogID"), "LogID");
    command.Append("p2", ParamType::kLong, 0, AccountID, "AccountID");
    command.Append("p3", ParamType::kBoolean, 0, is_debit, "IsDebit");
    command.Append("p4", ParamType::kText, lenACTransLogWIP::lenDescription, Description, "Description");
    command.Append("p5", ParamType::kCurrency, 0, LineAmount(Amount), "Amount");
    return command.ExecuteScalar();
  });
}

void CACMgr::EndTransaction(const Variant& Account, const Variant& TransactionID) {
  RunOperation(Account, Access::kWrite, [&] {
    const std::shared_ptr<ACTransLog> header = ledger::RequireHeader(Account, TransactionID);
    Command status(Account);
    status.SetText("UPDATE ACTransLog SET TransLogStatus=? WHERE TransactionNumber=?;");
    status.Append("p1", ParamType::kLong, 0, static_cast<int32_t>(tlsCOMMITTED), "TransLogStatus");
    status.Append("p2", ParamType::kText, lenACTransLog::lenTransactionNumber, TransactionID, "TransactionNumber");
    status.Execute();

    Command row(Account);
    row.SetText(
        "INSERT INTO ACTransaction (Parent,TransactionDate,Description,Withdrawal,Deposit,TransactionNumber,TransType) "
        "VALUES (?,?,?,?,?,?,?);");
    row.Append("p1", ParamType::kLong, 0, Variant::Null(), "AccountID");
    row.Append("p2", ParamType::kDate, 0, header->Value("TransactionDate"), "TransactionDate");
    row.Append("p3", ParamType::kText, lenACTransaction::lenDescription, Variant::Null(), "Description");
    row.Append("p4", ParamType::kCurrency, 0, Currency(), "Withdrawal");
    row.Append("p5", ParamType::kCurrency, 0, Currency(), "Deposit");
    row.Append("p6", ParamType::kText, lenACTransaction::lenTransactionNumber, header->Value("TransactionNumber"),
               "TransactionNumber");
    row.Append("p7", ParamType::kLong, 0, header->Value("TransType"), "TransType");
    Command balance(Account);
    balance.SetText("UPDATE ACAccount SET Balance=Balance+? WHERE ACAccountID=?;");
    balance.Append("p1", ParamType::kCurrency, 0, Currency(), "Balance");
    balance.Append("p2", ParamType::kLong, 0, Variant::Null(), "AccountID");

    const auto lines = Fetch<ACTransLogWIP>(Account, FetchArgs{.filter = "Parent=" + ToText(header->Value("ACTransLogID"))});
    for (const auto& [key, item] : lines->entries()) {
      const auto& line = static_cast<const ACTransLogWIP&>(*item);
      const bool is_debit = ToBoolean(line.Value("IsDebit"));
      const Currency amount = LineAmount(line.Value("Amount"));
      row.Assign("p1", line.Value("AccountID"));
      row.Assign("p3", line.Value("Description"));
      row.Assign("p4", is_debit ? amount : Currency());
      row.Assign("p5", is_debit ? Currency() : amount);
      row.Execute();
      // The stored balance is credit-positive: a credit adds, a debit subtracts.
      balance.Assign("p1", is_debit ? -amount : amount);
      balance.Assign("p2", line.Value("AccountID"));
      balance.Execute();
    }

    Command done(Account);
    done.SetText(
        "DELETE FROM ACTransLogWIP WHERE Parent IN (SELECT ACTransLogID FROM ACTransLog WHERE TransactionNumber=?);");
    done.Append("p1", ParamType::kText, lenACTransLog::lenTransactionNumber, TransactionID, "TransactionNumber");
    done.Execute();
  });
}

void CACMgr::AbortTransaction(const Variant& Account, const Variant& TransactionID) {
  RunOperation(Account, Access::kWrite, [&] {
    Command command(Account);
    command.Append("p1", ParamType::kText, lenACTransLog::lenTransactionNumber, TransactionID, "TransactionNumber");
    command.SetText(
        "DELETE FROM ACTransLogWIP WHERE Parent IN (SELECT ACTransLogID FROM ACTransLog WHERE TransactionNumber=?);");
    command.Execute();
    // Every register row of the transaction is undone, several rows of one account included.
    command.SetText(
        "UPDATE ACAccount SET Balance=Balance-posted.Net FROM "
        "(SELECT Parent, COALESCE(SUM(Deposit),0)-COALESCE(SUM(Withdrawal),0) AS Net FROM ACTransaction "
        "WHERE TransactionNumber=? GROUP BY Parent) AS posted WHERE ACAccount.ACAccountID=posted.Parent;");
    command.Execute();
    command.SetText("DELETE FROM ACTransaction WHERE TransactionNumber=?;");
    command.Execute();
    command.SetText("DELETE FROM ACTransLog WHERE TransactionNumber=?;");
    command.Execute();
  });
}

}  // namespace ledgerkit
