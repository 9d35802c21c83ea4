// The program's whole job through the real window, the real handlers and the
// process's session, against a scripted SMTP server on loopback.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <string>
#include <vector>

#include "commands.h"
#include "file_fixtures.h"
#include "main_window.h"
#include "scripted_server.h"
#include "settings_file.h"
#include "smtp_session.h"
#include "text_codec.h"

namespace {

using app::Control;
using test_support::Script;
using test_support::ScriptedServer;

constexpr Control kConnectionControls[] = {Control::编辑框_SMTP地址, Control::编辑框_smtp端口,
                                           Control::编辑框_发信账号, Control::编辑框_发信密码,
                                           Control::按钮_登陆邮箱};

// A box the window showed: its text, and whether the connection boxes were
// still enabled while it was on the screen.
struct Report {
  std::string text;  // UTF-8
  bool connectionBoxesEnabled;
};

class EndToEnd : public testing::Test {
 protected:
  void SetUp() override {
    window_.Start();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window_));
  }
  void TearDown() override {
    window_.close();
    smtp::ProcessSession().Disconnect();
  }

  void Type(Control box, const char* utf8) { window_.SetText(box, platform::Utf8ToGbk(utf8)); }
  std::string Text(Control box) const { return platform::GbkToUtf8(window_.GetText(box)); }

  void TypeConnection(int port, const char* account = "zhang@example.com") {
    Type(Control::编辑框_SMTP地址, "127.0.0.1");
    Type(Control::编辑框_smtp端口, std::to_string(port).c_str());
    Type(Control::编辑框_发信账号, account);
    Type(Control::编辑框_发信密码, "secret");
  }
  void TypeMessage() {
    Type(Control::编辑框_标题, "周报");
    Type(Control::编辑框_内容, "第一行\n第二行");
    Type(Control::编辑框_收件邮箱, "li@example.com");
  }

  // Presses a button and answers every box it shows with OK.
  std::vector<Report> Press(Control button) {
    std::vector<Report> reports;
    QTimer answer;
    answer.setInterval(5);
    QObject::connect(&answer, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      bool enabled = true;
      for (Control control : kConnectionControls) enabled = enabled && window_.IsDisabled(control) == 0;
      reports.push_back({box->text().toStdString(), enabled});
      box->button(QMessageBox::Ok)->click();
    });
    answer.start();
    QTest::mouseClick(static_cast<QAbstractButton*>(window_.ControlWidget(button)), Qt::LeftButton);
    return reports;
  }

  bool Connected() const {
    for (Control control : kConnectionControls)
      if (window_.IsDisabled(control) != 1) return false;
    return true;
  }

  TempHome home_;  // before the window: its created event reads the settings
  MainWindow window_{{app::LoadSettings, app::SaveSettings, app::OnConnectClicked, app::OnSendClicked}};
};

// The greeting and an EHLO answer without AUTH: the session opens at once.
Script& Greeting(Script&& script) {
  return script.Send("220 test ESMTP\r\n").Reply("250-test\r\n250 8BITMIME\r\n");
}

// One accepted mail transaction.
Script& Transaction(Script& script) {
  return script.Reply("250 sender ok\r\n").Reply("250 recipient ok\r\n").Reply("354 go on\r\n")
      .AwaitData().Send("250 queued\r\n");
}

TEST_F(EndToEnd, FirstRunWithoutSettingsFailsToConnectAtOnce) {
  for (Control box : {Control::编辑框_SMTP地址, Control::编辑框_smtp端口, Control::编辑框_发信账号,
                      Control::编辑框_发信密码})
    EXPECT_EQ(Text(box), "") << static_cast<int>(box);

  const auto reports = Press(Control::按钮_登陆邮箱);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].text, "连接失败 请检查！");
  for (Control control : kConnectionControls) EXPECT_EQ(window_.IsDisabled(control), 0);
}

TEST_F(EndToEnd, SendBeforeConnectReachesNoServer) {
  ScriptedServer server(Script().Send("220 test\r\n"));
  TypeConnection(server.Port());
  TypeMessage();

  const auto reports = Press(Control::按钮1);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].text, "请先连接邮箱");
  EXPECT_EQ(server.Connections(), 0u);
}

TEST_F(EndToEnd, ConnectThenSendAcceptedMail) {
  Script script;
  Greeting(std::move(script));
  Transaction(script).Reply("221 bye\r\n");
  ScriptedServer server(std::move(script));
  TypeConnection(server.Port(), "张三 <zhang@example.com>");
  TypeMessage();

  auto reports = Press(Control::按钮_登陆邮箱);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].text, "连接成功可以开始发送邮件");
  EXPECT_TRUE(reports[0].connectionBoxesEnabled) << "locked before the box was dismissed";
  EXPECT_TRUE(Connected());

  // Only the message boxes and the send button take the focus now. The
  // offscreen platform does not give the window back its activation when a
  // box closes.
  window_.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
  window_.ControlWidget(Control::编辑框_标题)->setFocus();
  const Control cycle[] = {Control::编辑框_内容, Control::编辑框_收件邮箱, Control::按钮1, Control::编辑框_标题};
  for (Control next : cycle) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), window_.ControlWidget(next)) << static_cast<int>(next);
  }

  reports = Press(Control::按钮1);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].text, "发送成功");
  EXPECT_EQ(Text(Control::编辑框_标题), "周报");
  EXPECT_EQ(Text(Control::编辑框_内容), "第一行\r\n第二行");
  EXPECT_EQ(Text(Control::编辑框_收件邮箱), "li@example.com");
  EXPECT_TRUE(Connected());

  smtp::ProcessSession().Disconnect();
  const std::string sent = server.Received();
  EXPECT_NE(sent.find("MAIL FROM:<zhang@example.com>\r\nRCPT TO:<li@example.com>\r\nDATA\r\n"),
            std::string::npos) << sent;
  // The display name is GBK in encoded words; the address is the account's.
  EXPECT_NE(sent.find("\r\nFrom: =?gb2312?B?1cXI/Q==?= <zhang@example.com>\r\n"), std::string::npos) << sent;
  EXPECT_NE(sent.find("\r\nReply-To: =?gb2312?B?1cXI/Q==?= <zhang@example.com>\r\n"), std::string::npos) << sent;
  EXPECT_NE(sent.find("\r\nTo: li@example.com\r\n"), std::string::npos) << sent;
  // The body's lines, GBK "第一行\r\n第二行", in base64.
  EXPECT_NE(sent.find("\r\n\r\ntdrSu9DQDQq12rb+0NA=\r\n\r\n.\r\n"), std::string::npos) << sent;
  EXPECT_TRUE(sent.ends_with("QUIT\r\n")) << sent;
  EXPECT_TRUE(server.ScriptFinished());
}

TEST_F(EndToEnd, RefusedSendSaysWhyAndCanBeSentAgain) {
  Script script;
  Greeting(std::move(script))
      .Reply("250 sender ok\r\n")
      .Reply("550 5.1.1 no such user here\r\n")
      .Reply("250 reset\r\n");
  Transaction(script).Reply("221 bye\r\n");
  ScriptedServer server(std::move(script));
  TypeConnection(server.Port());
  TypeMessage();
  ASSERT_EQ(Press(Control::按钮_登陆邮箱).size(), 1u);

  auto reports = Press(Control::按钮1);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].text, "发送失败：5.1.1 no such user here");
  EXPECT_TRUE(Connected());
  EXPECT_EQ(Text(Control::编辑框_标题), "周报");

  reports = Press(Control::按钮1);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].text, "发送成功");

  smtp::ProcessSession().Disconnect();
  const std::string sent = server.Received();
  const std::string envelope = "MAIL FROM:<zhang@example.com>\r\nRCPT TO:<li@example.com>\r\n";
  const auto first = sent.find(envelope + "RSET\r\n");
  ASSERT_NE(first, std::string::npos) << sent;
  EXPECT_NE(sent.find(envelope + "DATA\r\n", first + 1), std::string::npos) << sent;
  EXPECT_TRUE(server.ScriptFinished());
}

TEST_F(EndToEnd, FailedConnectCanBeRetriedWithCorrectedValues) {
  Script script;
  Greeting(std::move(script)).Reply("221 bye\r\n");
  ScriptedServer server(std::move(script));
  int closedPort;
  {
    ScriptedServer gone;
    closedPort = gone.Port();
  }
  TypeConnection(closedPort);

  auto reports = Press(Control::按钮_登陆邮箱);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].text, "连接失败 请检查！");
  for (Control control : kConnectionControls) EXPECT_EQ(window_.IsDisabled(control), 0);

  Type(Control::编辑框_smtp端口, std::to_string(server.Port()).c_str());
  reports = Press(Control::按钮_登陆邮箱);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].text, "连接成功可以开始发送邮件");
  EXPECT_TRUE(Connected());
}

}  // namespace
