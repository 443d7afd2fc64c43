// The member lists of the three enumeration classes, in ascending value order.
#include "enums/PublicEnums.h"
#include "enums/eBalanceSheetTypeEnm.h"
#include "enums/eTransLogStatusEnm.h"
#include "enums/eTransTypeEnm.h"

namespace ledgerkit {

namespace {

constexpr EnumerationClass::Member kBalanceSheetTypes[] = {
    {bstASSET, "Asset"}, {bstLIABILITY, "Liability"}, {bstEQUITY, "Equity"}, {bstINCOME, "Income"}, {bstEXPENSE, "Expense"},
};

constexpr EnumerationClass::Member kTransTypes[] = {
    {ttCHQ, "CHQ"},       {ttGENJRNL, "GENJRNL"}, {ttRCPT, "RCPT"},         {ttBILLPMT, "BILLPMT"}, {ttLIABCHQ, "LIABCHQ"},
    {ttITEMRCPT, "ITEMRCPT"}, {ttPAYCHQ, "PAYCHQ"}, {ttDEP, "DEP"},         {ttPMT, "PMT"},         {ttINV, "INV"},
    {ttINVADJ, "INVADJ"}, {ttBILL, "BILL"},       {ttCC, "CC"},
};

constexpr EnumerationClass::Member kTransLogStatuses[] = {
    {tlsINPROGRESS, "In Progress"}, {tlsCOMMITTED, "Committed"}, {tlsABORTED, "Aborted"},
};

}  // namespace

eBalanceSheetTypeEnm::eBalanceSheetTypeEnm() : EnumerationClass("eBalanceSheetType", kBalanceSheetTypes) {}
eTransTypeEnm::eTransTypeEnm() : EnumerationClass("eTransType", kTransTypes) {}
eTransLogStatusEnm::eTransLogStatusEnm() : EnumerationClass("eTransLogStatus", kTransLogStatuses) {}

}  // namespace ledgerkit
