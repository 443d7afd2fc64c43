// Library-internal, shared by the files of the PostgreSQL engine only: a statement prepared on a
// session, run with its bound values and read row by row.
#pragma once

#include <cstdint>
#include <memory>

#include "common/Catalog.h"
#include "common/Engine.h"
#include "engines/postgres/PostgresSession.h"

namespace ledgerkit::postgres {

// The statement `prepared` of `session` (which must outlive it), its values bound by index from
// 1 and sent when it first steps; every row comes from the server at once. Columns are typed as
// the other engine types them, with the catalog's declared types and spellings where a column
// comes from a table of `catalog` (which may be null). A write sets `changes` to the rows it
// changed. A session found lost before an only-reading statement could run is connected again
// and the statement run once more.
std::unique_ptr<EngineStatement> MakeStatement(Session& session, std::shared_ptr<Prepared> prepared,
                                               const Catalog* catalog, int64_t& changes);

}  // namespace ledgerkit::postgres
