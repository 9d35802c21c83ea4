#include "mail_message.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <ctime>
#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "base64.h"
#include "date_value.h"
#include "local_time.h"
#ifndef _WIN32
#include "python_decode.h"
#endif

namespace smtp {
namespace {

constexpr char kDate[] = "Tue, 09 Dec 2025 21:16:00 +0800";

// A message whose Date line does not move.
class FixedDateMessage : public MailMessage {
 protected:
  TextValue DateValue() const override { return kDate; }
};

struct BlockCase {
  const char* name;
  MailAddress from;
  RecipientList to;
  RecipientList cc;
  RecipientList bcc;
  const char* subject;
  const char* body;
  MailAddress replyTo;
  const char* expected;
};

const BlockCase kBlockCases[] = {
    {"ReplyToWithoutCc",
     {"", "me@x"},
     {{"", "a1@x"}, {"Ann", "b2@x"}},
     {},
     {{"", "hidden@x"}},
     "100%s %d \"done\"",
     "hello",
     {"", "me@x"},
     "From: me@x\r\n"
     "To: a1@x,Ann <b2@x>\r\n"
     "Subject: 100%s %d \"done\"\r\n"
     "Date: Tue, 09 Dec 2025 21:16:00 +0800\r\n"
     "Reply-To: me@x\r\n"
     "MIME-Version: 1.0\r\n"
     "Content-type: text/plain; charset=\"us-ascii\"\r\n"
     "Content-Transfer-Encoding: base64\r\n"
     "\r\n"},
    {"CcWithoutReplyToAndEmptyFrom",
     {},
     {{"", "a1@x"}},
     {{"", "c1@x"}, {"", "c2@x"}},
     {},
     "",
     "中文",  // GBK bytes, so the body is labelled gb2312
     {},
     "From: \r\n"
     "To: a1@x\r\n"
     "Cc: c1@x,c2@x\r\n"
     "Subject: \r\n"
     "Date: Tue, 09 Dec 2025 21:16:00 +0800\r\n"
     "MIME-Version: 1.0\r\n"
     "Content-type: text/plain; charset=\"gb2312\"\r\n"
     "Content-Transfer-Encoding: base64\r\n"
     "\r\n"},
    {"ChineseNamesAndSubject",
     {"张三", "me@x"},
     {{"李四", "a1@x"}},
     {{"Lee, Ann", "c1@x"}},
     {},
     "中文主题",
     "",
     {"张三", "me@x"},
     "From: =?gb2312?B?1cXI/Q==?= <me@x>\r\n"    // 张三
     "To: =?gb2312?B?wO7LxA==?= <a1@x>\r\n"      // 李四
     "Cc: Lee, Ann <c1@x>\r\n"
     "Subject: =?gb2312?B?1tDOxNb3zOI=?=\r\n"    // 中文主题
     "Date: Tue, 09 Dec 2025 21:16:00 +0800\r\n"
     "Reply-To: =?gb2312?B?1cXI/Q==?= <me@x>\r\n"  // 张三
     "MIME-Version: 1.0\r\n"
     "Content-type: text/plain; charset=\"us-ascii\"\r\n"
     "Content-Transfer-Encoding: base64\r\n"
     "\r\n"},
};

FixedDateMessage MessageOf(const BlockCase& c) {
  FixedDateMessage message;
  message.from = c.from;
  message.to = c.to;
  message.cc = c.cc;
  message.bcc = c.bcc;
  message.subject = c.subject;
  message.body = c.body;
  message.replyTo = c.replyTo;
  return message;
}

TEST(BuildHeaderBlock, WholeBlocks) {
  for (const BlockCase& c : kBlockCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(MessageOf(c).BuildHeaderBlock(), c.expected);
  }
}

TEST(BuildHeaderBlock, PresentMomentInTheDateLine) {
  const TextValue block = MailMessage().BuildHeaderBlock();
  const std::regex dateLine(
      "\r\nDate: (Sun|Mon|Tue|Wed|Thu|Fri|Sat), [0-3][0-9] "
      "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [0-9]{4} "
      "[0-2][0-9]:[0-5][0-9]:[0-6][0-9] [+-][0-9]{4}\r\n");
  EXPECT_TRUE(std::regex_search(block, dateLine)) << block;
}

#ifndef _WIN32
// The standard parser is the Python beside the Linux build; Wine cannot wait
// for a Linux process.
std::vector<TextValue> HeaderNames(const test_support::DecodedMail& mail) {
  std::vector<TextValue> names;
  for (const auto& [name, value] : mail.headers) names.push_back(name);
  return names;
}

TEST(BuildHeaderBlock, ChineseTextDecodesBackInAStandardParser) {
  FixedDateMessage message;
  message.from = {"张三", "me@x"};
  message.to = {{"李四", "a1@x"}, {"", "b2@x"}};
  // 35 characters, sent as two encoded words on folded lines.
  message.subject = "关于下周一上午十点在三楼会议室召开项目进度讨论会的通知请各位准时参加。";
  message.body = "你好，\r\n这是一封测试邮件。\r\n";
  const std::optional<test_support::DecodedMail> mail =
      test_support::DecodeMailWithPython(message.BuildHeaderBlock() +
                                         Base64Encode(message.body, true));
  ASSERT_TRUE(mail.has_value());
  const std::vector<std::pair<TextValue, TextValue>> expected{
      {"From", "张三 <me@x>"},
      {"To", "李四 <a1@x>,b2@x"},
      {"Subject", message.subject},
      {"Date", kDate},
      {"MIME-Version", "1.0"},
      {"Content-type", "text/plain; charset=\"gb2312\""},
      {"Content-Transfer-Encoding", "base64"},
  };
  EXPECT_EQ(mail->headers, expected);
  EXPECT_EQ(mail->body, message.body);
}

TEST(BuildHeaderBlock, LineBreaksInTheSubjectAddNoHeaderLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"Hi\r\nBcc: x@y\r\n.\r\nRSET", "Hi  Bcc: x@y  .  RSET"},
      {"\n你好\rBcc: x@y\r\n", " 你好 Bcc: x@y  "},
  };
  for (const auto& [subject, oneLine] : cases) {
    SCOPED_TRACE(subject);
    FixedDateMessage message;
    message.to = {{"", "a1@x"}};
    message.subject = subject;
    const std::optional<test_support::DecodedMail> mail =
        test_support::DecodeMailWithPython(message.BuildHeaderBlock());
    ASSERT_TRUE(mail.has_value());
    EXPECT_EQ(HeaderNames(*mail),
              (std::vector<TextValue>{"From", "To", "Subject", "Date", "MIME-Version",
                                      "Content-type", "Content-Transfer-Encoding"}));
    ASSERT_EQ(mail->headers.size(), 7u);
    EXPECT_EQ(mail->headers[2].second, oneLine);
  }
}

#endif  // _WIN32

struct ZoneCase {
  int offsetMinutes;
  const char* expected;
};

TEST(FormatDateValue, NamesAndZone) {
  const ZoneCase cases[] = {
      {480, "Tue, 09 Dec 2025 21:16:00 +0800"},
      {330, "Tue, 09 Dec 2025 21:16:00 +0530"},
      {-210, "Tue, 09 Dec 2025 21:16:00 -0330"},
      {0, "Tue, 09 Dec 2025 21:16:00 +0000"},
      {-240, "Tue, 09 Dec 2025 21:16:00 -0400"},  // five hours behind, daylight saving in force
      {-45, "Tue, 09 Dec 2025 21:16:00 -0045"},
  };
  for (const ZoneCase& c : cases) {
    platform::LocalMoment moment{2025, 12, 9, 2, 21, 16, 0, c.offsetMinutes};
    EXPECT_EQ(FormatDateValue(moment), c.expected);
  }
  EXPECT_EQ(FormatDateValue({987, 1, 2, 0, 3, 4, 5, 0}), "Sun, 02 Jan 0987 03:04:05 +0000");
  EXPECT_EQ(FormatDateValue({2024, 7, 31, 6, 23, 59, 59, 60}), "Sat, 31 Jul 2024 23:59:59 +0100");
}

#ifndef _WIN32
// TZ rules are POSIX; the Windows build checks its zone bias in tests/win32.
// Sets TZ for one test and puts the old value back.
class TimeZoneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = getenv("TZ")) saved_ = old;
  }
  void TearDown() override {
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  void Use(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
  }

 private:
  std::optional<std::string> saved_;
};

TEST_F(TimeZoneTest, CurrentLocalMomentCarriesTheOffsetInForce) {
  const std::pair<const char*, int> zones[] = {
      {"UTC0", 0},
      {"IST-5:30", 330},
      {"NST3:30", -210},
      // Daylight time all year: three hours behind, one hour of saving on top.
      {"AAA3BBB,J1/0,J365/25", -120},
  };
  for (const auto& [zone, offset] : zones) {
    SCOPED_TRACE(zone);
    Use(zone);
    const std::time_t before = std::time(nullptr);
    const platform::LocalMoment moment = platform::CurrentLocalMoment();
    const std::time_t after = std::time(nullptr);
    EXPECT_EQ(moment.utcOffsetMinutes, offset);
    // The broken-down fields, taken back to UTC, give the moment read.
    std::tm fields{};
    fields.tm_year = moment.year - 1900;
    fields.tm_mon = moment.month - 1;
    fields.tm_mday = moment.day;
    fields.tm_hour = moment.hour;
    fields.tm_min = moment.minute;
    fields.tm_sec = moment.second;
    const std::time_t utc = timegm(&fields) - moment.utcOffsetMinutes * 60;
    EXPECT_GE(utc, before);
    EXPECT_LE(utc, after);
    EXPECT_EQ(fields.tm_wday, moment.weekday);
  }
}

#endif  // _WIN32

}  // namespace
}  // namespace smtp
