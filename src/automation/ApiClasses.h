// The entity classes of the API, in the order the descriptions list them (every class an
// operation or a property can return is here: the tests hold the list to that), and the
// catalog's columns by name, for the descriptions.
#pragma once

#include <span>
#include <string_view>

#include "common/Catalog.h"
#include "ledgerkit/entities/Entity.h"

namespace ledgerkit {

using EntityDefOf = const EntityDef& (*)();

std::span<const EntityDefOf> EntityClasses();

// The column `column` of the company table `table`; nullptr when there is none.
const ColumnDef* FindSchemaColumn(std::string_view table, std::string_view column);

}  // namespace ledgerkit
