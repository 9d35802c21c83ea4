#include "window_driver.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include "commands.h"
#include "settings_file.h"
#include "smtp_session.h"
#include "text_codec.h"

namespace test_support {
namespace {

using app::Control;

constexpr Control kConnectionControls[] = {Control::编辑框_SMTP地址, Control::编辑框_smtp端口,
                                           Control::编辑框_发信账号, Control::编辑框_发信密码,
                                           Control::按钮_登陆邮箱};

}  // namespace

WindowDriver::WindowDriver()
    : window_({app::LoadSettings, app::SaveSettings, app::OnConnectClicked, app::OnSendClicked}) {
  window_.Start();
  if (!QTest::qWaitForWindowExposed(&window_)) ADD_FAILURE() << "the window was not shown";
}

WindowDriver::~WindowDriver() {
  window_.close();
  smtp::ProcessSession().Disconnect();
}

void WindowDriver::Type(Control box, const std::string& utf8) {
  window_.SetText(box, platform::Utf8ToGbk(utf8));
}

std::string WindowDriver::Text(Control box) const {
  return platform::GbkToUtf8(window_.GetText(box));
}

std::vector<WindowDriver::Report> WindowDriver::Press(Control button) {
  std::vector<Report> reports;
  // A box runs its own event loop, in which this timer answers it.
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

int WindowDriver::LockedControls() const {
  int locked = 0;
  for (Control control : kConnectionControls) locked += window_.IsDisabled(control);
  return locked;
}

}  // namespace test_support
