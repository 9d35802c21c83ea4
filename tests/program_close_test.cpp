// The real program as a user runs it, on a virtual X display: it connects with
// the stored settings, and when its window is closed it saves the settings
// and its session sends QUIT as the process ends.
#include <gtest/gtest.h>

#include <string>

#include "child_process.h"
#include "file_fixtures.h"
#include "profile.h"
#include "scripted_server.h"
#include "tcp_socket.h"

namespace {

using test_support::ChildProcess;
using test_support::RunCommand;
using test_support::Script;
using test_support::ScriptedServer;

const std::string kProgram = std::string(MAILSENDER_BINARY_DIR) + "/mailsender";

// xdotool against the display; its output without the final line break.
std::string XdoTool(const std::string& display, std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "/usr/bin/xdotool");
  const auto output = RunCommand(arguments, {"DISPLAY=" + display});
  if (!output) return {};
  std::string text = *output;
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// Waits (bounded by xdotool's own retries and RunCommand's limit) for a
// visible window whose name or class matches, and gives it the keyboard.
std::string FocusWindow(const std::string& display, const std::string& what, const std::string& pattern) {
  std::string id = XdoTool(display, {"search", "--sync", "--onlyvisible", what, pattern});
  id = id.substr(0, id.find('\n'));
  if (!id.empty()) XdoTool(display, {"windowfocus", "--sync", id});
  return id;
}

TEST(ProgramClose, SavesTheSettingsAndQuitsTheOpenSessionAsTheProcessEnds) {
  TempHome home;
  ScriptedServer server(Script()
                            .Send("220 test ESMTP\r\n")
                            .Reply("250-test\r\n250 8BITMIME\r\n")
                            .Reply("221 bye\r\n"));
  // No desktop folder in the new home: the settings file lies in the home.
  const std::string settings = home.Path() + "/" + Utf8(u8"邮件发送配置.ini");
  const std::string port = std::to_string(server.Port());
  for (const auto& [key, value] : {std::pair<const char*, std::string>{"SMTP地址", "127.0.0.1"},
                                   {"SMTP端口", port},
                                   {"账号", "张三@example.com"},
                                   {"密码", "密 码"}})
    ASSERT_TRUE(platform::WriteProfileString(settings, "邮箱配置", key, value));

  ChildProcess xvfb({"/usr/bin/Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
  ASSERT_TRUE(xvfb.Started());
  const auto number = xvfb.ReadLine(10000);
  ASSERT_TRUE(number) << "Xvfb did not start";
  const std::string display = ":" + *number;

  ChildProcess program({kProgram}, {"DISPLAY=" + display, "QT_QPA_PLATFORM", "HOME=" + home.Path(),
                                    "XDG_CONFIG_HOME=" + home.Path() + "/.config"});
  ASSERT_TRUE(program.Started());
  const std::string window = FocusWindow(display, "--class", "mailsender");
  ASSERT_FALSE(window.empty()) << "the window did not appear";

  // The focus starts in the server box; one step back is the connect button.
  XdoTool(display, {"key", "--clearmodifiers", "shift+Tab", "space"});
  ASSERT_FALSE(FocusWindow(display, "--name", Utf8(u8"信息：")).empty()) << "no report box";
  XdoTool(display, {"key", "space"});

  XdoTool(display, {"windowfocus", "--sync", window});
  XdoTool(display, {"key", "Escape"});
  EXPECT_EQ(program.Wait(10000), 0);

  const std::string sent = server.Received();
  const std::string host = platform::LocalHostName().empty() ? "localhost" : platform::LocalHostName();
  // Nothing after the connect's EHLO until the process ended.
  EXPECT_EQ(sent, "EHLO " + host + "\r\nQUIT\r\n");
  EXPECT_TRUE(server.ScriptFinished());
  for (const auto& [key, value] : {std::pair<const char*, std::string>{"SMTP地址", "127.0.0.1"},
                                   {"SMTP端口", port},
                                   {"账号", "张三@example.com"},
                                   {"密码", "密 码"}})
    EXPECT_EQ(platform::ReadProfileString(settings, "邮箱配置", key, "", 10240), value) << key;
  EXPECT_EQ(FileMode(settings), 0600);
}

}  // namespace
