#pragma once
#include <QFont>
#include <QWidget>

#include <array>

#include "controls.h"
#include "window_operations.h"

// The one window of the program: sixteen controls at fixed places, the focus
// order of the design, Esc to close, and the four events bound to handlers.
// It declares no signals or slots: moc cannot read the Chinese control names.
class MainWindow : public QWidget, public app::WindowOperations {
 public:
  explicit MainWindow(const app::WindowHandlers& handlers);
  ~MainWindow() override;

  // Raises the created event, then shows the window centred and focused.
  // False when the window cannot be created; the created event is then not
  // raised.
  bool Start();

  QWidget* ControlWidget(app::Control control) const;

  // The font of the window and its message boxes, small enough for the
  // narrowest labels ("内容：" in 32 pixels) at the fixed layout.
  static QFont ControlFont();

  TextValue GetText(app::Control editBox) const override;
  void SetText(app::Control editBox, std::string_view text) override;
  int IsDisabled(app::Control control) const override;
  void SetDisabled(app::Control control, bool disabled) override;
  int ShowMessageBox(std::string_view text, unsigned style = 0,
                     std::optional<std::string_view> caption = std::nullopt) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Runs a clicked handler under the busy pointer.
  void RunClickHandler(app::WindowHandler handler);
  void EndBusyPointer();

  app::WindowHandlers handlers_;
  std::array<QWidget*, app::kControlCount> controls_{};
  bool destroyedEventRaised_ = false;
  bool busyPointer_ = false;
};
