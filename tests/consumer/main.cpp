// Creates a company file in the directory given as the only argument, posts one deposit through
// the typed interface and reads the bank's balance both ways: through the typed CACMgr and by
// name through CreateObject. Prints the version, both balances and the account's name.
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <vector>

#include <ledgerkit/ledgerkit.h>

int main(int argc, char** argv) {
  using namespace ledgerkit;
  if (argc != 2) {
    std::cerr << "usage: ledgerkit_consumer <directory>\n";
    return 2;
  }
  try {
    const std::string path = (std::filesystem::path(argv[1]) / "consumer.lkdb").string();
    CreateSubscriberDatabase(path, "Consumer Ltd", FirstUser{"owner", "secret"});
    const Variant file = path;
    const std::string token = CSecurityMgr().BeginUserSession(file, "owner", "secret");

    CACMgr ledger;
    const Variant bank_type = ledger.AddAccountType(file, "owner", token, "Bank", "", true, bstASSET);
    const Variant equity_type = ledger.AddAccountType(file, "owner", token, "Equity", "", false, bstEQUITY);
    const Variant bank = ledger.AddAccount(file, "owner", token, "1000", "Bank", "", "", false, "", 0, bank_type, 0);
    const Variant equity = ledger.AddAccount(file, "owner", token, "3000", "Capital", "", "", false, "", 0, equity_type, 0);
    const std::string deposit = ledger.BeginTransaction(file, "owner", token, int64_t{ttDEP}, Date::FromCivil(2026, 3, 1),
                                                        "Opening capital", bank, CurrencyFromText("1234.56"), "",
                                                        "Capital", "");
    ledger.PostCredit(file, deposit, equity, CurrencyFromText("1234.56"), "Capital");
    ledger.EndTransaction(file, deposit);

    std::cout << "version " << kVersion << "\n";
    std::cout << "typed " << ToText(ledger.GetAccountBalance(file, bank)) << "\n";
    const std::shared_ptr<Dispatch> by_name = CreateObject("CACMgr");
    std::vector<Variant> args{file, bank};
    std::cout << "by name " << ToText(by_name->Invoke("GetAccountBalance", args)) << "\n";
    std::cout << "account " << ToText(ledger.GetAccount(file, "owner", token, bank)->Value("Name")) << "\n";
    return 0;
  } catch (const Error& error) {
    std::cerr << "error " << error.number() << ": " << error.what() << "\n";
    return 1;
  }
}
