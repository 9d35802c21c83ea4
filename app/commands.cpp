#include "commands.h"

#include <cstdint>
#include <string>

#include "smtp_session.h"

namespace app {
namespace {

// Full-width forms of GBK that a port may be typed in, folded to ASCII.
// Returns 0 when the pair is not one of them.
char FoldFullWidth(unsigned char lead, unsigned char trail) {
  if (lead == 0xA1) {
    switch (trail) {
      case 0xA1: return ' ';  // ideographic space
      case 0xAB: return '~';  // full-width tilde
      case 0xEE:              // white star
      case 0xEF: return '*';  // black star
      default: return 0;
    }
  }
  if (lead == 0xA3 && trail >= 0xA1 && trail <= 0xFE) return static_cast<char>(trail & 0x7F);
  return 0;
}

std::string FoldFullWidthText(std::string_view text) {
  std::string folded;
  folded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      folded += text[i];
      continue;
    }
    if (i + 1 >= text.size()) break;  // a lone lead byte at the end is dropped
    const auto trail = static_cast<unsigned char>(text[++i]);
    if (const char ascii = FoldFullWidth(byte, trail)) {
      folded += ascii;
    } else {
      folded += text[i - 1];
      folded += text[i];
    }
  }
  return folded;
}

bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

void Report(WindowOperations& window, std::string_view text) { window.ShowMessageBox(text, 0); }

}  // namespace

std::int32_t TextToInteger(std::string_view text) {
  text = text.substr(0, text.find('\0'));  // a TextValue ends at its first zero byte
  const std::string folded = FoldFullWidthText(text);
  std::size_t i = 0;
  while (i < folded.size() && IsCSpace(folded[i])) ++i;
  bool negative = false;
  if (i < folded.size() && (folded[i] == '+' || folded[i] == '-')) negative = folded[i++] == '-';
  // Unsigned arithmetic wraps modulo 2^32 as the two's-complement value does,
  // without the undefined behaviour of signed overflow.
  std::uint32_t value = 0;
  for (; i < folded.size() && folded[i] >= '0' && folded[i] <= '9'; ++i)
    value = value * 10u + static_cast<std::uint32_t>(folded[i] - '0');
  if (negative) value = 0u - value;
  return static_cast<std::int32_t>(value);
}

void OnConnectClicked(WindowOperations& window) {
  const int port = TextToInteger(window.GetText(Control::编辑框_smtp端口));
  const TextValue server = window.GetText(Control::编辑框_SMTP地址);
  const TextValue user = window.GetText(Control::编辑框_发信账号);
  const TextValue password = window.GetText(Control::编辑框_发信密码);
  if (!smtp::ConnectSmtpServer(server, port, user, password)) {
    Report(window, "连接失败 请检查！");
    return;
  }
  Report(window, "连接成功可以开始发送邮件");
  for (Control control : {Control::编辑框_SMTP地址, Control::编辑框_smtp端口, Control::编辑框_发信账号,
                          Control::编辑框_发信密码, Control::按钮_登陆邮箱})
    window.SetDisabled(control, true);
}

void OnSendClicked(WindowOperations& window) {
  // The disabled connect button is the one record that a connect succeeded.
  if (window.IsDisabled(Control::按钮_登陆邮箱) != 1) {
    Report(window, "请先连接邮箱");
    return;
  }
  const TextValue failure =
      smtp::SendMail(window.GetText(Control::编辑框_标题), window.GetText(Control::编辑框_内容),
                     window.GetText(Control::编辑框_收件邮箱), window.GetText(Control::编辑框_发信账号));
  if (failure.empty()) {
    Report(window, "发送成功");
    return;
  }
  TextValue report = "发送失败：";
  report += failure;
  Report(window, report);
}

}  // namespace app
