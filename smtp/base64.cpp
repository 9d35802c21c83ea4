#include "base64.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define MAILSENDER_BASE64_SSSE3 1
#endif

namespace smtp {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// 57 input bytes fill one body line of 76 characters.
constexpr std::size_t kLineInput = 57;

// The two characters of every 12-bit value, as they lie in memory: one load
// and one store per half of a three-byte group.
constexpr auto kPairs = [] {
  std::array<std::uint16_t, 4096> pairs{};
  for (unsigned value = 0; value < pairs.size(); ++value) {
    const auto first = static_cast<unsigned char>(kAlphabet[value >> 6]);
    const auto second = static_cast<unsigned char>(kAlphabet[value & 0x3F]);
    pairs[value] = static_cast<std::uint16_t>(
        std::endian::native == std::endian::little ? (second << 8) | first : (first << 8) | second);
  }
  return pairs;
}();

inline void StorePair(char* out, unsigned value) { std::memcpy(out, &kPairs[value], 2); }

// Four characters of one complete three-byte group.
inline char* EncodeGroup(const unsigned char* in, char* out) {
  const unsigned group = (unsigned{in[0]} << 16) | (unsigned{in[1]} << 8) | in[2];
  StorePair(out, group >> 12);
  StorePair(out + 2, group & 0xFFF);
  return out + 4;
}

// Eight characters of two complete groups, read with one load: the caller
// guarantees that eight bytes can be read at in, of which six are encoded.
inline char* EncodeTwoGroups(const unsigned char* in, char* out) {
  std::uint64_t word;
  std::memcpy(&word, in, sizeof word);
  if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
  StorePair(out, static_cast<unsigned>(word >> 52));
  StorePair(out + 2, static_cast<unsigned>(word >> 40) & 0xFFF);
  StorePair(out + 4, static_cast<unsigned>(word >> 28) & 0xFFF);
  StorePair(out + 6, static_cast<unsigned>(word >> 16) & 0xFFF);
  return out + 8;
}

// The complete groups of [in, in + length), then the padded tail.
char* EncodeRun(const unsigned char* in, std::size_t length, char* out) {
  const unsigned char* const end = in + length;
  for (; end - in >= 8; in += 6) out = EncodeTwoGroups(in, out);
  for (; end - in >= 3; in += 3) out = EncodeGroup(in, out);
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

// The first 48 bytes of a body line, 64 characters, two groups at a time.
char* EncodeLineStart(const unsigned char* in, char* out) {
  for (std::size_t i = 0; i < 48; i += 6) out = EncodeTwoGroups(in + i, out);
  return out;
}

#ifdef MAILSENDER_BASE64_SSSE3
// The same with SSSE3, twelve bytes at a time: each group's four 6-bit values
// are moved into bytes of their own with a shuffle and two multiplications,
// and each value is turned into its character by adding the offset of its
// range of the alphabet (A-Z, a-z, 0-9, "+", "/").
__attribute__((target("ssse3"))) char* EncodeLineStartSsse3(const unsigned char* in, char* out) {
  const __m128i spread = _mm_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10);
  const __m128i offsets = _mm_setr_epi8('a' - 26, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52,
                                        '0' - 52, '0' - 52, '0' - 52, '0' - 52, '0' - 52, '+' - 62,
                                        '/' - 63, 'A', 0, 0);
  for (int block = 0; block < 4; ++block, in += 12, out += 16) {
    // Sixteen bytes are read and twelve used: the line holds 57.
    const __m128i bytes =
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)), spread);
    const __m128i high = _mm_mulhi_epu16(_mm_and_si128(bytes, _mm_set1_epi32(0x0FC0FC00)),
                                         _mm_set1_epi32(0x04000040));
    const __m128i low = _mm_mullo_epi16(_mm_and_si128(bytes, _mm_set1_epi32(0x003F03F0)),
                                        _mm_set1_epi32(0x01000010));
    const __m128i values = _mm_or_si128(high, low);
    // 0 for A-Z, 1 for a-z, 2 to 11 for the digits, 12 and 13 for "+" and "/".
    __m128i range = _mm_subs_epu8(values, _mm_set1_epi8(51));
    range = _mm_or_si128(range, _mm_and_si128(_mm_cmpgt_epi8(_mm_set1_epi8(26), values),
                                              _mm_set1_epi8(13)));
    const __m128i characters = _mm_add_epi8(values, _mm_shuffle_epi8(offsets, range));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), characters);
  }
  return out;
}
#endif

using LineStartEncoder = char* (*)(const unsigned char*, char*);

LineStartEncoder ChooseLineStartEncoder() {
#ifdef MAILSENDER_BASE64_SSSE3
  if (__builtin_cpu_supports("ssse3")) return EncodeLineStartSsse3;
#endif
  return EncodeLineStart;
}

// The body lines of the whole lines of [in, in + lines * 57).
char* EncodeLines(const unsigned char* in, std::size_t lines, char* out) {
  static const LineStartEncoder encodeLineStart = ChooseLineStartEncoder();
  for (const unsigned char* const end = in + lines * kLineInput; in != end; in += kLineInput) {
    // 57 bytes: 48, then a double group whose load ends inside the line, and
    // one group.
    out = encodeLineStart(in, out);
    out = EncodeTwoGroups(in + 48, out);
    out = EncodeGroup(in + 54, out);
    out = WriteLineBreak(out);
  }
  return out;
}

// The body's form of the last bytes of a body: its lines, the short last
// line, and the closing line break.
char* EncodeBodyEnd(std::string_view bytes, char* out) {
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t lines = bytes.size() / kLineInput;
  out = EncodeLines(in, lines, out);
  out = EncodeRun(in + lines * kLineInput, bytes.size() % kLineInput, out);
  return WriteLineBreak(out);
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
  if (lineBreaks) {
    EncodeBodyEnd(bytes, result.data());
  } else {
    EncodeRun(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), result.data());
  }
  return result;
}

BodyEncoder::BodyEncoder(std::string_view body)
    : rest_(body), piece_(Base64EncodedLength(std::min(body.size(), kPieceInput), true), '\0') {}

std::string_view BodyEncoder::Next() {
  if (done_) return {};
  if (rest_.size() <= kPieceInput) {
    done_ = true;
    const char* end = EncodeBodyEnd(rest_, piece_.data());
    return {piece_.data(), static_cast<std::size_t>(end - piece_.data())};
  }
  const char* end = EncodeLines(reinterpret_cast<const unsigned char*>(rest_.data()),
                                kPieceInput / kLineInput, piece_.data());
  rest_.remove_prefix(kPieceInput);
  return {piece_.data(), static_cast<std::size_t>(end - piece_.data())};
}

}  // namespace smtp
