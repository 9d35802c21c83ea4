// The program's whole job through the real window, the real handlers and the
// process's session, against a scripted SMTP server on loopback.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include <string>
#include <vector>

#include "aiosmtpd_server.h"
#include "file_fixtures.h"
#include "scripted_server.h"
#include "smtp_session.h"
#include "window_driver.h"

namespace {

using app::Control;
using test_support::Script;
using test_support::ScriptedServer;

class EndToEnd : public testing::Test {
 protected:
  void TypeConnection(int port, const char* account = "zhang@example.com") {
    driver_.Type(Control::编辑框_SMTP地址, "127.0.0.1");
    driver_.Type(Control::编辑框_smtp端口, std::to_string(port));
    driver_.Type(Control::编辑框_发信账号, account);
    driver_.Type(Control::编辑框_发信密码, "secret");
  }
  void TypeMessage() {
    driver_.Type(Control::编辑框_标题, "周报");
    driver_.Type(Control::编辑框_内容, "第一行\n第二行");
    driver_.Type(Control::编辑框_收件邮箱, "li@example.com");
  }

  TempHome home_;  // before the window: its created event reads the settings
  test_support::WindowDriver driver_;
  MainWindow& window_ = driver_.Window();
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
    EXPECT_EQ(driver_.Text(box), "") << static_cast<int>(box);

  const auto reports = driver_.Press(Control::按钮_登陆邮箱);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].text, "连接失败 请检查！");
  EXPECT_EQ(driver_.LockedControls(), 0);
}

TEST_F(EndToEnd, SendBeforeConnectReachesNoServer) {
  ScriptedServer server(Script().Send("220 test\r\n"));
  TypeConnection(server.Port());
  TypeMessage();

  const auto reports = driver_.Press(Control::按钮1);
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

  auto reports = driver_.Press(Control::按钮_登陆邮箱);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].text, "连接成功可以开始发送邮件");
  EXPECT_TRUE(reports[0].connectionBoxesEnabled) << "locked before the box was dismissed";
  EXPECT_EQ(driver_.LockedControls(), 5);

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

  reports = driver_.Press(Control::按钮1);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].text, "发送成功");
  EXPECT_EQ(driver_.Text(Control::编辑框_标题), "周报");
  EXPECT_EQ(driver_.Text(Control::编辑框_内容), "第一行\r\n第二行");
  EXPECT_EQ(driver_.Text(Control::编辑框_收件邮箱), "li@example.com");
  EXPECT_EQ(driver_.LockedControls(), 5);

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
  ASSERT_EQ(driver_.Press(Control::按钮_登陆邮箱).size(), 1u);

  auto reports = driver_.Press(Control::按钮1);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].text, "发送失败：5.1.1 no such user here");
  EXPECT_EQ(driver_.LockedControls(), 5);
  EXPECT_EQ(driver_.Text(Control::编辑框_标题), "周报");

  reports = driver_.Press(Control::按钮1);
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

  auto reports = driver_.Press(Control::按钮_登陆邮箱);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].text, "连接失败 请检查！");
  EXPECT_EQ(driver_.LockedControls(), 0);

  driver_.Type(Control::编辑框_smtp端口, std::to_string(server.Port()));
  reports = driver_.Press(Control::按钮_登陆邮箱);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].text, "连接成功可以开始发送邮件");
  EXPECT_EQ(driver_.LockedControls(), 5);
}

TEST_F(EndToEnd, ConnectsWithAuthLoginAndSendsToARealServer) {
  test_support::AiosmtpdServer server("tester@example.com", "pass word", {"PLAIN"});
  ASSERT_TRUE(server.started()) << server.error();
  driver_.Type(Control::编辑框_SMTP地址, "127.0.0.1");
  driver_.Type(Control::编辑框_smtp端口, std::to_string(server.port()));
  driver_.Type(Control::编辑框_发信账号, "tester@example.com");
  driver_.Type(Control::编辑框_发信密码, "pass word");
  driver_.Type(Control::编辑框_标题, "中文主题：本周的工作总结与下周的计划安排（请查收）");
  driver_.Type(Control::编辑框_内容, "第一行\n第二行：测试");
  driver_.Type(Control::编辑框_收件邮箱, "李四 <li@example.com>; wang@example.com");

  auto reports = driver_.Press(Control::按钮_登陆邮箱);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].text, "连接成功可以开始发送邮件");
  EXPECT_EQ(server.LoginMethods(), std::vector<std::string>{"LOGIN"});

  reports = driver_.Press(Control::按钮1);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].text, "发送成功");

  ASSERT_EQ(server.MessageCount(), 1);
  auto mail = server.DecodeMessage(1);
  EXPECT_EQ(mail["subject"], "中文主题：本周的工作总结与下周的计划安排（请查收）");
  EXPECT_EQ(mail["body"], "第一行\r\n第二行：测试");
  EXPECT_EQ(mail["from"], "tester@example.com");
  EXPECT_EQ(mail["reply_to"], "tester@example.com");
  EXPECT_EQ(mail["to"], "李四 <li@example.com>, wang@example.com");
  EXPECT_EQ(mail["mail_from"], "tester@example.com");
  EXPECT_EQ(mail["rcpt_tos"], "li@example.com,wang@example.com");
}

}  // namespace
