// Network faults and hostile servers, one table: a scripted server fails the
// session at one point of the connect or of the send. For each case the
// session leaves the text the user is shown (the window shows "连接失败 请检查！"
// for every failed connect, and a failed send's text behind "发送失败："), the
// process survives (no crash, no SIGPIPE), a failed connect leaves the session
// closed and a failed send leaves it open, the next send on the same session
// fails cleanly at once, and a connect to a sound server afterwards sends a
// mail as usual.
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "scripted_server.h"
#include "smtp_session.h"

namespace {

using test_support::Script;
using test_support::ScriptedServer;
using test_support::StalledListener;

constexpr std::uint32_t kTimeoutMs = 300;
const TextValue kHost = "127.0.0.1";
const TextValue kUser = "me";
const TextValue kPassword = "pw";
constexpr char kSender[] = "me@fault.test";
constexpr char kRecipient[] = "you@fault.test";

// The transport's own texts.
const TextValue kSilence = "接收数据超时!";
const TextValue kNetwork = "网络出错!";
const TextValue kSendFailed = "发送数据失败!";
const TextValue kBodyFailed = "发送邮件内容失败!";
const TextValue kNotConnected = "未连接到SMTP服务器!";
const TextValue kConnectFailed = "连接指定SMTP邮件服务器“127.0.0.1”失败!";
const TextValue kLoginFailed = "登录指定SMTP邮件服务器“127.0.0.1”失败!";

// --- the scripts, up to the point where each fault strikes ---

Script Greeting() { return Script().Send("220 fault.test ready\r\n"); }
// EHLO offering AUTH LOGIN; the next line the server awaits is AUTH LOGIN.
Script UpToAuth() { return Greeting().Reply("250-fault.test\r\n250 AUTH LOGIN\r\n").AwaitLine(); }
// Connected with HELO (no login); the next line awaited is MAIL FROM.
Script UpToMail() { return Greeting().Reply("250 hello\r\n").AwaitLine(); }
Script UpToRcpt() { return UpToMail().Send("250 sender ok\r\n").AwaitLine(); }
Script UpToData() { return UpToRcpt().Send("250 recipient ok\r\n").AwaitLine(); }
// 354 sent and the first header line taken; the body is still coming.
Script InBody() { return UpToData().Send("354 go ahead\r\n").AwaitLine(); }
Script AfterDot() { return UpToData().Send("354 go ahead\r\n").AwaitData(); }
// The rest of a transaction the server accepts, once it has taken MAIL FROM.
Script& Accept(Script& script) {
  return script.Send("250 sender ok\r\n")
      .Reply("250 recipient ok\r\n")
      .Reply("354 go ahead\r\n")
      .AwaitData()
      .Send("250 queued\r\n");
}

Script Drip(Script script, std::string_view bytes) {
  for (const char byte : bytes) script.Send(std::string(1, byte)).Pause(200);
  return script;
}

Script HugeGreeting() {
  std::string reply;
  while (reply.size() < (2u << 20)) reply += "220-" + std::string(120, 'x') + "\r\n";
  return Script().Send(reply + "220 end\r\n").AwaitLine();
}

enum class Target { kScripted, kRefused, kStalled };
enum class Stage { kConnect, kSend };

struct FaultCase {
  const char* name;
  Target target;
  Stage stage;          // the connect fails, or the connect works and the send fails
  bool login;           // user and password given: EHLO and AUTH
  std::size_t bodyBytes;
  std::function<Script()> script;
  bool connectResult;
  std::vector<TextValue> texts;   // lastErrorText after the connect, or the send's result
  std::vector<TextValue> nextSend;  // the send after that, on the same session
  std::string recorded;             // what the client sent, when it is known to the byte
};

Script None() { return {}; }

// After a reset, the next command cannot be handed over. After a close, the
// RSET that follows the failure draws the reset, and whether it has arrived
// when the next send begins is a race: that send may still go out and meet
// the close or the reset in its reply.
const std::vector<TextValue> kAfterReset = {kSendFailed};
const std::vector<TextValue> kAfterClose = {kSendFailed, kSilence, kNetwork};

// Where a close crosses the client's next write, whether that write still
// goes out (and its reply read ends at the close or the reset that answers
// it) or fails at once is a race on the network; such cases list each text.
const FaultCase kCases[] = {
    {"ConnectionRefused", Target::kRefused, Stage::kConnect, true, 0, None, false, {kConnectFailed},
     {kNotConnected}, ""},
    {"ListenerNeverAccepts", Target::kStalled, Stage::kConnect, true, 0, None, false,
     {kConnectFailed}, {kNotConnected}, ""},
    // QUIT is owed once the TCP connection stands, greeting or not.
    {"GreetingNeverSent", Target::kScripted, Stage::kConnect, true, 0,
     [] { return Script().AwaitLine().Close(); }, false, {kSilence}, {kNotConnected}, "QUIT\r\n"},
    {"CloseAfterConnect", Target::kScripted, Stage::kConnect, true, 0, [] { return Script().Close(); },
     false, {kSilence}, {kNotConnected}, ""},
    {"ResetAfterConnect", Target::kScripted, Stage::kConnect, true, 0, [] { return Script().Reset(); },
     false, {kNetwork}, {kNotConnected}, ""},
    // A failed EHLO falls back to HELO, which meets the closed connection.
    {"CloseAfterEhlo", Target::kScripted, Stage::kConnect, true, 0,
     [] { return Greeting().AwaitLine().Close(); }, false, {kSilence, kNetwork, kSendFailed},
     {kNotConnected}, ""},
    {"ResetAfterEhlo", Target::kScripted, Stage::kConnect, true, 0,
     [] { return Greeting().AwaitLine().Reset(); }, false, {kSendFailed, kNetwork}, {kNotConnected},
     ""},
    {"CloseDuringAuth", Target::kScripted, Stage::kConnect, true, 0, [] { return UpToAuth().Close(); },
     false, {kLoginFailed}, {kNotConnected}, ""},
    {"ResetDuringAuth", Target::kScripted, Stage::kConnect, true, 0, [] { return UpToAuth().Reset(); },
     false, {kLoginFailed}, {kNotConnected}, ""},
    // One byte every 200 ms keeps a read with a 300 ms time-out going: the
    // silence counts from the last byte. Then the server falls silent.
    {"SlowDripThenSilence", Target::kScripted, Stage::kConnect, false, 0,
     [] { return Drip(Script(), "220 slow").Send("\r\n").AwaitLine().AwaitLine().Close(); }, false,
     {kSilence},
     {kNotConnected}, ""},
    {"TwoMebibyteReply", Target::kScripted, Stage::kConnect, false, 0, HugeGreeting, false, {kNetwork},
     {kNotConnected}, ""},
    // The reply's text ends at its NUL, so it never completes.
    {"NulByteInTheGreeting", Target::kScripted, Stage::kConnect, false, 0,
     [] { return Script().Send(std::string("220 ready\0 more\r\n", 18)).AwaitLine().Close(); }, false,
     {"220 ready"}, {kNotConnected}, "QUIT\r\n"},
    // A last line may end right after its code: EHLO is answered, and
    // without an AUTH line the session opens without HELO.
    {"BareCodeEndsTheEhloReply", Target::kScripted, Stage::kConnect, true, 0,
     [] { return Greeting().Reply("250-fault.test\r\n250\r\n"); }, true, {"fault.test"}, {}, ""},
    // Replies that come together are one reply, with the code of the last.
    {"GreetingAndMoreInOneSegment", Target::kScripted, Stage::kConnect, false, 0,
     [] { return Script().Send("220 ready\r\n250 early\r\n").AwaitLine().Close(); }, false, {"early"},
     {kNotConnected}, "QUIT\r\n"},
    {"GreetingIs421", Target::kScripted, Stage::kConnect, false, 0,
     [] { return Script().Send("421 busy\r\n").AwaitLine().Close(); }, false, {"busy"},
     {kNotConnected}, "QUIT\r\n"},
    {"EhloAndHeloAnswered421", Target::kScripted, Stage::kConnect, true, 0,
     [] { return Greeting().Reply("421 closing\r\n").Reply("421 closing\r\n").Close(); }, false,
     {"closing"}, {kNotConnected}, ""},
    {"AuthAnswered421", Target::kScripted, Stage::kConnect, true, 0,
     [] { return UpToAuth().Send("421 closing\r\n").Close(); }, false, {kLoginFailed}, {kNotConnected},
     ""},

    // A failed send keeps the session open on its dead socket: the next
    // send fails too.
    {"CloseAfterMail", Target::kScripted, Stage::kSend, false, 100, [] { return UpToMail().Close(); },
     true, {kSilence}, kAfterClose, ""},
    {"ResetAfterMail", Target::kScripted, Stage::kSend, false, 100, [] { return UpToMail().Reset(); },
     true, {kNetwork}, kAfterReset, ""},
    {"CloseAfterRcpt", Target::kScripted, Stage::kSend, false, 100, [] { return UpToRcpt().Close(); },
     true, {kSilence}, kAfterClose, ""},
    {"ResetAfterRcpt", Target::kScripted, Stage::kSend, false, 100, [] { return UpToRcpt().Reset(); },
     true, {kNetwork}, kAfterReset, ""},
    // The server stops reading, so the 5 MB body is still being handed over
    // when the connection goes (a close with unread bytes resets it too).
    {"CloseInTheBody", Target::kScripted, Stage::kSend, false, 5u << 20,
     [] { return InBody().Pause(200).Close(); }, true, {kBodyFailed}, kAfterClose, ""},
    {"ResetInTheBody", Target::kScripted, Stage::kSend, false, 5u << 20,
     [] { return InBody().Pause(200).Reset(); }, true, {kBodyFailed}, kAfterReset, ""},
    {"CloseAfterEndOfData", Target::kScripted, Stage::kSend, false, 100,
     [] { return AfterDot().Close(); }, true, {kSilence}, kAfterClose, ""},
    {"ResetAfterEndOfData", Target::kScripted, Stage::kSend, false, 100,
     [] { return AfterDot().Reset(); }, true, {kNetwork}, kAfterReset, ""},
    {"MailAnswered421", Target::kScripted, Stage::kSend, false, 100,
     [] { return UpToMail().Send("421 closing\r\n").Close(); }, true, {"closing"}, kAfterClose, ""},
    {"RcptAnswered421", Target::kScripted, Stage::kSend, false, 100,
     [] { return UpToRcpt().Send("421 closing\r\n").Close(); }, true, {"closing"}, kAfterClose, ""},
    {"DataAnswered421", Target::kScripted, Stage::kSend, false, 100,
     [] { return UpToData().Send("421 closing\r\n").Close(); }, true, {"closing"}, kAfterClose, ""},
    {"EndOfDataAnswered421", Target::kScripted, Stage::kSend, false, 100,
     [] { return AfterDot().Send("421 closing\r\n").Close(); }, true, {"closing"}, kAfterClose, ""},
    // A reply with a NUL never completes; after the time-out and RSET the
    // session is sound again and the next send goes through.
    {"NulByteInTheMailReply", Target::kScripted, Stage::kSend, false, 100,
     [] {
       Script script = UpToMail().Send(std::string("250 o\0k\r\n", 9)).Reply("250 reset\r\n").AwaitLine();
       return Accept(script);
     },
     true, {"250 o"}, {""}, ""},
    // Two replies in one segment are read as one; the dialogue goes on.
    {"TwoRepliesInOneSegment", Target::kScripted, Stage::kSend, false, 100,
     [] {
       return UpToMail()
           .Send("250 sender ok\r\n250 early\r\n")
           .Reply("250 recipient ok\r\n")
           .Reply("354 go ahead\r\n")
           .AwaitData()
           .Send("250 queued\r\n");
     },
     true, {""}, {}, ""},
};

std::atomic<int> brokenPipes = 0;

class FaultInjectionTest : public testing::TestWithParam<FaultCase> {
 protected:
  // A SIGPIPE is counted instead of ending the test program.
  FaultInjectionTest() {
    struct sigaction counting {};
    counting.sa_handler = [](int) { ++brokenPipes; };
    sigaction(SIGPIPE, &counting, &saved_);
    brokenPipes = 0;
  }
  ~FaultInjectionTest() override { sigaction(SIGPIPE, &saved_, nullptr); }

  struct sigaction saved_ {};
};

std::string Quoted(const std::vector<TextValue>& texts) {
  std::string out;
  for (const TextValue& text : texts) out += "\"" + text + "\" ";
  return out;
}

// A port on which nothing listens.
int ClosedPort() {
  const ScriptedServer gone;
  return gone.Port();
}

TEST_P(FaultInjectionTest, FailsCleanlyAndTheNextSessionWorks) {
  const FaultCase& c = GetParam();
  smtp::SmtpSession session;
  const TextValue user = c.login ? kUser : TextValue();
  const TextValue password = c.login ? kPassword : TextValue();
  {
    std::optional<ScriptedServer> server;
    std::optional<StalledListener> stalled;
    int port = 0;
    switch (c.target) {
      case Target::kScripted:
        port = server.emplace(c.script()).Port();
        break;
      case Target::kRefused:
        port = ClosedPort();
        break;
      case Target::kStalled:
        port = stalled.emplace().Port();
        break;
    }
    ASSERT_NE(port, 0);

    const bool connected = session.Connect(kHost, port, user, password, kTimeoutMs);
    EXPECT_EQ(connected, c.connectResult);
    TextValue text = session.lastErrorText;
    if (c.stage == Stage::kSend && connected) {
      text = session.SendMail("fault", std::string(c.bodyBytes, 'b'), kRecipient, {}, {}, kSender,
                              std::nullopt);
    }
    EXPECT_NE(std::find(c.texts.begin(), c.texts.end(), text), c.texts.end())
        << "got \"" << text << "\", expected one of " << Quoted(c.texts);
    // A failed connect closes the session; a failed send leaves it open.
    EXPECT_EQ(session.connected, c.connectResult);
    EXPECT_EQ(session.channel.IsOpen(), c.connectResult);
    EXPECT_TRUE(session.message.to.empty() && session.message.body.empty());

    if (!c.nextSend.empty()) {
      const TextValue next =
          session.SendMail("next", "body", kRecipient, {}, {}, kSender, std::nullopt);
      EXPECT_NE(std::find(c.nextSend.begin(), c.nextSend.end(), next), c.nextSend.end())
          << "next send: got \"" << next << "\", expected one of " << Quoted(c.nextSend);
    }
    session.Disconnect();
    if (server) {
      if (!c.recorded.empty()) {
        EXPECT_EQ(server->Received(), c.recorded);
      }
      EXPECT_LE(server->Connections(), 1u);
    }
  }

  // A sound server afterwards: connect, send, QUIT.
  Script sound = Greeting().Reply("250 hello\r\n").AwaitLine();
  ScriptedServer good(Accept(sound).Reply("221 bye\r\n"));
  ASSERT_TRUE(session.Connect(kHost, good.Port(), {}, {}, kTimeoutMs)) << session.lastErrorText;
  EXPECT_EQ(session.SendMail("again", "body", kRecipient, {}, {}, kSender, std::nullopt), "");
  session.Disconnect();
  const std::string received = good.Received();
  EXPECT_TRUE(received.starts_with("HELO ")) << received;
  EXPECT_NE(received.find("\r\nMAIL FROM:<me@fault.test>\r\nRCPT TO:<you@fault.test>\r\nDATA\r\n"),
            std::string::npos)
      << received;
  EXPECT_TRUE(received.ends_with("\r\n.\r\nQUIT\r\n")) << received;
  EXPECT_TRUE(good.ScriptFinished());
  EXPECT_EQ(brokenPipes, 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultInjectionTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

}  // namespace
