#include "base64.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace smtp {
namespace {

struct KnownAnswer {
  const char* input;
  const char* unbroken;
  const char* broken;
};

// RFC 4648, section 10.
const KnownAnswer kVectors[] = {
    {"", "", "\r\n"},
    {"f", "Zg==", "Zg==\r\n"},
    {"fo", "Zm8=", "Zm8=\r\n"},
    {"foo", "Zm9v", "Zm9v\r\n"},
    {"foob", "Zm9vYg==", "Zm9vYg==\r\n"},
    {"fooba", "Zm9vYmE=", "Zm9vYmE=\r\n"},
    {"foobar", "Zm9vYmFy", "Zm9vYmFy\r\n"},
};

TEST(Base64Encode, Rfc4648Vectors) {
  for (const KnownAnswer& v : kVectors) {
    SCOPED_TRACE(v.input);
    EXPECT_EQ(Base64Encode(v.input, false), v.unbroken);
    EXPECT_EQ(Base64Encode(v.input, true), v.broken);
  }
}

TEST(Base64Encode, HighBytesAndZeroBytes) {
  const std::string bytes("\xFF\xFE\x00\x80\xFB\xEF", 6);
  EXPECT_EQ(Base64Encode(bytes, false), "//4AgPvv");
  EXPECT_EQ(Base64Encode("\xD6\xD0\xCE\xC4", false), "1tDOxA==");  // 中文
}

std::string WithoutLineBreaks(std::string text) {
  std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
  return text;
}

TEST(Base64Encode, BodyLinesHold76Characters) {
  const std::string line(76, 'A');  // 57 zero bytes encode to 76 "A"
  struct LineCase {
    std::size_t length;
    std::string expected;
  };
  const LineCase cases[] = {
      {56, std::string(72, 'A') + "AAA=\r\n"},
      {57, line + "\r\n\r\n"},
      {58, line + "\r\nAA==\r\n"},
      {59, line + "\r\nAAA=\r\n"},
      {114, line + "\r\n" + line + "\r\n\r\n"},
      {115, line + "\r\n" + line + "\r\nAA==\r\n"},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.length);
    const std::string input(c.length, '\0');
    EXPECT_EQ(Base64Encode(input, true), c.expected);
    EXPECT_EQ(Base64Encode(input, false), WithoutLineBreaks(c.expected));
  }
}

// Strict decoder of the broken form: the text is lines each ended by CR LF,
// every one but the last of 76 characters and the last shorter.
std::string DecodeBodyForm(const std::string& text) {
  static const std::string kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string joined;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) ADD_FAILURE() << "unterminated line at " << at;
    if (end == std::string::npos) return {};
    const bool last = end + 2 == text.size();
    EXPECT_TRUE(last ? end - at < 76 : end - at == 76) << "line at " << at;
    joined.append(text, at, end - at);
    at = end + 2;
  }
  std::string bytes;
  for (std::size_t i = 0; i + 4 <= joined.size(); i += 4) {
    unsigned group = 0;
    int pads = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      const char c = joined[i + k];
      pads += c == '=';
      group = group << 6 | (c == '=' ? 0 : static_cast<unsigned>(kAlphabet.find(c)));
    }
    bytes += static_cast<char>(group >> 16);
    if (pads < 2) bytes += static_cast<char>(group >> 8 & 0xFF);
    if (pads < 1) bytes += static_cast<char>(group & 0xFF);
  }
  return bytes;
}

TEST(Base64Encode, LargeRandomBodyDecodesBack) {
  std::mt19937 random(20251209);
  std::uniform_int_distribution<int> byte(0, 255);
  for (const std::size_t length : {std::size_t{57 * 1000}, std::size_t{1 << 20} + 1}) {
    SCOPED_TRACE(length);
    std::string input(length, '\0');
    for (char& c : input) c = static_cast<char>(byte(random));
    const std::string encoded = Base64Encode(input, true);
    EXPECT_EQ(encoded.size(), Base64EncodedLength(length, true));
    EXPECT_EQ(DecodeBodyForm(encoded), input);
    EXPECT_EQ(Base64Encode(input, false), WithoutLineBreaks(encoded));
  }
}

std::string AllPieces(std::string_view body) {
  BodyEncoder encoder(body);
  std::string joined;
  for (std::string_view piece = encoder.Next(); !piece.empty(); piece = encoder.Next())
    joined += piece;
  return joined;
}

TEST(BodyEncoder, PiecesMakeTheBodyForm) {
  std::string input;
  for (std::size_t length = 0; length <= 2 * 57 + 7; ++length) {
    SCOPED_TRACE(length);
    EXPECT_EQ(AllPieces(input), Base64Encode(input, true));
    input += static_cast<char>(0xF0 ^ length);
  }
  constexpr std::size_t kPiece = BodyEncoder::kPieceInput;
  for (const std::size_t length : {kPiece - 1, kPiece, kPiece + 1, 2 * kPiece + 58}) {
    SCOPED_TRACE(length);
    input.assign(length, '\0');
    for (std::size_t i = 0; i < length; ++i) input[i] = static_cast<char>(i * 131 + (i >> 9));
    EXPECT_EQ(AllPieces(input), Base64Encode(input, true));
  }
}

TEST(BodyEncoder, EveryPieceButTheLastEndsALine) {
  const std::string input(2 * BodyEncoder::kPieceInput + 1, 'x');
  BodyEncoder encoder(input);
  std::vector<std::size_t> sizes;
  for (std::string_view piece = encoder.Next(); !piece.empty(); piece = encoder.Next()) {
    EXPECT_TRUE(piece.ends_with("\r\n"));
    sizes.push_back(piece.size());
  }
  // 16,384 lines of 78 characters twice, then "eA==" and the closing line break.
  EXPECT_EQ(sizes, (std::vector<std::size_t>{16384 * 78, 16384 * 78, 6}));
}

}  // namespace
}  // namespace smtp
