#include <dlfcn.h>
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "scripted_server.h"
#include "smtp_session.h"

using smtp::SmtpSession;
using test_support::Script;
using test_support::ScriptedServer;

namespace {

// Every poll of this thread, seen through the wrapper below: zero-wait looks,
// waits, and the longest wait asked for.
struct PollLog {
  int looks = 0;
  int waits = 0;
  int longestWait = 0;
};
thread_local PollLog pollLog;

}  // namespace

// Counts the polls of the calling thread and hands them to the C library.
extern "C" int poll(pollfd* fds, nfds_t count, int timeout) {
  static const auto real = reinterpret_cast<int (*)(pollfd*, nfds_t, int)>(dlsym(RTLD_NEXT, "poll"));
  ++(timeout == 0 ? pollLog.looks : pollLog.waits);
  pollLog.longestWait = std::max(pollLog.longestWait, timeout);
  return real(fds, count, timeout);
}

namespace {

using Lines = std::vector<std::string>;

struct ReplyCase {
  const char* name;
  Script script;
  int expectedCode;
  bool result;
  int code;
  std::string text;
  Lines keywords;
  Lines params;
};

void PrintTo(const ReplyCase& c, std::ostream* out) { *out << c.name; }

// Connects a session with a short time-out to the server.
void Connect(SmtpSession& session, const ScriptedServer& server, std::uint32_t timeoutMs) {
  session.timeoutMs = timeoutMs;
  ASSERT_TRUE(session.channel.OpenSocket());
  ASSERT_TRUE(session.channel.ConnectSocket("127.0.0.1", server.Port()));
}

// Lines "250-K<i> value <i>" and a last "250 LAST", over 1023 bytes in all.
ReplyCase LongReply() {
  ReplyCase c{"long_reply_every_line_split", {}, 250, true, 250, "LAST", {}, {}};
  std::string reply;
  for (int i = 0; i < 80; ++i) {
    reply += "250-K" + std::to_string(i) + " value " + std::to_string(i) + "\r\n";
    c.keywords.push_back("K" + std::to_string(i));
    c.params.push_back("value " + std::to_string(i));
  }
  reply += "250 LAST\r\n";
  c.keywords.push_back("LAST");
  c.params.push_back("");
  c.script.Send(reply.substr(0, 700)).Pause(20).Send(reply.substr(700));
  return c;
}

std::vector<ReplyCase> ReplyCases() {
  const std::string nulInside("250 o\0k\r\n", 9);
  const std::string nulFirst("\0" "250 ok\r\n", 9);
  return {
      {"pieces_complete_only_at_last_cr",
       Script().Send("250-a\r\n").Pause(30).Send("250 b").Pause(30).Send("\r\n"), 250, true, 250,
       "b", {"a", "b"}, {"", ""}},
      {"line_without_cr_waits_for_it", Script().Send("220 Ser").Pause(50).Send("ver ready\r\n"),
       220, true, 220, "Server ready", {"Server"}, {"ready"}},
      {"lf_only_lines_never_complete", Script().Send("250-a\n250 b\n"), 250, false, -1,
       "250-a\n250 b\n", {}, {}},
      {"last_line_not_final", Script().Send("250-a\r\n250-b\r\n"), 250, false, -1,
       "250-a\r\n250-b\r\n", {}, {}},
      {"expected_code", Script().Send("250 OK\r\n"), 250, true, 250, "OK", {"OK"}, {""}},
      {"zero_is_a_code_like_any", Script().Send("250 OK\r\n"), 0, false, 250, "OK", {"OK"}, {""}},
      {"no_digits_read_as_zero", Script().Send("xyz hello\r\n"), 0, true, 0, "hello", {"hello"}, {""}},
      {"no_match_by_class", Script().Send("251 later\r\n"), 250, false, 251, "later", {"later"}, {""}},
      {"code_alone_keeps_bytes", Script().Send("554 \r\n"), 250, false, 554, "554 \r\n", {}, {}},
      // A last line may end right after its code.
      {"bare_code_completes", Script().Send("250-mail.test\r\n250\r\n"), 250, true, 250, "mail.test",
       {"mail.test"}, {""}},
      {"three_letters_do_not", Script().Send("abc\r\n"), 250, false, -1, "abc\r\n", {}, {}},
      {"inner_blanks_kept", Script().Send("250-AUTH   LOGIN  PLAIN  \r\n250 OK\r\n"), 250, true, 250,
       "OK", {"AUTH", "OK"}, {"LOGIN  PLAIN", ""}},
      {"four_line_example",
       Script().Send("250-relay ready\r\n250-AUTH LOGIN PLAIN\r\n250-AUTH=LOGIN\r\n250 8BITMIME\r\n"),
       250, true, 250, "8BITMIME", {"relay", "AUTH", "AUTH=LOGIN", "8BITMIME"},
       {"ready", "LOGIN PLAIN", "", ""}},
      LongReply(),
      {"silence", Script(), 220, false, -1, "接收数据超时!", {}, {}},
      {"silence_after_part", Script().Send("220-wait"), 220, false, -1, "220-wait", {}, {}},
      {"closed_after_part", Script().Send("250-partial\r\n").Close(), 250, false, -1,
       "250-partial\r\n", {}, {}},
      {"closed_before_any_byte", Script().Close(), 220, false, -1, "接收数据超时!", {}, {}},
      {"reset_before_any_byte", Script().Pause(50).Reset(), 220, false, -1, "网络出错!", {}, {}},
      {"text_ends_at_nul", Script().Send(nulInside).Close(), 250, false, -1, "250 o", {}, {}},
      {"nothing_before_nul", Script().Send(nulFirst).Close(), 250, false, -1,
       "等待SMTP邮件服务器响应失败!", {}, {}},
  };
}

class ReadReplyTest : public testing::TestWithParam<ReplyCase> {};

TEST_P(ReadReplyTest, LeavesCodeLinesAndText) {
  const ReplyCase& c = GetParam();
  ScriptedServer server(c.script);
  SmtpSession session;
  constexpr std::uint32_t kTimeoutMs = 150;
  Connect(session, server, kTimeoutMs);
  // Leftovers of an earlier read, all of which the read must replace.
  session.lastReplyCode = 999;
  session.replyKeywords = {"stale"};
  session.replyParams = {"stale"};
  session.lastErrorText = "stale";

  pollLog = {};
  EXPECT_EQ(session.ReadReply(c.expectedCode), c.result);
  EXPECT_EQ(session.lastReplyCode, c.code);
  EXPECT_EQ(session.lastErrorText, c.text);
  EXPECT_EQ(session.replyKeywords, c.keywords);
  EXPECT_EQ(session.replyParams, c.params);
  // Waiting is bounded by the pause and the time left, and never busy: a
  // closed connection, too, ends the read at once.
  EXPECT_LE(pollLog.longestWait, static_cast<int>(kTimeoutMs) + 1);
  EXPECT_LT(pollLog.looks, 20);
  EXPECT_TRUE(server.ScriptFinished());
}

INSTANTIATE_TEST_SUITE_P(Replies, ReadReplyTest, testing::ValuesIn(ReplyCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// A reply of exactly total bytes: lines of 100 bytes, then a last line.
std::string ReplyOfSize(std::size_t total) {
  std::string reply;
  while (total - reply.size() >= 200) reply += "250-" + std::string(94, 'x') + "\r\n";
  reply += "250 " + std::string(total - reply.size() - 6, 'y') + "\r\n";
  return reply;
}

TEST(ReadReplyLimit, OneMebibyteIsReadAndOneByteMoreFails) {
  // A reply is complete at its last CR: the LF after it is not waited for.
  struct {
    std::size_t size;
    bool result;
    int code;
  } const cases[] = {{smtp::kMaxReplyBytes + 1, true, 250}, {smtp::kMaxReplyBytes + 2, false, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    const std::string reply = ReplyOfSize(c.size);
    ASSERT_EQ(reply.size(), c.size);
    ScriptedServer server(Script().Send(reply));
    SmtpSession session;
    Connect(session, server, 300);
    EXPECT_EQ(session.ReadReply(250), c.result);
    EXPECT_EQ(session.lastReplyCode, c.code);
    if (!c.result) {
      EXPECT_EQ(session.lastErrorText, "网络出错!");
    }
  }
}

TEST(ReadReplyWaiting, ReplyAlreadyWaitingNeedsNoPause) {
  ScriptedServer server(Script().Send("250 ok\r\n"));
  SmtpSession session;
  Connect(session, server, 200);
  bool readable = false;
  ASSERT_TRUE(session.channel.WaitReadable(2000, readable));
  ASSERT_TRUE(readable);
  pollLog = {};
  EXPECT_TRUE(session.ReadReply(250));
  EXPECT_EQ(pollLog.waits, 0);
  EXPECT_EQ(pollLog.looks, 1);
}

TEST(ReadReplyWaiting, PauseEndsWhenTheReplyArrives) {
  // Well within the time-out, but after the read has begun to wait: a blind
  // pause of 250 ms would outlast the 200 ms of silence allowed.
  ScriptedServer server(Script().Pause(40).Send("250 ok\r\n"));
  SmtpSession session;
  Connect(session, server, 200);
  pollLog = {};
  EXPECT_TRUE(session.ReadReply(250)) << session.lastErrorText;
  EXPECT_GE(pollLog.waits, 1);
}

TEST(ReadReplyWaiting, LongTimeOutPausesAtMostAQuarterSecond) {
  ScriptedServer server(Script().Pause(300).Send("250 ok\r\n"));
  SmtpSession session;
  Connect(session, server, 5000);
  pollLog = {};
  EXPECT_TRUE(session.ReadReply(250));
  EXPECT_EQ(pollLog.longestWait, 250);
}

TEST(ReadReplyWaiting, NoSocketIsANetworkError) {
  SmtpSession session;
  EXPECT_FALSE(session.ReadReply(220));
  EXPECT_EQ(session.lastReplyCode, -1);
  EXPECT_EQ(session.lastErrorText, "网络出错!");
}

TEST(FindReplyKeyword, FirstLineWithTheKeywordIgnoringCase) {
  SmtpSession session;
  session.replyKeywords = {"relay", "AUTH", "auth", "AUTH=LOGIN", "SIZE"};
  session.replyParams = {"ready", "LOGIN PLAIN", "CRAM-MD5", "", ""};
  struct {
    const char* keyword;
    std::optional<std::string> params;
  } const cases[] = {
      {"auth", "LOGIN PLAIN"}, {"AUTH", "LOGIN PLAIN"}, {"auth=login", ""}, {"size", ""},
      {"AUTH=PLAIN", std::nullopt}, {"AUT", std::nullopt}, {"", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(session.FindReplyKeyword(c.keyword), c.params) << c.keyword;
  }
}

TEST(HasWord, WholeWordsIgnoringAsciiCase) {
  struct {
    const char* list;
    const char* word;
    bool found;
  } const cases[] = {
      {"LOGIN PLAIN", "plain", true}, {"LOGIN PLAIN", "LOGIN", true},
      {"XLOGIN", "LOGIN", false},     {"LOGINX PLAIN", "LOGIN", false},
      {"", "LOGIN", false},           {"  \t LOGIN\r\n", "login", true},
      {"CRAM-MD5\x01PLAIN", "PLAIN", true}, {"LOGIN", "LOG", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(smtp::HasWord(c.list, c.word), c.found) << '"' << c.list << "\" / " << c.word;
  }
}

}  // namespace
