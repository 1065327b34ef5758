// The client's response decoder, fed what a daemon (or anything listening on its socket) might
// answer. A response that decodes must encode and decode back to itself.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ipc/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  auto response = tarvik::decode_response(text);
  if (!response) {
    (void)response.error().message();
    return 0;
  }
  auto again = tarvik::decode_response(tarvik::encode_response(*response));
  if (!again || *again != *response) std::abort();
  return 0;
}
