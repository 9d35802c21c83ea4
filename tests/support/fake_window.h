#pragma once
#include <array>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "window_operations.h"

// The main window's operations held in memory, for tests of the handlers.
// Every control starts enabled with an empty text, except 编辑框_smtp端口,
// which starts with its text at creation, "25".
class FakeWindow : public app::WindowOperations {
 public:
  struct ShownBox {
    TextValue text;
    unsigned style = 0;
    std::optional<TextValue> caption;
  };

  FakeWindow();

  TextValue GetText(app::Control editBox) const override;
  void SetText(app::Control editBox, std::string_view text) override;
  int IsDisabled(app::Control control) const override;
  void SetDisabled(app::Control control, bool disabled) override;
  // Records the box, runs onMessageBox while it is "open", and returns 0 (OK).
  int ShowMessageBox(std::string_view text, unsigned style = 0,
                     std::optional<std::string_view> caption = std::nullopt) override;

  // The boxes shown so far, in order.
  const std::vector<ShownBox>& MessageBoxes() const { return messageBoxes_; }
  // Just their texts, in order.
  std::vector<TextValue> MessageTexts() const;

  // Run for every box shown, after it has been recorded.
  std::function<void(const ShownBox&)> onMessageBox;

 private:
  std::array<TextValue, app::kControlCount> texts_{};
  std::array<bool, app::kControlCount> disabled_{};
  std::vector<ShownBox> messageBoxes_;
};
