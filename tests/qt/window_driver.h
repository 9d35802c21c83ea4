#pragma once
#include <string>
#include <vector>

#include "controls.h"
#include "main_window.h"

namespace test_support {

// The real window bound to the real handlers and the process's session,
// driven as a user would: texts typed into boxes, buttons pressed, and every
// box a press shows answered with OK. The created event reads the settings
// of whatever HOME is set when the driver is made.
class WindowDriver {
 public:
  // A box the window showed: its text, and whether the connection boxes
  // were still enabled while it was on the screen.
  struct Report {
    std::string text;  // UTF-8
    bool connectionBoxesEnabled;
  };

  WindowDriver();
  // Closes the window (saving the settings) and the process's session.
  ~WindowDriver();
  WindowDriver(const WindowDriver&) = delete;
  WindowDriver& operator=(const WindowDriver&) = delete;

  MainWindow& Window() { return window_; }

  void Type(app::Control box, const std::string& utf8);
  std::string Text(app::Control box) const;  // UTF-8
  // Presses a button with the mouse; the boxes it showed, in order.
  std::vector<Report> Press(app::Control button);
  // How many of the four connection boxes and the connect button are
  // disabled: 5 once a connect has succeeded, 0 before.
  int LockedControls() const;

 private:
  MainWindow window_;
};

}  // namespace test_support
