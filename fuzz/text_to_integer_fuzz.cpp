// TextToInteger against a plain reading of its rules: the text ends at its
// first NUL; full-width GBK forms fold to ASCII pair by pair (a lone lead byte
// at the end is dropped); then blanks, one sign and decimal digits, the value
// taken modulo 2^32 as a two's-complement number. Where the value fits, strtol
// must agree too.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "commands.h"
#include "fuzz_check.h"

namespace {

std::string Fold(std::string_view text) {
  std::string folded;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto first = static_cast<unsigned char>(text[i]);
    if (first < 0x80) {
      folded += text[i];
      continue;
    }
    if (i + 1 == text.size()) break;
    const auto second = static_cast<unsigned char>(text[++i]);
    if (first == 0xA1 && second == 0xA1) {
      folded += ' ';
    } else if (first == 0xA1 && second == 0xAB) {
      folded += '~';
    } else if (first == 0xA1 && (second == 0xEE || second == 0xEF)) {
      folded += '*';
    } else if (first == 0xA3 && second >= 0xA1 && second <= 0xFE) {
      folded += static_cast<char>(second - 0x80);
    } else {
      folded += static_cast<char>(first);
      folded += static_cast<char>(second);
    }
  }
  return folded;
}

std::int32_t Reference(std::string_view text) {
  const std::string folded = Fold(text.substr(0, text.find('\0')));
  std::size_t i = folded.find_first_not_of(" \t\n\v\f\r");
  if (i == std::string::npos) return 0;
  bool negative = false;
  if (folded[i] == '+' || folded[i] == '-') negative = folded[i++] == '-';
  constexpr std::uint64_t kModulus = std::uint64_t{1} << 32;
  std::uint64_t value = 0;  // always below 2^32
  for (; i < folded.size() && folded[i] >= '0' && folded[i] <= '9'; ++i) {
    value = (value * 10 + static_cast<std::uint64_t>(folded[i] - '0')) % kModulus;
  }
  if (negative) value = (kModulus - value) % kModulus;
  return value >= kModulus / 2 ? static_cast<std::int32_t>(static_cast<std::int64_t>(value) - static_cast<std::int64_t>(kModulus))
                               : static_cast<std::int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::AsText(data, size);
  const std::int32_t got = app::TextToInteger(text);
  FUZZ_CHECK(got == Reference(text));

  const std::string folded = Fold(text.substr(0, text.find('\0')));
  errno = 0;
  const long parsed = std::strtol(folded.c_str(), nullptr, 10);
  if (errno == 0 && parsed >= INT32_MIN && parsed <= INT32_MAX) FUZZ_CHECK(got == parsed);
  return 0;
}
