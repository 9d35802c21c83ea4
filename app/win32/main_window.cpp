#include "main_window.h"

#include <string>

#include "window_design.h"

using app::Control;

namespace {

using app::ControlDesign;
using app::ControlKind;
using app::kControlDesigns;
using app::kWindowHeight;
using app::kWindowWidth;

constexpr int kFirstControlId = 1000;  // clear of IDOK and IDCANCEL
constexpr wchar_t kWindowClass[] = L"MailSenderMainWindow";
constexpr char kDefaultCaption[] = "信息：";

constexpr int Index(Control control) { return static_cast<int>(control); }

// A text of the design as the wide text the controls take.
std::wstring WideText(const char8_t* utf8) {
  const char* bytes = reinterpret_cast<const char*>(utf8);
  const int length = MultiByteToWideChar(CP_UTF8, 0, bytes, -1, nullptr, 0);
  std::wstring wide(length > 1 ? length - 1 : 0, L'\0');
  if (length > 1) MultiByteToWideChar(CP_UTF8, 0, bytes, -1, wide.data(), length);
  return wide;
}

struct ClassAndStyle {
  const wchar_t* className;
  DWORD style;
  DWORD extendedStyle;
};

ClassAndStyle StyleOf(ControlKind kind) {
  constexpr DWORD kEdit = WS_TABSTOP | ES_LEFT;
  switch (kind) {
    case ControlKind::kButton:
      return {L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON | BS_MULTILINE, 0};
    case ControlKind::kLabel:
      return {L"STATIC", SS_LEFT | SS_CENTERIMAGE | SS_NOPREFIX, 0};
    case ControlKind::kLineEdit:
      return {L"EDIT", kEdit | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE};
    case ControlKind::kPasswordEdit:
      return {L"EDIT", kEdit | ES_AUTOHSCROLL | ES_PASSWORD, WS_EX_CLIENTEDGE};
    case ControlKind::kBodyEdit:
      // Wraps at the right edge and has no scroll bars; Enter breaks the line.
      return {L"EDIT", kEdit | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN, WS_EX_CLIENTEDGE};
  }
  return {};
}

// A message box's result: the index of the button that closed it.
int ButtonIndex(int commandId) {
  return commandId >= IDOK && commandId <= IDNO ? commandId - IDOK : 0;
}

bool ModifierDown() {
  return (GetKeyState(VK_CONTROL) | GetKeyState(VK_SHIFT) | GetKeyState(VK_MENU)) & 0x8000;
}

}  // namespace

MainWindow::MainWindow(const app::WindowHandlers& handlers) : handlers_(handlers) {}

MainWindow::~MainWindow() {
  if (window_ != nullptr) DestroyWindow(window_);
}

bool MainWindow::Create(HINSTANCE instance) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &MainWindow::WindowProcedure;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
  windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    return false;

  const int left = (GetSystemMetrics(SM_CXSCREEN) - kWindowWidth) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - kWindowHeight) / 2;
  // A fixed frame: caption, system menu and minimise button, no sizing.
  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
  if (!CreateWindowExW(0, kWindowClass, L"", style, left, top, kWindowWidth, kWindowHeight,
                       nullptr, nullptr, instance, this))
    return false;

  const auto font = reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT));
  // Tab follows the order of creation, and the focus order is the design
  // list read from its end: the controls are made from the last to the first.
  for (int i = app::kControlCount - 1; i >= 0; --i) {
    const ControlDesign& design = kControlDesigns[i];
    const ClassAndStyle kind = StyleOf(design.kind);
    HWND control = CreateWindowExW(
        kind.extendedStyle, kind.className, WideText(design.text).c_str(), WS_CHILD | WS_VISIBLE | kind.style,
        design.left, design.top, design.width, design.height, window_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + i)), instance, nullptr);
    if (control == nullptr) return false;
    controls_[static_cast<std::size_t>(i)] = control;
    SendMessageW(control, WM_SETFONT, font, FALSE);
    if (design.kind == ControlKind::kPasswordEdit) SendMessageW(control, EM_SETPASSWORDCHAR, L'*', 0);
    // No limit of the box's own: as much as the platform holds.
    if (design.kind != ControlKind::kButton && design.kind != ControlKind::kLabel)
      SendMessageW(control, EM_SETLIMITTEXT, 0, 0);
  }
  return true;
}

void MainWindow::Start() {
  started_ = true;
  if (handlers_.created != nullptr) handlers_.created(*this);
  ShowWindow(window_, SW_SHOW);
  UpdateWindow(window_);
  SetForegroundWindow(window_);
  RestoreFocus();  // nothing had the focus yet: the first control of the order
}

int MainWindow::RunMessageLoop() {
  MSG message;
  // Wide messages throughout: typed characters outside the ANSI code page
  // would otherwise be lost before they reach the boxes.
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    // Esc closes from every control, the multi-line body included, which
    // would otherwise take the key for itself.
    if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE && !ModifierDown() &&
        window_ != nullptr && (message.hwnd == window_ || IsChild(window_, message.hwnd))) {
      SendMessageW(window_, WM_CLOSE, 0, 0);
      continue;
    }
    if (window_ != nullptr && IsDialogMessageW(window_, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

HWND MainWindow::ControlHandle(Control control) const {
  return controls_[static_cast<std::size_t>(Index(control))];
}

TextValue MainWindow::GetText(Control editBox) const {
  // The window converts its Unicode text into the ANSI code page itself.
  HWND control = ControlHandle(editBox);
  const int length = GetWindowTextLengthA(control);
  if (length <= 0) return {};
  TextValue text(static_cast<std::size_t>(length) + 1, '\0');
  text.resize(static_cast<std::size_t>(GetWindowTextA(control, text.data(), length + 1)));
  return text;
}

void MainWindow::SetText(Control editBox, std::string_view text) {
  const std::string value(text);
  SetWindowTextA(ControlHandle(editBox), value.c_str());
}

int MainWindow::IsDisabled(Control control) const {
  return IsWindowEnabled(ControlHandle(control)) ? 0 : 1;
}

void MainWindow::SetDisabled(Control control, bool disabled) {
  HWND handle = ControlHandle(control);
  EnableWindow(handle, disabled ? FALSE : TRUE);
  // A disabled control cannot keep the focus: it moves on in the focus order.
  if (disabled && GetFocus() == handle) FocusNext(false);
}

int MainWindow::ShowMessageBox(std::string_view text, unsigned style,
                               std::optional<std::string_view> caption) {
  EndBusyPointer();
  const std::string body(text);
  const std::string title(caption.value_or(kDefaultCaption));
  // Task-modal unless system-modal is asked for: no window of the program
  // takes input while the box is open.
  UINT type = style;
  if (!(type & MB_SYSTEMMODAL)) type |= MB_TASKMODAL;
  return ButtonIndex(MessageBoxA(nullptr, body.c_str(), title.c_str(), type));
}

LRESULT CALLBACK MainWindow::WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  return self->HandleMessage(message, wParam, lParam);
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) {
        const auto source = reinterpret_cast<HWND>(lParam);
        if (source != nullptr && source == ControlHandle(Control::按钮_登陆邮箱))
          RunClickHandler(handlers_.connectClicked);
        else if (source != nullptr && source == ControlHandle(Control::按钮1))
          RunClickHandler(handlers_.sendClicked);
      }
      return 0;
    case WM_NEXTDLGCTL:
      // Sent by the multi-line body for Tab, since the dialog manager lets it
      // have the key: lParam says whether wParam is a control or a direction.
      if (LOWORD(lParam))
        FocusControl(reinterpret_cast<HWND>(wParam));
      else
        FocusNext(wParam != 0);
      return 0;
    case WM_ACTIVATE:
      // Keep the focused control across a message box or a switch to another
      // program, as a dialog does.
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(window_, focus)) lastFocus_ = focus;
      } else if (!HIWORD(wParam)) {
        RestoreFocus();
      }
      return 0;
    case WM_SETFOCUS:
      RestoreFocus();
      return 0;
    case WM_DESTROY:
      // The controls still exist and hold their texts here. A window that
      // never started (its creation failed) saves nothing.
      if (started_ && !destroyedEventRaised_) {
        destroyedEventRaised_ = true;
        if (handlers_.willBeDestroyed != nullptr) handlers_.willBeDestroyed(*this);
      }
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      window_ = nullptr;
      controls_.fill(nullptr);
      lastFocus_ = nullptr;
      break;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

void MainWindow::RunClickHandler(app::WindowHandler handler) {
  if (handler == nullptr) return;
  restoreCursor_ = SetCursor(LoadCursor(nullptr, IDC_WAIT));
  busyPointer_ = true;
  handler(*this);
  EndBusyPointer();
}

// The busy pointer ends when a clicked handler returns or shows its first box.
void MainWindow::EndBusyPointer() {
  if (!busyPointer_) return;
  busyPointer_ = false;
  SetCursor(restoreCursor_ != nullptr ? restoreCursor_ : LoadCursor(nullptr, IDC_ARROW));
}

void MainWindow::FocusControl(HWND control) {
  if (control == nullptr) return;
  // Like a dialog, an edit box entered by the keyboard has its text selected.
  if (SendMessageW(control, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL)
    SendMessageW(control, EM_SETSEL, 0, -1);
  SetFocus(control);
}

void MainWindow::RestoreFocus() {
  if (lastFocus_ != nullptr && IsWindowEnabled(lastFocus_))
    SetFocus(lastFocus_);
  else
    SetFocus(GetNextDlgTabItem(window_, nullptr, FALSE));
}

void MainWindow::FocusNext(bool previous) {
  HWND focus = GetFocus();
  if (focus != nullptr && !IsChild(window_, focus)) focus = nullptr;
  FocusControl(GetNextDlgTabItem(window_, focus, previous ? TRUE : FALSE));
}
