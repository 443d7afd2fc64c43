// Customer invoices on the command line, from entry to payment: `ledgerkit invoice new | add |
// show | issue | list | pay | delete`. An invoice is named by its invoice number; the amounts
// shown before it is issued are the ones issuing posts (ComputeInvoicePosting).
#pragma once

#include <initializer_list>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Subcommand.h"
#include "ledgerkit/common/Currency.h"
#include "ledgerkit/common/FieldType.h"
#include "ledgerkit/common/Recordset.h"
#include "common/UnitOfWork.h"
#include "ledgerkit/common/Variant.h"

namespace ledgerkit::cli {

// `ledgerkit invoice ACTION FILE ...`. Every action checks all its arguments before it writes,
// and writes in one unit of work, so a refused or failed action leaves the company as it was.
//
// Payments: `invoice pay` records a deposit to the bank whose receivable credit is described
// "Payment of invoice N (transaction T)", T being the number of the invoice's own transaction
// (numbers are never handed out twice, so an invoice deleted and a new one that reuses its key
// or number never inherit its payments). What an invoice has been paid is the sum of the
// deposit rows of its receivable account whose description ends in " (transaction T)".
Subcommand AddInvoiceCommand(CLI::App& app);

// The items joined for a sentence: "3", "3 and 8", "3, 8 and 15".
std::string Listed(const std::vector<std::string>& items);

// Runs `body(said)` as one writing unit of work on `file`: the checks it makes and the library
// operations it calls (which join the unit) commit together or not at all. What it says is
// printed on `out` only once the unit has committed, so a failure is never announced as done.
template <class Body>
int WriteInOneUnit(const std::string& file, std::ostream& out, Body&& body) {
  std::ostringstream said;
  UnitOfWork::Run(Variant(file), Access::kWrite, [&] { body(said); });
  out << said.str();
  return 0;
}

// An open, empty result set of the columns (each may hold Null), for a command to fill with
// rows and print (PrintStatement, PrintJson).
std::shared_ptr<Recordset> NewListing(std::initializer_list<std::pair<const char*, FieldType>> columns);

}  // namespace ledgerkit::cli
