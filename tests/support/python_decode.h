#pragma once
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "text_value.h"

namespace test_support {

// A mail as a standard decoder reads it.
struct DecodedMail {
  // Every header field in order: its name and its value with encoded words
  // decoded and folding undone, written back as GBK.
  std::vector<std::pair<TextValue, TextValue>> headers;
  // The body with its transfer encoding undone.
  TextValue body;
};

// Parses mail (header block and body) with the email package of
// /usr/bin/python3, through files in a temporary folder of its own. Nullopt
// when Python fails, e.g. when a word does not decode in its charset.
std::optional<DecodedMail> DecodeMailWithPython(std::string_view mail);

}  // namespace test_support
