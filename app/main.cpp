#include <QApplication>
#include <QIcon>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

#include "commands.h"
#include "main_window.h"
#include "program_folder.h"
#include "settings_file.h"

namespace {

constexpr char kStartFailure[] = "载入启动窗口失败";

// QApplication aborts when it cannot reach a display, so look first.
bool DisplayAvailable() {
#if defined(__linux__)
  const auto isSet = [](const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
  };
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  if (platform.isEmpty() || platform.startsWith("xcb")) return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY");
  if (platform.startsWith("wayland")) return isSet("WAYLAND_DISPLAY");
#endif
  return true;
}

}  // namespace

int main(int, char** argv) {
  platform::EnterProgramFolder();

  if (!DisplayAvailable()) {
    std::fprintf(stderr, "%s\n", kStartFailure);
    return -1;
  }
  // The program takes no command line, so Qt sees none either.
  int qtArgc = 1;
  char* qtArgv[] = {argv[0], nullptr};
  QApplication application(qtArgc, qtArgv);
  // The installed theme icon, or the copy built into the program.
  QApplication::setWindowIcon(QIcon::fromTheme("mailsender", QIcon(":/icons/mailsender-256.png")));

  MainWindow window({app::LoadSettings, app::SaveSettings, app::OnConnectClicked, app::OnSendClicked});
  if (!window.Start()) {
    QMessageBox::critical(nullptr, QString(), QString::fromUtf8(kStartFailure));
    return -1;
  }
  application.exec();
  return 0;
}
