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

// The body's form of Base64Encode(body, true), piece by piece: a body of any
// size is encoded into one buffer of about a megabyte, and each piece can go
// to the socket while the rest waits to be encoded.
class BodyEncoder {
 public:
  // Whole lines of input per piece but the last: 16,384 lines of 57 bytes.
  static constexpr std::size_t kPieceInput = 16384 * 57;

  explicit BodyEncoder(std::string_view body);
  // The next piece, valid until the next call; the empty view once the last
  // piece (which ends with the closing line break) has been given.
  std::string_view Next();

 private:
  std::string_view rest_;
  TextValue piece_;
  bool done_ = false;
};

// The exact size Base64Encode gives for length input bytes.
std::size_t Base64EncodedLength(std::size_t length, bool lineBreaks);

}  // namespace smtp
