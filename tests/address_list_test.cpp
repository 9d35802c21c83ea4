#include "address_list.h"

#include <gtest/gtest.h>

namespace smtp {

void PrintTo(const MailAddress& mailbox, std::ostream* out) {
  *out << '{' << ::testing::PrintToString(mailbox.displayName) << ", "
       << ::testing::PrintToString(mailbox.address) << '}';
}

namespace {

struct ListCase {
  const char* text;
  bool result;
  RecipientList appended;
};

// GBK full-width space (U+3000) and a Chinese name; the file is compiled to GBK.
constexpr char kWideSpace[] = "\xA1\xA1";
const TextValue kChineseName = "张三";  // 张三

const ListCase kListCases[] = {
    {"", true, {}},
    {"a1", true, {{"", "a1"}}},
    {"a1;b2,", true, {{"", "a1"}, {"", "b2"}}},
    {"a1 b2", true, {{"", "a1 b2"}}},
    {"a1,a1", true, {{"", "a1"}, {"", "a1"}}},
    {",;,", true, {}},
    {"Ann <a1>", true, {{"Ann", "a1"}}},
    {"<a1>", true, {{"", "a1"}}},
    {"\"Ann Lee\" <a1>", true, {{"\"Ann Lee\"", "a1"}}},
    {"Lee, Ann <a1>", true, {{"", "Lee"}, {"Ann", "a1"}}},
    {"Ann <a1> x", true, {{"Ann", "a1"}}},
    {"Ann <a1<b2>", true, {{"Ann", "a1<b2"}}},
    {"Ann <>", true, {}},
    {"Ann <a1", false, {}},
    {"x>y <a1>", false, {}},
    {"a1, Ann <b2, c3", false, {{"", "a1"}}},
    // Blanks around pieces and just inside the brackets are trimmed.
    {" \t\r\na1\r\n ; \v\fAnn\t< a1 \r\n>", true, {{"", "a1"}, {"Ann", "a1"}}},
    {"  \t ,\r\n", true, {}},
    // Separators split even inside quotation marks and brackets.
    {"\"Lee;Ann\" <a1>", true, {{"", "\"Lee"}, {"Ann\"", "a1"}}},
    {"Ann <a1,b2>", false, {}},
    // A line break that survives trimming could end a command line.
    {"a1\r\nRCPT TO:<b2>", false, {}},
    {"Ann\nLee <a1>", false, {}},
    {"Ann <a1\rb2>", false, {}},
    {"a1, b2\n c3", false, {{"", "a1"}}},
};

TEST(ParseAddressList, KnownLists) {
  for (const ListCase& c : kListCases) {
    SCOPED_TRACE(c.text);
    RecipientList target;
    EXPECT_EQ(ParseAddressList(c.text, target), c.result);
    EXPECT_EQ(target, c.appended);
  }
}

TEST(ParseAddressList, AppendsAfterWhatTheListHolds) {
  RecipientList target{{"Old", "o1"}};
  EXPECT_TRUE(ParseAddressList("a1", target));
  EXPECT_EQ(target, (RecipientList{{"Old", "o1"}, {"", "a1"}}));
  EXPECT_FALSE(ParseAddressList("b2, <c3", target));
  EXPECT_EQ(target, (RecipientList{{"Old", "o1"}, {"", "a1"}, {"", "b2"}}));
}

TEST(ParseAddressList, KeepsGbkTextByteForByte) {
  const TextValue spaced = std::string(kWideSpace) + "a1" + kWideSpace;  // "　a1　"
  RecipientList target;
  ASSERT_TRUE(ParseAddressList(kChineseName + " <" + spaced + ">", target));
  EXPECT_EQ(target, (RecipientList{{kChineseName, spaced}}));
}

TEST(ParseAddressList, BracketIsFoundAfterADoubleByteCharacter) {
  // 0xB0 0x3C would be a "<" if the scan did not step over characters; it
  // is not valid GBK, but the bracket after it is still the first one.
  RecipientList target;
  ASSERT_TRUE(ParseAddressList("\xB0<x <a1>", target));
  EXPECT_EQ(target, (RecipientList{{"\xB0<x", "a1"}}));
}

struct MailboxCase {
  const char* text;
  bool result;
  MailAddress mailbox;
};

// Sender and reply-to texts are one mailbox each, never split.
const MailboxCase kMailboxCases[] = {
    {"", true, {"", ""}},
    {" \t\r\n ", true, {"", ""}},
    {"Ann <>", true, {"Ann", ""}},
    {"a1, b2", true, {"", "a1, b2"}},
    {"Ann <a1>; Bob <b2>", true, {"Ann", "a1"}},
    {"\tAnn Lee \r\n< a1 >\r\n", true, {"Ann Lee", "a1"}},
    {"Ann <a1", false, {}},
    {"a1\r\n", true, {"", "a1"}},
    {"a1\r\nDATA", false, {}},
    {"Ann\r\nX-Injected: 1 <a1>", false, {}},
};

TEST(ParseMailbox, SenderTexts) {
  for (const MailboxCase& c : kMailboxCases) {
    SCOPED_TRACE(c.text);
    MailAddress mailbox;
    ASSERT_EQ(ParseMailbox(c.text, mailbox), c.result);
    if (c.result) {
      EXPECT_EQ(mailbox, c.mailbox);
    }
  }
}

}  // namespace
}  // namespace smtp
