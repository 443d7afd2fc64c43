// The whole public interface of the library in one header: values (Variant, Currency, Date),
// errors and their numbers, late binding (Dispatch, CreateObject), result sets, the entity
// classes and their collections, the enumerations and enumeration classes, the five managers,
// the amounts an invoice posts (ComputeInvoicePosting), company files (CreateSubscriberDatabase),
// caller queries (OpenRecordset), the message helpers and the JSON-RPC bridge a host may embed.
#pragma once

#include "common/Version.h"

#include "common/Convert.h"
#include "common/Currency.h"
#include "common/DataAccess.h"
#include "common/Date.h"
#include "common/Dispatch.h"
#include "common/Error.h"
#include "common/ErrorConvention.h"
#include "common/ErrorNumbers.h"
#include "common/MemberTable.h"
#include "common/Recordset.h"
#include "common/Variant.h"

#include "entities/ACAccount.h"
#include "entities/ACAccountType.h"
#include "entities/ACFnclInstitution.h"
#include "entities/ACInvoice.h"
#include "entities/ACInvoiceItem.h"
#include "entities/ACTransLog.h"
#include "entities/ACTransLogWIP.h"
#include "entities/ACTransaction.h"
#include "entities/CITaxCode.h"
#include "entities/ColumnWidths.h"
#include "entities/Entity.h"
#include "entities/EntityCollection.h"
#include "entities/ISubScriber.h"
#include "entities/ISubscriberLocation.h"
#include "entities/IUser.h"
#include "entities/Schema.h"
#include "entities/SysSessions.h"

#include "enums/EnumerationClass.h"
#include "enums/PublicEnums.h"
#include "enums/eBalanceSheetTypeEnm.h"
#include "enums/eTransLogStatusEnm.h"
#include "enums/eTransTypeEnm.h"

#include "ledger/CACMgr.h"
#include "ledger/InvoiceAmounts.h"
#include "reports/CReportMgr.h"
#include "security/CSecurityMgr.h"
#include "security/CUserManager.h"
#include "subscriber/CAccountMgr.h"

#include "automation/ClassRegistry.h"
#include "automation/RpcBridge.h"
