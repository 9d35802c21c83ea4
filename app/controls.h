#pragma once

namespace app {

// The controls of the main window, by their design names, in the order in
// which the design lists them.
enum class Control {
  按钮_登陆邮箱,
  按钮1,
  编辑框_收件邮箱,
  标签7,
  标签6,
  标签5,
  编辑框_内容,
  编辑框_标题,
  标签4,
  标签3,
  标签2,
  标签1,
  编辑框_smtp端口,
  编辑框_发信账号,
  编辑框_发信密码,
  编辑框_SMTP地址,
};

inline constexpr int kControlCount = 16;

}  // namespace app
