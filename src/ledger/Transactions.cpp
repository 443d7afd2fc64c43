// CACMgr: the life of a ledger transaction. Begun under a fresh number (a header in progress,
// with the first line of a cheque or deposit), filled with debit and credit lines, then
// committed to the register and the stored balances, or aborted without a trace.
#include <map>
#include <optional>

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

// An account a transaction posts to, as the messages name it, and its stored balance.
struct PostedAccount {
  std::string label;  // "account 7 (1000 Bank)"
  Variant balance;    // Currency, or Null
};

std::optional<PostedAccount> ReadPostedAccount(const Variant& account, const Variant& account_id) {
  Command command(account);
  command.SetText("SELECT Balance, AccountNumber, Name FROM ACAccount WHERE ACAccountID=?;");
  command.Append("p1", FieldType::kLong, 0, account_id, "AccountID");
  const auto rows = command.ExecuteQuery();
  if (rows->AtEOF()) return std::nullopt;
  const auto text = [](const Variant& value) { return value.IsNull() ? std::string() : ToText(value); };
  return PostedAccount{"account " + ToText(account_id) + " (" + text(rows->Field(1)) + " " + text(rows->Field(2)) + ")",
                       rows->Field(0)};
}

// Runs a step that adds money to `account`'s balance or register totals; an Overflow it
// raises (from the checked Currency or from the file's rule) is given the account's name.
template <class Step>
Currency CheckedSum(const PostedAccount& account, const char* what, Step step) {
  try {
    return step();
  } catch (const Error& error) {
    if (error.number() != kOverflow) throw;
    throw Error::Runtime(kOverflow, "Overflow: the " + std::string(what) + " of " + account.label +
                                        " would leave the currency range; nothing is changed.");
  }
}

void WriteBalance(const Variant& account, const Variant& account_id, Currency balance) {
  Command command(account);
  command.SetText("UPDATE ACAccount SET Balance=? WHERE ACAccountID=?;");
  command.Append("p1", FieldType::kCurrency, 0, balance, "Balance");
  command.Append("p2", FieldType::kLong, 0, account_id, "AccountID");
  command.Execute();
}

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
    command.Append("p1", FieldType::kLong, 0, subscriber->Value("ISubScriberID"), "SubscriberID");
    command.Append("p2", FieldType::kDate, 0, Date::Now(), "LogDate");
    command.Append("p3", FieldType::kDate, 0, TransactionDate, "TransactionDate");
    command.Append("p4", FieldType::kText, lenACTransLog::lenDescription, Description, "Description");
    command.Append("p5", FieldType::kText, lenACTransLog::lenTransactionNumber, number, "TransactionNumber");
    command.Append("p6", FieldType::kLong, 0, static_cast<int32_t>(tlsINPROGRESS), "TransLogStatus");
    command.Append("p7", FieldType::kText, lenACTransLog::lenUserName, UserName, "UserName");
    command.Append("p8", FieldType::kLong, 0, TransType, "TransType");
    if (long_form) {
      command.Append("p9", FieldType::kText, lenACTransLog::lenChequeNo, ChequeNo, "ChequeNo");
      command.Append("p10", FieldType::kText, lenACTransLog::lenAddress, Address, "Address");
      command.Append("p11", FieldType::kCurrency, 0, Amount, "Amount");
    } else {
      command.Append("p9", FieldType::kCurrency, 0, Amount, "Amount");
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
    command.Append("p1", FieldType::kLong, 0, header->Value("ACTransLogID"), "LogID");
    command.Append("p2", FieldType::kKey, 0, AccountID, "AccountID");
    command.Append("p3", FieldType::kBoolean, 0, is_debit, "IsDebit");
    command.Append("p4", FieldType::kText, lenACTransLogWIP::lenDescription, Description, "Description");
    command.Append("p5", FieldType::kCurrency, 0, LineAmount(Amount), "Amount");
    return command.ExecuteScalar();
  });
}

void CACMgr::EndTransaction(const Variant& Account, const Variant& TransactionID) {
  RunOperation(Account, Access::kWrite, [&] {
    const std::shared_ptr<ACTransLog> header = ledger::RequireHeader(Account, TransactionID);
    const auto lines = Fetch<ACTransLogWIP>(
        Account, FetchArgs{.filter = "Parent=?",
                           .bind = {{"Parent", FieldType::kKey, 0, header->Value("ACTransLogID"), "Parent"}}});
    // Every line must name an account that exists before anything is written: money is never
    // posted to no account. The accounts are read once; their balances are kept here as posted.
    std::map<int32_t, PostedAccount> accounts;
    for (const auto& [key, item] : lines->entries()) {
      const auto& waiting = static_cast<const ACTransLogWIP&>(*item);
      const Variant account_id = waiting.Value("AccountID");
      const std::string line = "Line " + ToText(waiting.Value("ACTransLogWIPID")) + " of transaction " + ToText(TransactionID);
      if (account_id.IsNull()) throw Error::Runtime(kInvalidArgument, line + " names no account; nothing is committed.");
      if (accounts.contains(ToLong(account_id))) continue;
      std::optional<PostedAccount> posted = ReadPostedAccount(Account, account_id);
      if (!posted) {
        throw Error::Runtime(kInvalidArgument,
                             line + " names account " + ToText(account_id) + ", which does not exist; nothing is committed.");
      }
      accounts.emplace(ToLong(account_id), std::move(*posted));
    }

    Command status(Account);
    status.SetText("UPDATE ACTransLog SET TransLogStatus=? WHERE TransactionNumber=?;");
    status.Append("p1", FieldType::kLong, 0, static_cast<int32_t>(tlsCOMMITTED), "TransLogStatus");
    status.Append("p2", FieldType::kText, lenACTransLog::lenTransactionNumber, TransactionID, "TransactionNumber");
    status.Execute();

    Command row(Account);
    row.SetText(
        "INSERT INTO ACTransaction (Parent,TransactionDate,Description,Withdrawal,Deposit,TransactionNumber,TransType) "
        "VALUES (?,?,?,?,?,?,?);");
    row.Append("p1", FieldType::kLong, 0, Variant::Null(), "AccountID");
    row.Append("p2", FieldType::kDate, 0, header->Value("TransactionDate"), "TransactionDate");
    row.Append("p3", FieldType::kText, lenACTransaction::lenDescription, Variant::Null(), "Description");
    row.Append("p4", FieldType::kCurrency, 0, Currency(), "Withdrawal");
    row.Append("p5", FieldType::kCurrency, 0, Currency(), "Deposit");
    row.Append("p6", FieldType::kText, lenACTransaction::lenTransactionNumber, header->Value("TransactionNumber"),
               "TransactionNumber");
    row.Append("p7", FieldType::kLong, 0, header->Value("TransType"), "TransType");

    for (const auto& [key, item] : lines->entries()) {
      const auto& line = static_cast<const ACTransLogWIP&>(*item);
      const Variant account_id = line.Value("AccountID");
      const bool is_debit = ToBoolean(line.Value("IsDebit"));
      const Currency amount = LineAmount(line.Value("Amount"));
      PostedAccount& posted = accounts.at(ToLong(account_id));
      row.Assign("p1", account_id);
      row.Assign("p3", line.Value("Description"));
      row.Assign("p4", is_debit ? amount : Currency());
      row.Assign("p5", is_debit ? Currency() : amount);
      // The file's rule refuses register totals out of range; here the account gets its name.
      CheckedSum(posted, "register totals", [&] {
        row.Execute();
        return Currency();
      });
      // The stored balance is credit-positive: a credit adds, a debit subtracts. A Null balance
      // stays Null, as the sum with it would be.
      if (posted.balance.IsNull()) continue;
      const Currency balance = CheckedSum(posted, "balance", [&] {
        const Currency stored = ToCurrency(posted.balance);
        return is_debit ? stored - amount : stored + amount;
      });
      WriteBalance(Account, account_id, balance);
      posted.balance = balance;
    }

    Command done(Account);
    done.SetText(
        "DELETE FROM ACTransLogWIP WHERE Parent IN (SELECT ACTransLogID FROM ACTransLog WHERE TransactionNumber=?);");
    done.Append("p1", FieldType::kText, lenACTransLog::lenTransactionNumber, TransactionID, "TransactionNumber");
    done.Execute();
  });
}

void CACMgr::AbortTransaction(const Variant& Account, const Variant& TransactionID) {
  RunOperation(Account, Access::kWrite, [&] {
    Command command(Account);
    command.Append("p1", FieldType::kText, lenACTransLog::lenTransactionNumber, TransactionID, "TransactionNumber");
    command.SetText(
        "DELETE FROM ACTransLogWIP WHERE Parent IN (SELECT ACTransLogID FROM ACTransLog WHERE TransactionNumber=?);");
    command.Execute();

    // Every register row of the transaction is undone, several rows of one account included:
    // the net (credits minus debits) per account, summed and taken off exactly.
    command.SetText("SELECT Parent, Withdrawal, Deposit FROM ACTransaction WHERE TransactionNumber=? AND Parent IS NOT NULL;");
    const auto rows = command.ExecuteQuery();
    std::map<int32_t, Currency> nets;
    for (; !rows->AtEOF(); rows->MoveNext()) {
      const int32_t account_id = ToLong(rows->Field(0));
      Currency& net = nets[account_id];
      const auto add = [&](const Variant& amount, bool credit) {
        if (amount.IsNull()) return;
        const Currency value = ToCurrency(amount);
        net = credit ? net + value : net - value;
      };
      try {
        add(rows->Field(1), false);
        add(rows->Field(2), true);
      } catch (const Error& error) {
        if (error.number() != kOverflow) throw;
        throw Error::Runtime(kOverflow, "Overflow: the amounts transaction " + ToText(TransactionID) +
                                            " posted to account " + std::to_string(account_id) +
                                            " sum beyond the currency range.");
      }
    }
    Command remove(Account);
    remove.SetText("DELETE FROM ACTransaction WHERE TransactionNumber=? AND Parent=?;");
    remove.Append("p1", FieldType::kText, lenACTransLog::lenTransactionNumber, TransactionID, "TransactionNumber");
    remove.Append("p2", FieldType::kLong, 0, Variant::Null(), "AccountID");
    for (const auto& [account_id, account_net] : nets) {
      const Currency net = account_net;  // clang 14 cannot capture a structured binding
      const std::optional<PostedAccount> posted = ReadPostedAccount(Account, account_id);
      if (posted && !posted->balance.IsNull()) {
        const Currency balance = CheckedSum(*posted, "balance", [&] { return ToCurrency(posted->balance) - net; });
        WriteBalance(Account, account_id, balance);
      }
      remove.Assign("p2", account_id);
      if (posted) {
        CheckedSum(*posted, "register totals", [&] {
          remove.Execute();
          return Currency();
        });
      } else {
        remove.Execute();
      }
    }
    command.SetText("DELETE FROM ACTransaction WHERE TransactionNumber=?;");
    command.Execute();
    command.SetText("DELETE FROM ACTransLog WHERE TransactionNumber=?;");
    command.Execute();
  });
}

}  // namespace ledgerkit
