#pragma once
#include <cstddef>
#include <string_view>

#include "byte_buffer.h"
#include "text_value.h"

namespace smtp {

// Standard base64 with "=" padding. With lineBreaks, CR LF follows every 76
// characters and one more CR LF ends the text (a body's form); without, the
// text is unbroken (encoded words and AUTH answers). The result's size() is
// the reported length.
TextValue Base64Encode(std::string_view bytes, bool lineBreaks);

// The body's form (lines of 76 characters, CR LF at the end) of a body of any
// size, in a buffer of its own: the same characters as Base64Encode(body,
// true). An empty buffer when the memory cannot be had.
platform::ByteBuffer Base64EncodeBody(std::string_view body);

// The exact size Base64Encode gives for length input bytes.
std::size_t Base64EncodedLength(std::size_t length, bool lineBreaks);

}  // namespace smtp
