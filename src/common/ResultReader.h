// Library-internal: turning engine rows into typed Variants and result sets. The catalog's kind
// of a column decides its field type; a column of none (an expression) is typed by the value
// stored in each row.
#pragma once

#include <memory>

#include "common/Engine.h"
#include "ledgerkit/common/Recordset.h"

namespace ledgerkit {

// The field a result column becomes: a key, link or whole number -> long of size 4, text of width
// n -> text of size n, currency, double and date -> size 8, boolean -> size 2, else variant.
FieldInfo DescribeColumn(const EngineColumn& column);

// The value in column `index` of the statement's current row, read as `type` from the storage
// mapping (currency as ten-thousandths, dates as ISO text, yes/no as 0/1). A stored value that
// does not fit the type is given as what it is rather than failing.
Variant ReadValue(const EngineStatement& statement, int index, FieldType type);

// Steps the statement to its end and materialises every row.
std::shared_ptr<Recordset> ReadAll(EngineStatement& statement);

}  // namespace ledgerkit
