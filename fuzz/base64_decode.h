#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace fuzz {

// A strict decoder of unbroken standard base64 with "=" padding, written
// apart from the encoder under test. Nullopt for anything that is not
// canonical base64 (bad length, characters, padding or unused bits).
inline std::optional<std::string> DecodeBase64(std::string_view text) {
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  if (text.size() % 4 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    const int pads = (text[i + 3] == '=') + (text[i + 2] == '=');
    if (pads != 0 && !last) return std::nullopt;
    if (text[i + 2] == '=' && text[i + 3] != '=') return std::nullopt;
    unsigned group = 0;
    for (int k = 0; k < 4 - pads; ++k) {
      const int v = value(text[i + k]);
      if (v < 0) return std::nullopt;
      group |= static_cast<unsigned>(v) << (18 - 6 * k);
    }
    const int bytes = 3 - pads;
    // Canonical form: the bits a padded group leaves unused are zero.
    if ((group & ((1u << (8 * (3 - bytes))) - 1)) != 0) return std::nullopt;
    for (int k = 0; k < bytes; ++k) out += static_cast<char>((group >> (16 - 8 * k)) & 0xFF);
  }
  return out;
}

}  // namespace fuzz
