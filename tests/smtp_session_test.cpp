// Connect, login and logout of SmtpSession against the scripted server.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "scripted_server.h"
#include "smtp_session.h"
#include "tcp_socket.h"

namespace {

using smtp::SmtpSession;
using test_support::Script;
using test_support::ScriptedServer;

// Short: the silent cases wait this long for each reply.
constexpr std::uint32_t kTimeoutMs = 500;
constexpr const char* kBye = "221 bye\r\n";
constexpr const char* kLoginFailed = "登录指定SMTP邮件服务器“127.0.0.1”失败!";

Script Greeting() { return Script().Send("220 ready\r\n"); }

// The expected bytes with "{host}" replaced by what EHLO and HELO must carry.
std::string WithHost(std::string text) {
  std::string host = platform::LocalHostName();
  if (host.empty()) host = "localhost";
  for (std::size_t at; (at = text.find("{host}")) != std::string::npos;)
    text.replace(at, 6, host);
  return text;
}

// A loopback port that nothing listens on: bound once, then released.
int ClosedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

struct ConnectCase {
  const char* name;
  Script script;
  const char* user;
  const char* password;
  const char* sent;  // everything the client sends, QUIT of the test's Disconnect included
  bool result;
  const char* errorText;
  bool connected;
};

// user "tester" is dGVzdGVy, the password " secret pw " (blanks kept) is
// IHNlY3JldCBwdyA=, and PLAIN's NUL tester NUL password is the third text.
const ConnectCase kConnectCases[] = {
    {"NoUserSaysHelo", Greeting().Reply("250 hello\r\n").Reply(kBye), "", " secret pw ",
     "HELO {host}\r\nQUIT\r\n", true, "hello", true},
    {"NoPasswordSaysHelo", Greeting().Reply("250 hello\r\n").Reply(kBye), "tester", "",
     "HELO {host}\r\nQUIT\r\n", true, "hello", true},
    {"EhloRefusedFallsBackToHelo",
     Greeting().Reply("502 unknown command\r\n").Reply("250 hello\r\n").Reply(kBye), "tester",
     " secret pw ", "EHLO {host}\r\nHELO {host}\r\nQUIT\r\n", true, "hello", true},
    {"NoAuthLineGoesOnWithoutLogin",
     Greeting().Reply("250-mail.test\r\n250 8BITMIME\r\n").Reply(kBye), "tester", " secret pw ",
     "EHLO {host}\r\nQUIT\r\n", true, "8BITMIME", true},
    {"UnknownMethodsOnlyGoOnWithoutLogin",
     Greeting().Reply("250-mail.test\r\n250-AUTH CRAM-MD5 XOAUTH2\r\n250 SIZE\r\n").Reply(kBye),
     "tester", " secret pw ", "EHLO {host}\r\nQUIT\r\n", true, "SIZE", true},
    {"LoginPreferredOverPlain",
     Greeting()
         .Reply("250-mail.test\r\n250-AUTH PLAIN LOGIN\r\n250 OK\r\n")
         .Reply("334 VXNlcm5hbWU6\r\n")
         .Reply("334 UGFzc3dvcmQ6\r\n")
         .Reply("235 accepted\r\n")
         .Reply(kBye),
     "tester", " secret pw ",
     "EHLO {host}\r\nAUTH LOGIN\r\ndGVzdGVy\r\nIHNlY3JldCBwdyA=\r\nQUIT\r\n", true, "accepted",
     true},
    {"MethodNamesInAnyCase",
     Greeting()
         .Reply("250-mail.test\r\n250-auth Plain login\r\n250 OK\r\n")
         .Reply("334 VXNlcm5hbWU6\r\n")
         .Reply("334 UGFzc3dvcmQ6\r\n")
         .Reply("235 accepted\r\n")
         .Reply(kBye),
     "tester", " secret pw ",
     "EHLO {host}\r\nAUTH LOGIN\r\ndGVzdGVy\r\nIHNlY3JldCBwdyA=\r\nQUIT\r\n", true, "accepted",
     true},
    {"AuthLineDecidesOverSeparateAuthEqualsLogin",
     Greeting()
         .Reply("250-mail.test\r\n250-AUTH=LOGIN\r\n250-AUTH PLAIN\r\n250 OK\r\n")
         .Reply("334 \r\n")
         .Reply("235 accepted\r\n")
         .Reply(kBye),
     "tester", " secret pw ", "EHLO {host}\r\nAUTH PLAIN\r\nAHRlc3RlcgAgc2VjcmV0IHB3IA==\r\nQUIT\r\n",
     true, "accepted", true},
    {"OnlyAuthEqualsLoginUsesLogin",
     Greeting()
         .Reply("250-mail.test\r\n250-AUTH=LOGIN PLAIN\r\n250 OK\r\n")
         .Reply("334 VXNlcm5hbWU6\r\n")
         .Reply("334 UGFzc3dvcmQ6\r\n")
         .Reply("235 accepted\r\n")
         .Reply(kBye),
     "tester", " secret pw ",
     "EHLO {host}\r\nAUTH LOGIN\r\ndGVzdGVy\r\nIHNlY3JldCBwdyA=\r\nQUIT\r\n", true, "accepted",
     true},
    {"PlainCredentialsOfGbkTextsByteForByte",
     Greeting()
         .Reply("250-mail.test\r\n250 AUTH PLAIN\r\n")
         .Reply("334 \r\n")
         .Reply("235 accepted\r\n")
         .Reply(kBye),
     "用户", "密码", "EHLO {host}\r\nAUTH PLAIN\r\nANPDu6cAw9zC6w==\r\nQUIT\r\n", true, "accepted",
     true},
    {"EarlyAcceptInPlaceOfAChallenge",
     Greeting().Reply("250 AUTH LOGIN\r\n").Reply("235 fine\r\n").Reply(kBye), "tester",
     " secret pw ", "EHLO {host}\r\nAUTH LOGIN\r\nQUIT\r\n", true, "fine", true},
    {"WrongPasswordWithLogin",
     Greeting()
         .Reply("250 AUTH LOGIN\r\n")
         .Reply("334 VXNlcm5hbWU6\r\n")
         .Reply("334 UGFzc3dvcmQ6\r\n")
         .Reply("535 invalid credentials\r\n")
         .Reply(kBye),
     "tester", " secret pw ",
     "EHLO {host}\r\nAUTH LOGIN\r\ndGVzdGVy\r\nIHNlY3JldCBwdyA=\r\nQUIT\r\n", false, kLoginFailed,
     false},
    {"WrongPasswordWithPlain",
     Greeting()
         .Reply("250 AUTH PLAIN\r\n")
         .Reply("334 \r\n")
         .Reply("535 invalid credentials\r\n")
         .Reply(kBye),
     "tester", " secret pw ", "EHLO {host}\r\nAUTH PLAIN\r\nAHRlc3RlcgAgc2VjcmV0IHB3IA==\r\nQUIT\r\n",
     false, kLoginFailed, false},
    {"AuthLoginRefused",
     Greeting().Reply("250 AUTH LOGIN\r\n").Reply("504 not available\r\n").Reply(kBye), "tester",
     " secret pw ", "EHLO {host}\r\nAUTH LOGIN\r\nQUIT\r\n", false, kLoginFailed, false},
    {"Greeting554StillSaysQuit", Script().Send("554 go away\r\n").Reply(kBye), "tester",
     " secret pw ", "QUIT\r\n", false, "go away", false},
    {"SilentGreetingTimesOutAndSaysQuit", Script(), "", "", "QUIT\r\n", false, "接收数据超时!",
     false},
    {"HeloRefused", Greeting().Reply("550 bad hello\r\n").Reply(kBye), "", "",
     "HELO {host}\r\nQUIT\r\n", false, "bad hello", false},
};

// gtest shows a case by its name, not its bytes.
void PrintTo(const ConnectCase& c, std::ostream* os) { *os << c.name; }

class ConnectDialogueTest : public ::testing::TestWithParam<ConnectCase> {};

TEST_P(ConnectDialogueTest, SendsExactlyTheseBytes) {
  const ConnectCase& c = GetParam();
  ScriptedServer server(c.script);
  SmtpSession session;
  EXPECT_EQ(session.Connect("127.0.0.1", server.Port(), c.user, c.password, kTimeoutMs),
            c.result);
  EXPECT_EQ(session.lastErrorText, c.errorText);
  EXPECT_EQ(session.connected, c.connected);
  EXPECT_EQ(session.channel.IsOpen(), c.connected);
  session.Disconnect();
  EXPECT_EQ(server.Received(0), WithHost(c.sent));
  EXPECT_EQ(server.Connections(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Dialogues, ConnectDialogueTest, ::testing::ValuesIn(kConnectCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ConnectTest, EmptyServerTextTouchesNoNetwork) {
  ScriptedServer server(Greeting().Reply("250 hello\r\n"));
  SmtpSession session;
  session.lastErrorText = "earlier";
  EXPECT_FALSE(session.Connect("", server.Port(), "tester", "pw", kTimeoutMs));
  EXPECT_EQ(session.lastErrorText, "earlier");
  EXPECT_FALSE(session.connected);
  EXPECT_EQ(server.Connections(), 0u);
}

TEST(ConnectTest, EmptyServerTextStillClosesAnOpenSession) {
  ScriptedServer server(Greeting().Reply("250 hello\r\n").Reply(kBye));
  SmtpSession session;
  ASSERT_TRUE(session.Connect("127.0.0.1", server.Port(), "", "", kTimeoutMs));
  EXPECT_FALSE(session.Connect("", server.Port(), "", "", kTimeoutMs));
  EXPECT_FALSE(session.connected);
  EXPECT_FALSE(session.channel.IsOpen());
  EXPECT_EQ(server.Received(0), WithHost("HELO {host}\r\nQUIT\r\n"));
}

TEST(ConnectTest, ConnectOnAnOpenSessionSaysQuitOnTheOldConnectionFirst) {
  ScriptedServer server({Greeting().Reply("250 first\r\n").Reply(kBye),
                         Greeting().Reply("250 second\r\n").Reply(kBye)});
  SmtpSession session;
  ASSERT_TRUE(session.Connect("127.0.0.1", server.Port(), "", "", kTimeoutMs));
  ASSERT_TRUE(session.Connect("127.0.0.1", server.Port(), "", "", kTimeoutMs));
  EXPECT_EQ(session.lastErrorText, "second");
  session.Disconnect();
  EXPECT_EQ(server.Connections(), 2u);
  EXPECT_EQ(server.Received(0), WithHost("HELO {host}\r\nQUIT\r\n"));
  EXPECT_EQ(server.Received(1), WithHost("HELO {host}\r\nQUIT\r\n"));
}

TEST(ConnectTest, UnreachableServersGiveTheConnectFailureWithTheServerText) {
  const struct {
    const char* server;
    int port;
    const char* errorText;
  } cases[] = {
      {"127.0.0.1", ClosedPort(), "连接指定SMTP邮件服务器“127.0.0.1”失败!"},
      {"nonexistent.invalid", 25, "连接指定SMTP邮件服务器“nonexistent.invalid”失败!"},
      // The server text goes into the message as it is, percent signs and all.
      {"%s%n.invalid", 25, "连接指定SMTP邮件服务器“%s%n.invalid”失败!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.server);
    SmtpSession session;
    EXPECT_FALSE(session.Connect(c.server, c.port, "tester", "pw", kTimeoutMs));
    EXPECT_EQ(session.lastErrorText, c.errorText);
    EXPECT_FALSE(session.connected);
    EXPECT_FALSE(session.channel.IsOpen());
  }
}

TEST(ConnectSmtpServerTest, UsesTheProcessSessionWithATimeOutOfAtLeastOne) {
  const int port = ClosedPort();
  const struct {
    int given;
    std::uint32_t used;
  } cases[] = {{0, 1}, {-5, 1}, {1, 1}, {700, 700}};
  for (const auto& c : cases) {
    EXPECT_FALSE(smtp::ConnectSmtpServer("127.0.0.1", port, "", "", c.given));
    EXPECT_EQ(smtp::ProcessSession().timeoutMs, c.used) << c.given;
  }
  EXPECT_FALSE(smtp::ConnectSmtpServer("127.0.0.1", port));
  EXPECT_EQ(smtp::ProcessSession().timeoutMs, 2000u);
  EXPECT_EQ(smtp::ProcessSession().lastErrorText, "连接指定SMTP邮件服务器“127.0.0.1”失败!");
}

TEST(ConnectSmtpServerTest, OpensTheProcessSession) {
  ScriptedServer server(Greeting().Reply("250 hello\r\n").Reply(kBye));
  ASSERT_TRUE(smtp::ConnectSmtpServer("127.0.0.1", server.Port(), "", "", kTimeoutMs));
  EXPECT_TRUE(smtp::ProcessSession().connected);
  smtp::ProcessSession().Disconnect();
  EXPECT_EQ(server.Received(0), WithHost("HELO {host}\r\nQUIT\r\n"));
}

TEST(SessionTeardownTest, AnOpenSessionSaysQuitWhenItEnds) {
  ScriptedServer server(Greeting().Reply("250 hello\r\n").Reply(kBye));
  {
    SmtpSession session;
    ASSERT_TRUE(session.Connect("127.0.0.1", server.Port(), "", "", kTimeoutMs));
  }
  EXPECT_EQ(server.Received(0), WithHost("HELO {host}\r\nQUIT\r\n"));
}

}  // namespace
