// SendMail and the mail transaction against the scripted server.
#include <gtest/gtest.h>

#include <optional>
#include <regex>
#include <set>
#include <ostream>
#include <string>
#include <vector>

#include "scripted_server.h"
#include "smtp_session.h"

namespace {

using smtp::SmtpSession;
using test_support::Script;
using test_support::ScriptedServer;

constexpr std::uint32_t kTimeoutMs = 500;

// A session opened without login: greeting and HELO.
Script Opened() { return Script().Send("220 ready\r\n").Reply("250 hello\r\n"); }

// script, then a whole accepted transaction for this many recipients.
Script Accept(Script script, int recipients) {
  script.Reply("250 sender ok\r\n");
  for (int i = 0; i < recipients; ++i) script.Reply("250 recipient ok\r\n");
  script.Reply("354 go ahead\r\n").AwaitData().Send("250 queued as 1\r\n");
  return script;
}

// An opened session whose commands get these replies, the last one a refusal
// that the RSET after it answers.
Script Refusing(std::initializer_list<const char*> replies) {
  Script script = Opened();
  for (const char* reply : replies) script.Reply(reply);
  return script.Reply("250 reset\r\n");
}

// What the client sent after its HELO line, every Date line of the right
// shape written as "Date: <date>".
std::string AfterHelo(const std::string& received) {
  static const std::regex date(
      "\r\nDate: [A-Z][a-z]{2}, [0-9]{2} [A-Z][a-z]{2} [0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} "
      "[+-][0-9]{4}\r\n");
  const std::size_t helo = received.find("\r\n");
  if (helo == std::string::npos) return received;
  return std::regex_replace(received.substr(helo + 2), date, "\r\nDate: <date>\r\n");
}

void ExpectEmptyMessage(const smtp::MailMessage& message) {
  EXPECT_EQ(message.from, smtp::MailAddress{});
  EXPECT_EQ(message.replyTo, smtp::MailAddress{});
  EXPECT_EQ(message.subject, "");
  EXPECT_EQ(message.body, "");
  EXPECT_TRUE(message.to.empty());
  EXPECT_TRUE(message.cc.empty());
  EXPECT_TRUE(message.bcc.empty());
}

struct Send {
  const char* subject;
  const char* body;
  const char* to;
  const char* cc;
  const char* bcc;
  const char* sender;
  std::optional<const char*> replyTo;
  const char* result;
};

struct SendCase {
  const char* name;
  std::optional<Script> server;  // nullopt: the session is never connected
  std::vector<Send> sends;       // run in order on one session
  const char* sent;              // what the client sent between HELO and QUIT
  const char* errorText;         // lastErrorText after the last send
  int replyCode;                 // lastReplyCode after the last send
};

const SendCase kSendCases[] = {
    {"AddressesAreCheckedBeforeTheConnection",
     std::nullopt,
     {{"s", "b", "a@x.test", "", "", "me@x.test", {}, "未连接到SMTP服务器!"},
      {"s", "b", "Ann <a1", "", "", "me@x.test", {}, "目的邮件地址格式错误!"},
      {"s", "b", "a@x.test", "x>y <a1>", "", "me@x.test", {}, "目的邮件地址格式错误!"},
      {"s", "b", "a@x.test", "", "Ann <a1", "me@x.test", {}, "目的邮件地址格式错误!"},
      {"s", "b", "a@x.test", "", "", "Me <me@x.test", {}, "发信人邮件地址格式错误!"},
      {"s", "b", "a@x.test", "", "", "me@x.test", "x>y <r>", "回复邮件地址格式错误!"},
      {"s", "b", "", "", "", "", {}, "未连接到SMTP服务器!"}},
     "",
     "未连接到SMTP服务器!",
     0},
    {"MalformedAddressOnAnOpenSessionSendsNothing",
     Opened(),
     {{"s", "b", "a@x.test", "", "Ann <a1", "me@x.test", {}, "目的邮件地址格式错误!"},
      {"s", "b", "a@x.test", "", "", "me@x.test", "Ann <r", "回复邮件地址格式错误!"}},
     "",
     "hello",
     250},
    {"NoRecipientSendsNothing",
     Opened(),
     {{"s", "b", "", "", "", "me@x.test", {}, "未指定发送地址!"},
      {"s", "b", ",; ,", "Ann <>", "", "me@x.test", {}, "未指定发送地址!"}},
     "",
     "未指定发送地址!",
     250},
    {"SecondOfThreeRecipientsRefused",
     Refusing({"250 sender ok\r\n", "250 ok\r\n", "550 no such user\r\n"}),
     {{"s", "b", "a@x.test,b@x.test;c@x.test", "", "", "me@x.test", {}, "no such user"}},
     "MAIL FROM:<me@x.test>\r\nRCPT TO:<a@x.test>\r\nRCPT TO:<b@x.test>\r\nRSET\r\n",
     "no such user",
     550},
    {"Recipient251IsARefusal",
     Refusing({"250 sender ok\r\n", "251 User not local; will forward\r\n"}),
     {{"s", "b", "Ann <a@x.test>", "", "", "me@x.test", {}, "User not local; will forward"}},
     "MAIL FROM:<me@x.test>\r\nRCPT TO:<a@x.test>\r\nRSET\r\n",
     "User not local; will forward",
     251},
    {"SenderRefused",
     Refusing({"553 sender denied\r\n"}),
     {{"s", "b", "a@x.test", "", "", "me@x.test", {}, "sender denied"}},
     "MAIL FROM:<me@x.test>\r\nRSET\r\n",
     "sender denied",
     553},
    {"SilentResetKeepsTheFirstFailure",
     Opened().Reply("553 sender denied\r\n").AwaitLine(),
     {{"s", "b", "a@x.test", "", "", "me@x.test", {}, "sender denied"}},
     "MAIL FROM:<me@x.test>\r\nRSET\r\n",
     "sender denied",
     553},
    {"DataRefused",
     Refusing({"250 ok\r\n", "250 ok\r\n", "554 no data today\r\n"}),
     {{"s", "b", "a@x.test", "", "", "me@x.test", {}, "no data today"}},
     "MAIL FROM:<me@x.test>\r\nRCPT TO:<a@x.test>\r\nDATA\r\nRSET\r\n",
     "no data today",
     554},
    {"EndOfDataRefused",
     Opened()
         .Reply("250 ok\r\n")
         .Reply("250 ok\r\n")
         .Reply("354 go ahead\r\n")
         .AwaitData()
         .Send("552 too big\r\n")
         .Reply("250 reset\r\n"),
     {{"Hi", "Hello\r\n", "a@x.test", "", "", "me@x.test", {}, "too big"}},
     "MAIL FROM:<me@x.test>\r\nRCPT TO:<a@x.test>\r\nDATA\r\n"
     "From: me@x.test\r\nTo: a@x.test\r\nSubject: Hi\r\nDate: <date>\r\n"
     "Reply-To: me@x.test\r\nMIME-Version: 1.0\r\nContent-type: text/plain; "
     "charset=\"us-ascii\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
     "SGVsbG8NCg==\r\n\r\n.\r\nRSET\r\n",
     "too big",
     552},
    // 张三 1cXI/Q==, 李四 wO7LxA==, 测试邮件 suLK1NPKvP4=, 中文正文 1tDOxNX9zsQ=
    {"ChineseMailWithReplyToTheSender",
     Accept(Opened(), 1),
     {{"测试邮件", "中文正文", "李四 <lisi@example.com>", "", "", "张三 <zhangsan@example.com>", {},
       ""}},
     "MAIL FROM:<zhangsan@example.com>\r\nRCPT TO:<lisi@example.com>\r\nDATA\r\n"
     "From: =?gb2312?B?1cXI/Q==?= <zhangsan@example.com>\r\n"
     "To: =?gb2312?B?wO7LxA==?= <lisi@example.com>\r\n"
     "Subject: =?gb2312?B?suLK1NPKvP4=?=\r\nDate: <date>\r\n"
     "Reply-To: =?gb2312?B?1cXI/Q==?= <zhangsan@example.com>\r\n"
     "MIME-Version: 1.0\r\nContent-type: text/plain; charset=\"gb2312\"\r\n"
     "Content-Transfer-Encoding: base64\r\n\r\n"
     "1tDOxNX9zsQ=\r\n\r\n.\r\n",
     "queued as 1",
     250},
    {"EmptySenderWithCopiesAndAReplyToOfItsOwn",
     Accept(Opened(), 3),
     {{"Hi", "Hello\r\n", "a@x.test", "Bob <b@x.test>", "c@x.test", "", "Help <help@x.test>",
       ""}},
     "MAIL FROM:<>\r\nRCPT TO:<a@x.test>\r\nRCPT TO:<b@x.test>\r\nRCPT TO:<c@x.test>\r\n"
     "DATA\r\nFrom: \r\nTo: a@x.test\r\nCc: Bob <b@x.test>\r\nSubject: Hi\r\n"
     "Date: <date>\r\nReply-To: Help <help@x.test>\r\nMIME-Version: 1.0\r\n"
     "Content-type: text/plain; charset=\"us-ascii\"\r\n"
     "Content-Transfer-Encoding: base64\r\n\r\nSGVsbG8NCg==\r\n\r\n.\r\n",
     "queued as 1",
     250},
    {"SendAfterFailuresStartsFromAnEmptyMessage",
     Accept(Refusing({"250 sender ok\r\n", "550 no\r\n"}), 1),
     {{"Zero", "zero", "x@x.test", "Ann <a1", "", "z@x.test", {}, "目的邮件地址格式错误!"},
      {"First", "one", "a@x.test,b@x.test", "c@x.test", "", "me@x.test", "r@x.test", "no"},
      {"Second", "Hello\r\n", "d@x.test", "", "", "me@x.test", {}, ""}},
     "MAIL FROM:<me@x.test>\r\nRCPT TO:<a@x.test>\r\nRSET\r\n"
     "MAIL FROM:<me@x.test>\r\nRCPT TO:<d@x.test>\r\nDATA\r\n"
     "From: me@x.test\r\nTo: d@x.test\r\nSubject: Second\r\nDate: <date>\r\n"
     "Reply-To: me@x.test\r\nMIME-Version: 1.0\r\nContent-type: text/plain; "
     "charset=\"us-ascii\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
     "SGVsbG8NCg==\r\n\r\n.\r\n",
     "queued as 1",
     250},
};

// gtest shows a case by its name, not its bytes.
void PrintTo(const SendCase& c, std::ostream* os) { *os << c.name; }

class SendMailTest : public ::testing::TestWithParam<SendCase> {};

TEST_P(SendMailTest, SendsExactlyTheseBytesAndEmptiesTheMessage) {
  const SendCase& c = GetParam();
  std::optional<ScriptedServer> server;
  SmtpSession session;
  if (c.server) {
    Script script = *c.server;
    server.emplace(script.Reply("221 bye\r\n"));
    ASSERT_TRUE(session.Connect("127.0.0.1", server->Port(), "", "", kTimeoutMs))
        << session.lastErrorText;
  }
  for (const Send& send : c.sends) {
    SCOPED_TRACE(send.subject);
    EXPECT_EQ(session.SendMail(send.subject, send.body, send.to, send.cc, send.bcc, send.sender,
                               send.replyTo),
              send.result);
    ExpectEmptyMessage(session.message);
  }
  EXPECT_EQ(session.lastErrorText, c.errorText);
  EXPECT_EQ(session.lastReplyCode, c.replyCode);
  EXPECT_EQ(session.connected, c.server.has_value());
  if (server) {
    session.Disconnect();
    EXPECT_EQ(AfterHelo(server->Received(0)), std::string(c.sent) + "QUIT\r\n");
  }
}

INSTANTIATE_TEST_SUITE_P(Transactions, SendMailTest, ::testing::ValuesIn(kSendCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A connection that breaks after 354: this send and the next fail with one of
// the transport's own texts, and the session is still usable for a reconnect.
TEST(SendMailBrokenConnectionTest, ServerGoneMidDataFailsThisSendAndTheNext) {
  const std::set<TextValue> brokenTexts = {"发送邮件头失败!", "发送邮件内容失败!", "发送数据失败!",
                                           "网络出错!", "接收数据超时!"};
  const TextValue body(100 * 1024, 'x');
  for (bool reset : {false, true}) {
    SCOPED_TRACE(reset ? "reset" : "close");
    Script script = Opened().Reply("250 ok\r\n").Reply("250 ok\r\n").Reply("354 go ahead\r\n");
    ScriptedServer server(reset ? script.Reset() : script.Close());
    SmtpSession session;
    ASSERT_TRUE(session.Connect("127.0.0.1", server.Port(), "", "", kTimeoutMs));
    for (int attempt = 0; attempt < 2; ++attempt) {
      const TextValue result = session.SendMail("s", body, "a@x.test", "", "", "me@x.test");
      EXPECT_EQ(brokenTexts.count(result), 1u) << result;
      EXPECT_EQ(session.lastErrorText, result);
      ExpectEmptyMessage(session.message);
    }
    EXPECT_TRUE(session.connected);
    session.Disconnect();
    EXPECT_FALSE(session.channel.IsOpen());
  }
}

// The application's form: the process's session, no copies, reply-to the sender.
TEST(SendMailProcessSessionTest, FourArgumentFormSendsWithReplyToTheSender) {
  ScriptedServer server(Accept(Opened(), 1).Reply("221 bye\r\n"));
  ASSERT_TRUE(smtp::ConnectSmtpServer("127.0.0.1", server.Port(), "", "", kTimeoutMs));
  EXPECT_EQ(smtp::SendMail("Hi", "Hello\r\n", "a@x.test", "Me <me@x.test>"), "");
  ExpectEmptyMessage(smtp::ProcessSession().message);
  smtp::ProcessSession().Disconnect();
  EXPECT_EQ(AfterHelo(server.Received(0)),
            std::string("MAIL FROM:<me@x.test>\r\nRCPT TO:<a@x.test>\r\nDATA\r\n"
                        "From: Me <me@x.test>\r\nTo: a@x.test\r\nSubject: Hi\r\n"
                        "Date: <date>\r\nReply-To: Me <me@x.test>\r\nMIME-Version: 1.0\r\n"
                        "Content-type: text/plain; charset=\"us-ascii\"\r\n"
                        "Content-Transfer-Encoding: base64\r\n\r\n"
                        "SGVsbG8NCg==\r\n\r\n.\r\nQUIT\r\n"));
}

}  // namespace
