// The journal and register CSV exports.
#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ledgerkit/common/Currency.h"
#include "ledgerkit/common/Date.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "common/UnitOfWork.h"
#include "reports/Journal.h"
#include "reports/JournalInternal.h"

namespace ledgerkit {

namespace {

using namespace journal;

constexpr std::array<std::string_view, 13> kTransTypeNames = {
    "ttCHQ", "ttGENJRNL", "ttRCPT", "ttBILLPMT", "ttLIABCHQ", "ttITEMRCPT", "ttPAYCHQ",
    "ttDEP", "ttPMT",     "ttINV",  "ttINVADJ",  "ttBILL",    "ttCC"};

// Control characters become blanks (and, with `semicolons`, ';' becomes ','), the ends are
// trimmed.
std::string CleanText(std::string_view text, bool semicolons) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (IsControl(c)) c = ' ';
    if (semicolons && c == ';') c = ',';
    out += c;
  }
  return std::string(Trim(out));
}

// A transaction's description as the header line carries it: no line breaks, no ';' (which
// would start a comment), no blanks at the ends.
std::string CleanDescription(std::string_view text) { return CleanText(text, true); }
// A register row's description as its posting's comment carries it.
std::string CleanMemo(std::string_view text) { return CleanText(text, false); }

// The amount as the journal writes it: exact, two decimals or four when not whole cents.
std::string JournalAmount(Currency amount) {
  const int64_t scaled = amount.scaled();
  const uint64_t magnitude = scaled < 0 ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  const uint64_t units = magnitude / Currency::kScale;
  const uint64_t fraction = magnitude % Currency::kScale;
  std::string text = scaled < 0 ? "-" : "";
  text += std::to_string(units);
  const int places = fraction % 100 == 0 ? 2 : 4;
  uint64_t shown = places == 2 ? fraction / 100 : fraction;
  char digits[5] = {'.', '0', '0', '0', '0'};
  for (int i = places; i >= 1; --i, shown /= 10) digits[i] = static_cast<char>('0' + shown % 10);
  return text.append(digits, static_cast<size_t>(places) + 1);
}

// Characters as a terminal counts them: UTF-8 continuation bytes do not count.
size_t DisplayWidth(std::string_view text) {
  return static_cast<size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

struct RegisterRow {
  int64_t header = 0;
  std::string date;  // stored form
  std::string description;
  int32_t account = 0;
  Currency debit, credit;
  std::string memo;
  std::string number;
  std::optional<int32_t> type;
  bool reconciled = false;
};

// Runs `each(row)` for every register row of a committed header in `range`, by transaction
// date, then header, then row. One joined, sorted statement: the engine's sorter spills to
// temporary storage past its cache, so memory stays bounded whatever the company's size.
template <class Each>
void ForEachRegisterRow(EngineConnection& connection, const JournalRange& range, Each&& each) {
  static constexpr const char* kAll =
      "SELECT h.ACTransLogID, h.TransactionDate, h.Description, t.Parent, t.Withdrawal, t.Deposit, t.Description, "
      "h.TransactionNumber, h.TransType, t.Reconciled "
      "FROM ACTransLog h JOIN ACTransaction t ON t.TransactionNumber = h.TransactionNumber "
      "WHERE h.TransLogStatus = 1 "
      "ORDER BY h.TransactionDate, h.ACTransLogID, t.ACTransactionID;";
  const Sql within(
      "SELECT h.ACTransLogID, h.TransactionDate, h.Description, t.Parent, t.Withdrawal, t.Deposit, "
      "t.Description, h.TransactionNumber, h.TransType, t.Reconciled "
      "FROM ACTransLog h JOIN ACTransaction t ON t.TransactionNumber = h.TransactionNumber "
      "WHERE h.TransLogStatus = 1 AND h.TransactionDate >= ",
      kValue, " AND h.TransactionDate <= ", kValue, " ORDER BY h.TransactionDate, h.ACTransLogID, t.ACTransactionID;");
  const bool bounded = range.from || range.to;
  auto statement = connection.Prepare(bounded ? within : Sql(kAll));
  if (bounded) {
    const Date from = range.from.value_or(Date::FromCivil(1, 1, 1));
    Date to = range.to.value_or(Date::FromCivil(9999, 12, 31, 23, 59, 59));
    if (range.to && to.IsMidnight()) to = Date::FromSeconds(to.seconds() + 86399);
    statement->BindText(1, from.ToStoredText());
    statement->BindText(2, to.ToStoredText());
  }
  RegisterRow row;
  row.header = -1;
  while (statement->Step()) {
    // The header's columns repeat on each of its rows; they are read once per header.
    if (const int64_t header = statement->ColumnInteger(0).value_or(0); header != row.header) {
      row.header = header;
      row.date = TextColumn(*statement, 1);
      row.description = TextColumn(*statement, 2);
      row.number = TextColumn(*statement, 7);
      row.type = KeyColumn(*statement, 8);
    }
    row.account = KeyColumn(*statement, 3).value_or(0);
    row.debit = MoneyColumn(*statement, 4, "Withdrawal");
    row.credit = MoneyColumn(*statement, 5, "Deposit");
    row.memo = TextColumn(*statement, 6);
    row.reconciled = statement->ColumnInteger(9).value_or(0) != 0;
    each(row);
  }
}

struct Posting {
  const std::string* account;
  std::string amount;
  std::string memo;
};

class JournalWriter {
 public:
  JournalWriter(std::ostream& out, const std::map<int32_t, std::string>& names) : out_(out), names_(names) {}

  void Add(const RegisterRow& row) {
    if (row.header != header_) {
      Flush();
      header_ = row.header;
      if (row.date.size() < 10) {
        throw Error::Runtime(kInvalidArgument,
                             "Transaction " + row.number + " has no transaction date; a journal needs one.");
      }
      date_ = row.date.substr(0, 10);
      description_ = CleanDescription(row.description);
      number_ = row.number;
    }
    const Currency amount = row.debit - row.credit;
    sum_ += amount;
    const auto name = names_.find(row.account);
    const std::string* account = name != names_.end() ? &name->second : &Unknown(row.account);
    postings_.push_back(Posting{account, JournalAmount(amount), CleanMemo(row.memo)});
  }

  // Writes the transaction gathered so far.
  void Flush() {
    if (postings_.empty()) return;
    const bool balanced = sum_ == Currency();
    size_t account_width = 0, amount_width = 0;
    for (const Posting& posting : postings_) {
      account_width = std::max(account_width, DisplayWidth(*posting.account) + (balanced ? 0 : 2));
      amount_width = std::max(amount_width, posting.amount.size());
    }
    line_ = date_;
    // A description that starts like a status mark or a code goes behind an empty code.
    if (!description_.empty()) {
      const char first = description_.front();
      line_ += first == '*' || first == '!' || first == '(' ? " () " : " ";
      line_ += description_;
    }
    line_ += '\n';
    for (const Posting& posting : postings_) {
      line_ += "    ";
      if (balanced) {
        line_ += *posting.account;
      } else {
        line_ += '(';
        line_ += *posting.account;
        line_ += ')';
      }
      line_.append(account_width - DisplayWidth(*posting.account) - (balanced ? 0 : 2) + 2 +
                       (amount_width - posting.amount.size()),
                   ' ');
      line_ += posting.amount;
      if (!posting.memo.empty()) {
        line_ += "  ; ";
        line_ += posting.memo;
      }
      line_ += '\n';
    }
    line_ += '\n';
    out_ << line_;
    ++transactions_;
    postings_.clear();
    sum_ = Currency();
  }

  int64_t transactions() const { return transactions_; }

 private:
  const std::string& Unknown(int32_t id) {
    auto [entry, inserted] = unknown_.try_emplace(id);
    if (inserted) entry->second = Chart().Path(id);
    return entry->second;
  }

  std::ostream& out_;
  const std::map<int32_t, std::string>& names_;
  std::map<int32_t, std::string> unknown_;
  int64_t header_ = -1;
  std::string date_, description_, number_, line_;
  std::vector<Posting> postings_;
  Currency sum_;
  int64_t transactions_ = 0;
};

std::string CsvField(std::string_view text) {
  const bool quote = text.find_first_of(",\"\r\n") != std::string_view::npos ||
                     (!text.empty() && (IsBlank(text.front()) || IsBlank(text.back())));
  if (!quote) return std::string(text);
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

}  // namespace

int64_t ExportJournal(const Variant& account, std::ostream& out, const JournalRange& range) {
  return WithMarkedReraise([&] {
    return UnitOfWork::Run(account, Access::kRead, [&] {
      EngineConnection& connection = ActiveConnection(account);
      const auto names = ReadChart(connection).Names();
      JournalWriter writer(out, names);
      ForEachRegisterRow(connection, range, [&](const RegisterRow& row) { writer.Add(row); });
      writer.Flush();
      return writer.transactions();
    });
  });
}

int64_t ExportRegisterCsv(const Variant& account, std::ostream& out, const JournalRange& range) {
  return WithMarkedReraise([&] {
    return UnitOfWork::Run(account, Access::kRead, [&] {
      EngineConnection& connection = ActiveConnection(account);
      const Chart chart = ReadChart(connection);
      std::map<int32_t, std::array<std::string, 3>> accounts;  // name, number, account name
      {
        auto statement = connection.Prepare(Sql("SELECT ACAccountID, AccountNumber, Name FROM ACAccount;"));
        while (statement->Step()) {
          if (const auto id = KeyColumn(*statement, 0)) {
            accounts[*id] = {chart.Path(*id), TextColumn(*statement, 1), TextColumn(*statement, 2)};
          }
        }
      }
      out << "Date,Number,Type,Description,Account,AccountNumber,AccountName,Memo,Debit,Credit,Amount,Reconciled\n";
      int64_t rows = 0;
      std::string line;
      ForEachRegisterRow(connection, range, [&](const RegisterRow& row) {
        auto found = accounts.find(row.account);
        if (found == accounts.end()) found = accounts.emplace(row.account, std::array<std::string, 3>{chart.Path(row.account), "", ""}).first;
        const auto date = Date::Parse(row.date);
        const std::string type = row.type && *row.type >= 0 && *row.type < static_cast<int32_t>(kTransTypeNames.size())
                                     ? std::string(kTransTypeNames[*row.type])
                                     : (row.type ? std::to_string(*row.type) : "");
        line = date ? date->ToText() : row.date;
        for (const std::string_view field :
             {std::string_view(row.number), std::string_view(type), std::string_view(row.description),
              std::string_view(found->second[0]), std::string_view(found->second[1]), std::string_view(found->second[2]),
              std::string_view(row.memo)}) {
          line += ',';
          line += CsvField(field);
        }
        line += ',' + row.debit.ToText() + ',' + row.credit.ToText() + ',' + (row.debit - row.credit).ToText();
        line += row.reconciled ? ",1\n" : ",0\n";
        out << line;
        ++rows;
      });
      return rows;
    });
  });
}

}  // namespace ledgerkit
