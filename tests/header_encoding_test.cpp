#include "header_encoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "base64.h"

namespace smtp {
namespace {

// 23 two-byte characters, 46 bytes in GBK.
const std::string kSubject23 = "二十三个汉字的主题行正好被切开在一个字符的中间";

TEST(IsAsciiText, TopBitDecides) {
  EXPECT_TRUE(IsAsciiText(""));
  EXPECT_TRUE(IsAsciiText("plain \x7F text"));
  EXPECT_FALSE(IsAsciiText("\x80"));
  EXPECT_FALSE(IsAsciiText("abc\xFF"));
  EXPECT_STREQ(CharsetLabel(""), "us-ascii");
  EXPECT_STREQ(CharsetLabel("ab\xB0\xA1"), "gb2312");  // "ab啊"
}

// The encoded words of text cut into pieces of the given byte sizes.
std::string Words(const std::string& text, const std::vector<std::size_t>& sizes) {
  std::string words;
  std::size_t at = 0;
  for (const std::size_t size : sizes) {
    if (at != 0) words += "\r\n ";
    words += "=?gb2312?B?" + Base64Encode(text.substr(at, size), false) + "?=";
    at += size;
  }
  return words;
}

struct WordCase {
  std::string text;
  std::vector<std::size_t> sizes;
};

const WordCase kWordCases[] = {
    // Single bytes of 0x80 start no character, so each halving falls where it is.
    {std::string(1, '\x80'), {1}},
    {std::string(45, '\x80'), {45}},
    {std::string(46, '\x80'), {23, 23}},
    {std::string(90, '\x80'), {45, 45}},
    {std::string(91, '\x80'), {45, 23, 23}},
    {std::string(100, '\x80'), {25, 25, 25, 25}},
    {std::string(181, '\x80'), {45, 45, 45, 23, 23}},
    // The cut at byte 23 would split the twelfth character: it moves to its start.
    {kSubject23, {22, 24}},
    // Characters are counted from the start: after one ASCII byte, byte 23
    // begins a character, so the cut stays.
    {"a" + kSubject23.substr(0, 44) + "b", {23, 23}},
    {"ab" + kSubject23.substr(0, 44), {22, 24}},
    // A lead byte pairs with whatever follows it, even an ASCII byte.
    {std::string(22, '\x80') + "\xB0x" + std::string(22, '\x80'), {22, 24}},
};

TEST(EncodeHeaderText, WordSizes) {
  for (const WordCase& c : kWordCases) {
    SCOPED_TRACE(c.text.size());
    ASSERT_EQ(std::accumulate(c.sizes.begin(), c.sizes.end(), std::size_t{0}), c.text.size());
    const std::string encoded = EncodeHeaderText(c.text);
    EXPECT_EQ(encoded, Words(c.text, c.sizes));
    for (std::size_t at = 0; at < encoded.size();) {
      const std::size_t end = std::min(encoded.find("\r\n ", at), encoded.size());
      EXPECT_LE(end - at, 75u) << "word at " << at;
      at = end + 3;
    }
  }
}

TEST(EncodeHeaderText, SplitSubjectKeepsWholeCharacters) {
  // 11 characters, then the 12 after them on a folded line.
  EXPECT_EQ(EncodeHeaderText(kSubject23),
            "=?gb2312?B?tv7Krsj9uPa6utfWtcTW98zi0NDV/Q==?=\r\n"  // 二十三个汉字的主题行正
            " =?gb2312?B?usOxu8fQv6rU2tK7uPbX1rf7tcTW0Lzk?=");  // 好被切开在一个字符的中间
}

TEST(EncodeHeaderText, AsciiIsNeverEncodedOrFolded) {
  std::string subject;
  while (subject.size() < 200) subject += "Re: 100% \"done\", <ok>; ";
  subject.resize(200);
  EXPECT_EQ(EncodeHeaderText(subject), subject);
  EXPECT_EQ(EncodeHeaderText(""), "");
}

TEST(FormatMailbox, Forms) {
  EXPECT_EQ(FormatMailbox({"", "a1@x"}), "a1@x");
  EXPECT_EQ(FormatMailbox({"\"Lee, Ann\"", "a1@x"}), "\"Lee, Ann\" <a1@x>");
  EXPECT_EQ(FormatMailbox({"张三", "a1@x"}), "=?gb2312?B?1cXI/Q==?= <a1@x>");  // 张三
  EXPECT_EQ(FormatMailbox({}), "");
}

TEST(FormatMailboxList, JoinedByCommaAlone) {
  EXPECT_EQ(FormatMailboxList({}), "");
  EXPECT_EQ(FormatMailboxList({{"", "a1"}}), "a1");
  EXPECT_EQ(FormatMailboxList({{"", "a1"}, {"Ann", "b2"}, {"李四", "c3"}}),
            "a1,Ann <b2>,=?gb2312?B?wO7LxA==?= <c3>");  // 李四
}

}  // namespace
}  // namespace smtp
