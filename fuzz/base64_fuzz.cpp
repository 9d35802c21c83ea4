// Base64Encode: both forms decode back to the input, the body form breaks its
// lines after exactly 76 characters and ends in CR LF, and the reported size
// is the size written.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base64.h"
#include "base64_decode.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::AsText(data, size);

  const TextValue unbroken = smtp::Base64Encode(input, false);
  FUZZ_CHECK(unbroken.size() == (size + 2) / 3 * 4);
  FUZZ_CHECK(unbroken.size() == smtp::Base64EncodedLength(size, false));
  FUZZ_CHECK(fuzz::DecodeBase64(unbroken) == std::string(input));

  const TextValue broken = smtp::Base64Encode(input, true);
  FUZZ_CHECK(broken.size() == smtp::Base64EncodedLength(size, true));
  FUZZ_CHECK(broken.size() >= 2 && broken.compare(broken.size() - 2, 2, "\r\n") == 0);
  // Without its closing CR LF the text is lines of 76 characters, each ended
  // by CR LF, and a last line of at most 76 (a closing part group fits in the
  // last 4; empty when the input fills whole lines).
  std::string joined;
  std::string_view rest(broken.data(), broken.size() - 2);
  for (;;) {
    const std::size_t end = rest.find("\r\n");
    if (end == std::string_view::npos) {
      FUZZ_CHECK(rest.size() <= 76);
      FUZZ_CHECK(rest.find_first_of("\r\n") == std::string_view::npos);
      joined += rest;
      break;
    }
    FUZZ_CHECK(end == 76);
    joined += rest.substr(0, end);
    rest.remove_prefix(end + 2);
  }
  FUZZ_CHECK(joined == unbroken);
  return 0;
}
