// The meanings of the public names; see ApiMeanings.h.
#include "automation/ApiMeanings.h"

#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorNumbers.h"

namespace ledgerkit {

namespace {

using K = ValueKind;

// What Empty and Null do, in the words every entry shares.
constexpr std::string_view kEmptyText = "An empty text.";
constexpr std::string_view kNullText = "Stored as Null (no value).";
constexpr std::string_view kEmptyFalse = "False.";
constexpr std::string_view kNullFlag = "Stored as Null, which is neither true nor false.";
constexpr std::string_view kEmptyZero = "0.";
constexpr std::string_view kNullMoney = "Stored as Null (no amount).";
constexpr std::string_view kEmptyNoLink = "No link: stored as Null, as 0 and \"\" are.";
constexpr std::string_view kNullNoLink = "No link (stored as Null).";
constexpr std::string_view kEmptyKeyZero = "0, which names no row.";
constexpr std::string_view kNullNoDate = "No date (stored as Null).";
constexpr std::string_view kEmptyNoBound = "No bound: from the first row, or up to the last.";
constexpr std::string_view kNotConsulted = "Accepted and not consulted.";
constexpr std::string_view kPercent = "percent: 13 is 13 %, not 0.13";
constexpr std::string_view kMoney = "currency, exact to the ten-thousandth";

constexpr int32_t kEngineAuth = static_cast<int32_t>(kEngineErrorBase + 23u);  // the engine's authorization refusal

// Arguments that mean the same wherever they appear.
const std::vector<ArgumentMeaning>& Common() {
  static const std::vector<ArgumentMeaning> all = {
      {.name = "Account",
       .kind = K::kText,
       .meaning = "The company: a company file's path (or `Driver=SQLite;Dbq=PATH`), a PostgreSQL company URI, or "
                  "over `ledgerkit serve` the company's name."},
      {.name = "sAccount", .kind = K::kText, .meaning = "The company, as Account names it."},
      {.name = "UserName", .kind = K::kText,
       .meaning = "The caller's user name; most members accept it unconsulted, those that add rows find the "
                  "caller's company through it, and a transaction begun records it."},
      {.name = "Token", .kind = K::kText,
       .meaning = "The session's token as BeginUserSession returned it; accepted and not consulted (over "
                  "`ledgerkit serve` the Authorization header carries it)."},
      {.name = "AccountID", .kind = K::kKey, .of = "ACAccount", .empty = kEmptyKeyZero, .null = kNullNoLink,
       .meaning = "The key of an account (ACAccount.ACAccountID)."},
      {.name = "AccountNumber", .kind = K::kText, .of = "ACAccount.AccountNumber", .empty = kEmptyText,
       .null = kNullText, .meaning = "The account's number as text; lists sort by it as text."},
      {.name = "Name", .kind = K::kText, .empty = kEmptyText, .null = kNullText, .meaning = "The row's name."},
      {.name = "Description", .kind = K::kText, .empty = kEmptyText, .null = kNullText,
       .meaning = "A free description."},
      {.name = "Note", .kind = K::kText, .of = "ACAccount.Note", .empty = kEmptyText, .null = kNullText,
       .meaning = "A free note on the account."},
      {.name = "Inactive", .kind = K::kBoolean, .empty = kEmptyFalse, .null = kNullFlag,
       .meaning = "True marks the row inactive; it stays usable and listed where lists include inactive rows."},
      {.name = "BankAccountNo", .kind = K::kText, .of = "ACAccount.BankAccountNo", .empty = kEmptyText,
       .null = kNullText, .meaning = "The account's number at its bank."},
      {.name = "ParentAccountID", .kind = K::kKey, .of = "ACAccount", .empty = kEmptyNoLink, .null = kNullNoLink,
       .meaning = "The account this one is a sub-account of; 0 for none."},
      {.name = "AccountTypeID", .kind = K::kKey, .of = "ACAccountType", .empty = kEmptyKeyZero,
       .null = "No type (stored as Null); the account then belongs to no balance-sheet class.",
       .meaning = "The key of an account type (ACAccountType.ACAccountTypeID); the type's BalanceSheetType is the "
                  "account's class."},
      {.name = "FnclInstitutionID", .kind = K::kKey, .of = "ACFnclInstitution", .empty = kEmptyNoLink,
       .null = kNullNoLink, .meaning = "The key of a financial institution (ACFnclInstitution.ACFnclInstitutionID); 0 for none."},
      {.name = "FnclInstituteRqd", .kind = K::kBoolean, .empty = kEmptyFalse, .null = kNullFlag,
       .meaning = "True when accounts of the type are held at a financial institution; stored, not enforced."},
      {.name = "BalanceSheetType", .kind = K::kEnumeration, .of = "eBalanceSheetType", .empty = "0 (bstASSET).",
       .null = "No class (stored as Null): accounts of the type are in no class list.",
       .meaning = "The balance-sheet class of accounts of the type; stored unchecked, so a value outside the "
                  "enumeration puts them in no class list."},
      {.name = "Address", .kind = K::kText, .empty = kEmptyText, .null = kNullText, .meaning = "A postal address."},
      {.name = "Contact", .kind = K::kText, .of = "ACFnclInstitution.Contact", .empty = kEmptyText, .null = kNullText,
       .meaning = "The contact person at the institution."},
      {.name = "Telephone", .kind = K::kText, .empty = kEmptyText, .null = kNullText, .meaning = "A telephone number."},
      {.name = "IncludeInactive", .kind = K::kBoolean, .empty = kEmptyFalse, .null = kEmptyFalse,
       .meaning = "True lists inactive accounts too."},
      {.name = "ForDate", .kind = K::kDate,
       .meaning = "The last day counted: register rows dated on or before it; a date or a date text. Null is "
                  "refused (94), Empty (13)."},
      {.name = "TransType", .kind = K::kEnumeration, .of = "eTransType",
       .meaning = "The transaction's type; BeginTransaction takes ttCHQ (0), ttGENJRNL (1), ttDEP (7) and ttINV (9)."},
      {.name = "TransactionDate", .kind = K::kDate, .null = kNullNoDate,
       .meaning = "The transaction's date, which its register rows carry; Empty and \"\" are refused (13)."},
      {.name = "Amount", .kind = K::kCurrency, .empty = kEmptyZero, .unit = kMoney, .meaning = "An amount of money."},
      {.name = "Memo", .kind = K::kText, .of = "ACTransLogWIP.Description", .empty = kEmptyText, .null = kNullText,
       .meaning = "The description of the first line a cheque or deposit adds; unused for other types."},
      {.name = "ChequeNo", .kind = K::kText, .of = "ACTransLog.ChequeNo", .empty = kEmptyText, .null = kNullText,
       .meaning = "The cheque number (for an invoice's transaction, its invoice number)."},
      {.name = "TransactionID", .kind = K::kText,
       .empty = "An empty text, which names no transaction.", .null = "As an empty text: names no transaction.",
       .meaning = "The transaction number BeginTransaction returned, as text (\"42\"); the number 42 selects the "
                  "same. It is ACTransLog.TransactionNumber, not a row key."},
      {.name = "TransLogStatus", .kind = K::kEnumeration, .of = "eTransLogStatus", .empty = "0 (tlsINPROGRESS).",
       .meaning = "The status whose transaction headers are listed."},
      {.name = "TransactionNumber", .kind = K::kText, .empty = "An empty text, which names no transaction.",
       .null = "As an empty text: names no transaction.",
       .meaning = "A transaction number as BeginTransaction returned it (\"42\"); selects as its text does."},
      {.name = "TransLogWIPID", .kind = K::kKey, .of = "ACTransLogWIP",
       .meaning = "The key of a waiting line (ACTransLogWIP.ACTransLogWIPID), as PostDebit or PostCredit returned it."},
      {.name = "TransIDs", .kind = K::kKeyList, .of = "ACTransaction", .empty = "Marks no row.",
       .meaning = "Keys of register rows (ACTransaction.ACTransactionID) joined by \"|\", such as \"3|8|15\"; a JSON "
                  "array, \"3,6,7\" or a piece that is not a whole number is refused and nothing is marked."},
      {.name = "ServiceCharge", .kind = K::kCurrency, .empty = "No service charge.", .null = "No service charge.",
       .unit = kMoney, .meaning = "The statement's service charge; posted when it is not 0 and ServiceChargeAccount is above 0."},
      {.name = "ServiceChargeDate", .kind = K::kDate, .null = kNullNoDate,
       .meaning = "The date of the service-charge journal; Empty is refused (13) when the charge is posted."},
      {.name = "ServiceChargeAccount", .kind = K::kKey, .of = "ACAccount", .empty = "No posting.",
       .null = "No posting.", .meaning = "The expense account the service charge is debited to."},
      {.name = "InterestEarned", .kind = K::kCurrency, .empty = "No interest.", .null = "No interest.",
       .unit = kMoney, .meaning = "The statement's interest; posted when it is not 0 and InterestEarnedAccount is above 0."},
      {.name = "InterestEarnedDate", .kind = K::kDate, .null = kNullNoDate,
       .meaning = "The date of the interest journal; Empty is refused (13) when the interest is posted."},
      {.name = "InterestEarnedAccount", .kind = K::kKey, .of = "ACAccount", .empty = "No posting.",
       .null = "No posting.", .meaning = "The income account the interest is credited to."},
      {.name = "TaxCodeID", .kind = K::kKey, .of = "CITaxCode",
       .meaning = "The key of a tax code (CITaxCode.CITaxCodeID)."},
      {.name = "TaxCode", .kind = K::kText, .of = "CITaxCode.TaxCode", .empty = kEmptyText, .null = kNullText,
       .meaning = "The code itself: one character (\"G\"); a longer text is refused (5) and nothing is stored."},
      {.name = "Tax1Rate", .kind = K::kDouble, .empty = kEmptyZero, .null = "No rate (stored as Null).",
       .unit = kPercent, .meaning = "The first tax's rate in percent: 13 for 13 %."},
      {.name = "Tax1Name", .kind = K::kText, .of = "CITaxCode.Tax1Name", .empty = kEmptyText, .null = kNullText,
       .meaning = "The first tax's name; taxes of one name are summed on an invoice into one credit."},
      {.name = "Tax1Exempt", .kind = K::kBoolean, .empty = kEmptyFalse,
       .null = "Stored as Null: the tax is then neither charged nor exempt, so it is not charged.",
       .meaning = "True: the first tax is not charged. False: it is charged to Account1ID."},
      {.name = "Tax2Rate", .kind = K::kDouble, .empty = kEmptyZero, .null = "No rate (stored as Null).",
       .unit = kPercent, .meaning = "The second tax's rate in percent."},
      {.name = "Tax2Name", .kind = K::kText, .of = "CITaxCode.Tax2Name", .empty = kEmptyText, .null = kNullText,
       .meaning = "The second tax's name."},
      {.name = "Tax2Exempt", .kind = K::kBoolean, .empty = kEmptyFalse,
       .null = "Stored as Null: the second tax is then not charged.",
       .meaning = "True: the second tax is not charged. A code with one tax needs true here; false with no "
                  "Account2ID makes IssueInvoice fail (5), the second tax naming no account."},
      {.name = "Tax2PiggyBack", .kind = K::kBoolean, .empty = kEmptyFalse, .null = kNullFlag,
       .meaning = "True: the second tax is charged on the line amount plus the first tax."},
      {.name = "Account1ID", .kind = K::kKey, .of = "ACAccount", .empty = "0, which names no account.",
       .null = kNullNoLink, .meaning = "The liability account the first tax is credited to."},
      {.name = "Account2ID", .kind = K::kKey, .of = "ACAccount", .empty = "0, which names no account.",
       .null = kNullNoLink, .meaning = "The liability account the second tax is credited to."},
      {.name = "InvoiceID", .kind = K::kKey, .of = "ACInvoice",
       .meaning = "The key of an invoice (ACInvoice.ACInvoiceID), as InsertInvoice returned it."},
      {.name = "TaxID", .kind = K::kKey, .of = "CITaxCode", .empty = "0: the line is untaxed.",
       .null = "The line is untaxed.", .meaning = "The tax code of the line (CITaxCode.CITaxCodeID); 0 for untaxed."},
      {.name = "ItemCode", .kind = K::kText, .of = "ACInvoiceItem.ItemCode", .empty = kEmptyText, .null = kNullText,
       .meaning = "The item's code."},
      {.name = "ItemName", .kind = K::kText, .of = "ACInvoiceItem.ItemName", .empty = kEmptyText, .null = kNullText,
       .meaning = "The item's name; the line's revenue credit carries it as description."},
      {.name = "ItemPrice", .kind = K::kCurrency, .empty = kEmptyZero, .null = kNullMoney, .unit = kMoney,
       .meaning = "The price of one unit."},
      {.name = "ItemQuantity", .kind = K::kDouble, .empty = kEmptyZero, .null = "Stored as Null (no quantity).",
       .meaning = "The quantity; may have a fraction (2.5)."},
      {.name = "ItemUnit", .kind = K::kText, .of = "ACInvoiceItem.ItemUnit", .empty = kEmptyText, .null = kNullText,
       .meaning = "The unit the quantity counts (\"h\", \"kg\")."},
      {.name = "ItemID", .kind = K::kKey, .of = "ACInvoiceItem",
       .meaning = "The key of an invoice line (ACInvoiceItem.ACInvoiceItemID), as AddInvoiceItem returned it."},
      {.name = "InvoiceItemID", .kind = K::kKey, .of = "ACInvoiceItem",
       .meaning = "The key of an invoice line (ACInvoiceItem.ACInvoiceItemID)."},
      {.name = "Paid",
       .kind = K::kEnumeration,
       .empty = "0: outstanding.",
       .null = "Stored as Null: the invoice is then in none of the paid, outstanding and pending lists.",
       .values = {{-1, "pending", "entered, not yet issued"},
                  {0, "outstanding", "issued, not yet paid"},
                  {1, "paid", "paid"}},
       .meaning = "The invoice's state: -1 pending, 0 outstanding, 1 paid. Stored as given; IssueInvoice sets 0."},
      {.name = "Comment", .kind = K::kText, .of = "ACInvoice.Comment", .empty = kEmptyText, .null = kNullText,
       .meaning = "The invoice's comment; also its transaction's description and the description of its tax and "
                  "receivable lines."},
      {.name = "InvoiceDate", .kind = K::kDate, .null = kNullNoDate,
       .meaning = "The invoice's date, also its transaction's date; Empty and \"\" are refused (13)."},
      {.name = "InvoiceNo", .kind = K::kText, .of = "ACInvoice.InvoiceNo", .empty = kEmptyText, .null = kNullText,
       .meaning = "The invoice number as text; also stored as its transaction's ChequeNo."},
      {.name = "PurchaseOrderNumber", .kind = K::kText, .of = "ACInvoice.PurchaseOrderNumber", .empty = kEmptyText,
       .null = kNullText, .meaning = "The customer's purchase-order number."},
      {.name = "Company", .kind = K::kText, .of = "ACInvoice.Company", .empty = kEmptyText, .null = kNullText,
       .meaning = "The customer's name; AgedReceivables groups by it."},
      {.name = "Total", .kind = K::kCurrency, .empty = kEmptyZero, .null = kNullMoney, .unit = kMoney,
       .meaning = "The invoice total as the caller gives it, stored as is; IssueInvoice posts the total it "
                  "computes from the lines."},
      {.name = "TransNum", .kind = K::kText, .empty = "An empty text, which names no transaction.",
       .null = "As an empty text: names no transaction.",
       .meaning = "The invoice's transaction number (ACInvoice.TransactionNumber), as text."},
      {.name = "CompanyName", .kind = K::kText, .of = "ISubScriber.CompanyName", .empty = kEmptyText,
       .null = kNullText, .meaning = "The company's name."},
      {.name = "Address1", .kind = K::kText, .of = "ISubscriberLocation.Address1", .empty = kEmptyText,
       .null = kNullText, .meaning = "The first address line of the primary location."},
      {.name = "Address2", .kind = K::kText, .of = "ISubscriberLocation.Address2", .empty = kEmptyText,
       .null = kNullText, .meaning = "The second address line."},
      {.name = "Address3", .kind = K::kText, .of = "ISubscriberLocation.Address3", .empty = kEmptyText,
       .null = kNullText, .meaning = "The third address line."},
      {.name = "City", .kind = K::kText, .of = "ISubscriberLocation.City", .empty = kEmptyText, .null = kNullText,
       .meaning = "The city."},
      {.name = "Province", .kind = K::kText, .of = "ISubscriberLocation.Province", .empty = kEmptyText,
       .null = kNullText, .meaning = "The province or state."},
      {.name = "PostalCode", .kind = K::kText, .of = "ISubscriberLocation.PostalCode", .empty = kEmptyText,
       .null = kNullText, .meaning = "The postal code."},
      {.name = "Country", .kind = K::kText, .of = "ISubscriberLocation.Country", .empty = kEmptyText,
       .null = kNullText, .meaning = "The country."},
      {.name = "FAX", .kind = K::kText, .of = "ISubscriberLocation.Fax", .empty = kEmptyText, .null = kNullText,
       .meaning = "The fax number."},
      {.name = "ForAccount", .kind = K::kVariant, .meaning = kNotConsulted},
      {.name = "NextInvoice", .kind = K::kLong, .empty = kEmptyZero, .null = "Stored as Null.",
       .meaning = "The next invoice counter, stored as given; InsertInvoice does not read it."},
      {.name = "NextExpenseReport", .kind = K::kLong, .empty = kEmptyZero, .null = "Stored as Null.",
       .meaning = "The next expense-report counter, stored as given."},
      {.name = "NextClientAccount", .kind = K::kLong, .empty = kEmptyZero, .null = "Stored as Null.",
       .meaning = "The next client-account counter, stored as given."},
      {.name = "ProfileAccount", .kind = K::kVariant, .meaning = kNotConsulted},
      {.name = "ProfileUserName", .kind = K::kText, .of = "IUser.UserName",
       .meaning = "The user name looked up or added; names match whatever their letter case, accents' form or "
                  "full-width letters."},
      {.name = "UserID", .kind = K::kKey, .of = "IUser", .meaning = "The key of a user (IUser.IUserID)."},
      {.name = "FirstName", .kind = K::kText, .of = "IUser.FirstName", .empty = kEmptyText, .null = kNullText,
       .meaning = "The user's first name."},
      {.name = "LastName", .kind = K::kText, .of = "IUser.LastName", .empty = kEmptyText, .null = kNullText,
       .meaning = "The user's last name; GetSubscriberUserProfiles sorts by it."},
      {.name = "Initial", .kind = K::kText, .of = "IUser.MiddleInitial", .empty = kEmptyText, .null = kNullText,
       .meaning = "The user's middle initial (at most 2 characters), stored as MiddleInitial."},
      {.name = "Admin", .kind = K::kBoolean, .empty = kEmptyFalse, .null = kNullFlag,
       .meaning = "True marks the user an administrator; stored, not enforced."},
      {.name = "ReportsToID", .kind = K::kKey, .of = "IUser", .empty = kEmptyNoLink, .null = kNullNoLink,
       .meaning = "The user this one reports to (IUser.IUserID); 0 for no one. Not checked to exist."},
      {.name = "EMail", .kind = K::kText, .of = "IUser.EMail", .empty = kEmptyText, .null = kNullText,
       .meaning = "The user's e-mail address."},
      {.name = "AllowLogon", .kind = K::kBoolean, .empty = kEmptyFalse, .null = kNullFlag,
       .meaning = "True lets the user log on; only true admits BeginUserSession."},
      {.name = "Password", .kind = K::kText, .width = 30, .empty = kEmptyText,
       .meaning = "A password in clear, at most 30 characters; stored only as a hash."},
      {.name = "theUserName", .kind = K::kText, .of = "IUser.UserName",
       .meaning = "The user whose password changes (any spelling of the name)."},
      {.name = "OldPassword", .kind = K::kText, .width = 30, .empty = kEmptyText,
       .meaning = "The user's present password in clear."},
      {.name = "NewPassword", .kind = K::kText, .width = 30, .empty = kEmptyText,
       .meaning = "The new password in clear, at most 30 characters."},
      {.name = "sSQL", .kind = K::kText,
       .meaning = "One SQL statement, as given, normally one SELECT; a text with a second statement is refused "
                  "before either runs."},
      {.name = "AsOfDate", .kind = K::kDate, .empty = "No bound: every register row up to the last.",
       .meaning = "The last day counted, inclusive, as {\"$date\": \"2026-03-31\"}; a time of day is ignored. To "
                  "leave it out pass {\"$empty\": true}: \"\" is refused (13) and Null too (94)."},
      {.name = "FromDate", .kind = K::kDate, .empty = "No bound: from the first register row.",
       .meaning = "The first day counted, inclusive; leave it out with {\"$empty\": true} (\"\" is 13, Null 94)."},
      {.name = "ToDate", .kind = K::kDate, .empty = "No bound: up to the last register row.",
       .meaning = "The last day counted, inclusive; leave it out with {\"$empty\": true} (\"\" is 13, Null 94)."},
      {.name = "Months", .kind = K::kBoolean, .empty = kEmptyFalse,
       .meaning = "True adds one Currency column per calendar month, named \"YYYY-MM\", before Amount; needs "
                  "both dates."},
      {.name = "vntValue", .kind = K::kVariant,
       .meaning = "The value tested; its text must equal a value's decimal text exactly (3, 3.0 and \"3\" match "
                  "3; \" 3\" and \"03\" do not). Null is refused (94)."},
      {.name = "Index", .kind = K::kVariant,
       .meaning = "A number (a position) or a text (a key or a column name); see the member."},
  };
  return all;
}

// Arguments whose meaning depends on the table written.
ArgumentMeaning TextOf(std::string_view name, std::string_view column, std::string_view meaning) {
  return {.name = name, .kind = K::kText, .of = column, .empty = kEmptyText, .null = kNullText, .meaning = meaning};
}

ArgumentMeaning KeyOf(std::string_view name, std::string_view table, std::string_view meaning,
                      std::string_view empty = kEmptyKeyZero, std::string_view null = kNullNoLink) {
  return {.name = name, .kind = K::kKey, .of = table, .empty = empty, .null = null, .meaning = meaning};
}

const ArgumentMeaning kAccountName = TextOf("Name", "ACAccount.Name", "The account's name.");
const ArgumentMeaning kAccountDescription = TextOf("Description", "ACAccount.Description", "The account's description.");
const ArgumentMeaning kTypeName = TextOf("Name", "ACAccountType.Name", "The type's name (\"Bank\", \"Receivables\").");
const ArgumentMeaning kTypeDescription = TextOf("Description", "ACAccountType.Description", "The type's description.");
const ArgumentMeaning kInstitutionName = TextOf("Name", "ACFnclInstitution.Name", "The institution's name.");
const ArgumentMeaning kInstitutionAddress = TextOf("Address", "ACFnclInstitution.Address", "The institution's address.");
const ArgumentMeaning kInstitutionTelephone =
    TextOf("Telephone", "ACFnclInstitution.Telephone", "The institution's telephone number.");
const ArgumentMeaning kHeaderDescription =
    TextOf("Description", "ACTransLog.Description", "The transaction's description.");
const ArgumentMeaning kHeaderAddress = TextOf("Address", "ACTransLog.Address", "The payee's address on a cheque.");
const ArgumentMeaning kLineDescription = TextOf("Description", "ACTransLogWIP.Description",
                                                "The line's description, carried into its register row.");
const ArgumentMeaning kLineAmount = {.name = "Amount", .kind = K::kCurrency, .empty = kEmptyZero, .unit = kMoney,
                                     .meaning = "The line's amount, normally positive; Null is refused (94)."};
const ArgumentMeaning kTaxDescription = TextOf("Description", "CITaxCode.Description", "The code's description.");
const ArgumentMeaning kInvoiceAddress = TextOf("Address", "ACInvoice.Address",
                                               "The customer's address; also its transaction's Address.");
const ArgumentMeaning kReceivable = KeyOf("AccountID", "ACAccount",
                                          "The receivable account IssueInvoice debits with the invoice's total.",
                                          kEmptyKeyZero, "No account (stored as Null); IssueInvoice then fails (5).");
const ArgumentMeaning kRevenue =
    KeyOf("AccountID", "ACAccount", "The revenue account IssueInvoice credits with the line's amount.",
          kEmptyKeyZero, "No account (stored as Null); IssueInvoice then fails (5).");
const ArgumentMeaning kTypeKey = {.name = "AccountTypeID", .kind = K::kKey, .of = "ACAccountType",
                                  .meaning = "The key of the account type (ACAccountType.ACAccountTypeID)."};
const ArgumentMeaning kInstitutionKey = {.name = "FnclInstitutionID", .kind = K::kKey, .of = "ACFnclInstitution",
                                         .meaning = "The key of the institution (ACFnclInstitution.ACFnclInstitutionID)."};
const ArgumentMeaning kAccountKey = {.name = "AccountID", .kind = K::kKey, .of = "ACAccount",
                                     .meaning = "The key of the account (ACAccount.ACAccountID)."};
const ArgumentMeaning kUnconsultedUser = {.name = "UserName", .kind = K::kText, .meaning = kNotConsulted};

constexpr int32_t kBadTransType = errCACMgr::eBadTransType;
constexpr int32_t kTypeMismatchParent = errCACMgr::eAcctTypeMismatch;

const char* const kClassList =
    "The accounts of the class, as ACAccount, by account number (as text) then name; active ones only unless "
    "IncludeInactive is true.";

const std::vector<MemberMeaning>& Members() {
  static const std::vector<MemberMeaning> all = {
      // --- CACMgr: chart of accounts ---------------------------------------------------------
      {.class_name = "CACMgr", .member = "GetAllAccounts",
       .meaning = "Every account of the chart, active or not, by account number (as text) then name.",
       .returns = "A Collection of ACAccount, keyed by ACAccountID."},
      {.class_name = "CACMgr", .member = "GetAccount", .meaning = "The account AccountID.", .returns = "The ACAccount.",
       .arguments = {kAccountKey}, .errors = {{kInvalidArgument, "when no account has the key"}}},
      {.class_name = "CACMgr", .member = "GetSubAccounts",
       .meaning = "The direct children of account AccountID (those whose ParentAccountID it is), by account number.",
       .returns = "A Collection of ACAccount; empty when it has none.",
       .arguments = {{.name = "AccountID", .kind = K::kKey, .of = "ACAccount", .empty = "0: the accounts without parent "
                      "stored as 0 (none; a top-level account stores Null).", .meaning = "The parent account."}}},
      {.class_name = "CACMgr", .member = "AddAccount",
       .meaning = "Adds an account to the caller's company (found through UserName) with a Balance of 0. Neither "
                  "the parent's type nor the keys' rows are checked.",
       .returns = "The new account's key (ACAccountID), a Long.",
       .value = K::kKey,
       .arguments = {kAccountName, kAccountDescription,
                     {.name = "UserName", .kind = K::kText,
                      .meaning = "The caller, whose company the account is added to."}},
       .errors = {{kObjectIsNothing, "when UserName names no user, or the user's company does not exist"}}},
      {.class_name = "CACMgr", .member = "UpdateAccount",
       .meaning = "Overwrites every column of account AccountID but its company and Balance. Under a parent "
                  "(ParentAccountID above 0) the type must be the parent's.",
       .arguments = {kAccountName, kAccountDescription,
                     KeyOf("AccountID", "ACAccount", "The account changed; a key without an account changes nothing.",
                           "0, which names no account: nothing changes.", "Names no account: nothing changes.")},
       .errors = {{kTypeMismatchParent, "when AccountTypeID is not the parent account's type"},
                  {kInvalidArgument, "when ParentAccountID names no account"}}},
      {.class_name = "CACMgr", .member = "DeleteAccount",
       .meaning = "Deletes account AccountID; its register rows, sub-accounts and the invoices and codes naming it are "
                  "not looked for. A key without an account changes nothing.",
       .arguments = {kAccountKey}},
      // --- account types and institutions ---------------------------------------------------------
      {.class_name = "CACMgr", .member = "GetAllAccountTypes", .meaning = "Every account type, in stored order.",
       .returns = "A Collection of ACAccountType."},
      {.class_name = "CACMgr", .member = "GetAccountType", .meaning = "The account type AccountTypeID.",
       .returns = "The ACAccountType.", .arguments = {kTypeKey},
       .errors = {{kInvalidArgument, "when no type has the key"}}},
      {.class_name = "CACMgr", .member = "AddAccountType",
       .meaning = "Adds an account type to the company; BalanceSheetType is stored unchecked.",
       .returns = "The new type's key (ACAccountTypeID).",
       .value = K::kKey, .arguments = {kTypeName, kTypeDescription},
       .errors = {{kObjectIsNothing, "when the file has no company record"}}},
      {.class_name = "CACMgr", .member = "UpdateAccountType",
       .meaning = "Overwrites the type's name, description, FnclInstituteRqd and BalanceSheetType; an unknown key "
                  "changes nothing.",
       .arguments = {kTypeKey, kTypeName, kTypeDescription}},
      {.class_name = "CACMgr", .member = "DeleteAccountType",
       .meaning = "Deletes the type; accounts of the type are not looked for and keep its key.",
       .arguments = {kTypeKey}},
      {.class_name = "CACMgr", .member = "GetAllFnclInstitutions", .meaning = "Every financial institution.",
       .returns = "A Collection of ACFnclInstitution."},
      {.class_name = "CACMgr", .member = "GetFnclInstitution", .meaning = "The institution FnclInstitutionID.",
       .returns = "The ACFnclInstitution.", .arguments = {kInstitutionKey},
       .errors = {{kInvalidArgument, "when no institution has the key"}}},
      {.class_name = "CACMgr", .member = "AddFnclInstitution", .meaning = "Adds a financial institution to the company.",
       .returns = "The new institution's key (ACFnclInstitutionID).",
       .value = K::kKey,
       .arguments = {kInstitutionName, kInstitutionAddress, kInstitutionTelephone},
       .errors = {{kObjectIsNothing, "when the file has no company record"}}},
      {.class_name = "CACMgr", .member = "UpdateFnclInstitution",
       .meaning = "Overwrites the institution's name, address, contact and telephone; an unknown key changes nothing.",
       .arguments = {kInstitutionKey, kInstitutionName, kInstitutionAddress, kInstitutionTelephone}},
      {.class_name = "CACMgr", .member = "DeleteFnclInstitution",
       .meaning = "Deletes the institution; accounts naming it keep its key.", .arguments = {kInstitutionKey}},
      // --- balance-sheet lists and balances ---------------------------------------------------------
      {.class_name = "CACMgr", .member = "GetAssetAccounts",
       .meaning = "The accounts whose type has BalanceSheetType bstASSET (0).", .returns = kClassList},
      {.class_name = "CACMgr", .member = "GetLiabilityAccounts",
       .meaning = "The accounts whose type has BalanceSheetType bstLIABILITY (1).", .returns = kClassList},
      {.class_name = "CACMgr", .member = "GetEquityAccounts",
       .meaning = "The accounts whose type has BalanceSheetType bstEQUITY (2).", .returns = kClassList},
      {.class_name = "CACMgr", .member = "GetIncomeAccounts",
       .meaning = "The accounts whose type has BalanceSheetType bstINCOME (3).", .returns = kClassList},
      {.class_name = "CACMgr", .member = "GetExpenseAccounts",
       .meaning = "The accounts whose type has BalanceSheetType bstEXPENSE (4).", .returns = kClassList},
      {.class_name = "CACMgr", .member = "GetAccountBalance",
       .meaning = "The account's balance computed from its register rows: debits (Withdrawal) minus credits "
                  "(Deposit), exactly, whatever the account's class. The opposite sign of the stored "
                  "ACAccount.Balance.",
       .returns = "A Currency, positive for a debit balance (a bank account holding money); Null when the account "
                  "has no register row.",
       .value = K::kCurrency, .value_null = true,
       .arguments = {{.name = "AccountID", .kind = K::kKey, .of = "ACAccount",
                      .meaning = "The account; Null is refused (94)."}},
       .errors = {{kOverflow, "when the sum leaves the currency range"}}},
      {.class_name = "CACMgr", .member = "GetAccountBalanceForDate",
       .meaning = "As GetAccountBalance over the register rows dated on or before ForDate.",
       .returns = "A Currency, debits minus credits; Null when no row is counted.",
       .value = K::kCurrency, .value_null = true,
       .arguments = {{.name = "AccountID", .kind = K::kKey, .of = "ACAccount",
                      .meaning = "The account; Null is refused (94)."}},
       .errors = {{kOverflow, "when the sum leaves the currency range"}}},
      // --- transactions -------------------------------------------------------------------------------
      {.class_name = "CACMgr", .member = "BeginTransaction",
       .meaning = "Begins a ledger transaction (status tlsINPROGRESS) under the next transaction number. ttCHQ adds a "
                  "credit line of Amount to AccountID (the bank pays out), ttDEP a debit line (the bank takes in); "
                  "add the other side with PostDebit (cheque: the expense) or PostCredit (deposit: the income) and "
                  "commit with EndTransaction. ttGENJRNL and ttINV add no line.",
       .returns = "The transaction number as text (\"42\"), the TransactionID of PostDebit, PostCredit, "
                  "EndTransaction and AbortTransaction.",
       .arguments = {kHeaderDescription, kHeaderAddress,
                     {.name = "TransType", .kind = K::kEnumeration,
                      .values = {{0, "ttCHQ", "a cheque"}, {1, "ttGENJRNL", "a general journal entry"},
                                 {7, "ttDEP", "a deposit"}, {9, "ttINV", "an invoice's posting"}},
                      .meaning = "The transaction's type; the other eTransType values are refused."},
                     {.name = "UserName", .kind = K::kText, .of = "ACTransLog.UserName", .empty = kEmptyText,
                      .null = kNullText, .meaning = "The caller, recorded on the transaction header."},
                     {.name = "AccountID", .kind = K::kKey, .of = "ACAccount", .empty = kEmptyKeyZero,
                      .null = "No account; EndTransaction then fails (5).",
                      .meaning = "For ttCHQ and ttDEP, the bank account of the first line; unused otherwise."},
                     {.name = "Amount", .kind = K::kCurrency, .empty = kEmptyZero, .null = kNullMoney, .unit = kMoney,
                      .meaning = "The header's amount and, for ttCHQ and ttDEP, the first line's; Null is refused "
                                 "(94) for those."},
                     {.name = "ChequeNo", .kind = K::kText, .of = "ACTransLog.ChequeNo", .empty = kEmptyText,
                      .null = kNullText, .meaning = "The cheque number; stored for ttCHQ and ttINV only."},
                     {.name = "Address", .kind = K::kText, .of = "ACTransLog.Address", .empty = kEmptyText,
                      .null = kNullText, .meaning = "The payee's address; stored for ttCHQ and ttINV only."}},
       .errors = {{kBadTransType, "when TransType is not ttCHQ, ttGENJRNL, ttDEP or ttINV; the number stays consumed"},
                  {kObjectIsNothing, "when the file has no company record"},
                  {kInvalidUseOfNull, "when Amount is Null for ttCHQ or ttDEP"}}},
      {.class_name = "CACMgr", .member = "PostDebit",
       .meaning = "Adds a debit line to transaction TransactionID, in any status; it reaches the register (as "
                  "Withdrawal) when EndTransaction commits.",
       .returns = "The line's key (ACTransLogWIPID).",
       .value = K::kKey,
       .arguments = {kLineDescription, kLineAmount,
                     KeyOf("AccountID", "ACAccount", "The account debited; checked when the transaction is committed.")},
       .errors = {{kInvalidArgument, "when no transaction has the number"}}},
      {.class_name = "CACMgr", .member = "PostCredit",
       .meaning = "Adds a credit line to transaction TransactionID, in any status; it reaches the register (as "
                  "Deposit) when EndTransaction commits.",
       .returns = "The line's key (ACTransLogWIPID).",
       .value = K::kKey,
       .arguments = {kLineDescription, kLineAmount,
                     KeyOf("AccountID", "ACAccount", "The account credited; checked when the transaction is committed.")},
       .errors = {{kInvalidArgument, "when no transaction has the number"}}},
      {.class_name = "CACMgr", .member = "EndTransaction",
       .meaning = "Commits the transaction: status tlsCOMMITTED, one register row (ACTransaction) per waiting line, "
                  "each account's stored Balance moved by credit minus debit, the lines deleted. Debits and "
                  "credits need not balance.",
       .errors = {{kInvalidArgument, "when no transaction has the number, or a line names no account or one that "
                                     "does not exist (nothing is committed)"},
                  {kOverflow, "when a balance or register total would leave the currency range"}}},
      {.class_name = "CACMgr", .member = "AbortTransaction",
       .meaning = "Removes the transaction completely (lines, register rows, header), restoring the stored balances "
                  "its register rows moved; also for a committed one. A number without a transaction changes nothing.",
       .errors = {{kOverflow, "when a restored balance would leave the currency range"}}},
      // --- transaction log ------------------------------------------------------------------------------
      {.class_name = "CACMgr", .member = "GetTransLogByStatus",
       .meaning = "The transaction headers with the status, oldest LogDate first.",
       .returns = "A Collection of ACTransLog.",
       .arguments = {{.name = "TransLogStatus", .kind = K::kEnumeration, .of = "eTransLogStatus",
                      .empty = "0 (tlsINPROGRESS).", .meaning = "The status listed; Null is refused (94)."}}},
      {.class_name = "CACMgr", .member = "GetTransLog", .meaning = "The header of transaction TransactionNumber.",
       .returns = "The ACTransLog.", .errors = {{kInvalidArgument, "when no transaction has the number"}}},
      {.class_name = "CACMgr", .member = "UpdateTransLog",
       .meaning = "Replaces date, description, cheque number, address and amount of the header; status, log date, "
                  "user, type, lines and register rows stay. An unknown number changes nothing.",
       .arguments = {kHeaderDescription, kHeaderAddress,
                     {.name = "Amount", .kind = K::kCurrency, .empty = kEmptyZero, .null = kNullMoney, .unit = kMoney,
                      .meaning = "The header's amount; no line changes."}}},
      {.class_name = "CACMgr", .member = "GetTransLogWIP", .meaning = "The waiting line TransLogWIPID.",
       .returns = "The ACTransLogWIP.", .errors = {{kInvalidArgument, "when no waiting line has the key"}}},
      {.class_name = "CACMgr", .member = "UpdateTransLogWIP",
       .meaning = "Changes account, description and amount of a waiting line; its side and transaction stay. An "
                  "unknown key changes nothing.",
       .arguments = {kLineDescription, kLineAmount, KeyOf("AccountID", "ACAccount", "The account of the line.")}},
      {.class_name = "CACMgr", .member = "DeleteTransLogWIP",
       .meaning = "Deletes the waiting line; an unknown key changes nothing."},
      {.class_name = "CACMgr", .member = "GetTransactionsByTransNum",
       .meaning = "The register rows of a committed transaction, by account key.",
       .returns = "A Collection of ACTransaction; empty when no row carries the number."},
      // --- reconciliation -----------------------------------------------------------------------------
      {.class_name = "CACMgr", .member = "ReconcileAccount",
       .meaning = "Marks the register rows TransIDs lists reconciled, then posts, each as a committed ttGENJRNL "
                  "transaction whose rows are marked too, the service charge (debit ServiceChargeAccount, credit "
                  "AccountID) and the interest (debit AccountID, credit InterestEarnedAccount). All or nothing.",
       .arguments = {{.name = "AccountID", .kind = K::kKey, .of = "ACAccount", .empty = kEmptyKeyZero,
                      .null = "No account; a posting then fails (5).",
                      .meaning = "The bank account reconciled; the rows TransIDs lists are not checked to be its own."},
                     {.name = "UserName", .kind = K::kText, .of = "ACTransLog.UserName",
                      .meaning = "The caller, recorded on the journals posted."}},
       .errors = {{kTypeMismatch, "when a piece of TransIDs is not a whole number (\"3,6,7\"); a JSON array is "
                                  "refused by the bridge (5)"},
                  {kInvalidArgument, "when a posting's account does not exist"}}},
      // --- tax codes ------------------------------------------------------------------------------------
      {.class_name = "CACMgr", .member = "GetAllTaxCodes", .meaning = "Every tax code, inactive ones included, in stored order.",
       .returns = "A Collection of CITaxCode."},
      {.class_name = "CACMgr", .member = "GetTaxCode", .meaning = "The tax code TaxCodeID.", .returns = "The CITaxCode.",
       .errors = {{kInvalidArgument, "when no code has the key"}}},
      {.class_name = "CACMgr", .member = "AddTaxCode",
       .meaning = "Adds a tax code of up to two taxes to the company. Rates are percent (13, not 0.13); a code with "
                  "one tax passes Tax2Exempt true.",
       .returns = "The new code's key (CITaxCodeID).",
       .value = K::kKey, .arguments = {kTaxDescription},
       .errors = {{kInvalidArgument, "when TaxCode is longer than one character"},
                  {kObjectIsNothing, "when the file has no company record"}}},
      {.class_name = "CACMgr", .member = "UpdateTaxCode",
       .meaning = "Overwrites every value of the code; invoices issued before keep what they posted. An unknown key "
                  "changes nothing.",
       .arguments = {kTaxDescription}, .errors = {{kInvalidArgument, "when TaxCode is longer than one character"}}},
      {.class_name = "CACMgr", .member = "DeleteTaxCode",
       .meaning = "Deletes the code; lines naming it are untaxed when issued from then on."},
      // --- invoice lines ----------------------------------------------------------------------------------
      {.class_name = "CACMgr", .member = "AddInvoiceItem",
       .meaning = "Adds a line to invoice InvoiceID. Lines count when the invoice is issued; changing them later "
                  "never touches what it posted.",
       .returns = "The line's key (ACInvoiceItemID).",
       .value = K::kKey,
       .arguments = {kRevenue,
                     KeyOf("InvoiceID", "ACInvoice", "The invoice the line belongs to.",
                           "0, which names no invoice: refused.", "Names no invoice: refused.")},
       .errors = {{kInvalidArgument, "when no invoice has the key; nothing is added"}}},
      {.class_name = "CACMgr", .member = "UpdateInvoiceItem",
       .meaning = "Overwrites every value of line ItemID but its invoice; an unknown key changes nothing.",
       .arguments = {kRevenue}},
      {.class_name = "CACMgr", .member = "DeleteInvoiceItem", .meaning = "Deletes line ItemID; an unknown key changes nothing."},
      {.class_name = "CACMgr", .member = "GetInvoiceItem", .meaning = "The invoice line InvoiceItemID.",
       .returns = "The ACInvoiceItem.", .errors = {{kInvalidArgument, "when no line has the key"}}},
      // --- invoices -------------------------------------------------------------------------------------
      {.class_name = "CACMgr", .member = "InsertInvoice",
       .meaning = "Enters an invoice with Paid as given (pass -1: pending) and begins its ttINV transaction, dated "
                  "InvoiceDate, described by Comment. An empty InvoiceNo is numbered: one more than the greatest "
                  "whole-number invoice number (1 for the first), written back into InvoiceNo.",
       .returns = "The invoice's key (ACInvoiceID); ACInvoice.TransactionNumber holds its transaction's number.",
       .value = K::kKey,
       .arguments = {kReceivable, kInvoiceAddress,
                     {.name = "InvoiceNo", .kind = K::kText, .of = "ACInvoice.InvoiceNo",
                      .empty = "Numbered: the greatest whole-number invoice number plus one, written back.",
                      .null = kNullText,
                      .meaning = "The invoice number; \"\" or Empty asks for the next one, which comes back as a "
                                 "Long (2) in the answer's args and is stored as text (\"2\").",
                      .written_back_meaning = true},
                     {.name = "UserName", .kind = K::kText, .of = "ACTransLog.UserName",
                      .meaning = "The caller, recorded on the invoice's transaction."}},
       .errors = {{kObjectIsNothing, "when the file has no company record"},
                  {kOverflow, "when the greatest invoice number is 2147483647"}}},
      {.class_name = "CACMgr", .member = "UpdateInvoice",
       .meaning = "Overwrites the invoice's values and, for the transaction TransNum, date, description (Comment), "
                  "cheque number (InvoiceNo), address and amount (Total). InvoiceNo is stored as given, never numbered.",
       .arguments = {kReceivable, kInvoiceAddress,
                     KeyOf("InvoiceID", "ACInvoice", "The invoice changed; an unknown key changes nothing.",
                           "0, which names no invoice: nothing changes.", "Names no invoice: nothing changes.")}},
      {.class_name = "CACMgr", .member = "IssueInvoice",
       .meaning = "Posts and commits the invoice's transaction: a credit per line (price times quantity) to its "
                  "account, a credit per tax name (each tax computed per line at rate/100) to the tax's account, a "
                  "debit of their sum to the receivable AccountID; then sets Paid to 0 (outstanding). Only a pending "
                  "invoice (Paid -1) whose transaction is not committed is issued, so a second call posts nothing.",
       .errors = {{kInvalidArgument, "when no invoice has the key, it is not pending (Paid 0 or 1) or its "
                                     "transaction is committed already, its transaction is gone, or a line or tax names "
                                     "no account or one that does not exist (a one-tax code without Tax2Exempt "
                                     "true); nothing is posted"},
                  {kOverflow, "when a balance would leave the currency range"}}},
      {.class_name = "CACMgr", .member = "DeletePendingInvoice",
       .meaning = "Removes the invoice, its lines and its transaction, restoring every balance it moved.",
       .errors = {{kInvalidArgument, "when no invoice has the key"}}},
      {.class_name = "CACMgr", .member = "DeleteOutstandingInvoice",
       .meaning = "As DeletePendingInvoice: removes an issued invoice, its lines and its transaction, restoring every "
                  "balance it moved.",
       .errors = {{kInvalidArgument, "when no invoice has the key"}}},
      {.class_name = "CACMgr", .member = "GetInvoice", .meaning = "The invoice InvoiceID.", .returns = "The ACInvoice.",
       .errors = {{kInvalidArgument, "when no invoice has the key"}}},
      {.class_name = "CACMgr", .member = "GetInvoiceByTrans", .meaning = "The invoice of transaction TransNum.",
       .returns = "The ACInvoice.", .errors = {{kInvalidArgument, "when no invoice has the transaction number"}}},
      {.class_name = "CACMgr", .member = "GetAllInvoices", .meaning = "Every invoice, by invoice number (as text).",
       .returns = "A Collection of ACInvoice."},
      {.class_name = "CACMgr", .member = "GetAllPaidInvoices", .meaning = "The invoices with Paid 1, by invoice number.",
       .returns = "A Collection of ACInvoice."},
      {.class_name = "CACMgr", .member = "GetAllOutstandingInvoices",
       .meaning = "The invoices with Paid 0 (issued, unpaid), by invoice number.", .returns = "A Collection of ACInvoice."},
      {.class_name = "CACMgr", .member = "GetAllPendingInvoices",
       .meaning = "The invoices with Paid -1 (not issued), by invoice number.", .returns = "A Collection of ACInvoice."},
      // --- CAccountMgr ----------------------------------------------------------------------------
      {.class_name = "CAccountMgr", .member = "GetAccountInfo",
       .meaning = "The company record (the first ISubScriber with a key above 0).",
       .returns = "The ISubScriber, or nothing ({\"$nothing\": true}) when the file has none."},
      {.class_name = "CAccountMgr", .member = "UpdateAccountBusinessInfo",
       .meaning = "Sets the company name and the primary location's address, together or not at all; without a "
                  "primary location only the name changes.",
       .arguments = {TextOf("Telephone", "ISubscriberLocation.Telephone", "The primary location's telephone number.")}},
      {.class_name = "CAccountMgr", .member = "GetPrimaryLocation", .meaning = "The location marked primary.",
       .returns = "The ISubscriberLocation.", .errors = {{kInvalidArgument, "when no location is marked primary"}}},
      {.class_name = "CAccountMgr", .member = "UpdateNextNumbers",
       .meaning = "Stores the three document counters as given, with no range or order check."},
      {.class_name = "CAccountMgr", .member = "GetNextTransactionNumber",
       .meaning = "Hands out a transaction number: returns the counter and stores the next, in one step, so no two "
                  "callers get the same number.",
       .returns = "The number taken, a Long; Null when the counter is Null (it then stays Null).",
       .value = K::kLong, .value_null = true,
       .errors = {{kObjectIsNothing, "when the file has no company record"}}},
      // --- CUserManager -------------------------------------------------------------------------------
      {.class_name = "CUserManager", .member = "GetUserProfile",
       .meaning = "The user named ProfileUserName, in any company of the file, names matched in their matching form.",
       .returns = "The IUser, or nothing ({\"$nothing\": true}) when there is none (also for Null).",
       .arguments = {{.name = "ProfileUserName", .kind = K::kText, .null = "Finds nothing.",
                      .meaning = "The user looked up, any spelling of the name (letter case, accents' form)."}}},
      {.class_name = "CUserManager", .member = "UpdateUserProfile",
       .meaning = "Overwrites the profile of user UserID; user name, password, MainUser and company stay. AllowLogon "
                  "false also ends the user's sessions. An unknown key changes nothing."},
      {.class_name = "CUserManager", .member = "DeleteUserProfile",
       .meaning = "Deletes user UserID and its sessions; an unknown key changes nothing.",
       .errors = {{errCUserManager::eUserIsReferenced, "when users report to it; the message lists them"}}},
      {.class_name = "CUserManager", .member = "GetSubscriberUserProfiles",
       .meaning = "The users of the caller's company who may log on (AllowLogon true), by last name.",
       .returns = "A Collection of IUser.",
       .arguments = {{.name = "UserName", .kind = K::kText, .meaning = "The caller, whose company is listed."}},
       .errors = {{kObjectIsNothing, "when UserName names no user"}}},
      {.class_name = "CUserManager", .member = "AddUserProfile",
       .meaning = "Adds a user to the caller's company (MainUser false), the name as spelled, the password as a hash.",
       .arguments = {{.name = "UserName", .kind = K::kText, .meaning = "The caller, whose company the user joins."},
                     {.name = "ProfileUserName", .kind = K::kText, .of = "IUser.UserName",
                      .meaning = "The new user's name; not empty, no blank at either end, no control or invisible "
                                 "character, and not one a person would take for an existing user's."}},
       .errors = {{kObjectIsNothing, "when UserName names no user"},
                  {errCUserManager::eUserNameExists, "when a user of the company has the name in any spelling"},
                  {kInvalidArgument, "when the name is empty, begins or ends with a blank, holds a control or "
                                     "invisible character, or would be taken for an existing user's (a Cyrillic "
                                     "\"а\" for \"a\"; the message names that user)"}}},
      // --- CSecurityMgr ---------------------------------------------------------------------------------
      {.class_name = "CSecurityMgr", .member = "BeginUserSession",
       .meaning = "Logs UserName on: checks the password of a user allowed to log on, ends that user's earlier "
                  "sessions and starts a new one under the name as the user's profile spells it.",
       .returns = "The new session's token, a text; over `ledgerkit serve` send it as `Authorization: Bearer TOKEN`.",
       .arguments = {{.name = "UserName", .kind = K::kText, .of = "IUser.UserName",
                      .meaning = "The user logging on, any spelling of the name."}},
       .errors = {{errCSecurityMgr::eInvalidUserInfo, "when the password is wrong, the user unknown or not allowed to "
                                                      "log on; nothing is written"}}},
      {.class_name = "CSecurityMgr", .member = "EndUserSession",
       .meaning = "Ends every session of UserName (any spelling), so its tokens are no longer found.",
       .arguments = {{.name = "UserName", .kind = K::kText, .of = "SysSessions.UserName", .empty = kEmptyText,
                      .null = "As an empty text.", .meaning = "The user whose sessions end."}}},
      {.class_name = "CSecurityMgr", .member = "ChangeUserPassword",
       .meaning = "Replaces the password of theUserName when OldPassword matches.",
       .errors = {{errCSecurityMgr::eInvalidUserInfo, "when OldPassword does not match or there is no such user; "
                                                      "nothing changes"}}},
      {.class_name = "CSecurityMgr", .member = "GetSysSession", .meaning = "The session holding Token.",
       .returns = "The SysSessions row.",
       .arguments = {{.name = "Token", .kind = K::kText, .null = "Finds nothing (5).",
                      .meaning = "A token BeginUserSession returned."}},
       .errors = {{kInvalidArgument, "when no session holds the token"}}},
      // --- CReportMgr ---------------------------------------------------------------------------------------
      {.class_name = "CReportMgr", .member = "ExecReportQuery",
       .meaning = "Runs one SQL statement, as given, on the company in one snapshot; a statement that changes data "
                  "is carried out and gives a closed, empty result set. PRAGMA, ATTACH, DETACH, VACUUM, temporary "
                  "objects, transaction control and extension loading are refused, nothing changed.",
       .returns = "A Recordset on its first row: the statement's columns, money as Currency, dates as Date.",
       .errors = {{kInvalidArgument, "when the text holds more than one statement"},
                  {kEngineAuth, "when the statement is of a refused kind"}}},
      {.class_name = "CReportMgr", .member = "TrialBalance",
       .meaning = "The trial balance as of AsOfDate, from register rows only.",
       .returns = "A Recordset: RowKind (\"detail\", \"total\", \"difference\"), AccountID, AccountNumber, Name, "
                  "AccountType, Class, Debits, Credits, DebitBalance, CreditBalance; a detail row per account with "
                  "rows, then a total row, and a difference row when debits and credits differ.",
       .arguments = {kUnconsultedUser}},
      {.class_name = "CReportMgr", .member = "BalanceSheet",
       .meaning = "Assets, liabilities and equity as of AsOfDate; sub-accounts rolled into their top-level account.",
       .returns = "A Recordset: RowKind (\"detail\", \"subtotal\", \"total\", \"net-income\"), Section (\"Assets\", "
                  "\"Liabilities\", \"Equity\", \"Unclassified\"), AccountType, AccountID, AccountNumber, Name, "
                  "Amount. Assets debit-positive, liabilities and equity credit-positive.",
       .arguments = {kUnconsultedUser}},
      {.class_name = "CReportMgr", .member = "IncomeStatement",
       .meaning = "Income and expenses from FromDate to ToDate, shaped like BalanceSheet.",
       .returns = "A Recordset: RowKind, Section (\"Income\", \"Expenses\"), AccountType, AccountID, AccountNumber, "
                  "Name, with Months one \"YYYY-MM\" column per month, then Amount; a last \"net-income\" row.",
       .arguments = {kUnconsultedUser},
       .errors = {{kInvalidArgument, "when FromDate is after ToDate, or Months covers more than 600 months or lacks a "
                                     "date"}}},
      {.class_name = "CReportMgr", .member = "AccountRegister",
       .meaning = "The register of one account from FromDate to ToDate, with a running balance signed by the "
                  "account's class (asset and expense debit-positive, others credit-positive).",
       .returns = "A Recordset: RowKind (\"opening\", \"detail\", \"closing\"), TransactionDate, TransactionNumber, "
                  "TransType (short name), Description, ChequeNo, Debit, Credit, Balance, Reconciled (Boolean) and "
                  "TransactionID (the register row's key, as ReconcileAccount takes it); the last two Null on the "
                  "opening and closing rows.",
       .arguments = {kUnconsultedUser, {.name = "AccountID", .kind = K::kKey, .of = "ACAccount",
                                        .meaning = "The account whose register is listed."}},
       .errors = {{kInvalidArgument, "when the account does not exist, or FromDate is after ToDate"}}},
      {.class_name = "CReportMgr", .member = "AgedReceivables",
       .meaning = "Issued invoices still outstanding (Paid 0, their transaction committed) dated up to AsOfDate, at "
                  "the amount their transaction debited to the receivable (not the stored Total), aged by days past "
                  "the invoice date and grouped by customer (Company).",
       .returns = "A Recordset: RowKind (\"detail\", \"total\"), Customer, Invoices (a count), Current, Days1To30, "
                  "Days31To60, Days61To90, Over90Days, Total.",
       .arguments = {kUnconsultedUser,
                     {.name = "AsOfDate", .kind = K::kDate, .empty = "Today.",
                      .meaning = "The day invoices are aged at; Empty is today."}}},
      // --- enumeration classes ---------------------------------------------------------------------------
      {.class_name = "eTransTypeEnm", .member = "GetAllValues", .meaning = "The values of eTransType.",
       .returns = "A Recordset, one row per value in ascending order: Code (the value as decimal text) and "
                  "Description. The same object on every call."},
      {.class_name = "eTransTypeEnm", .member = "IsValidValue", .meaning = "Whether vntValue is a value of eTransType.",
       .returns = "A Boolean."},
      {.class_name = "eBalanceSheetTypeEnm", .member = "GetAllValues", .meaning = "The values of eBalanceSheetType.",
       .returns = "A Recordset: Code (decimal text) and Description, one row per value. The same object on every call."},
      {.class_name = "eBalanceSheetTypeEnm", .member = "IsValidValue",
       .meaning = "Whether vntValue is a value of eBalanceSheetType.", .returns = "A Boolean."},
      {.class_name = "eTransLogStatusEnm", .member = "GetAllValues", .meaning = "The values of eTransLogStatus.",
       .returns = "A Recordset: Code (decimal text) and Description, one row per value. The same object on every call."},
      {.class_name = "eTransLogStatusEnm", .member = "IsValidValue",
       .meaning = "Whether vntValue is a value of eTransLogStatus.", .returns = "A Boolean."},
      // --- Collection and Recordset ------------------------------------------------------------------------
      {.class_name = "Collection", .member = "Count", .meaning = "How many objects the collection holds.",
       .returns = "A Long; 0 for an empty collection."},
      {.class_name = "Collection", .member = "Item", .meaning = "One object of the collection.",
       .returns = "The entity object.",
       .arguments = {{.name = "Index", .kind = K::kVariant,
                      .meaning = "A number: the 1-based position; a text: the object's key as decimal text (\"42\")."}},
       .errors = {{kInvalidArgument, "when there is no such position or key"}}},
      {.class_name = "Recordset", .member = "EOF", .meaning = "True when the cursor is past the last row (also when there is none).",
       .returns = "A Boolean."},
      {.class_name = "Recordset", .member = "BOF", .meaning = "True when the cursor is before the first row.",
       .returns = "A Boolean."},
      {.class_name = "Recordset", .member = "RecordCount", .meaning = "How many rows the result set holds.",
       .returns = "A Long."},
      {.class_name = "Recordset", .member = "MoveFirst", .meaning = "Moves the cursor to the first row."},
      {.class_name = "Recordset", .member = "MoveNext", .meaning = "Moves the cursor one row on.",
       .errors = {{kNoCurrentRow, "when already past the last row"}}},
      {.class_name = "Recordset", .member = "MovePrevious", .meaning = "Moves the cursor one row back.",
       .errors = {{kNoCurrentRow, "when already before the first row"}}},
      {.class_name = "Recordset", .member = "MoveLast", .meaning = "Moves the cursor to the last row."},
      {.class_name = "Recordset", .member = "Fields", .meaning = "A column's value in the current row.",
       .returns = "The value, of the column's type.",
       .arguments = {{.name = "Index", .kind = K::kVariant,
                      .meaning = "A number: the zero-based column index; a text: the column's name (letter case "
                                 "ignored)."}},
       .errors = {{kNoCurrentRow, "when the cursor is at either end"},
                  {kInvalidArgument, "when there is no such column"}}},
  };
  return all;
}

constexpr std::string_view kCompanyKey = "The key of the company the row belongs to (ISubScriber.ISubScriberID).";
constexpr std::string_view kCompanyObject = "The company the row belongs to; takes Account.";

const std::vector<PropertyMeaning>& Properties() {
  static const std::vector<PropertyMeaning> all = {
      // ACAccount
      {.entity = "ACAccount", .property = "ACAccountID", .meaning = "The account's key."},
      {.entity = "ACAccount", .property = "SubscriberID", .meaning = kCompanyKey},
      {.entity = "ACAccount", .property = "Subscriber", .meaning = kCompanyObject},
      {.entity = "ACAccount", .property = "AccountNumber", .meaning = "The account's number, as text."},
      {.entity = "ACAccount", .property = "Name", .meaning = "The account's name."},
      {.entity = "ACAccount", .property = "Description", .meaning = "The account's description."},
      {.entity = "ACAccount", .property = "Note", .meaning = "A free note."},
      {.entity = "ACAccount", .property = "Inactive", .meaning = "True when the account is inactive."},
      {.entity = "ACAccount", .property = "BankAccountNo", .meaning = "The account's number at its bank."},
      {.entity = "ACAccount", .property = "Balance",
       .meaning = "The stored balance, credit-positive: committed credits less debits. So an asset or expense "
                  "account with a normal debit balance shows a negative Balance, a liability, equity or income "
                  "account a positive one; GetAccountBalance gives the opposite sign.",
       .unit = kMoney},
      {.entity = "ACAccount", .property = "AccountTypeID",
       .meaning = "The key of the account's type (ACAccountType), whose BalanceSheetType is its class; Null for none."},
      {.entity = "ACAccount", .property = "AccountType", .meaning = "The account's type; takes Account."},
      {.entity = "ACAccount", .property = "FnclInstitutionID",
       .meaning = "The key of the account's financial institution; Null for none."},
      {.entity = "ACAccount", .property = "FnclInstitution", .meaning = "The account's institution; takes Account."},
      {.entity = "ACAccount", .property = "ParentAccountID",
       .meaning = "The key of the account this is a sub-account of; Null for a top-level account."},
      {.entity = "ACAccount", .property = "ParentAccount", .meaning = "The parent account; takes Account."},
      {.entity = "ACAccount", .property = "Transactions",
       .meaning = "The account's register rows (ACTransaction); takes Account."},
      // ACAccountType
      {.entity = "ACAccountType", .property = "ACAccountTypeID", .meaning = "The type's key."},
      {.entity = "ACAccountType", .property = "SubscriberID", .meaning = kCompanyKey},
      {.entity = "ACAccountType", .property = "Subscriber", .meaning = kCompanyObject},
      {.entity = "ACAccountType", .property = "Name", .meaning = "The type's name."},
      {.entity = "ACAccountType", .property = "Description", .meaning = "The type's description."},
      {.entity = "ACAccountType", .property = "FnclInstituteRqd",
       .meaning = "True when accounts of the type are held at an institution (not enforced)."},
      {.entity = "ACAccountType", .property = "BalanceSheetType",
       .meaning = "The balance-sheet class of accounts of the type.", .enumeration = "eBalanceSheetType"},
      // ACFnclInstitution
      {.entity = "ACFnclInstitution", .property = "ACFnclInstitutionID", .meaning = "The institution's key."},
      {.entity = "ACFnclInstitution", .property = "SubscriberID", .meaning = kCompanyKey},
      {.entity = "ACFnclInstitution", .property = "Subscriber", .meaning = kCompanyObject},
      {.entity = "ACFnclInstitution", .property = "Name", .meaning = "The institution's name."},
      {.entity = "ACFnclInstitution", .property = "Address", .meaning = "The institution's address."},
      {.entity = "ACFnclInstitution", .property = "Contact", .meaning = "The contact person."},
      {.entity = "ACFnclInstitution", .property = "Telephone", .meaning = "The telephone number."},
      // ACTransaction
      {.entity = "ACTransaction", .property = "ACTransactionID",
       .meaning = "The register row's key, as ReconcileAccount's TransIDs lists it."},
      {.entity = "ACTransaction", .property = "AccountID", .meaning = "The key of the account the row is posted to."},
      {.entity = "ACTransaction", .property = "Account", .meaning = "The account the row is posted to; takes Account."},
      {.entity = "ACTransaction", .property = "TransactionDate", .meaning = "The transaction's date."},
      {.entity = "ACTransaction", .property = "Description", .meaning = "The description of the line it came from."},
      {.entity = "ACTransaction", .property = "Withdrawal",
       .meaning = "The debit amount (0 on a credit row).", .unit = kMoney},
      {.entity = "ACTransaction", .property = "Deposit", .meaning = "The credit amount (0 on a debit row).",
       .unit = kMoney},
      {.entity = "ACTransaction", .property = "TransactionNumber", .meaning = "The number of its transaction, as text."},
      {.entity = "ACTransaction", .property = "TransType", .meaning = "The type of its transaction.",
       .enumeration = "eTransType"},
      {.entity = "ACTransaction", .property = "Reconciled", .meaning = "True once ReconcileAccount marked the row."},
      // ACTransLog
      {.entity = "ACTransLog", .property = "ACTransLogID", .meaning = "The header's key."},
      {.entity = "ACTransLog", .property = "SubscriberID", .meaning = kCompanyKey},
      {.entity = "ACTransLog", .property = "Subscriber", .meaning = kCompanyObject},
      {.entity = "ACTransLog", .property = "LogDate", .meaning = "When the transaction was begun (local date and time)."},
      {.entity = "ACTransLog", .property = "TransactionDate", .meaning = "The transaction's date; Null when none was given."},
      {.entity = "ACTransLog", .property = "Description", .meaning = "The transaction's description."},
      {.entity = "ACTransLog", .property = "TransactionNumber",
       .meaning = "The transaction number, as text: the TransactionID of the posting members."},
      {.entity = "ACTransLog", .property = "TransLogStatus", .meaning = "Where the transaction stands.",
       .enumeration = "eTransLogStatus"},
      {.entity = "ACTransLog", .property = "UserName", .meaning = "The user who began it."},
      {.entity = "ACTransLog", .property = "TransType", .meaning = "The transaction's type.", .enumeration = "eTransType"},
      {.entity = "ACTransLog", .property = "ChequeNo",
       .meaning = "The cheque number (ttCHQ) or invoice number (ttINV); Null for other types."},
      {.entity = "ACTransLog", .property = "Address", .meaning = "The payee's or customer's address (ttCHQ, ttINV)."},
      {.entity = "ACTransLog", .property = "Amount",
       .meaning = "The amount given when the transaction was begun or updated; not a sum of its lines.", .unit = kMoney},
      {.entity = "ACTransLog", .property = "WIPS",
       .meaning = "The waiting lines (ACTransLogWIP) not yet committed; takes Account."},
      // ACTransLogWIP
      {.entity = "ACTransLogWIP", .property = "ACTransLogWIPID", .meaning = "The waiting line's key."},
      {.entity = "ACTransLogWIP", .property = "LogID", .meaning = "The key of its transaction header (ACTransLogID)."},
      {.entity = "ACTransLogWIP", .property = "Log", .meaning = "Its transaction header; takes Account."},
      {.entity = "ACTransLogWIP", .property = "AccountID", .meaning = "The key of the account the line posts to."},
      {.entity = "ACTransLogWIP", .property = "IsDebit", .meaning = "True for a debit line, false for a credit."},
      {.entity = "ACTransLogWIP", .property = "Description", .meaning = "The line's description."},
      {.entity = "ACTransLogWIP", .property = "Amount", .meaning = "The line's amount.", .unit = kMoney},
      // CITaxCode
      {.entity = "CITaxCode", .property = "CITaxCodeID", .meaning = "The code's key, as an invoice line's TaxID."},
      {.entity = "CITaxCode", .property = "SubscriberID", .meaning = kCompanyKey},
      {.entity = "CITaxCode", .property = "Subscriber", .meaning = kCompanyObject},
      {.entity = "CITaxCode", .property = "Account1ID", .meaning = "The key of the account the first tax is credited to."},
      {.entity = "CITaxCode", .property = "Account1", .meaning = "The first tax's account; takes Account."},
      {.entity = "CITaxCode", .property = "Account2ID", .meaning = "The key of the account the second tax is credited to."},
      {.entity = "CITaxCode", .property = "Account2", .meaning = "The second tax's account; takes Account."},
      {.entity = "CITaxCode", .property = "TaxCode", .meaning = "The code: one character."},
      {.entity = "CITaxCode", .property = "Description", .meaning = "The code's description."},
      {.entity = "CITaxCode", .property = "Tax1Rate", .meaning = "The first tax's rate.", .unit = kPercent},
      {.entity = "CITaxCode", .property = "Tax1Name", .meaning = "The first tax's name."},
      {.entity = "CITaxCode", .property = "Tax1Exempt", .meaning = "True when the first tax is not charged."},
      {.entity = "CITaxCode", .property = "Tax2Rate", .meaning = "The second tax's rate.", .unit = kPercent},
      {.entity = "CITaxCode", .property = "Tax2Name", .meaning = "The second tax's name."},
      {.entity = "CITaxCode", .property = "Tax2Exempt",
       .meaning = "True when the second tax is not charged; true for a code with one tax."},
      {.entity = "CITaxCode", .property = "Tax2PiggyBack",
       .meaning = "True when the second tax is charged on the line amount plus the first tax."},
      {.entity = "CITaxCode", .property = "Inactive", .meaning = "True when the code is inactive (it still applies)."},
      // ACInvoice
      {.entity = "ACInvoice", .property = "ACInvoiceID", .meaning = "The invoice's key."},
      {.entity = "ACInvoice", .property = "AccountID", .meaning = "The key of the receivable account issuing debits."},
      {.entity = "ACInvoice", .property = "RcvblAccount", .meaning = "The receivable account; takes Account."},
      {.entity = "ACInvoice", .property = "Paid",
       .meaning = "The invoice's state.",
       .values = {{-1, "pending", "entered, not yet issued"},
                  {0, "outstanding", "issued, not yet paid"},
                  {1, "paid", "paid"}}},
      {.entity = "ACInvoice", .property = "Comment", .meaning = "The invoice's comment."},
      {.entity = "ACInvoice", .property = "TransactionNumber", .meaning = "The number of its ttINV transaction, as text."},
      {.entity = "ACInvoice", .property = "InvoiceDate", .meaning = "The invoice's date."},
      {.entity = "ACInvoice", .property = "InvoiceNo", .meaning = "The invoice number, as text."},
      {.entity = "ACInvoice", .property = "PurchaseOrderNumber", .meaning = "The customer's purchase-order number."},
      {.entity = "ACInvoice", .property = "Address", .meaning = "The customer's address."},
      {.entity = "ACInvoice", .property = "Company", .meaning = "The customer's name."},
      {.entity = "ACInvoice", .property = "Total",
       .meaning = "The total as entered; the amount posted is computed from the lines when issued.", .unit = kMoney},
      {.entity = "ACInvoice", .property = "Items", .meaning = "The invoice's lines (ACInvoiceItem); takes Account."},
      // ACInvoiceItem
      {.entity = "ACInvoiceItem", .property = "ACInvoiceItemID", .meaning = "The line's key."},
      {.entity = "ACInvoiceItem", .property = "InvoiceID", .meaning = "The key of the invoice the line belongs to."},
      {.entity = "ACInvoiceItem", .property = "Invoice", .meaning = "The line's invoice; takes Account."},
      {.entity = "ACInvoiceItem", .property = "TaxID", .meaning = "The key of the line's tax code; 0 or Null: untaxed."},
      {.entity = "ACInvoiceItem", .property = "Tax", .meaning = "The line's tax code; takes Account."},
      {.entity = "ACInvoiceItem", .property = "AccountID", .meaning = "The key of the revenue account the line is credited to."},
      {.entity = "ACInvoiceItem", .property = "RevAccount", .meaning = "The revenue account; takes Account."},
      {.entity = "ACInvoiceItem", .property = "ItemCode", .meaning = "The item's code."},
      {.entity = "ACInvoiceItem", .property = "ItemName", .meaning = "The item's name."},
      {.entity = "ACInvoiceItem", .property = "ItemPrice", .meaning = "The price of one unit.", .unit = kMoney},
      {.entity = "ACInvoiceItem", .property = "ItemQuantity", .meaning = "The quantity, possibly with a fraction."},
      {.entity = "ACInvoiceItem", .property = "ItemUnit", .meaning = "The unit the quantity counts."},
      // ISubScriber
      {.entity = "ISubScriber", .property = "ISubScriberID", .meaning = "The company's key."},
      {.entity = "ISubScriber", .property = "CompanyName", .meaning = "The company's name."},
      {.entity = "ISubScriber", .property = "AccountNo", .meaning = "The company's own account number."},
      {.entity = "ISubScriber", .property = "NextTransactionNumber",
       .meaning = "The transaction number handed out next."},
      {.entity = "ISubScriber", .property = "Users", .meaning = "The company's users (IUser); takes Account."},
      {.entity = "ISubScriber", .property = "Locations",
       .meaning = "The company's locations (ISubscriberLocation); takes Account."},
      {.entity = "ISubScriber", .property = "AccountTypes",
       .meaning = "The company's account types (ACAccountType); takes Account."},
      // ISubscriberLocation
      {.entity = "ISubscriberLocation", .property = "ISubscriberLocationID", .meaning = "The location's key."},
      {.entity = "ISubscriberLocation", .property = "SubscriberID", .meaning = kCompanyKey},
      {.entity = "ISubscriberLocation", .property = "Subscriber", .meaning = kCompanyObject},
      {.entity = "ISubscriberLocation", .property = "Name", .meaning = "The location's name."},
      {.entity = "ISubscriberLocation", .property = "Address1", .meaning = "The first address line."},
      {.entity = "ISubscriberLocation", .property = "Address2", .meaning = "The second address line."},
      {.entity = "ISubscriberLocation", .property = "Address3", .meaning = "The third address line."},
      {.entity = "ISubscriberLocation", .property = "City", .meaning = "The city."},
      {.entity = "ISubscriberLocation", .property = "Province", .meaning = "The province or state."},
      {.entity = "ISubscriberLocation", .property = "PostalCode", .meaning = "The postal code."},
      {.entity = "ISubscriberLocation", .property = "Country", .meaning = "The country."},
      {.entity = "ISubscriberLocation", .property = "Telephone", .meaning = "The telephone number."},
      {.entity = "ISubscriberLocation", .property = "FAX", .meaning = "The fax number."},
      {.entity = "ISubscriberLocation", .property = "Notes", .meaning = "Free notes."},
      {.entity = "ISubscriberLocation", .property = "IsPrimary",
       .meaning = "True for the primary location, whose address UpdateAccountBusinessInfo sets."},
      // IUser
      {.entity = "IUser", .property = "IUserID", .meaning = "The user's key."},
      {.entity = "IUser", .property = "SubscriberID", .meaning = kCompanyKey},
      {.entity = "IUser", .property = "Subscriber", .meaning = kCompanyObject},
      {.entity = "IUser", .property = "UserName", .meaning = "The user name, as spelled when added."},
      {.entity = "IUser", .property = "Password",
       .meaning = "The stored password hash (imported data may hold clear text until the next logon)."},
      {.entity = "IUser", .property = "FirstName", .meaning = "The first name."},
      {.entity = "IUser", .property = "LastName", .meaning = "The last name."},
      {.entity = "IUser", .property = "MiddleInitial", .meaning = "The middle initial (the Initial argument)."},
      {.entity = "IUser", .property = "Admin", .meaning = "True for an administrator (not enforced)."},
      {.entity = "IUser", .property = "MainUser", .meaning = "True for the company's main user; AddUserProfile sets false."},
      {.entity = "IUser", .property = "AllowLogon", .meaning = "True when the user may log on."},
      {.entity = "IUser", .property = "EMail", .meaning = "The e-mail address."},
      {.entity = "IUser", .property = "ReportsToID", .meaning = "The key of the user this one reports to; Null for no one."},
      {.entity = "IUser", .property = "ReportsTo", .meaning = "The user this one reports to; takes Account."},
      // SysSessions
      {.entity = "SysSessions", .property = "SysSessionsID", .meaning = "The session's key."},
      {.entity = "SysSessions", .property = "Account", .meaning = "A fixed mark (\"TEMP\"), not the company."},
      {.entity = "SysSessions", .property = "UserName", .meaning = "The user logged on, as the logon spelled it."},
      {.entity = "SysSessions", .property = "Token", .meaning = "The session's token."},
      {.entity = "SysSessions", .property = "LastUpdate", .meaning = "When the session was last used (local date and time): its logon, and over "
                  "`ledgerkit serve` its calls, refreshed at most once a minute; idle past the service's limit it "
                  "expires."},
  };
  return all;
}

const std::vector<ClassMeaning>& Classes() {
  static const std::vector<ClassMeaning> all = {
      {.name = "CACMgr",
       .meaning = "The ledger: accounts, account types, institutions, transactions, reconciliation, tax codes, "
                  "invoices. Each call is one unit of work: done completely or not at all."},
      {.name = "CAccountMgr", .meaning = "The company record: business details, primary location, counters, transaction numbers."},
      {.name = "CUserManager", .meaning = "The users of a company; names unique in their matching form."},
      {.name = "CSecurityMgr", .meaning = "Logon sessions: logon, logoff, password change, session lookup."},
      {.name = "CReportMgr",
       .meaning = "Financial statements as result sets, from register rows only, and a caller's own SQL query. "
                  "Asset and expense amounts are debit-positive, liability, equity and income credit-positive."},
      {.name = "eTransTypeEnm", .meaning = "The enumeration eTransType: transaction types."},
      {.name = "eBalanceSheetTypeEnm", .meaning = "The enumeration eBalanceSheetType: the classes of accounts."},
      {.name = "eTransLogStatusEnm", .meaning = "The enumeration eTransLogStatus: where a transaction stands."},
      {.name = "Collection",
       .meaning = "An ordered collection of entity objects, each under its key as decimal text. On the wire "
                  "{\"$object\": H, \"class\": \"Collection\", \"count\": N, \"items\": [{\"key\": \"42\", \"value\": "
                  "<object>}, ...]}."},
      {.name = "Recordset",
       .meaning = "A disconnected result set with one cursor. On the wire {\"$object\": H, \"class\": \"Recordset\", "
                  "\"closed\": false, \"columns\": [{\"name\", \"type\", \"size\"}], \"rows\": [[...], ...], "
                  "\"position\": P}: every row, P the zero-based cursor row (the row count at the end)."},
      {.name = "ACAccount", .meaning = "An account of the chart."},
      {.name = "ACAccountType", .meaning = "An account type; its BalanceSheetType classes its accounts."},
      {.name = "ACFnclInstitution", .meaning = "A bank or other financial institution accounts are held at."},
      {.name = "ACTransaction",
       .meaning = "A register row: one committed line of a transaction, on one account (Withdrawal debit, Deposit credit)."},
      {.name = "ACTransLog", .meaning = "A transaction header: number, type, date, status."},
      {.name = "ACTransLogWIP", .meaning = "A waiting line of a transaction, until EndTransaction commits it."},
      {.name = "CITaxCode", .meaning = "A sales-tax code of up to two taxes, rates in percent."},
      {.name = "ACInvoice", .meaning = "A customer invoice, riding on one ttINV transaction."},
      {.name = "ACInvoiceItem", .meaning = "A line of an invoice."},
      {.name = "ISubScriber", .meaning = "The company record."},
      {.name = "ISubscriberLocation", .meaning = "A location (address) of the company."},
      {.name = "IUser", .meaning = "A user of the company."},
      {.name = "SysSessions", .meaning = "A logon session."},
  };
  return all;
}

}  // namespace

std::span<const ArgumentMeaning> CommonArguments() { return Common(); }
std::span<const MemberMeaning> MemberMeanings() { return Members(); }
std::span<const PropertyMeaning> PropertyMeanings() { return Properties(); }
std::span<const ClassMeaning> ClassMeanings() { return Classes(); }

const MemberMeaning* FindMemberMeaning(std::string_view class_name, std::string_view member) {
  for (const MemberMeaning& entry : Members()) {
    if (entry.class_name == class_name && entry.member == member) return &entry;
  }
  return nullptr;
}

const ArgumentMeaning* FindArgumentMeaning(std::string_view class_name, std::string_view member,
                                           std::string_view argument) {
  if (const MemberMeaning* own = FindMemberMeaning(class_name, member)) {
    for (const ArgumentMeaning& entry : own->arguments) {
      if (entry.name == argument) return &entry;
    }
  }
  for (const ArgumentMeaning& entry : Common()) {
    if (entry.name == argument) return &entry;
  }
  return nullptr;
}

const PropertyMeaning* FindPropertyMeaning(std::string_view entity, std::string_view property) {
  for (const PropertyMeaning& entry : Properties()) {
    if (entry.entity == entity && entry.property == property) return &entry;
  }
  return nullptr;
}

const ClassMeaning* FindClassMeaning(std::string_view name) {
  for (const ClassMeaning& entry : Classes()) {
    if (entry.name == name) return &entry;
  }
  return nullptr;
}

}  // namespace ledgerkit
