// The column-width enumerations published for callers: `len<Entity>::len<Column>` is the width
// of a text column in characters, 0 for a column that has no width. Key and link columns have
// no member. The schema's CHECKs and the bound parameter sizes use these same values.
#pragma once

#include <cstdint>

namespace ledgerkit {

struct lenISubScriber {
  enum Value : int32_t {
    lenCompanyName = 255,
    lenAccountNo = 30,
    lenNextTransactionNumber = 0,
    lenNextInvoiceNumber = 0,
    lenNextExpenseReportNumber = 0,
    lenNextClientAccountNumber = 0,
  };
};

struct lenISubscriberLocation {
  enum Value : int32_t {
    lenName = 255,
    lenAddress1 = 255,
    lenAddress2 = 255,
    lenAddress3 = 255,
    lenCity = 50,
    lenProvince = 50,
    lenPostalCode = 10,
    lenCountry = 30,
    lenTelephone = 28,
    lenFax = 28,
    lenNotes = 2000,
    lenIsPrimary = 0,
  };
};

struct lenIUser {
  enum Value : int32_t {
    lenUserName = 30,
    lenPassword = 30,
    lenFirstName = 20,
    lenLastName = 30,
    lenMiddleInitial = 2,
    lenAdmin = 0,
    lenMainUser = 0,
    lenAllowLogon = 0,
    lenEMail = 255,
  };
};

struct lenSysSessions {
  enum Value : int32_t {
    lenAccount = 255,
    lenUserName = 255,
    lenToken = 255,
    lenLastUpdate = 0,
  };
};

struct lenACAccountType {
  enum Value : int32_t {
    lenName = 128,
    lenDescription = 255,
    lenFnclInstituteRqd = 0,
    lenBalanceSheetType = 0,
  };
};

struct lenACFnclInstitution {
  enum Value : int32_t {
    lenName = 255,
    lenAddress = 2000,
    lenContact = 255,
    lenTelephone = 50,
  };
};

struct lenACAccount {
  enum Value : int32_t {
    lenAccountNumber = 128,
    lenName = 128,
    lenDescription = 255,
    lenNote = 2000,
    lenInactive = 0,
    lenBankAccountNo = 128,
    lenBalance = 0,
  };
};

struct lenACTransLog {
  enum Value : int32_t {
    lenLogDate = 0,
    lenTransactionDate = 0,
    lenDescription = 255,
    lenTransactionNumber = 255,
    lenTransLogStatus = 0,
    lenUserName = 30,
    lenTransType = 0,
    lenChequeNo = 64,
    lenAddress = 2000,
    lenAmount = 0,
  };
};

struct lenACTransLogWIP {
  enum Value : int32_t {
    lenIsDebit = 0,
    lenDescription = 255,
    lenAmount = 0,
  };
};

struct lenACTransaction {
  enum Value : int32_t {
    lenTransactionDate = 0,
    lenDescription = 255,
    lenWithdrawal = 0,
    lenDeposit = 0,
    lenTransactionNumber = 255,
    lenTransType = 0,
    lenReconciled = 0,
  };
};

struct lenACInvoice {
  enum Value : int32_t {
    lenPaid = 0,
    lenComment = 255,
    lenTransactionNumber = 255,
    lenInvoiceDate = 0,
    lenInvoiceNo = 50,
    lenPurchaseOrderNumber = 50,
    lenAddress = 255,
    lenCompany = 50,
    lenTotal = 0,
  };
};

struct lenACInvoiceItem {
  enum Value : int32_t {
    lenItemCode = 50,
    lenItemName = 255,
    lenItemPrice = 0,
    lenItemQuantity = 0,
    lenItemUnit = 50,
  };
};

struct lenCITaxCode {
  enum Value : int32_t {
    lenTaxCode = 1,
    lenDescription = 255,
    lenTax1Rate = 0,
    lenTax1Name = 255,
    lenTax1Exempt = 0,
    lenTax2Rate = 0,
    lenTax2Name = 255,
    lenTax2Exempt = 0,
    lenTax2PiggyBack = 0,
    lenInactive = 0,
  };
};

}  // namespace ledgerkit
