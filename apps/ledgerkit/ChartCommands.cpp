#include "ChartCommands.h"

#include <charconv>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <vector>

#include <CLI/CLI.hpp>

#include "CommandArguments.h"
#include "Table.h"
#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorNumbers.h"
#include "common/Text.h"
#include "ledgerkit/entities/ACAccount.h"
#include "ledgerkit/entities/ACAccountType.h"
#include "ledgerkit/entities/ACFnclInstitution.h"
#include "ledgerkit/entities/CITaxCode.h"
#include "ledgerkit/entities/ColumnWidths.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/ledger/CACMgr.h"
#include "ledgerkit/reports/CReportMgr.h"

namespace ledgerkit::cli {

namespace {

constexpr const char* kFileHelp = "Company file path, or postgresql://...?company=NAME for a company on a server";

[[noreturn]] void Refuse(const std::string& message) { throw Error::Runtime(kInvalidArgument, message); }

std::string Text(const Variant& value) { return value.IsNull() || value.IsEmpty() ? std::string() : ToText(value); }

std::string KeyList(const std::vector<int32_t>& keys) {
  std::string list;
  for (size_t i = 0; i < keys.size(); ++i) {
    list += (i == 0 ? "" : i + 1 == keys.size() ? " and " : ", ") + std::to_string(keys[i]);
  }
  return list;
}

// "1000 Bank", as messages name an account.
std::string Shown(const ACAccount& account) {
  const std::string number = Text(account.Value("AccountNumber"));
  const std::string name = Text(account.Value("Name"));
  return number.empty() ? name : name.empty() ? number : number + " " + name;
}

std::string Plural(size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// --- Balance-sheet classes -----------------------------------------------------------------

const std::map<std::string, int32_t>& Classes() {
  static const std::map<std::string, int32_t> classes = {{"asset", bstASSET},
                                                         {"liability", bstLIABILITY},
                                                         {"equity", bstEQUITY},
                                                         {"income", bstINCOME},
                                                         {"expense", bstEXPENSE}};
  return classes;
}

std::string ClassName(const Variant& sheet_type) {
  if (sheet_type.IsNull() || sheet_type.IsEmpty()) return {};
  const int32_t value = ToLong(sheet_type);
  for (const auto& [name, type] : Classes()) {
    if (type == value) return name;
  }
  return "class " + std::to_string(value);
}

// --- Account types -------------------------------------------------------------------------

struct TypeRow {
  int32_t key = 0;
  std::string name, description;
  Variant sheet_type;
};

std::vector<TypeRow> AllTypes(const Variant& file) {
  std::vector<TypeRow> rows;
  const auto types = CACMgr().GetAllAccountTypes(file, "", "");
  for (const auto& [key, entry] : types->entries()) {
    const auto& type = static_cast<const ACAccountType&>(*entry);
    rows.push_back(TypeRow{ToLong(type.Key()), Text(type.Value("Name")), Text(type.Value("Description")),
                           type.Value("BalanceSheetType")});
  }
  return rows;
}

// The key of the one account type named `name`; refused when none or several have the name.
int32_t TypeKey(const Variant& file, const std::string& name, std::string_view option) {
  std::vector<int32_t> keys;
  std::vector<std::string> names;
  for (const TypeRow& type : AllTypes(file)) {
    if (type.name == name) keys.push_back(type.key);
    names.push_back("\"" + type.name + "\"");
  }
  if (keys.size() > 1) {
    Refuse(std::string(option) + " \"" + name + "\": the account type name is ambiguous, the types with keys " +
           KeyList(keys) + " share it.");
  }
  if (keys.empty()) {
    std::string known;
    for (size_t i = 0; i < names.size(); ++i) known += (i == 0 ? "" : ", ") + names[i];
    Refuse(std::string(option) + " \"" + name + "\": no account type has that name" +
           (known.empty() ? std::string(" (there are none yet: ledgerkit type add)") : "; the types are " + known) + ".");
  }
  return keys.front();
}

std::string TypeName(const Variant& file, const Variant& key) {
  if (key.IsNull() || key.IsEmpty()) return {};
  for (const TypeRow& type : AllTypes(file)) {
    if (type.key == ToLong(key)) return type.name;
  }
  return {};
}

// --- Accounts --------------------------------------------------------------------------------

std::shared_ptr<ACAccount> AccountOf(const Variant& file, const Variant& key) {
  return CACMgr().GetAccount(file, "", "", key);
}

// Refuses `number` when an account other than `self` has it, naming the number and the account.
void RequireUnusedNumber(const Variant& file, const AccountNumbers& numbers, const std::string& number,
                         std::optional<int32_t> self = std::nullopt) {
  std::vector<std::string> others;
  for (int32_t key : numbers.Keys(number)) {
    if (self && key == *self) continue;
    others.push_back("\"" + Text(AccountOf(file, key)->Value("Name")) + "\" (key " + std::to_string(key) + ")");
  }
  if (others.empty()) return;
  std::string list;
  for (size_t i = 0; i < others.size(); ++i) list += (i == 0 ? "" : " and ") + others[i];
  Refuse("The account number " + number + " is already used by " + list + "; each account needs its own number.");
}

// The key of the one financial institution named `name`; nothing when there is none.
std::optional<int32_t> InstitutionKey(const Variant& file, const std::string& name) {
  std::vector<int32_t> keys;
  const auto institutions = CACMgr().GetAllFnclInstitutions(file, "", "");
  for (const auto& [key, entry] : institutions->entries()) {
    const auto& institution = static_cast<const ACFnclInstitution&>(*entry);
    if (Text(institution.Value("Name")) == name) keys.push_back(ToLong(institution.Key()));
  }
  if (keys.size() > 1) {
    Refuse("--institution \"" + name + "\": the financial institutions with keys " + KeyList(keys) +
           " share that name.");
  }
  if (keys.empty()) return std::nullopt;
  return keys.front();
}

// Every account's parent, by key, to find cycles.
std::map<int32_t, int32_t> Parents(const Variant& file) {
  std::map<int32_t, int32_t> parents;
  const auto accounts = CACMgr().GetAllAccounts(file, "", "");
  for (const auto& [key, entry] : accounts->entries()) {
    const auto& account = static_cast<const ACAccount&>(*entry);
    const Variant& parent = account.Value("ParentAccountID");
    if (!parent.IsNull() && !parent.IsEmpty() && ToLong(parent) > 0) parents[ToLong(account.Key())] = ToLong(parent);
  }
  return parents;
}

struct AccountOptions {
  std::string file, number, name, type, parent, institution, description, user;
  std::string new_number;
  bool top_level = false;
};

void AddAccount(const AccountOptions& options, std::ostream& out) {
  CACMgr ledger;
  const Variant user = ActingUser(options.file, options.user);
  const AccountNumbers numbers(options.file);
  if (options.number.empty()) Refuse("NUMBER is empty: every account has a number.");
  if (options.name.empty()) Refuse("NAME is empty: every account has a name.");
  RequireFits(options.number, lenACAccount::lenAccountNumber, "NUMBER");
  RequireFits(options.name, lenACAccount::lenName, "NAME");
  RequireFits(options.description, lenACAccount::lenDescription, "--description");
  RequireFits(options.institution, lenACFnclInstitution::lenName, "--institution");
  RequireUnusedNumber(options.file, numbers, options.number);

  Variant parent_key("");
  std::shared_ptr<ACAccount> parent;
  if (!options.parent.empty()) {
    parent_key = numbers.Key(options.parent, "--parent");
    parent = AccountOf(options.file, parent_key);
  }
  Variant type_key;
  if (!options.type.empty()) {
    type_key = TypeKey(options.file, options.type, "--type");
  } else if (parent && !parent->Value("AccountTypeID").IsNull()) {
    type_key = parent->Value("AccountTypeID");
  } else {
    Refuse("--type is needed: name the account type (ledgerkit type list shows them).");
  }
  if (parent && (parent->Value("AccountTypeID").IsNull() || ToLong(parent->Value("AccountTypeID")) != ToLong(type_key))) {
    Refuse("--parent " + options.parent + ": the parent account " + Shown(*parent) + " is of type \"" +
           TypeName(options.file, parent->Value("AccountTypeID")) + "\"; a sub-account has its parent's type.");
  }

  std::optional<int32_t> institution;
  bool institution_created = false;
  if (!options.institution.empty()) institution = InstitutionKey(options.file, options.institution);
  // Every argument is checked: from here on the writes.
  if (!options.institution.empty() && !institution) {
    institution = ToLong(ledger.AddFnclInstitution(options.file, user, "", options.institution, "", "", ""));
    institution_created = true;
  }
  Variant key;
  try {
    key = ledger.AddAccount(options.file, user, "", options.number, options.name, options.description, "", false, "",
                            parent_key, type_key, institution ? Variant(*institution) : Variant(""));
  } catch (...) {
    if (institution_created) {
      try {
        ledger.DeleteFnclInstitution(options.file, user, "", *institution);
      } catch (const Error&) {
        // The first failure is the one to report.
      }
    }
    throw;
  }
  out << "Added account " << options.number << " " << options.name << " (key " << ToLong(key) << "), type "
      << TypeName(options.file, type_key);
  if (parent) out << ", under " << Shown(*parent);
  if (institution) {
    out << ", at " << options.institution << (institution_created ? " (institution added)" : "");
  }
  out << ".\n";
}

void EditAccount(const AccountOptions& options, const CLI::App& command, std::ostream& out) {
  CACMgr ledger;
  const AccountNumbers numbers(options.file);
  const Variant key = numbers.Key(options.number, "NUMBER");
  const std::shared_ptr<ACAccount> account = AccountOf(options.file, key);
  Variant number = account->Value("AccountNumber");
  Variant name = account->Value("Name");
  Variant description = account->Value("Description");
  Variant parent = account->Value("ParentAccountID");
  Variant type = account->Value("AccountTypeID");
  std::vector<std::string> changes;

  if (command.count("--number") > 0) {
    if (options.new_number.empty()) Refuse("--number is empty: every account has a number.");
    RequireFits(options.new_number, lenACAccount::lenAccountNumber, "--number");
    RequireUnusedNumber(options.file, numbers, options.new_number, ToLong(key));
    changes.push_back("number " + Text(number) + " -> " + options.new_number);
    number = options.new_number;
  }
  if (command.count("--name") > 0) {
    if (options.name.empty()) Refuse("--name is empty: every account has a name.");
    RequireFits(options.name, lenACAccount::lenName, "--name");
    changes.push_back("name \"" + Text(name) + "\" -> \"" + options.name + "\"");
    name = options.name;
  }
  if (command.count("--description") > 0) {
    RequireFits(options.description, lenACAccount::lenDescription, "--description");
    changes.push_back("description");
    description = options.description;
  }
  if (command.count("--type") > 0) {
    const int32_t new_type = TypeKey(options.file, options.type, "--type");
    // Its sub-accounts have its type: changed under them, they would no longer be its type.
    const size_t sub_accounts = ledger.GetSubAccounts(options.file, "", "", key)->entries().size();
    if (sub_accounts > 0 && (type.IsNull() || ToLong(type) != new_type)) {
      Refuse("--type \"" + options.type + "\": account " + Shown(*account) + " has " +
             Plural(sub_accounts, "sub-account", "sub-accounts") + " of its type; a sub-account has its parent's type.");
    }
    changes.push_back("type \"" + TypeName(options.file, type) + "\" -> \"" + options.type + "\"");
    type = new_type;
  }
  if (options.top_level) {
    changes.push_back("now a top-level account");
    parent = Variant(0);  // 0 stores no parent
  } else if (command.count("--parent") > 0) {
    const Variant parent_key = numbers.Key(options.parent, "--parent");
    const int32_t self = ToLong(key);
    // The new parent may not be the account itself or one of its sub-accounts.
    const std::map<int32_t, int32_t> parents = Parents(options.file);
    std::set<int32_t> seen;
    for (int32_t up = ToLong(parent_key);; ) {
      if (up == self) {
        Refuse("--parent " + options.parent + ": that account is " +
               (ToLong(parent_key) == self ? std::string("the account itself") : "one of its sub-accounts") +
               "; an account cannot be under itself.");
      }
      const auto next = parents.find(up);
      if (next == parents.end() || !seen.insert(up).second) break;
      up = next->second;
    }
    changes.push_back("under " + options.parent);
    parent = parent_key;
  }
  if (changes.empty()) Refuse("Nothing to change: give --number, --name, --type, --parent, --top-level or --description.");
  if (!parent.IsNull() && !parent.IsEmpty() && ToLong(parent) > 0) {
    const auto parent_account = AccountOf(options.file, parent);
    const Variant& parent_type = parent_account->Value("AccountTypeID");
    if (parent_type.IsNull() || type.IsNull() || ToLong(parent_type) != ToLong(type)) {
      Refuse("The parent account " + Shown(*parent_account) + " is of type \"" + TypeName(options.file, parent_type) +
             "\" and the account of type \"" + TypeName(options.file, type) + "\"; a sub-account has its parent's type.");
    }
  }
  ledger.UpdateAccount(options.file, "", "", key, number, name, description, account->Value("Note"),
                       account->Value("Inactive"), account->Value("BankAccountNo"), account->Value("FnclInstitutionID"),
                       parent, type);
  out << "Changed account " << Shown(*account) << ":";
  for (size_t i = 0; i < changes.size(); ++i) out << (i == 0 ? " " : "; ") << changes[i];
  out << ".\n";
}

void CloseAccount(const AccountOptions& options, std::ostream& out) {
  const AccountNumbers numbers(options.file);
  const Variant key = numbers.Key(options.number, "NUMBER");
  const std::shared_ptr<ACAccount> account = AccountOf(options.file, key);
  const Variant& inactive = account->Value("Inactive");
  if (!inactive.IsNull() && !inactive.IsEmpty() && ToBoolean(inactive)) {
    out << "Account " << Shown(*account) << " is already closed; nothing changed.\n";
    return;
  }
  CACMgr().UpdateAccount(options.file, "", "", key, account->Value("AccountNumber"), account->Value("Name"),
                         account->Value("Description"), account->Value("Note"), true, account->Value("BankAccountNo"),
                         account->Value("FnclInstitutionID"), account->Value("ParentAccountID"),
                         account->Value("AccountTypeID"));
  out << "Closed account " << Shown(*account) << " (inactive; its register stays).\n";
}

void DeleteAccount(const AccountOptions& options, std::ostream& out) {
  CACMgr ledger;
  const AccountNumbers numbers(options.file);
  const Variant key = numbers.Key(options.number, "NUMBER");
  const std::shared_ptr<ACAccount> account = AccountOf(options.file, key);
  size_t register_rows = 0;
  const auto rows = CReportMgr().AccountRegister(options.file, "", "", key, Variant(), Variant());
  const size_t kind = rows->ColumnIndex("RowKind");
  for (const auto& row : rows->Rows()) register_rows += Text(row[kind]) == "detail";
  const size_t sub_accounts = ledger.GetSubAccounts(options.file, "", "", key)->entries().size();
  size_t tax_codes = 0;
  const auto codes = ledger.GetAllTaxCodes(options.file, "", "");
  for (const auto& [code_key, entry] : codes->entries()) {
    const auto& code = static_cast<const CITaxCode&>(*entry);
    for (const char* column : {"Account1ID", "Account2ID"}) {
      const Variant& id = code.Value(column);
      if (!id.IsNull() && !id.IsEmpty() && ToLong(id) == ToLong(key)) {
        ++tax_codes;
        break;
      }
    }
  }
  std::vector<std::string> uses;
  if (register_rows > 0) uses.push_back(Plural(register_rows, "register row", "register rows"));
  if (sub_accounts > 0) uses.push_back(Plural(sub_accounts, "sub-account", "sub-accounts"));
  if (tax_codes > 0) uses.push_back(Plural(tax_codes, "tax code that posts to it", "tax codes that post to it"));
  if (!uses.empty()) {
    std::string list;
    for (size_t i = 0; i < uses.size(); ++i) list += (i == 0 ? "" : i + 1 == uses.size() ? " and " : ", ") + uses[i];
    Refuse("Account " + Shown(*account) + " has " + list +
           ": deleting it would orphan the books. Close it instead (ledgerkit account close).");
  }
  ledger.DeleteAccount(options.file, "", "", key);
  out << "Deleted account " << Shown(*account) << ".\n";
}

// --- Tax codes -------------------------------------------------------------------------------

struct TaxPart {
  std::string name;
  double rate = 0;
  Variant account;
};

// "NAME=RATE%:ACCOUNT": the tax's name, its rate as a percentage, the account it posts to.
TaxPart TaxArgument(const std::string& text, std::string_view option, const AccountNumbers& numbers) {
  const std::string shown = std::string(option) + " \"" + text + "\"";
  const size_t colon = text.rfind(':');
  const size_t equals = text.rfind('=', colon == std::string::npos ? std::string::npos : colon);
  if (colon == std::string::npos || equals == std::string::npos || equals == 0 || colon < equals) {
    Refuse(shown + " is written NAME=RATE%:ACCOUNT, as GST=5%:2100.");
  }
  TaxPart part;
  part.name = text.substr(0, equals);
  RequireFits(part.name, lenCITaxCode::lenTax1Name, option);
  std::string rate = text.substr(equals + 1, colon - equals - 1);
  if (!rate.empty() && rate.back() == '%') rate.pop_back();
  const char* end = rate.data() + rate.size();
  const auto parsed = std::from_chars(rate.data(), end, part.rate);
  if (rate.empty() || parsed.ec != std::errc() || parsed.ptr != end || !std::isfinite(part.rate) || part.rate < 0 ||
      part.rate > 100) {
    Refuse(shown + ": the rate \"" + text.substr(equals + 1, colon - equals - 1) +
           "\" is not a percentage from 0 to 100 (5% is written 5%).");
  }
  part.account = numbers.Key(text.substr(colon + 1), option);
  return part;
}

struct TaxCodeOptions {
  std::string file, code, name, tax1, tax2;
  bool piggyback = false, exempt1 = false, exempt2 = false, as_json = false;
};

void AddTaxCode(const TaxCodeOptions& options, const CLI::App& command, std::ostream& out) {
  CACMgr ledger;
  if (CountCharacters(options.code) != 1) {
    Refuse("CODE \"" + options.code + "\" is not one character: a tax code is one letter or digit, as G.");
  }
  if (options.name.empty()) Refuse("--name is empty: give the code a name, as \"GST only\".");
  RequireFits(options.name, lenCITaxCode::lenDescription, "--name");
  const auto codes = ledger.GetAllTaxCodes(options.file, "", "");
  for (const auto& [key, entry] : codes->entries()) {
    const auto& code = static_cast<const CITaxCode&>(*entry);
    if (Text(code.Value("TaxCode")) == options.code) {
      Refuse("The tax code " + options.code + " is already used by \"" + Text(code.Value("Description")) + "\" (key " +
             std::to_string(ToLong(code.Key())) + ").");
    }
  }
  const AccountNumbers numbers(options.file);
  const TaxPart tax1 = TaxArgument(options.tax1, "--tax1", numbers);
  const bool has_tax2 = command.count("--tax2") > 0;
  if (!has_tax2 && options.piggyback) Refuse("--piggyback needs --tax2: the second tax is the one charged on the first.");
  if (!has_tax2 && options.exempt2) Refuse("--exempt2 needs --tax2.");
  const TaxPart tax2 = has_tax2 ? TaxArgument(options.tax2, "--tax2", numbers) : TaxPart{"", 0, Variant(0)};
  // Without a second tax the code is exempt from it: IssueInvoice computes a tax whose exempt
  // flag is false, and would post a zero second tax to no account.
  ledger.AddTaxCode(options.file, "", "", options.code, options.name, tax1.rate, tax1.name, options.exempt1, tax2.rate,
                    has_tax2 ? Variant(tax2.name) : Variant(""), has_tax2 ? options.exempt2 : true, options.piggyback,
                    false, tax1.account, tax2.account);
  auto describe = [&numbers](const TaxPart& part) {
    return part.name + " " + DoubleToText(part.rate) + "% to " + numbers.NumberOf(ToLong(part.account));
  };
  out << "Added tax code " << options.code << " (" << options.name << "): " << describe(tax1)
      << (options.exempt1 ? " (exempt)" : "");
  if (has_tax2) {
    out << ", " << describe(tax2) << (options.piggyback ? " on the first tax too" : "")
        << (options.exempt2 ? " (exempt)" : "");
  }
  out << ".\n";
}

void ListTaxCodes(const TaxCodeOptions& options, std::ostream& out) {
  const AccountNumbers numbers(options.file);
  auto result = std::make_shared<Recordset>();
  result->AppendColumn("TaxCode", FieldType::kText, 1, 0);
  result->AppendColumn("Name", FieldType::kText, 255, kFieldMayBeNull);
  for (const char* column : {"Tax1Name", "Tax1Rate", "Tax1Account", "Tax1Exempt", "Tax2Name", "Tax2Rate",
                             "Tax2Account", "Tax2Exempt", "Tax2PiggyBack", "Inactive"}) {
    const std::string_view name = column;
    const FieldType type = name.ends_with("Rate")     ? FieldType::kDouble
                           : name.ends_with("Account") || name.ends_with("Name") ? FieldType::kText
                                                                                 : FieldType::kBoolean;
    result->AppendColumn(column, type, type == FieldType::kText ? 255 : 8, kFieldMayBeNull);
  }
  result->Open();
  const auto codes = CACMgr().GetAllTaxCodes(options.file, "", "");
  auto number = [&numbers](const Variant& id) -> Variant {
    if (id.IsNull() || id.IsEmpty() || ToLong(id) <= 0) return Variant::Null();
    return numbers.NumberOf(ToLong(id));
  };
  for (const auto& [key, entry] : codes->entries()) {
    const auto& code = static_cast<const CITaxCode&>(*entry);
    result->AddNew();
    result->SetField("TaxCode", code.Value("TaxCode"));
    result->SetField("Name", code.Value("Description"));
    for (const char* tax : {"Tax1", "Tax2"}) {
      const std::string prefix = tax;
      result->SetField(prefix + "Name", code.Value(prefix + "Name"));
      result->SetField(prefix + "Rate", code.Value(prefix + "Rate"));
      result->SetField(prefix + "Account", number(code.Value(prefix == "Tax1" ? "Account1ID" : "Account2ID")));
      result->SetField(prefix + "Exempt", code.Value(prefix + "Exempt"));
    }
    result->SetField("Tax2PiggyBack", code.Value("Tax2PiggyBack"));
    result->SetField("Inactive", code.Value("Inactive"));
  }
  result->MoveFirst();
  if (options.as_json) {
    PrintJson(*result, out);
  } else {
    PrintTable(*result, out);
  }
}

}  // namespace

Variant ActingUser(const Variant& file, const std::string& user) {
  if (!user.empty()) return Variant(user);
  const auto users = CReportMgr().ExecReportQuery(file, "SELECT UserName FROM IUser ORDER BY MainUser DESC, IUserID");
  if (users->RecordCount() == 0 || users->Rows().front()[0].IsNull()) {
    Refuse("The company has no user to own the account; give --user NAME.");
  }
  return users->Rows().front()[0];
}

Subcommand AddAccountCommands(CLI::App& app) {
  auto options = std::make_shared<AccountOptions>();
  auto* command = app.add_subcommand("account", "Add, change, close or delete an account of the chart.");
  command->require_subcommand(1);
  command->footer("Examples:\n  ledgerkit account add books.ldb 1010 \"Petty cash\" --parent 1000\n"
                  "  ledgerkit account edit books.ldb 1010 --name \"Cash box\"\n"
                  "  ledgerkit account close books.ldb 5600\n");

  auto* add = command->add_subcommand("add", "Add an account; its number must not be used already.");
  add->add_option("FILE", options->file, kFileHelp)->required();
  add->add_option("NUMBER", options->number, "Account number")->required();
  add->add_option("NAME", options->name, "Account name")->required();
  add->add_option("--type", options->type, "Account type by name (ledgerkit type list); default: the parent's type");
  add->add_option("--parent", options->parent, "Number of the parent account: the new one is its sub-account");
  add->add_option("--institution", options->institution, "Financial institution by name; added when there is none");
  add->add_option("--description", options->description, "Description of the account");
  add->add_option("--user", options->user, "User whose company owns the account (default: the main user)");
  add->footer("Example:\n  ledgerkit account add books.ldb 1010 \"Petty cash\" --type Bank --parent 1000\n");

  auto* edit = command->add_subcommand("edit", "Change an account; what is not given stays as it is.");
  edit->add_option("FILE", options->file, kFileHelp)->required();
  edit->add_option("NUMBER", options->number, "Number of the account to change")->required();
  edit->add_option("--number", options->new_number, "Its new number (not used by another account)");
  edit->add_option("--name", options->name, "Its new name");
  edit->add_option("--type", options->type, "Its new account type, by name (a sub-account keeps its parent's type)");
  auto* parent = edit->add_option("--parent", options->parent, "Number of its new parent account");
  edit->add_flag("--top-level", options->top_level, "Make it a top-level account (no parent)")->excludes(parent);
  edit->add_option("--description", options->description, "Its new description");
  edit->footer("Example:\n  ledgerkit account edit books.ldb 1010 --number 1020 --name \"Cash box\"\n");

  auto* close = command->add_subcommand("close", "Mark an account inactive; its register stays.");
  close->add_option("FILE", options->file, kFileHelp)->required();
  close->add_option("NUMBER", options->number, "Number of the account to close")->required();
  close->footer("Example:\n  ledgerkit account close books.ldb 5600\n");

  auto* remove = command->add_subcommand(
      "delete", "Delete an account that nothing uses: no register rows, sub-accounts or tax codes.");
  remove->add_option("FILE", options->file, kFileHelp)->required();
  remove->add_option("NUMBER", options->number, "Number of the account to delete")->required();
  remove->footer("Example:\n  ledgerkit account delete books.ldb 5600\n");

  return Subcommand{command, [options, add, edit, close](std::ostream& out) {
                      if (*add) {
                        AddAccount(*options, out);
                      } else if (*edit) {
                        EditAccount(*options, *edit, out);
                      } else if (*close) {
                        CloseAccount(*options, out);
                      } else {
                        DeleteAccount(*options, out);
                      }
                      return 0;
                    }};
}

Subcommand AddTypeCommands(CLI::App& app) {
  struct Options {
    std::string file, name, sheet_class, description;
    bool as_json = false;
  };
  auto options = std::make_shared<Options>();
  auto* command = app.add_subcommand("type", "Add or list the account types, each of a balance-sheet class.");
  command->require_subcommand(1);
  command->footer("Examples:\n  ledgerkit type add books.ldb \"Credit card\" --class liability\n"
                  "  ledgerkit type list books.ldb --json\n");
  auto* add = command->add_subcommand("add", "Add an account type; its name must not be used already.");
  add->add_option("FILE", options->file, kFileHelp)->required();
  add->add_option("NAME", options->name, "Name of the type")->required();
  add->add_option("--class", options->sheet_class, "Balance-sheet class: asset, liability, equity, income or expense")
      ->required()
      ->check(CLI::IsMember({"asset", "liability", "equity", "income", "expense"}));
  add->add_option("--description", options->description, "Description of the type");
  add->footer("Example:\n  ledgerkit type add books.ldb \"Credit card\" --class liability\n");
  auto* list = command->add_subcommand("list", "List the account types with their class and number of accounts.");
  list->add_option("FILE", options->file, kFileHelp)->required();
  list->add_flag("--json", options->as_json, "Print the rows as a JSON array of objects");
  list->footer("Example:\n  ledgerkit type list books.ldb --json\n");

  return Subcommand{command, [options, add](std::ostream& out) {
                      const std::vector<TypeRow> types = AllTypes(options->file);
                      if (*add) {
                        if (options->name.empty()) Refuse("NAME is empty: every account type has a name.");
                        RequireFits(options->name, lenACAccountType::lenName, "NAME");
                        RequireFits(options->description, lenACAccountType::lenDescription, "--description");
                        for (const TypeRow& type : types) {
                          if (type.name == options->name) {
                            Refuse("The account type \"" + options->name + "\" exists already (key " +
                                   std::to_string(type.key) + ", class " + ClassName(type.sheet_type) + ").");
                          }
                        }
                        const Variant key =
                            CACMgr().AddAccountType(options->file, "", "", options->name, options->description, false,
                                                    Classes().at(options->sheet_class));
                        out << "Added account type " << options->name << " (key " << ToLong(key) << "), class "
                            << options->sheet_class << ".\n";
                        return 0;
                      }
                      std::map<int32_t, int32_t> counts;
                      const auto accounts = CACMgr().GetAllAccounts(options->file, "", "");
                      for (const auto& [key, entry] : accounts->entries()) {
                        const Variant& type = static_cast<const ACAccount&>(*entry).Value("AccountTypeID");
                        if (!type.IsNull() && !type.IsEmpty()) ++counts[ToLong(type)];
                      }
                      auto result = std::make_shared<Recordset>();
                      result->AppendColumn("AccountTypeID", FieldType::kLong, 4, 0);
                      result->AppendColumn("Name", FieldType::kText, 128, 0);
                      result->AppendColumn("Class", FieldType::kText, 16, kFieldMayBeNull);
                      result->AppendColumn("Description", FieldType::kText, 255, kFieldMayBeNull);
                      result->AppendColumn("Accounts", FieldType::kLong, 4, 0);
                      result->Open();
                      for (const TypeRow& type : types) {
                        result->AddNew();
                        result->SetField(0, type.key);
                        result->SetField(1, type.name);
                        const std::string sheet = ClassName(type.sheet_type);
                        result->SetField(2, sheet.empty() ? Variant::Null() : Variant(sheet));
                        result->SetField(3, type.description);
                        result->SetField(4, counts[type.key]);
                      }
                      result->MoveFirst();
                      if (options->as_json) {
                        PrintJson(*result, out);
                      } else {
                        PrintTable(*result, out);
                      }
                      return 0;
                    }};
}

Subcommand AddTaxCodeCommands(CLI::App& app) {
  auto options = std::make_shared<TaxCodeOptions>();
  auto* command = app.add_subcommand("taxcode", "Add or list the sales-tax codes invoice lines are taxed by.");
  command->require_subcommand(1);
  command->footer("Examples:\n  ledgerkit taxcode add books.ldb G --name \"GST only\" --tax1 GST=5%:2100\n"
                  "  ledgerkit taxcode list books.ldb --json\n");
  auto* add = command->add_subcommand("add", "Add a tax code of one or two taxes; rates are percentages.");
  add->add_option("FILE", options->file, kFileHelp)->required();
  add->add_option("CODE", options->code, "The code: one character, not used already")->required();
  add->add_option("--name", options->name, "Name of the code")->required();
  add->add_option("--tax1", options->tax1, "NAME=RATE%:ACCOUNT: the first tax, its rate and the account it posts to")
      ->required();
  add->add_option("--tax2", options->tax2, "NAME=RATE%:ACCOUNT: a second tax");
  add->add_flag("--piggyback", options->piggyback, "The second tax is charged on the first tax too");
  add->add_flag("--exempt1", options->exempt1, "Lines of this code are exempt from the first tax");
  add->add_flag("--exempt2", options->exempt2, "Lines of this code are exempt from the second tax");
  add->footer("Example:\n  ledgerkit taxcode add books.ldb H --name \"GST and PST\" --tax1 GST=5%:2100 --tax2 PST=7%:2200\n");
  auto* list = command->add_subcommand("list", "List the tax codes.");
  list->add_option("FILE", options->file, kFileHelp)->required();
  list->add_flag("--json", options->as_json, "Print the rows as a JSON array of objects");
  list->footer("Example:\n  ledgerkit taxcode list books.ldb --json\n");
  return Subcommand{command, [options, add](std::ostream& out) {
                      if (*add) {
                        AddTaxCode(*options, *add, out);
                      } else {
                        ListTaxCodes(*options, out);
                      }
                      return 0;
                    }};
}

}  // namespace ledgerkit::cli
