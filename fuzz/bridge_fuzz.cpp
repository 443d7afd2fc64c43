// libFuzzer target: arbitrary bytes as input lines to the JSON-RPC bridge. The bridge must
// answer (or stay silent for notifications) and never crash, leak or trip a sanitizer.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "automation/RpcBridge.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ledgerkit::RpcBridge bridge;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  // Several lines in one input exercise handles held across requests.
  while (!input.empty()) {
    const size_t end = input.find('\n');
    bridge.HandleLine(input.substr(0, end));
    if (end == std::string_view::npos) break;
    input.remove_prefix(end + 1);
  }
  return 0;
}
