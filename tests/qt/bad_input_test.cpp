// Bad input through the real window, wired to the program's own handlers:
// huge texts, control characters and line breaks pasted into every box, and
// addresses and subjects built to smuggle SMTP commands or header lines. The
// scripted server records every byte: the dialogue holds exactly the
// program's own commands, the message data is the header block and base64
// lines and nothing else, and the user sees "发送成功" or an address-format
// text.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "file_fixtures.h"
#include "header_encoding.h"
#include "scripted_server.h"
#include "text_codec.h"
#include "window_driver.h"

namespace {

using app::Control;
using test_support::Script;
using test_support::ScriptedServer;

// The text goes in as a user's paste does: through the clipboard.
void Paste(QWidget* widget, const QString& text) {
  QApplication::clipboard()->setText(text);
  if (auto* line = qobject_cast<QLineEdit*>(widget)) {
    line->selectAll();
    line->paste();
  } else if (auto* body = qobject_cast<QPlainTextEdit*>(widget)) {
    body->selectAll();
    body->paste();
  }
}

std::string Gbk(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  return platform::Utf8ToGbk({utf8.constData(), static_cast<std::size_t>(utf8.size())});
}

// --- what may be on the wire ---

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  for (std::size_t end; (end = text.find("\r\n")) != std::string_view::npos;) {
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end + 2);
  }
  EXPECT_TRUE(text.empty()) << "bytes after the last line break";
  return lines;
}

bool IsBase64Line(std::string_view line) {
  if (line.size() > 76) return false;
  for (const char c : line) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '/' && c != '=') return false;
  }
  return true;
}

// The header block's shape whatever its values hold: its own fields in its
// own order, folded lines beginning with a space, an empty line, then base64.
void ExpectOnlyHeaderAndBase64(std::string_view data) {
  static const std::vector<std::string_view> kFields = {
      "From: ", "To: ", "Subject: ", "Date: ", "Reply-To: ", "MIME-Version: 1.0",
      "Content-type: text/plain; charset=", "Content-Transfer-Encoding: base64"};
  const std::vector<std::string_view> lines = SplitLines(data);
  std::size_t field = 0;
  std::size_t i = 0;
  for (; i < lines.size() && !lines[i].empty(); ++i) {
    if (lines[i].front() == ' ' && field != 0) continue;
    while (field < kFields.size() && !lines[i].starts_with(kFields[field])) ++field;
    ASSERT_LT(field, kFields.size()) << "a header line of no field of ours: " << lines[i].substr(0, 80);
    ++field;
  }
  EXPECT_EQ(field, kFields.size()) << "the block ends early";
  ASSERT_LT(i, lines.size()) << "no empty line after the header block";
  for (++i; i < lines.size(); ++i) {
    ASSERT_TRUE(IsBase64Line(lines[i])) << "not base64: " << lines[i].substr(0, 80);
  }
}

std::string DecodeBase64Lines(std::string_view text) {
  static const std::array<int, 256> kValues = [] {
    std::array<int, 256> values;
    values.fill(-1);
    const std::string_view digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::size_t i = 0; i < digits.size(); ++i) values[static_cast<unsigned char>(digits[i])] = static_cast<int>(i);
    return values;
  }();
  std::string out;
  out.reserve(text.size() / 4 * 3);
  unsigned group = 0;
  int bits = 0;
  for (const char c : text) {
    const int value = kValues[static_cast<unsigned char>(c)];
    if (value < 0) continue;  // line breaks and padding
    group = (group << 6) | static_cast<unsigned>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((group >> bits) & 0xFF);
    }
  }
  return out;
}

struct Dialogue {
  std::vector<std::string_view> commands;  // every line outside the message data
  std::string_view data;                   // between DATA's line and "\r\n.\r\n"
  bool hasData = false;
};

Dialogue Parse(std::string_view received) {
  Dialogue dialogue;
  const std::size_t data = received.find("\r\nDATA\r\n");
  if (data == std::string_view::npos) {
    dialogue.commands = SplitLines(received);
    return dialogue;
  }
  dialogue.hasData = true;
  dialogue.commands = SplitLines(received.substr(0, data + 8));
  const std::string_view rest = received.substr(data + 8);
  const std::size_t end = rest.find("\r\n.\r\n");
  dialogue.data = rest.substr(0, end == std::string_view::npos ? rest.size() : end + 2);
  if (end != std::string_view::npos) {
    for (const std::string_view line : SplitLines(rest.substr(end + 5))) dialogue.commands.push_back(line);
  }
  return dialogue;
}

struct BadInput {
  const char* name;
  QString server, port, account, password;  // port: "%1" stands for the server's
  QString subject, body, recipients;
  // The mailboxes that RCPT TO may name, in order; none when the send must
  // be refused before anything is sent.
  std::vector<std::string> accepted;
  const char* shown;  // the box after the send (UTF-8)
};

QString ManyRecipients(int count) {
  QStringList list;
  for (int i = 0; i < count; ++i) list << QStringLiteral("r%1@many.test").arg(i);
  return list.join(QLatin1Char(','));
}

std::vector<std::string> ManyAddresses(int count) {
  std::vector<std::string> addresses;
  for (int i = 0; i < count; ++i) addresses.push_back("r" + std::to_string(i) + "@many.test");
  return addresses;
}

QString Lines(qsizetype bytes) {
  const QString line = QStringLiteral("a body line of seventy-odd characters, repeated to make it huge.\n");
  return line.repeated(bytes / line.size() + 1);
}

const QString kControls = QStringLiteral("\x01\x07\x1b\x7f\t");
constexpr char kSent[] = "发送成功";
constexpr char kBadRecipient[] = "发送失败：目的邮件地址格式错误!";
constexpr char kBadSender[] = "发送失败：发信人邮件地址格式错误!";

const BadInput kInputs[] = {
    {"HugeSubjectBodyAndRecipientList", "127.0.0.1", "%1", "me@big.test", "pw",
     QString(1 << 20, QLatin1Char('s')), Lines(20 << 20), ManyRecipients(10000), ManyAddresses(10000),
     kSent},
    // Line breaks and control characters in every box: the connection still
    // works, the subject's breaks become spaces, the body goes as base64.
    {"LineBreaksAndControlsEverywhere", "127.0.0.1\r\n", "\t%1\r\n", "me@ctl.test\r\n",
     "p\r\nQUIT\r\n" + kControls, "Re:\r\nBcc: evil@x.test\r\n" + kControls + "\r\n.\r\nQUIT",
     "line\r\n.\r\nMAIL FROM:<evil@x.test>\r\n" + kControls, "\r\n you@ctl.test \r\n;\r\n",
     {"you@ctl.test"}, kSent},
    // Control characters are no line break: the address keeps them, as typed.
    {"ControlsInTheRecipient", "127.0.0.1", "%1", "me@ctl.test", "pw", "hi", "body",
     "you@ctl.test" + kControls, {"you@ctl.test\x01\x07\x1b\x7f"}, kSent},
    {"RecipientClosesItsCommand", "127.0.0.1", "%1", "me@inj.test", "pw", "hi", "body",
     "a@b>\r\nRCPT TO:<c@d", {}, kBadRecipient},
    {"RecipientNameCarriesACommand", "127.0.0.1", "%1", "me@inj.test", "pw", "hi", "body",
     "x@y\r\nRCPT TO:<c@d>", {}, kBadRecipient},
    {"SenderCarriesACommand", "127.0.0.1", "%1", "me@inj.test>\r\nRCPT TO:<evil@x.test", "pw", "hi",
     "body", "you@inj.test", {}, kBadSender},
    {"SubjectEndsTheData", "127.0.0.1", "%1", "me@inj.test", "pw", "\r\n.\r\nMAIL FROM:<evil@x.test>",
     "body", "you@inj.test", {"you@inj.test"}, kSent},
    {"ChineseNameBreaksItsLine", "127.0.0.1", "%1", "me@inj.test", "pw", QStringLiteral(u"主题\r\n.\r\n"),
     "body", QStringLiteral(u"张三\r\nBcc: <evil@x.test>"), {}, kBadRecipient},
};

// Greeting, EHLO with AUTH LOGIN, the login; then one transaction for the
// accepted mailboxes, if any; then QUIT.
Script ServerScript(const BadInput& input) {
  Script script = Script()
                      .Send("220 bad-input.test\r\n")
                      .Reply("250-bad-input.test\r\n250 AUTH LOGIN\r\n")
                      .Reply("334 VXNlcm5hbWU6\r\n")
                      .Reply("334 UGFzc3dvcmQ6\r\n")
                      .Reply("235 ok\r\n");
  if (!input.accepted.empty()) {
    script.Reply("250 sender ok\r\n");
    for (std::size_t i = 0; i < input.accepted.size(); ++i) script.Reply("250 recipient ok\r\n");
    script.Reply("354 go ahead\r\n").AwaitData().Send("250 queued\r\n");
  }
  return script.Reply("221 bye\r\n");
}

class BadInputTest : public testing::TestWithParam<BadInput> {
 protected:
  static void SetUpTestSuite() { QApplication::setQuitOnLastWindowClosed(false); }

  TempHome home_;  // the settings file goes here, never to the real home
};

TEST_P(BadInputTest, NothingInjectedReachesTheServer) {
  const BadInput& input = GetParam();
  ScriptedServer server(ServerScript(input));
  const auto texts = [](const std::vector<test_support::WindowDriver::Report>& reports) {
    std::vector<std::string> shown;
    for (const auto& report : reports) shown.push_back(report.text);
    return shown;
  };
  {
    test_support::WindowDriver driver;
    const auto box = [&](Control control) { return driver.Window().ControlWidget(control); };
    // The message first: a huge paste takes longer than the server waits
    // for a client's next line.
    Paste(box(Control::编辑框_标题), input.subject);
    Paste(box(Control::编辑框_内容), input.body);
    Paste(box(Control::编辑框_收件邮箱), input.recipients);
    // Nothing typed or pasted is lost on the way into the boxes.
    ASSERT_EQ(driver.Window().GetText(Control::编辑框_标题), Gbk(input.subject));
    ASSERT_EQ(driver.Window().GetText(Control::编辑框_收件邮箱).size(), Gbk(input.recipients).size());
    Paste(box(Control::编辑框_SMTP地址), input.server);
    Paste(box(Control::编辑框_smtp端口), input.port.arg(server.Port()));
    Paste(box(Control::编辑框_发信账号), input.account);
    Paste(box(Control::编辑框_发信密码), input.password);
    ASSERT_EQ(texts(driver.Press(Control::按钮_登陆邮箱)), std::vector<std::string>{"连接成功可以开始发送邮件"});
    EXPECT_EQ(texts(driver.Press(Control::按钮1)), std::vector<std::string>{input.shown});
  }  // the window closes, and so does the session

  const std::string received = server.Received();
  const Dialogue dialogue = Parse(received);
  // The login: EHLO, AUTH LOGIN and the two base64 answers, whatever the
  // account and password held; then the transaction, then QUIT.
  ASSERT_GE(dialogue.commands.size(), 5u) << received.substr(0, 400);
  EXPECT_TRUE(dialogue.commands[0].starts_with("EHLO "));
  EXPECT_EQ(dialogue.commands[1], "AUTH LOGIN");
  EXPECT_TRUE(IsBase64Line(dialogue.commands[2]) && IsBase64Line(dialogue.commands[3]));
  std::vector<std::string> expected;
  if (!input.accepted.empty()) {
    expected.push_back("MAIL FROM:<" + Gbk(input.account).substr(0, Gbk(input.account).find_first_of("\r\n")) + ">");
    for (const std::string& address : input.accepted) expected.push_back("RCPT TO:<" + address + ">");
    expected.push_back("DATA");
  }
  expected.push_back("QUIT");
  const std::vector<std::string> commands(dialogue.commands.begin() + 4, dialogue.commands.end());
  EXPECT_EQ(commands, expected);
  EXPECT_EQ(dialogue.hasData, !input.accepted.empty());
  if (dialogue.hasData) {
    ExpectOnlyHeaderAndBase64(dialogue.data);
    // The body arrives whole, its lines ended by CR LF as the box gives them.
    const std::size_t bodyStart = dialogue.data.find("\r\n\r\n");
    ASSERT_NE(bodyStart, std::string_view::npos);
    QString body = input.body;
    EXPECT_EQ(DecodeBase64Lines(dialogue.data.substr(bodyStart + 4)),
              Gbk(body.replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                      .replace(QLatin1Char('\n'), QStringLiteral("\r\n"))));
    // The subject's line breaks became spaces; its text is all there.
    const std::string subject = Gbk(input.subject);
    if (smtp::IsAsciiText(subject)) {
      std::string oneLine = subject;
      for (char& c : oneLine) {
        if (c == '\r' || c == '\n') c = ' ';
      }
      EXPECT_NE(dialogue.data.find("\r\nSubject: " + oneLine + "\r\n"), std::string_view::npos);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Inputs, BadInputTest, testing::ValuesIn(kInputs),
                         [](const testing::TestParamInfo<BadInput>& info) { return info.param.name; });

}  // namespace
