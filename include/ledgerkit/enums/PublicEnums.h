// The enumerations whose values are stored in the company file: account types' balance-sheet
// class (ACAccountType.BalanceSheetType), transaction types (ACTransLog.TransType,
// ACTransaction.TransType) and log statuses (ACTransLog.TransLogStatus).
#pragma once

#include <cstdint>

namespace ledgerkit {

enum eBalanceSheetType : int32_t {
  bstASSET = 0,
  bstLIABILITY = 1,
  bstEQUITY = 2,
  bstINCOME = 3,
  bstEXPENSE = 4,
};

enum eTransType : int32_t {
  ttCHQ = 0,
  ttGENJRNL = 1,
  ttRCPT = 2,
  ttBILLPMT = 3,
  ttLIABCHQ = 4,
  ttITEMRCPT = 5,
  ttPAYCHQ = 6,
  ttDEP = 7,
  ttPMT = 8,
  ttINV = 9,
  ttINVADJ = 10,
  ttBILL = 11,
  ttCC = 12,
};

enum eTransLogStatus : int32_t {
  tlsINPROGRESS = 0,
  tlsCOMMITTED = 1,
  tlsABORTED = 2,
};

}  // namespace ledgerkit
