#include "text_codec.h"

#include <iconv.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace platform {
namespace {

// glibc's CP936 is the Windows code page 936 (0x80 is the euro sign).
constexpr const char* kGbkName = "CP936";
constexpr char32_t kReplacement = 0xFFFD;  // GBK has no such character

// One conversion descriptor per thread and direction, opened on first use.
// A character that fails, fails in the first step of glibc's converter (GBK
// to its internal form, or that form to GBK), which is cheap: a failure in a
// later step makes glibc convert the text before it again.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (Valid()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool Valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Appends input, converted, to out. At every unit that cannot be converted
  // (unitSize bytes, or what is left of a cut-off one) it appends replacement
  // instead. The output grows geometrically, so the work is linear.
  void Append(std::string_view input, std::size_t unitSize, std::string_view replacement,
              std::string& out) {
    if (!Valid()) return;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::size_t used = out.size();
    out.resize(used + input.size() + kSlack);
    char* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size();
    while (inLeft > 0) {
      if (out.size() - used < kSlack) out.resize(out.size() * 2);
      char* dst = out.data() + used;
      std::size_t dstLeft = out.size() - used;
      const std::size_t rc = iconv(cd_, &in, &inLeft, &dst, &dstLeft);
      used = out.size() - dstLeft;
      if (rc != static_cast<std::size_t>(-1)) break;
      if (errno == E2BIG) {
        out.resize(out.size() * 2);
        continue;
      }
      // EILSEQ, or EINVAL for a unit cut off by the end of the input.
      if (out.size() - used < kSlack) out.resize(out.size() * 2);
      out.replace(used, replacement.size(), replacement);
      used += replacement.size();
      const std::size_t skipped = unitSize < inLeft ? unitSize : inLeft;
      in += skipped;
      inLeft -= skipped;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    out.resize(used);
  }

 private:
  static constexpr std::size_t kSlack = 16;  // more than any one character's bytes
  iconv_t cd_;
};

// Decodes the UTF-8 character at the start of rest (not empty) and moves rest
// past it. An ill-formed sequence gives U+FFFD for its longest well-formed
// prefix, at least one byte, so one bad character gives one replacement.
char32_t NextCodePoint(std::string_view& rest) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(rest[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 1;
  char32_t codePoint = lead;
  unsigned char low = 0x80, high = 0xBF;  // range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    codePoint = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    codePoint = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else if (lead >= 0x80) {
    rest.remove_prefix(1);
    return kReplacement;
  }
  std::size_t i = 1;
  for (; i < length && i < rest.size(); ++i) {
    const unsigned char b = byte(i);
    if (i == 1 ? (b < low || b > high) : (b < 0x80 || b > 0xBF)) break;
    codePoint = (codePoint << 6) | (b & 0x3F);
  }
  rest.remove_prefix(i);
  return i == length ? codePoint : kReplacement;
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
  thread_local Converter converter("UTF-8", kGbkName);
  // An undecodable byte is replaced on its own, so a valid character after
  // it (an ASCII byte after a lone lead byte) is kept.
  std::string out;
  converter.Append(gbk, 1, "\xEF\xBF\xBD", out);
  return out;
}

std::string Utf8ToGbk(std::string_view utf8) {
  // glibc's WCHAR_T is its own internal UCS-4, one step from GBK. The text
  // is decoded here, a block at a time, into that form.
  thread_local Converter converter(kGbkName, "WCHAR_T");
  static_assert(sizeof(wchar_t) == sizeof(char32_t));
  std::string out;
  out.reserve(utf8.size());
  char32_t block[1024];
  while (!utf8.empty()) {
    std::size_t count = 0;
    while (count < std::size(block) && !utf8.empty()) block[count++] = NextCodePoint(utf8);
    converter.Append(std::string_view(reinterpret_cast<const char*>(block), count * sizeof(char32_t)),
                     sizeof(char32_t), "?", out);
  }
  return out;
}

}  // namespace platform
