#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "commands.h"

namespace {

struct PortCase {
  std::string text;
  std::int32_t expected;
};

TEST(TextToInteger, PortTexts) {
  const PortCase cases[] = {
      {"25", 25},
      {"  25  ", 25},
      {"\t\r\n\v\f25", 25},
      {"+25", 25},
      {"25abc", 25},
      {"２５", 25},            // full-width digits
      {"　２５", 25},          // ideographic space before them
      {"＋２５", 25},          // full-width plus sign
      {"－２５", -25},         // full-width minus sign
      {"", 0},
      {"abc", 0},
      {"2 5", 2},
      {"0x19", 0},
      {"-25", -25},
      {"+-25", 0},
      {"4294967321", 25},      // 2^32 + 25 wraps around
      {"2147483648", INT32_MIN},
      {"-2147483648", INT32_MIN},
      {"99999999999", 1215752191},  // 99999999999 mod 2^32
      {"25\xA3", 25},          // a lone lead byte at the end is dropped
      {"\xA3", 0},
      {"\xA3\xB2\xA3\xB5", 25},  // ２５ as bytes
      {"\xB0\xA1" "25", 0},    // 啊25: a character that is not folded stops the digits
      {std::string("25\0" "9", 4), 25},  // the text ends at its zero byte
  };
  for (const auto& c : cases) EXPECT_EQ(app::TextToInteger(c.text), c.expected) << "text: " << c.text;
}

}  // namespace
