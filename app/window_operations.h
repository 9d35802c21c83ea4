#pragma once
#include <optional>
#include <string_view>

#include "controls.h"
#include "text_value.h"

namespace app {

// What the handlers may do with the main window; all they know of it. Texts
// are GBK on both sides of this interface.
class WindowOperations {
 public:
  virtual ~WindowOperations() = default;

  // The edit box's current text.
  virtual TextValue GetText(Control editBox) const = 0;
  // Replaces the edit box's whole text; the empty text empties it.
  virtual void SetText(Control editBox, std::string_view text) = 0;
  // 1 when the control is disabled, 0 when it is enabled.
  virtual int IsDisabled(Control control) const = 0;
  virtual void SetDisabled(Control control, bool disabled) = 0;
  // A modal box with the text, titled "信息：" unless a caption is given; style
  // 0 gives one OK button and no icon. Returns when the user has dismissed it,
  // with the index of the button that closed it (0 OK).
  virtual int ShowMessageBox(std::string_view text, unsigned style = 0,
                             std::optional<std::string_view> caption = std::nullopt) = 0;
};

// A handler of one of the window's events.
using WindowHandler = void (*)(WindowOperations& window);

struct WindowHandlers {
  WindowHandler created = nullptr;          // before the window is first shown
  WindowHandler willBeDestroyed = nullptr;  // while the controls hold their texts
  WindowHandler connectClicked = nullptr;   // 按钮_登陆邮箱
  WindowHandler sendClicked = nullptr;      // 按钮1
};

}  // namespace app
