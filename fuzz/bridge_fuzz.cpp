// libFuzzer target: arbitrary bytes as input lines to the JSON-RPC bridge. The bridge must
// answer (or stay silent for notifications) and never crash, leak or trip a sanitizer.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ledgerkit/automation/RpcBridge.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  // An input that starts with 'v' runs against a bridge that answers by value, with a small
  // byte budget and a blanked name, so those paths are searched too.
  ledgerkit::RpcLimits limits;
  if (!input.empty() && input.front() == 'v') {
    input.remove_prefix(1);
    limits.by_value = true;
    limits.max_held_bytes = 4096;
    limits.blank_properties = {"Description"};
  }
  ledgerkit::RpcBridge bridge(limits);
  // Several lines in one input exercise handles held across requests.
  while (!input.empty()) {
    const size_t end = input.find('\n');
    bridge.HandleLine(input.substr(0, end));
    if (end == std::string_view::npos) break;
    input.remove_prefix(end + 1);
  }
  return 0;
}
