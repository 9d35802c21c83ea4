#pragma once
#include <cstddef>
#include <string_view>

#include "text_value.h"

namespace smtp {

// Standard base64 with "=" padding. With lineBreaks, CR LF follows every 76
// characters and one more CR LF ends the text (a body's form); without, the
// text is unbroken (encoded words and AUTH answers). The result's size() is
// the reported length.
TextValue Base64Encode(std::string_view bytes, bool lineBreaks);

// The exact size Base64Encode gives for length input bytes.
std::size_t Base64EncodedLength(std::size_t length, bool lineBreaks);

}  // namespace smtp
