// RunOperation: the frame of every public manager operation. The body runs as one unit of work
// on Account (one connection, one transaction, all or nothing) and any failure leaves marked
// once (the marked re-raise).
#pragma once

#include <utility>

#include "ledgerkit/common/ErrorConvention.h"
#include "common/UnitOfWork.h"

namespace ledgerkit {

template <class Body>
auto RunOperation(const Variant& account, Access access, Body&& body) {
  return WithMarkedReraise([&] { return UnitOfWork::Run(account, access, std::forward<Body>(body)); });
}

}  // namespace ledgerkit
