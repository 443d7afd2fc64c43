// Entity objects: fetches, keyed collections, scalar values, linked rows loaded once, child
// collections, the failure descriptions callers receive and the late-bound member tables.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Dispatch.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "ledgerkit/entities/ACAccount.h"
#include "ledgerkit/entities/ACAccountType.h"
#include "ledgerkit/entities/ACFnclInstitution.h"
#include "ledgerkit/entities/ACInvoice.h"
#include "ledgerkit/entities/ACInvoiceItem.h"
#include "ledgerkit/entities/ACTransLog.h"
#include "ledgerkit/entities/ACTransLogWIP.h"
#include "ledgerkit/entities/ACTransaction.h"
#include "ledgerkit/entities/CITaxCode.h"
#include "ledgerkit/entities/EntityCollection.h"
#include "entities/Catalog.h"
#include "entities/EntityInternal.h"
#include "ledgerkit/entities/ISubScriber.h"
#include "ledgerkit/entities/ISubscriberLocation.h"
#include "ledgerkit/entities/IUser.h"
#include "support/Capture.h"
#include "support/TempCompany.h"

namespace ledgerkit {
namespace {

using testing::CaptureError;
using testing::Occurrences;
using testing::RawExec;
using testing::TempCompany;


// Three accounts (keys 7, 15, 42) of one account type and one institution.
constexpr const char* kChart =
    "INSERT INTO ACAccountType (ACAccountTypeID,Parent,Name,Description,FnclInstituteRqd,BalanceSheetType) VALUES "
    "(3,1,'Revenue','Income',0,4);"
    "INSERT INTO ACFnclInstitution (ACFnclInstitutionID,Parent,Name) VALUES (2,1,'First Bank');"
    "INSERT INTO ACAccount (ACAccountID,Parent,AccountNumber,Name,Description,Note,Inactive,BankAccountNo,Balance,"
    "AccountTypeID,FnclInstitutionID,ParentAccountID) VALUES "
    "(42,1,'3000','Sales','Product sales',NULL,1,NULL,125000,3,NULL,7),"
    "(7,1,'1000','Bank','Cheque account','main',0,'BNK-9',-5,3,2,0),"
    "(15,1,'2000','Payables','Owed',NULL,0,NULL,0,99,NULL,NULL);";

std::string Join(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : ",") + part;
  return text;
}

std::string Keys(const EntityCollection& collection) {
  std::vector<std::string> keys;
  for (const auto& entry : collection.entries()) keys.push_back(entry.first);
  return Join(keys);
}

std::string Text(const Variant& value) { return value.IsNull() ? "<null>" : ToText(value); }

// One scalar property of every object in the collection, in order.
std::string Column(const EntityCollection& collection, std::string_view property) {
  std::vector<std::string> values;
  for (const auto& entry : collection.entries()) values.push_back(Text(static_cast<Entity&>(*entry.second).Value(property)));
  return Join(values);
}

// Column() of the collection `fetch` returns, or the description of its failure.
template <class Fetcher>
std::string Listed(Fetcher&& fetch, std::string_view property) {
  try {
    return Column(*fetch(), property);
  } catch (const Error& error) {
    return "failed: " + error.description();
  }
}

std::string MemberNames(const Dispatch& object) {
  std::vector<std::string> names;
  for (const MemberEntry& entry : object.Members().entries()) names.emplace_back(entry.name);
  return Join(names);
}

// Every scalar property of the object, in order: its content.
std::string Row(const Entity& entity) {
  std::vector<std::string> values;
  for (const EntityProperty& property : entity.def().properties) {
    if (property.kind == EntityProperty::Kind::kScalar) values.push_back(Text(entity.Value(property.name)));
  }
  return Join(values);
}

template <class T>
std::shared_ptr<T> Load(const TempCompany& company, int32_t id) {
  return FirstOf<T>(*Fetch<T>(company.account(), FetchArgs{.id = id}));
}

Variant Call(Dispatch& object, std::string_view member, std::vector<Variant> args = {}) {
  return object.Invoke(member, args);
}

// The diagnostic block `label` puts in front of the description of `error`.
std::string Block(std::string_view label, const Error& error) {
  return std::string(label) + "\r\nError#:      " + std::to_string(error.number()) + "\r\nSource:      " + error.source() +
         "\r\nDescription: ";
}

std::string Marker(const Error& error) { return std::string(kErrorMarker) + std::to_string(error.number()); }

TEST(EntityFetch, ChoosesRowsByKeyOrFilterAndKeepsThemUnderTheirKeyText) {
  TempCompany company;
  ASSERT_EQ(RawExec(company.path(), kChart), "");
  const Variant account = company.account();

  const auto sorted =
      Fetch<ACAccount>(account, FetchArgs{.filter = Sql("ACAccountID<>0"), .sort = "AccountNumber ASC"});
  EXPECT_EQ(Keys(*sorted), "7,15,42");
  EXPECT_EQ(Column(*sorted, "Name"), "Bank,Payables,Sales");
  EXPECT_EQ(Keys(*Fetch<ACAccount>(account, FetchArgs{.sort = "AccountNumber DESC"})), "42,15,7");
  // A text is a key, a number a position.
  EXPECT_EQ(static_cast<Entity&>(*sorted->Item("42")).Value("Name"), Variant("Sales"));
  EXPECT_EQ(sorted->Find("42"), sorted->Item(3));
  EXPECT_EQ(static_cast<Entity&>(*sorted->Item(1)).Value("ACAccountID"), Variant(7));
  EXPECT_EQ(sorted->Find("042"), nullptr);
  EXPECT_EQ(CaptureError([&] { sorted->Item(42); }).number(), kInvalidArgument);
  EXPECT_EQ(CaptureError([&] { sorted->Item("1"); }).number(), kInvalidArgument);

  // No match: an empty collection, not nothing.
  const auto none = Fetch<ACAccount>(account, FetchArgs{.filter = Sql("Name='Nobody'")});
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(none->Count(), 0);
  EXPECT_EQ(Fetch<ACAccount>(account, FetchArgs{.id = 999})->Count(), 0);

  // The ID wins over the filter, which is not even looked at; a numeric text ID is accepted.
  EXPECT_EQ(Keys(*Fetch<ACAccount>(account, FetchArgs{.id = 7, .filter = Sql("ACAccountID=42")})), "7");
  EXPECT_EQ(Keys(*Fetch<ACAccount>(account, FetchArgs{.id = "15", .filter = Sql("this is ( not SQL")})), "15");

  // An omitted filter gives every row; a supplied empty one is sent and rejected.
  EXPECT_EQ(Fetch<ACAccount>(account)->Count(), 3);
  const Error empty = CaptureError([&] { Fetch<ACAccount>(account, FetchArgs{.filter = Sql("")}); });
  EXPECT_EQ(empty.source(), testing::EngineSource());
  EXPECT_TRUE(empty.description().starts_with(Block("ACAccount::FetchACAccount", empty))) << empty.description();
  EXPECT_EQ(Occurrences(empty.description(), kErrorMarker), 1);
  EXPECT_TRUE(empty.description().ends_with(Marker(empty))) << empty.description();

  // An ID that is not a whole number never reaches the SQL: no file is even opened.
  EXPECT_EQ(CaptureError([&] { Fetch<ACAccount>(company.MissingPath(), FetchArgs{.id = "5 OR 1=1"}); }).number(),
            kTypeMismatch);
  EXPECT_EQ(CaptureError([&] { Fetch<ACAccount>(company.MissingPath(), FetchArgs{.id = 5}); }).number(),
            testing::ExpectedError(testing::EngineFailure::kCantOpen).number);
}

TEST(EntityProperties, PublishTheColumnsInOrderWithTheirStoredTypes) {
  TempCompany company;
  ASSERT_EQ(RawExec(company.path(), std::string(kChart) +
                                        "UPDATE ISubscriberLocation SET Fax='555-0199',Telephone='555-0100' WHERE Parent=1;"),
            "");
  const auto sales = Load<ACAccount>(company, 42);
  ASSERT_NE(sales, nullptr);
  EXPECT_EQ(MemberNames(*sales),
            "ACAccountID,SubscriberID,Subscriber,AccountNumber,Name,Description,Note,Inactive,BankAccountNo,Balance,"
            "AccountTypeID,AccountType,FnclInstitutionID,FnclInstitution,ParentAccountID,ParentAccount,Transactions");
  EXPECT_EQ(sales->Value("ACAccountID"), Variant(42));
  EXPECT_EQ(sales->Value("SubscriberID"), Variant(1));
  EXPECT_EQ(sales->Value("AccountNumber"), Variant("3000"));
  EXPECT_EQ(sales->Value("Description"), Variant("Product sales"));
  EXPECT_EQ(sales->Value("Balance"), Variant(Currency::FromScaled(125000)));
  EXPECT_EQ(sales->Value("Inactive"), Variant(true));
  EXPECT_EQ(sales->Value("AccountTypeID"), Variant(3));
  EXPECT_EQ(sales->Value("ParentAccountID"), Variant(7));
  EXPECT_TRUE(sales->Value("Note").IsNull());
  EXPECT_TRUE(sales->Value("FnclInstitutionID").IsNull());
  EXPECT_EQ(sales->Value("nAmE"), Variant("Sales"));
  EXPECT_EQ(Row(*Load<ACAccount>(company, 7)), "7,1,1000,Bank,Cheque account,main,False,BNK-9,-0.0005,3,2,0");
  // Only scalar properties have a value.
  EXPECT_EQ(CaptureError([&] { sales->Value("AccountType"); }).number(), kNoSuchMember);
  EXPECT_EQ(CaptureError([&] { sales->Value("Parent"); }).number(), kNoSuchMember);
  // The library reads the same row by catalog column, in the column's own type.
  EXPECT_EQ(Field<db::ACAccount::Parent>(*sales), 1);
  EXPECT_EQ(Field<db::ACAccount::Balance>(*sales), Currency::FromScaled(125000));
  EXPECT_EQ(Field<db::ACAccount::Inactive>(*sales), true);
  EXPECT_EQ(Field<db::ACAccount::AccountNumber>(*sales), "3000");
  EXPECT_EQ(Field<db::ACAccount::Note>(*sales), std::nullopt);
  const Error foreign = CaptureError([&] { FieldValue(*sales, db::ACInvoice::Paid); });
  EXPECT_EQ(foreign.number(), kInvalidArgument);
  EXPECT_EQ(foreign.description(), "The ACAccount row has no column Paid.");
  if (!testing::OnPostgres()) {
    // A file's column holds what was written to it: a text where a key belongs is refused.
    ASSERT_EQ(RawExec(company.path(), "UPDATE ACAccount SET AccountTypeID='three' WHERE ACAccountID=15;"), "");
    const Error mistyped = CaptureError([&] { Field<db::ACAccount::AccountTypeID>(*Load<ACAccount>(company, 15)); });
    EXPECT_EQ(mistyped.number(), kTypeMismatch) << mistyped.description();
    EXPECT_EQ(mistyped.argument(), "AccountTypeID") << mistyped.description();
  }

  const auto location = FirstOf<ISubscriberLocation>(*Fetch<ISubscriberLocation>(company.account()));
  ASSERT_NE(location, nullptr);
  EXPECT_EQ(MemberNames(*location),
            "ISubscriberLocationID,SubscriberID,Subscriber,Name,Address1,Address2,Address3,City,Province,PostalCode,"
            "Country,Telephone,FAX,Notes,IsPrimary");
  EXPECT_EQ(location->Value("FAX"), Variant("555-0199"));
  EXPECT_EQ(location->Value("Telephone"), Variant("555-0100"));
  EXPECT_EQ(location->Value("IsPrimary"), Variant(true));

  const auto subscriber = Load<ISubScriber>(company, 1);
  ASSERT_NE(subscriber, nullptr);
  EXPECT_EQ(MemberNames(*subscriber), "ISubScriberID,CompanyName,AccountNo,NextTransactionNumber,Users,Locations,AccountTypes");
  EXPECT_EQ(Row(*subscriber), "1,Acme Trading,<null>,1");

  EXPECT_EQ(MemberNames(*std::make_shared<IUser>()),
            "IUserID,SubscriberID,Subscriber,UserName,Password,FirstName,LastName,MiddleInitial,Admin,MainUser,"
            "AllowLogon,EMail,ReportsToID,ReportsTo");
  EXPECT_EQ(MemberNames(*std::make_shared<ACInvoice>()),
            "ACInvoiceID,AccountID,RcvblAccount,Paid,Comment,TransactionNumber,InvoiceDate,InvoiceNo,"
            "PurchaseOrderNumber,Address,Company,Total,Items");
  EXPECT_EQ(MemberNames(*std::make_shared<ACInvoiceItem>()),
            "ACInvoiceItemID,InvoiceID,Invoice,TaxID,Tax,AccountID,RevAccount,ItemCode,ItemName,ItemPrice,"
            "ItemQuantity,ItemUnit");
  EXPECT_EQ(MemberNames(*std::make_shared<CITaxCode>()),
            "CITaxCodeID,SubscriberID,Subscriber,Account1ID,Account1,Account2ID,Account2,TaxCode,Description,"
            "Tax1Rate,Tax1Name,Tax1Exempt,Tax2Rate,Tax2Name,Tax2Exempt,Tax2PiggyBack,Inactive");
  EXPECT_EQ(MemberNames(*std::make_shared<ACTransLogWIP>()), "ACTransLogWIPID,LogID,Log,AccountID,IsDebit,Description,Amount");
}

TEST(EntityCollections, ListChildRowsInTheirFixedOrderAnewOnEveryCall) {
  TempCompany company;
  ASSERT_EQ(RawExec(company.path(),
                    std::string(kChart) +
                        "INSERT INTO ACTransaction (ACTransactionID,Parent,TransactionDate,Description,Withdrawal,Deposit) VALUES "
                        "(1,42,'2024-03-01 00:00:00','March',0,10000),(2,42,'2024-01-15 09:30:00','January',0,20000),"
                        "(3,42,'2024-02-10 00:00:00','February',5000,0),(4,7,'2023-12-31 00:00:00','Other',0,1);"
                        "INSERT INTO ISubScriber (ISubScriberID,CompanyName) VALUES (2,'Other Co');"
                        "INSERT INTO IUser (IUserID,Parent,UserName,FirstName,LastName) VALUES "
                        "(1,1,'zs','Zoe','Smith'),(2,1,'ba','Bob','Adams'),(3,1,'as','Anna','Smith'),(4,2,'aa','Al','Aaron');"
                        "INSERT INTO ACInvoice (ACInvoiceID,Paid,InvoiceNo,AccountID) VALUES (10,0,'INV-10',42),(11,0,'INV-11',42);"
                        "INSERT INTO ACInvoiceItem (ACInvoiceItemID,Parent,TaxID,ItemCode,ItemPrice,ItemQuantity) VALUES "
                        "(5,10,0,'B200',10000,1.5),(6,10,0,'A100',20000,2),(7,10,0,'C300',30000,3),(8,12,0,'A000',1,1);"
                        "INSERT INTO ACTransLog (ACTransLogID,Parent,TransactionNumber) VALUES (3,1,'17');"
                        "INSERT INTO ACTransLogWIP (ACTransLogWIPID,Parent,AccountID,IsDebit,Amount) VALUES "
                        "(1,3,9,1,100),(2,3,4,0,100),(3,3,6,1,0),(4,5,1,1,1);"
                        "INSERT INTO ISubscriberLocation (Parent,Name,IsPrimary) VALUES (1,'Warehouse',0),(2,'Elsewhere',1);"
                        "INSERT INTO ACAccountType (ACAccountTypeID,Parent,Name) VALUES (4,1,'Assets'),(5,2,'Theirs');"),
            "");
  const Variant account = company.account();

  const auto sales = Load<ACAccount>(company, 42);
  const auto lines = sales->Children("Transactions", account);
  EXPECT_EQ(Keys(*lines), "2,3,1");
  EXPECT_EQ(lines->At<ACTransaction>(1)->Value("TransactionDate"), Variant(Date::FromCivil(2024, 1, 15, 9, 30)));
  EXPECT_EQ(lines->At<ACTransaction>(1)->Value("Deposit"), Variant(Currency::FromScaled(20000)));
  EXPECT_EQ(Load<ACAccount>(company, 15)->Children("Transactions", account)->Count(), 0);
  // Not cached: a new row shows on the next call, and each call is a new collection.
  ASSERT_EQ(RawExec(company.path(), "INSERT INTO ACTransaction (ACTransactionID,Parent,TransactionDate) VALUES "
                                    "(9,42,'2024-01-01 00:00:00');"),
            "");
  const auto again = sales->Children("Transactions", account);
  EXPECT_EQ(Keys(*again), "9,2,3,1");
  EXPECT_NE(again, lines);

  const auto subscriber = Load<ISubScriber>(company, 1);
  const auto users = subscriber->Children("Users", account);
  EXPECT_EQ(Keys(*users), "2,3,1");
  EXPECT_EQ(Column(*users, "FirstName"), "Bob,Anna,Zoe");
  // These two come in no fixed order.
  EXPECT_EQ(Listed([&] { return subscriber->Children("Locations", account); }, "SubscriberID"), "1,1");
  EXPECT_EQ(Listed([&] { return subscriber->Children("AccountTypes", account); }, "SubscriberID"), "1,1");

  const auto items = Load<ACInvoice>(company, 10)->Children("Items", account);
  EXPECT_EQ(Keys(*items), "6,5,7");
  EXPECT_EQ(Column(*items, "ItemCode"), "A100,B200,C300");
  EXPECT_EQ(items->Find("5"), items->Item(2));
  EXPECT_EQ(static_cast<Entity&>(*items->Item("5")).Value("ItemQuantity"), Variant(1.5));
  EXPECT_EQ(Load<ACInvoice>(company, 11)->Children("Items", account)->Count(), 0);

  EXPECT_EQ(Keys(*Load<ACTransLog>(company, 3)->Children("WIPS", account)), "2,3,1");
}

TEST(EntityLinks, LoadTheLinkedRowOnceAndGiveNothingWhenThereIsNone) {
  TempCompany company;
  ASSERT_EQ(RawExec(company.path(),
                    std::string(kChart) +
                        "INSERT INTO CITaxCode (CITaxCodeID,Parent,TaxCode,Account1ID,Account2ID) VALUES (1,1,'G',42,42);"
                        "INSERT INTO ACInvoice (ACInvoiceID,Paid,AccountID) VALUES (10,0,7);"
                        "INSERT INTO ACInvoiceItem (ACInvoiceItemID,Parent,TaxID,ItemCode,AccountID) VALUES "
                        "(5,10,0,'A100',42),(6,10,1,'B200',42);"
                        "INSERT INTO IUser (IUserID,Parent,UserName,FirstName,LastName,ReportsToID) VALUES "
                        "(5,1,'boss','Ada','Boss',5),(6,1,'clerk','Cy','Clerk',5),(7,1,'temp','Tim','Temp',77);"
                        "INSERT INTO ACTransaction (ACTransactionID,Parent,TransactionDate) VALUES (1,42,'2024-01-01 00:00:00');"),
            "");
  const Variant account = company.account();
  const Variant missing = company.MissingPath();

  // An object that holds no row has nothing to follow, and no file is opened.
  EXPECT_EQ(std::make_shared<ACAccount>()->Related("AccountType", missing), nullptr);
  EXPECT_EQ(std::make_shared<IUser>()->Related("ReportsTo", missing), nullptr);

  const auto sales = Load<ACAccount>(company, 42);
  const auto type = sales->Related<ACAccountType>("AccountType", account);
  ASSERT_NE(type, nullptr);
  EXPECT_EQ(Row(*type), "3,1,Revenue,Income,False,4");
  EXPECT_EQ(sales->Related<ISubScriber>("Subscriber", account)->Value("CompanyName"), Variant("Acme Trading"));
  // Loaded once: later calls give the same object whatever path they pass.
  const auto parent = sales->Related("ParentAccount", account);
  ASSERT_NE(parent, nullptr);
  EXPECT_EQ(parent->Value("Name"), Variant("Bank"));
  EXPECT_EQ(sales->Related("ParentAccount", missing), parent);
  EXPECT_EQ(sales->Related("AccountType", missing), type);
  // A null link gives nothing without touching the file.
  EXPECT_EQ(sales->Related("FnclInstitution", missing), nullptr);
  const auto bank = Load<ACAccount>(company, 7);
  EXPECT_EQ(bank->Related<ACFnclInstitution>("FnclInstitution", account)->Value("Name"), Variant("First Bank"));
  EXPECT_EQ(bank->Related("ParentAccount", account), nullptr);  // key 0 names no row

  // A link naming no row gives nothing, and is looked up again next time.
  const auto payables = Load<ACAccount>(company, 15);
  EXPECT_EQ(payables->Related("AccountType", account), nullptr);
  EXPECT_EQ(payables->Related("ParentAccount", missing), nullptr);
  ASSERT_EQ(RawExec(company.path(), "INSERT INTO ACAccountType (ACAccountTypeID,Parent,Name) VALUES (99,1,'Late');"), "");
  const auto late = payables->Related("AccountType", account);
  ASSERT_NE(late, nullptr);
  EXPECT_EQ(late->Value("Name"), Variant("Late"));

  EXPECT_EQ(Load<ACInvoiceItem>(company, 5)->Related("Tax", account), nullptr);
  const auto taxed = Load<ACInvoiceItem>(company, 6);
  EXPECT_EQ(taxed->Related<CITaxCode>("Tax", account)->Value("TaxCode"), Variant("G"));
  EXPECT_EQ(taxed->Related<ACInvoice>("Invoice", account)->Value("ACInvoiceID"), Variant(10));
  EXPECT_EQ(taxed->Related<ACAccount>("RevAccount", account)->Value("Name"), Variant("Sales"));
  EXPECT_EQ(Load<ACInvoice>(company, 10)->Related<ACAccount>("RcvblAccount", account)->Value("Name"), Variant("Bank"));
  EXPECT_EQ(Load<ACTransaction>(company, 1)->Related<ACAccount>("Account", account)->Value("Name"), Variant("Sales"));

  // Two links to the same row are two loads of it.
  const auto code = Load<CITaxCode>(company, 1);
  const auto first = code->Related("Account1", account);
  const auto second = code->Related("Account2", account);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(Row(*first), Row(*second));
  EXPECT_EQ(first->Value("ACAccountID"), Variant(42));

  const auto boss = Load<IUser>(company, 5);
  const auto boss_boss = boss->Related("ReportsTo", account);
  ASSERT_NE(boss_boss, nullptr);
  EXPECT_NE(boss_boss, boss);
  EXPECT_EQ(Row(*boss_boss), Row(*boss));
  EXPECT_EQ(Load<IUser>(company, 6)->Related("ReportsTo", account)->Value("UserName"), Variant("boss"));
  EXPECT_EQ(Load<IUser>(company, 7)->Related("ReportsTo", account), nullptr);
}

TEST(EntityErrors, LedgerClassesStackDiagnosticBlocksAndCompanyClassesMarkOnce) {
  TempCompany company;
  ASSERT_EQ(RawExec(company.path(), std::string(kChart) + "INSERT INTO ACInvoice (ACInvoiceID,Paid,AccountID) VALUES (10,0,7);"),
            "");
  const Variant missing = company.MissingPath();
  const auto sales = Load<ACAccount>(company, 42);

  // The account was loaded; its file is gone by the time its type is asked for.
  const Error type = CaptureError([&] { sales->Related("AccountType", missing); });
  EXPECT_EQ(type.number(), testing::ExpectedError(testing::EngineFailure::kCantOpen).number);
  EXPECT_EQ(type.source(), testing::EngineSource());
  EXPECT_TRUE(type.description().starts_with(Block("VantorINV::ACAccount::GetAccountType", type) +
                                              Block("VantorINV::ACAccountType::FetchACAccountType", type)))
      << type.description();
  EXPECT_EQ(Occurrences(type.description(), "Error#:      "), 2);
  EXPECT_EQ(Occurrences(type.description(), kErrorMarker), 1);
  EXPECT_TRUE(type.description().ends_with("\r\n" + Marker(type))) << type.description();
  // A failed load leaves the cache empty: the next call with a good path loads the type.
  EXPECT_NE(sales->Related("AccountType", company.account()), nullptr);

  const Error lines = CaptureError([&] { sales->Children("Transactions", missing); });
  EXPECT_TRUE(lines.description().starts_with(Block("VantorINV::ACAccount::GetTransactions", lines) +
                                               Block("VantorINV::ACTransaction::FetchACTransaction", lines)))
      << lines.description();
  EXPECT_EQ(Occurrences(lines.description(), kErrorMarker), 1);

  const Error owner = CaptureError([&] { sales->Related("Subscriber", missing); });
  EXPECT_TRUE(owner.description().starts_with(Block("ACAccount::GetSubscriber", owner))) << owner.description();
  EXPECT_EQ(Occurrences(owner.description(), "Error#:      "), 1);
  EXPECT_EQ(Occurrences(owner.description(), kErrorMarker), 1);

  // Users, FetchIUser and the query are all marked operations; the marker still appears once.
  const Error users = CaptureError([&] { Load<ISubScriber>(company, 1)->Children("Users", missing); });
  EXPECT_EQ(users.number(), testing::ExpectedError(testing::EngineFailure::kCantOpen).number);
  EXPECT_EQ(users.source(), testing::EngineSource());
  EXPECT_EQ(Occurrences(users.description(), kErrorMarker), 1);
  EXPECT_EQ(Occurrences(users.description(), "Error#:"), 0);
  EXPECT_TRUE(users.description().ends_with("\r\n" + Marker(users))) << users.description();

  // A marked property over a ledger fetch: the fetch's block, then nothing more.
  const Error receivable = CaptureError([&] { Load<ACInvoice>(company, 10)->Related("RcvblAccount", missing); });
  EXPECT_TRUE(receivable.description().starts_with(Block("ACAccount::FetchACAccount", receivable))) << receivable.description();
  EXPECT_EQ(Occurrences(receivable.description(), "Error#:      "), 1);
  EXPECT_EQ(Occurrences(receivable.description(), kErrorMarker), 1);
}

TEST(EntityLateBinding, ReachesPropertiesByNameButNotTheInternalMembers) {
  TempCompany company;
  ASSERT_EQ(RawExec(company.path(), kChart), "");
  const Variant account = company.account();
  const auto sales = Load<ACAccount>(company, 42);

  EXPECT_EQ(Call(*sales, "name"), Variant("Sales"));
  EXPECT_EQ(Call(*sales, "BALANCE"), Variant(Currency::FromScaled(125000)));
  const Variant type = Call(*sales, "AccountType", {account});
  ASSERT_TRUE(type.IsObject());
  ASSERT_NE(type.AsObject(), nullptr);
  EXPECT_EQ(type.AsObject()->ClassName(), "ACAccountType");
  EXPECT_EQ(Call(*type.AsObject(), "Name"), Variant("Revenue"));
  EXPECT_TRUE(Call(*sales, "fnclinstitution", {account}).IsNothing());
  EXPECT_TRUE(Call(*std::make_shared<ACAccount>(), "ParentAccount", {company.MissingPath()}).IsNothing());
  const Variant lines = Call(*sales, "Transactions", {account});
  ASSERT_TRUE(lines.IsObject());
  EXPECT_EQ(Call(*lines.AsObject(), "Count"), Variant(0));

  EXPECT_EQ(CaptureError([&] { Call(*sales, "Name", {"Other"}); }).number(), kWrongArgumentCount);
  EXPECT_EQ(CaptureError([&] { Call(*sales, "AccountType"); }).number(), kWrongArgumentCount);
  EXPECT_EQ(CaptureError([&] { Call(*sales, "Transactions", {account, account}); }).number(), kWrongArgumentCount);
  for (const char* hidden : {"SetName", "LetName", "LoadFromRow", "FetchACAccount", "Fetch", "Def", "Parent"}) {
    EXPECT_EQ(CaptureError([&] { Call(*sales, hidden, {account}); }).number(), kNoSuchMember) << hidden;
    EXPECT_EQ(CaptureError([&] { Call(*sales, hidden); }).number(), kNoSuchMember) << hidden;
  }
}

}  // namespace
}  // namespace ledgerkit
