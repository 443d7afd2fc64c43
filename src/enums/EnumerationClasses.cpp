// The member lists of the three enumeration classes, in ascending value order.
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/enums/eBalanceSheetTypeEnm.h"
#include "ledgerkit/enums/eTransLogStatusEnm.h"
#include "ledgerkit/enums/eTransTypeEnm.h"

namespace ledgerkit {

namespace {

constexpr EnumerationClass::Member kBalanceSheetTypes[] = {
    {bstASSET, "bstASSET", "Asset"},
    {bstLIABILITY, "bstLIABILITY", "Liability"},
    {bstEQUITY, "bstEQUITY", "Equity"},
    {bstINCOME, "bstINCOME", "Income"},
    {bstEXPENSE, "bstEXPENSE", "Expense"},
};

constexpr EnumerationClass::Member kTransTypes[] = {
    {ttCHQ, "ttCHQ", "CHQ"},
    {ttGENJRNL, "ttGENJRNL", "GENJRNL"},
    {ttRCPT, "ttRCPT", "RCPT"},
    {ttBILLPMT, "ttBILLPMT", "BILLPMT"},
    {ttLIABCHQ, "ttLIABCHQ", "LIABCHQ"},
    {ttITEMRCPT, "ttITEMRCPT", "ITEMRCPT"},
    {ttPAYCHQ, "ttPAYCHQ", "PAYCHQ"},
    {ttDEP, "ttDEP", "DEP"},
    {ttPMT, "ttPMT", "PMT"},
    {ttINV, "ttINV", "INV"},
    {ttINVADJ, "ttINVADJ", "INVADJ"},
    {ttBILL, "ttBILL", "BILL"},
    {ttCC, "ttCC", "CC"},
};

constexpr EnumerationClass::Member kTransLogStatuses[] = {
    {tlsINPROGRESS, "tlsINPROGRESS", "In Progress"},
    {tlsCOMMITTED, "tlsCOMMITTED", "Committed"},
    {tlsABORTED, "tlsABORTED", "Aborted"},
};

}  // namespace

eBalanceSheetTypeEnm::eBalanceSheetTypeEnm() : EnumerationClass("eBalanceSheetType", kBalanceSheetTypes) {}
eTransTypeEnm::eTransTypeEnm() : EnumerationClass("eTransType", kTransTypes) {}
eTransLogStatusEnm::eTransLogStatusEnm() : EnumerationClass("eTransLogStatus", kTransLogStatuses) {}

}  // namespace ledgerkit
