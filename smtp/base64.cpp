#include "base64.h"

namespace smtp {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// 57 input bytes fill one body line of 76 characters.
constexpr std::size_t kLineInput = 57;

// Writes the four characters of one complete three-byte group.
inline char* EncodeGroup(const unsigned char* in, char* out) {
  const unsigned group = (unsigned{in[0]} << 16) | (unsigned{in[1]} << 8) | in[2];
  out[0] = kAlphabet[group >> 18];
  out[1] = kAlphabet[(group >> 12) & 0x3F];
  out[2] = kAlphabet[(group >> 6) & 0x3F];
  out[3] = kAlphabet[group & 0x3F];
  return out + 4;
}

// Writes the complete groups of [in, in + length), then the padded tail.
char* EncodeRun(const unsigned char* in, std::size_t length, char* out) {
  const unsigned char* const groupsEnd = in + length / 3 * 3;
  for (; in != groupsEnd; in += 3) out = EncodeGroup(in, out);
  switch (length % 3) {
    case 1:
      out[0] = kAlphabet[in[0] >> 2];
      out[1] = kAlphabet[(in[0] & 0x03) << 4];
      out[2] = '=';
      out[3] = '=';
      out += 4;
      break;
    case 2:
      out[0] = kAlphabet[in[0] >> 2];
      out[1] = kAlphabet[((in[0] & 0x03) << 4) | (in[1] >> 4)];
      out[2] = kAlphabet[(in[1] & 0x0F) << 2];
      out[3] = '=';
      out += 4;
      break;
  }
  return out;
}

char* WriteLineBreak(char* out) {
  out[0] = '\r';
  out[1] = '\n';
  return out + 2;
}

}  // namespace

std::size_t Base64EncodedLength(std::size_t length, bool lineBreaks) {
  const std::size_t unbroken = (length + 2) / 3 * 4;
  if (!lineBreaks) return unbroken;
  // A break after every full line, and one more at the very end.
  return unbroken + 2 * (length / kLineInput) + 2;
}

TextValue Base64Encode(std::string_view bytes, bool lineBreaks) {
  TextValue result(Base64EncodedLength(bytes.size(), lineBreaks), '\0');
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  char* out = result.data();
  if (!lineBreaks) {
    EncodeRun(in, bytes.size(), out);
    return result;
  }
  const unsigned char* const fullLinesEnd = in + bytes.size() / kLineInput * kLineInput;
  for (; in != fullLinesEnd; in += kLineInput) {
    for (std::size_t i = 0; i < kLineInput; i += 3) out = EncodeGroup(in + i, out);
    out = WriteLineBreak(out);
  }
  out = EncodeRun(in, bytes.size() % kLineInput, out);
  WriteLineBreak(out);
  return result;
}

}  // namespace smtp
