// The session against a real SMTP server (aiosmtpd): logins with each AUTH
// method, and Chinese mail decoded again by Python's email package.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "aiosmtpd_server.h"
#include "smtp_session.h"

namespace {

using smtp::SmtpSession;
using test_support::AiosmtpdServer;

constexpr const char* kUser = "tester@example.com";
constexpr const char* kPassword = "pass word:1";
constexpr std::uint32_t kTimeoutMs = 2000;

std::string Utf8(std::u8string_view text) { return std::string(text.begin(), text.end()); }

// A text as the program holds it (GBK literals) and as the decoder returns it.
struct Text {
  std::string gbk;
  std::string utf8;
};

Text Join(std::initializer_list<Text> parts) {
  Text joined;
  for (const Text& part : parts) {
    joined.gbk += part.gbk;
    joined.utf8 += part.utf8;
  }
  return joined;
}

Text Ascii(const std::string& text) { return {text, text}; }

// Numbered Chinese lines until the GBK text holds at least minimumBytes.
Text LongBody(std::size_t minimumBytes) {
  const Text line = {"行：这是一封很长的中文测试邮件，用来检查正文的编码与换行。\r\n",
                     Utf8(u8"行：这是一封很长的中文测试邮件，用来检查正文的编码与换行。\r\n")};
  Text body;
  for (int number = 1; body.gbk.size() < minimumBytes; ++number) {
    const std::string digits = std::to_string(number);
    body.gbk += "第" + digits + line.gbk;
    body.utf8 += Utf8(u8"第") + digits + line.utf8;
  }
  return body;
}

// Folded into several encoded words: longer than 45 bytes in GBK.
const Text kSubject = {"中文主题：检查真实服务器收到的邮件标题能否完整往返（SMTP）",
                       Utf8(u8"中文主题：检查真实服务器收到的邮件标题能否完整往返（SMTP）")};
const Text kSender = {"张三 <zhangsan@example.com>", Utf8(u8"张三 <zhangsan@example.com>")};

struct Method {
  const char* name;
  std::vector<std::string> excluded;  // what the server must not offer
};

void PrintTo(const Method& method, std::ostream* os) { *os << method.name; }

class InteropLoginTest : public ::testing::TestWithParam<Method> {};

TEST_P(InteropLoginTest, LogsInAndDeliversChineseMailToEveryRecipient) {
  AiosmtpdServer server(kUser, kPassword, GetParam().excluded);
  ASSERT_TRUE(server.started()) << server.error();
  SmtpSession session;
  ASSERT_TRUE(session.Connect("127.0.0.1", server.port(), kUser, kPassword, kTimeoutMs))
      << session.lastErrorText;
  EXPECT_TRUE(session.connected);
  EXPECT_EQ(server.LoginMethods(), std::vector<std::string>{GetParam().name});

  const Text longName = {"中华人民共和国邮政测试部门第一分部收件人",
                         Utf8(u8"中华人民共和国邮政测试部门第一分部收件人")};
  const Text to = Join({{"李四 <lisi@example.com>;", Utf8(u8"李四 <lisi@example.com>, ")},
                        Ascii("Wang Wu <wangwu@example.com>,"), longName,
                        Ascii(" <long@example.net>")});
  const Text cc = {"赵六 <zhaoliu@example.org>", Utf8(u8"赵六 <zhaoliu@example.org>")};
  const Text replyTo = {"回复 <reply@example.com>", Utf8(u8"回复 <reply@example.com>")};
  const Text body = LongBody(100 * 1024);

  EXPECT_EQ(session.SendMail(kSubject.gbk, body.gbk, to.gbk, cc.gbk, "hidden@example.com",
                             kSender.gbk, replyTo.gbk),
            "");
  ASSERT_EQ(server.MessageCount(), 1);
  auto mail = server.DecodeMessage(1);
  ASSERT_FALSE(mail.empty());
  EXPECT_EQ(mail["subject"], kSubject.utf8);
  EXPECT_EQ(mail["from"], kSender.utf8);
  // The decoder joins mailboxes with ", "; ASCII pieces appear as sent.
  EXPECT_EQ(mail["to"], Utf8(u8"李四 <lisi@example.com>, Wang Wu <wangwu@example.com>, ") +
                            longName.utf8 + " <long@example.net>");
  EXPECT_EQ(mail["cc"], cc.utf8);
  EXPECT_EQ(mail["reply_to"], replyTo.utf8);
  EXPECT_EQ(mail["charset"], "gb2312");
  EXPECT_EQ(mail["body"], body.utf8);
  EXPECT_EQ(mail["headers"],
            "From,To,Cc,Subject,Date,Reply-To,MIME-Version,Content-type,"
            "Content-Transfer-Encoding");
  EXPECT_EQ(mail["mail_from"], "zhangsan@example.com");
  EXPECT_EQ(mail["rcpt_tos"],
            "lisi@example.com,wangwu@example.com,long@example.net,zhaoliu@example.org,"
            "hidden@example.com");
  session.Disconnect();
  EXPECT_FALSE(session.connected);
}

TEST_P(InteropLoginTest, WrongPasswordFailsTheConnect) {
  AiosmtpdServer server(kUser, kPassword, GetParam().excluded);
  ASSERT_TRUE(server.started()) << server.error();
  SmtpSession session;
  EXPECT_FALSE(session.Connect("127.0.0.1", server.port(), kUser, "wrong", kTimeoutMs));
  EXPECT_EQ(session.lastErrorText, "登录指定SMTP邮件服务器“127.0.0.1”失败!");
  EXPECT_FALSE(session.connected);
  EXPECT_FALSE(session.channel.IsOpen());
  EXPECT_TRUE(server.LoginMethods().empty());
}

INSTANTIATE_TEST_SUITE_P(Methods, InteropLoginTest,
                         ::testing::Values(Method{"LOGIN", {}}, Method{"PLAIN", {"LOGIN"}}),
                         [](const auto& info) { return std::string(info.param.name); });

// The application's path: the process's session, a host name, the four
// argument SendMail twice on one connection, reply-to the sender.
TEST(InteropProcessSessionTest, SendsTwiceOnOneConnectionWithReplyToTheSender) {
  AiosmtpdServer server(kUser, kPassword);
  ASSERT_TRUE(server.started()) << server.error();
  ASSERT_TRUE(smtp::ConnectSmtpServer("localhost", server.port(), kUser, kPassword))
      << smtp::ProcessSession().lastErrorText;

  const Text short1 = {"第一封：你好", Utf8(u8"第一封：你好")};
  const Text short2 = {"第二封：再见", Utf8(u8"第二封：再见")};
  EXPECT_EQ(smtp::SendMail(short1.gbk, short1.gbk, "a@example.com", kSender.gbk), "");
  EXPECT_EQ(smtp::SendMail(short2.gbk, "plain ASCII body\r\n", "b@example.com;c@example.com",
                           kSender.gbk),
            "");
  smtp::ProcessSession().Disconnect();

  ASSERT_EQ(server.MessageCount(), 2);
  auto first = server.DecodeMessage(1);
  auto second = server.DecodeMessage(2);
  EXPECT_EQ(first["subject"], short1.utf8);
  EXPECT_EQ(first["body"], short1.utf8);
  EXPECT_EQ(first["reply_to"], kSender.utf8);
  EXPECT_EQ(first["rcpt_tos"], "a@example.com");
  EXPECT_EQ(second["subject"], short2.utf8);
  EXPECT_EQ(second["charset"], "us-ascii");
  EXPECT_EQ(second["body"], "plain ASCII body\r\n");
  EXPECT_EQ(second["to"], "b@example.com, c@example.com");
  EXPECT_EQ(second["reply_to"], kSender.utf8);
  EXPECT_EQ(second["rcpt_tos"], "b@example.com,c@example.com");
  EXPECT_EQ(second["headers"],
            "From,To,Subject,Date,Reply-To,MIME-Version,Content-type,Content-Transfer-Encoding");
}

}  // namespace
