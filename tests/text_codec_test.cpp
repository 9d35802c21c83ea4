#include "text_codec.h"

#include <gtest/gtest.h>

#include <string>

#include "file_fixtures.h"

namespace {

// Narrow literals here are GBK; u8 literals give the UTF-8 bytes.
struct BothWays {
  const char* name;
  std::string gbk;
  std::string utf8;
};

TEST(TextCodecTest, ConvertsRepresentableTextsBothWays) {
  const BothWays cases[] = {
      {"empty", "", ""},
      {"ascii", "Hello, World! 0123 ~\t\r\n", "Hello, World! 0123 ~\t\r\n"},
      {"chinese", "邮件发送配置", Utf8(u8"邮件发送配置")},
      {"mixed", "账号: user@例子.com", Utf8(u8"账号: user@例子.com")},
      {"euro sign of code page 936", "\x80", Utf8(u8"€")},
      {"ideographic space", "\xA1\xA1", Utf8(u8"\u3000")},
      {"nul byte kept", std::string("a\0b", 3), std::string("a\0b", 3)},
  };
  for (const BothWays& c : cases) {
    EXPECT_EQ(platform::GbkToUtf8(c.gbk), c.utf8) << c.name;
    EXPECT_EQ(platform::Utf8ToGbk(c.utf8), c.gbk) << c.name;
  }
}

struct OneWay {
  const char* name;
  std::string input;
  std::string expected;
};

TEST(TextCodecTest, Utf8ThatGbkCannotHoldBecomesOneQuestionMarkPerCharacter) {
  const OneWay cases[] = {
      {"emoji", Utf8(u8"a😀b"), "a?b"},
      {"two emoji", Utf8(u8"😀😀"), "??"},
      {"hangul among chinese", Utf8(u8"中한文"), "中?文"},
      {"replacement character", Utf8(u8"\uFFFD"), "?"},
      {"lone continuation byte", "a\x80z", "a?z"},
      {"invalid byte", "\xFF", "?"},
      {"cut three-byte sequence", "\xE4\xB8", "?"},
      {"cut sequence before ascii", "\xE4\xB8z", "?z"},
      {"overlong encoding", "\xC0\xAF", "??"},
      {"encoded surrogate", "\xED\xA0\x80", "???"},
  };
  for (const OneWay& c : cases) EXPECT_EQ(platform::Utf8ToGbk(c.input), c.expected) << c.name;
}

TEST(TextCodecTest, BytesThatAreNotGbkBecomeReplacementCharacters) {
  const std::string fffd = Utf8(u8"\uFFFD");
  const OneWay cases[] = {
      {"invalid byte", "a\xFF" "b", "a" + fffd + "b"},
      {"lead byte before ascii keeps the ascii", "\x81 x", fffd + " x"},
      {"lead byte at the end", "中\x81", Utf8(u8"中") + fffd},
      {"two invalid bytes", "\xFF\xFF", fffd + fffd},
  };
  for (const OneWay& c : cases) EXPECT_EQ(platform::GbkToUtf8(c.input), c.expected) << c.name;
}

// Long texts make the output grow many times, also between replacements.
TEST(TextCodecTest, LongTextsConvertWhole) {
  const std::string utf8Unit = Utf8(u8"中a😀"), fffd = Utf8(u8"\uFFFD");
  std::string gbk, utf8, expectedQuestionMarks, replaced;
  for (int i = 0; i < 100000; ++i) {
    gbk += "中a";
    utf8 += utf8Unit;
    expectedQuestionMarks += "中a?";
    replaced += fffd;
  }
  EXPECT_EQ(platform::Utf8ToGbk(platform::GbkToUtf8(gbk)), gbk);
  EXPECT_EQ(platform::Utf8ToGbk(utf8), expectedQuestionMarks);

  const std::string invalid(100000, '\xFF');
  EXPECT_EQ(platform::GbkToUtf8(invalid), replaced);
  EXPECT_EQ(platform::Utf8ToGbk(invalid), std::string(100000, '?'));
}

}  // namespace
