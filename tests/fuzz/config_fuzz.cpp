// The configuration decoder and checks, fed any file a user might write. The loader refuses
// text that is not UTF-8 before decoding, and so does this target. Decoding is repeatable, and
// the error report, which quotes the file, is UTF-8 as well.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "config/config.h"
#include "config/decode.h"
#include "logging/utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!tarvik::logging::is_valid_utf8(text)) return 0;
  auto config = tarvik::config::decode_config(text);
  if (!config) {
    // The report shows the offending line; it must be text the terminal can show.
    if (!tarvik::logging::is_valid_utf8(config.error())) std::abort();
    return 0;
  }
  (void)tarvik::validate(*config);
  auto again = tarvik::config::decode_config(text);
  if (!again) std::abort();
  // A NaN in the file makes the configuration unequal to itself; only then may they differ.
  const bool comparable = *config == *config;
  if (comparable && *again != *config) std::abort();
  return 0;
}
