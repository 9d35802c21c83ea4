#include "fake_window.h"

namespace {

std::size_t Index(app::Control control) { return static_cast<std::size_t>(control); }

}  // namespace

FakeWindow::FakeWindow() { texts_[Index(app::Control::编辑框_smtp端口)] = "25"; }

TextValue FakeWindow::GetText(app::Control editBox) const { return texts_[Index(editBox)]; }

void FakeWindow::SetText(app::Control editBox, std::string_view text) {
  texts_[Index(editBox)] = TextValue(text);
}

int FakeWindow::IsDisabled(app::Control control) const { return disabled_[Index(control)] ? 1 : 0; }

void FakeWindow::SetDisabled(app::Control control, bool disabled) { disabled_[Index(control)] = disabled; }

int FakeWindow::ShowMessageBox(std::string_view text, unsigned style,
                               std::optional<std::string_view> caption) {
  ShownBox box{TextValue(text), style, std::nullopt};
  if (caption) box.caption = TextValue(*caption);
  messageBoxes_.push_back(box);
  // The hook gets its own copy: it may show further boxes.
  if (onMessageBox) onMessageBox(box);
  return 0;
}

std::vector<TextValue> FakeWindow::MessageTexts() const {
  std::vector<TextValue> texts;
  for (const ShownBox& box : messageBoxes_) texts.push_back(box.text);
  return texts;
}
