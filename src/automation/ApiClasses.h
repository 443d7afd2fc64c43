// The entity classes of the API, in the order the descriptions list them. Every class an
// operation or a property can return is here (the tests hold the list to that).
#pragma once

#include <span>

#include "entities/Entity.h"

namespace ledgerkit {

using EntityDefOf = const EntityDef& (*)();

std::span<const EntityDefOf> EntityClasses();

}  // namespace ledgerkit
