#include "common/CallLimits.h"

namespace ledgerkit {

namespace {
thread_local CallLimits current_limits;
}  // namespace

CallLimitsScope::CallLimitsScope(const CallLimits& limits) : saved_(current_limits) { current_limits = limits; }
CallLimitsScope::~CallLimitsScope() { current_limits = saved_; }

const CallLimits& CurrentCallLimits() { return current_limits; }

// TODO(engine limits): interrupt the registered running report statements.
void InterruptRunningReports() {}

}  // namespace ledgerkit
