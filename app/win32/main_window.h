#pragma once
#include <windows.h>

#include <array>

#include "controls.h"
#include "window_operations.h"

// The one window of the program on Win32: sixteen child controls at the
// design's places, Tab and Shift+Tab in the design's focus order, Esc to
// close, and the four events bound to handlers. Texts cross the window's
// edge in the ANSI code page; the windows themselves are Unicode, so typed
// text of any script reaches the edit boxes.
class MainWindow final : public app::WindowOperations {
 public:
  explicit MainWindow(const app::WindowHandlers& handlers);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Creates the window, hidden, and its controls. False when one of them
  // cannot be made.
  bool Create(HINSTANCE instance);
  // Raises the created event, then shows the window centred, with the focus
  // in the first control of the focus order.
  void Start();
  // Runs the message loop until the window is gone; the loop's exit code.
  int RunMessageLoop();

  HWND Handle() const { return window_; }
  HWND ControlHandle(app::Control control) const;

  TextValue GetText(app::Control editBox) const override;
  void SetText(app::Control editBox, std::string_view text) override;
  int IsDisabled(app::Control control) const override;
  void SetDisabled(app::Control control, bool disabled) override;
  int ShowMessageBox(std::string_view text, unsigned style = 0,
                     std::optional<std::string_view> caption = std::nullopt) override;

 private:
  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                          LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void RunClickHandler(app::WindowHandler handler);
  void EndBusyPointer();
  // Gives the focus to control as Tab does.
  void FocusControl(HWND control);
  // Gives the focus back to the control that had it, or else to the first.
  void RestoreFocus();
  void FocusNext(bool previous);

  app::WindowHandlers handlers_;
  HWND window_ = nullptr;
  std::array<HWND, app::kControlCount> controls_{};
  HWND lastFocus_ = nullptr;  // the control to give the focus back on activation
  HCURSOR restoreCursor_ = nullptr;
  bool busyPointer_ = false;
  bool started_ = false;  // the created event has been raised
  bool destroyedEventRaised_ = false;
};
