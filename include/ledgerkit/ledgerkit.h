// The whole public interface of the library in one header: values (Variant, Currency, Date),
// errors and their numbers, late binding (Dispatch, CreateObject), result sets, the entity
// classes and their collections, the enumerations and enumeration classes, the five managers,
// the amounts an invoice posts (ComputeInvoicePosting), company files (CreateSubscriberDatabase),
// caller queries (OpenRecordset), the message helpers and the JSON-RPC bridge a host may embed.
#pragma once

#include "ledgerkit/common/Version.h"

#include "ledgerkit/common/Convert.h"
#include "ledgerkit/common/Currency.h"
#include "ledgerkit/common/DataAccess.h"
#include "ledgerkit/common/Date.h"
#include "ledgerkit/common/Dispatch.h"
#include "ledgerkit/common/Error.h"
#include "ledgerkit/common/ErrorConvention.h"
#include "ledgerkit/common/ErrorNumbers.h"
#include "ledgerkit/common/MemberTable.h"
#include "ledgerkit/common/Recordset.h"
#include "ledgerkit/common/Variant.h"

#include "ledgerkit/entities/ACAccount.h"
#include "ledgerkit/entities/ACAccountType.h"
#include "ledgerkit/entities/ACFnclInstitution.h"
#include "ledgerkit/entities/ACInvoice.h"
#include "ledgerkit/entities/ACInvoiceItem.h"
#include "ledgerkit/entities/ACTransLog.h"
#include "ledgerkit/entities/ACTransLogWIP.h"
#include "ledgerkit/entities/ACTransaction.h"
#include "ledgerkit/entities/CITaxCode.h"
#include "ledgerkit/entities/ColumnWidths.h"
#include "ledgerkit/entities/Entity.h"
#include "ledgerkit/entities/EntityCollection.h"
#include "ledgerkit/entities/ISubScriber.h"
#include "ledgerkit/entities/ISubscriberLocation.h"
#include "ledgerkit/entities/IUser.h"
#include "ledgerkit/entities/Schema.h"
#include "ledgerkit/entities/SysSessions.h"

#include "ledgerkit/enums/EnumerationClass.h"
#include "ledgerkit/enums/PublicEnums.h"
#include "ledgerkit/enums/eBalanceSheetTypeEnm.h"
#include "ledgerkit/enums/eTransLogStatusEnm.h"
#include "ledgerkit/enums/eTransTypeEnm.h"

#include "ledgerkit/ledger/CACMgr.h"
#include "ledgerkit/ledger/InvoiceAmounts.h"
#include "ledgerkit/reports/CReportMgr.h"
#include "ledgerkit/security/CSecurityMgr.h"
#include "ledgerkit/security/CUserManager.h"
#include "ledgerkit/subscriber/CAccountMgr.h"

#include "ledgerkit/automation/ClassRegistry.h"
#include "ledgerkit/automation/RpcBridge.h"
