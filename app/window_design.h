#pragma once
#include "controls.h"

// The main window as its design gives it, for the window of every toolkit:
// the sixteen controls with their places, texts and kinds, and the focus order.
namespace app {

enum class ControlKind { kButton, kLabel, kLineEdit, kPasswordEdit, kBodyEdit };

struct ControlDesign {
  Control control;
  const char8_t* name;  // the design name
  ControlKind kind;
  int left, top, width, height;  // within the client area
  const char8_t* text;           // at creation
};

inline constexpr int kWindowWidth = 432;  // frame and title bar included
inline constexpr int kWindowHeight = 458;
inline constexpr int kClientWidth = 424;
inline constexpr int kClientHeight = 424;

// Indexed by the control: the order of the design's list.
inline constexpr ControlDesign kControlDesigns[kControlCount] = {
    {Control::按钮_登陆邮箱, u8"按钮_登陆邮箱", ControlKind::kButton, 368, 16, 48, 24, u8"登陆"},
    {Control::按钮1, u8"按钮1", ControlKind::kButton, 0, 392, 424, 32, u8"发送"},
    {Control::编辑框_收件邮箱, u8"编辑框_收件邮箱", ControlKind::kLineEdit, 64, 360, 344, 24, u8""},
    {Control::标签7, u8"标签7", ControlKind::kLabel, 16, 360, 48, 24, u8"收件箱："},
    {Control::标签6, u8"标签6", ControlKind::kLabel, 24, 112, 32, 24, u8"内容："},
    {Control::标签5, u8"标签5", ControlKind::kLabel, 24, 80, 32, 24, u8"标题："},
    {Control::编辑框_内容, u8"编辑框_内容", ControlKind::kBodyEdit, 64, 112, 344, 240, u8""},
    {Control::编辑框_标题, u8"编辑框_标题", ControlKind::kLineEdit, 64, 80, 344, 24, u8""},
    {Control::标签4, u8"标签4", ControlKind::kLabel, 200, 48, 32, 24, u8"密码："},
    {Control::标签3, u8"标签3", ControlKind::kLabel, 24, 48, 32, 24, u8"账号："},
    {Control::标签2, u8"标签2", ControlKind::kLabel, 200, 16, 32, 24, u8"端口："},
    {Control::标签1, u8"标签1", ControlKind::kLabel, 8, 16, 56, 24, u8"SMTP地址："},
    {Control::编辑框_smtp端口, u8"编辑框_smtp端口", ControlKind::kLineEdit, 240, 16, 120, 24, u8"25"},
    {Control::编辑框_发信账号, u8"编辑框_发信账号", ControlKind::kLineEdit, 64, 48, 120, 24, u8""},
    {Control::编辑框_发信密码, u8"编辑框_发信密码", ControlKind::kPasswordEdit, 240, 48, 120, 24, u8""},
    {Control::编辑框_SMTP地址, u8"编辑框_SMTP地址", ControlKind::kLineEdit, 64, 16, 120, 24, u8""},
};

constexpr bool ControlDesignsInEnumOrder() {
  for (int i = 0; i < kControlCount; ++i)
    if (static_cast<int>(kControlDesigns[i].control) != i) return false;
  return true;
}
static_assert(ControlDesignsInEnumOrder(), "kControlDesigns is indexed by the control");

// The order of keyboard focus: the design's list read from its end, less the
// labels.
inline constexpr Control kFocusOrder[] = {
    Control::编辑框_SMTP地址, Control::编辑框_发信密码, Control::编辑框_发信账号,
    Control::编辑框_smtp端口, Control::编辑框_标题,     Control::编辑框_内容,
    Control::编辑框_收件邮箱, Control::按钮1,           Control::按钮_登陆邮箱,
};

}  // namespace app
