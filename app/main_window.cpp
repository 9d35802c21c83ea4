#include "main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

#include <limits>

#include "text_codec.h"
#include "window_design.h"

using app::Control;

namespace {

using app::ControlDesign;
using app::ControlKind;
using app::kControlDesigns;
using app::kFocusOrder;

// Buttons of a message box by the low four bits of the style word, in the
// order the box shows them.
using ButtonSet = std::array<QMessageBox::StandardButton, 3>;
constexpr ButtonSet kButtonSets[] = {
    {QMessageBox::Ok},
    {QMessageBox::Ok, QMessageBox::Cancel},
    {QMessageBox::Abort, QMessageBox::Retry, QMessageBox::Ignore},
    {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel},
    {QMessageBox::Yes, QMessageBox::No},
    {QMessageBox::Retry, QMessageBox::Cancel},
};

// A box's result is the index of the button that closed it in this list.
constexpr QMessageBox::StandardButton kResults[] = {
    QMessageBox::Ok,    QMessageBox::Cancel, QMessageBox::Abort, QMessageBox::Retry,
    QMessageBox::Ignore, QMessageBox::Yes,   QMessageBox::No,
};

QMessageBox::Icon IconOf(unsigned style) {
  switch (style & 0xF0) {
    case 0x10: return QMessageBox::Critical;
    case 0x20: return QMessageBox::Question;
    case 0x30: return QMessageBox::Warning;
    case 0x40: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

// Shows the password as asterisks, whatever the style's own mask character.
class AsteriskPasswordStyle : public QProxyStyle {
 public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == SH_LineEdit_PasswordCharacter) return '*';
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

QString FromGbk(std::string_view gbk) {
  const std::string utf8 = platform::GbkToUtf8(gbk);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

TextValue ToGbk(const QString& text) {
  const QByteArray utf8 = text.toUtf8();
  return platform::Utf8ToGbk({utf8.constData(), static_cast<std::size_t>(utf8.size())});
}

}  // namespace

MainWindow::MainWindow(const app::WindowHandlers& handlers)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint),
      handlers_(handlers) {
  // Qt puts the program's name in a title bar whose title is empty; a blank
  // keeps the bar empty.
  setWindowTitle(QStringLiteral(" "));
  setFont(ControlFont());
  setFixedSize(app::kClientWidth, app::kClientHeight);

  for (const ControlDesign& design : kControlDesigns) {
    const QString text = QString::fromUtf8(design.text);
    QWidget* widget = nullptr;
    switch (design.kind) {
      case ControlKind::kButton: {
        auto* button = new QPushButton(text, this);
        button->setAutoDefault(false);
        button->setDefault(false);
        const auto handler = design.control == Control::按钮_登陆邮箱 ? &app::WindowHandlers::connectClicked
                                                                       : &app::WindowHandlers::sendClicked;
        connect(button, &QPushButton::clicked, this, [this, handler] { RunClickHandler(handlers_.*handler); });
        widget = button;
        break;
      }
      case ControlKind::kLabel: {
        auto* label = new QLabel(text, this);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setTextFormat(Qt::PlainText);
        widget = label;
        break;
      }
      case ControlKind::kLineEdit:
      case ControlKind::kPasswordEdit: {
        auto* edit = new QLineEdit(text, this);
        // No limit of the box's own: Qt's default of 32,767 characters would
        // silently cut a long subject or recipient list.
        edit->setMaxLength(std::numeric_limits<int>::max());
        edit->setCursorPosition(0);
        if (design.kind == ControlKind::kPasswordEdit) {
          // Created after the box, so destroyed after it among the window's children.
          auto* style = new AsteriskPasswordStyle;
          style->setParent(this);
          edit->setStyle(style);
          edit->setEchoMode(QLineEdit::Password);
        }
        widget = edit;
        break;
      }
      case ControlKind::kBodyEdit: {
        auto* edit = new QPlainTextEdit(text, this);
        edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        edit->setTabChangesFocus(true);
        widget = edit;
        break;
      }
    }
    widget->setObjectName(QString::fromUtf8(design.name));
    widget->setGeometry(design.left, design.top, design.width, design.height);
    if (design.kind != ControlKind::kLabel) widget->installEventFilter(this);
    controls_[static_cast<std::size_t>(design.control)] = widget;
  }

  for (std::size_t i = 1; i < std::size(kFocusOrder); ++i)
    setTabOrder(ControlWidget(kFocusOrder[i - 1]), ControlWidget(kFocusOrder[i]));
}

MainWindow::~MainWindow() = default;

bool MainWindow::Start() {
  create();
  if (windowHandle() == nullptr || windowHandle()->handle() == nullptr) return false;
  if (handlers_.created) handlers_.created(*this);

  // Centred with the frame that the platform reports at this point; without
  // a window manager that is none.
  if (const QScreen* screen = this->screen()) {
    const QRect area = screen->geometry();
    const QSize outer = frameGeometry().size();
    move(area.left() + (area.width() - outer.width()) / 2,
         area.top() + (area.height() - outer.height()) / 2);
  }
  show();
  raise();
  activateWindow();
  for (Control control : kFocusOrder) {
    QWidget* widget = ControlWidget(control);
    if (widget->isEnabled() && widget->isVisible()) {
      widget->setFocus(Qt::ActiveWindowFocusReason);
      break;
    }
  }
  return true;
}

QWidget* MainWindow::ControlWidget(Control control) const {
  return controls_[static_cast<std::size_t>(control)];
}

QFont MainWindow::ControlFont() {
  QFont font(QStringLiteral("WenQuanYi Micro Hei"));
  font.setPixelSize(10);
  return font;
}

TextValue MainWindow::GetText(Control editBox) const {
  const QWidget* widget = ControlWidget(editBox);
  if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) return ToGbk(edit->text());
  if (const auto* body = qobject_cast<const QPlainTextEdit*>(widget)) {
    // Lines of the body are separated as a mail body wants them.
    return ToGbk(body->toPlainText().replace(QLatin1Char('\n'), QStringLiteral("\r\n")));
  }
  if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) return ToGbk(button->text());
  return ToGbk(static_cast<const QLabel*>(widget)->text());
}

void MainWindow::SetText(Control editBox, std::string_view text) {
  QWidget* widget = ControlWidget(editBox);
  const QString value = FromGbk(text);
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
    edit->setText(value);
    edit->setCursorPosition(0);
  } else if (auto* body = qobject_cast<QPlainTextEdit*>(widget)) {
    body->setPlainText(QString(value).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
    button->setText(value);
  } else {
    static_cast<QLabel*>(widget)->setText(value);
  }
}

int MainWindow::IsDisabled(Control control) const { return ControlWidget(control)->isEnabled() ? 0 : 1; }

void MainWindow::SetDisabled(Control control, bool disabled) { ControlWidget(control)->setEnabled(!disabled); }

int MainWindow::ShowMessageBox(std::string_view text, unsigned style,
                               std::optional<std::string_view> caption) {
  EndBusyPointer();
  QMessageBox box(IconOf(style), caption ? FromGbk(*caption) : QStringLiteral("信息："), FromGbk(text),
                  QMessageBox::NoButton, this);
  box.setFont(font());
  box.setTextFormat(Qt::PlainText);
  box.setWindowModality(Qt::ApplicationModal);
  const ButtonSet& buttons = kButtonSets[(style & 0xF) < std::size(kButtonSets) ? style & 0xF : 0];
  for (QMessageBox::StandardButton button : buttons)
    if (button != QMessageBox::NoButton) box.addButton(button);
  // The default-button bits name the first to the fourth button; one the box
  // does not have leaves the first as the default.
  const std::size_t defaultIndex = (style >> 8) & 3;
  const bool hasDefault = defaultIndex < buttons.size() && buttons[defaultIndex] != QMessageBox::NoButton;
  box.setDefaultButton(buttons[hasDefault ? defaultIndex : 0]);
  box.exec();

  const QMessageBox::StandardButton clicked = box.standardButton(box.clickedButton());
  for (std::size_t i = 0; i < std::size(kResults); ++i)
    if (kResults[i] == clicked) return static_cast<int>(i);
  return 0;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!destroyedEventRaised_) {
    destroyedEventRaised_ = true;
    if (handlers_.willBeDestroyed) handlers_.willBeDestroyed(*this);
  }
  event->accept();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  // Esc closes the window from any control, before the control sees it.
  if (event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<const QKeyEvent*>(event);
    if (key->key() == Qt::Key_Escape &&
        !(key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier))) {
      close();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void MainWindow::RunClickHandler(app::WindowHandler handler) {
  if (handler == nullptr) return;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  busyPointer_ = true;
  handler(*this);
  EndBusyPointer();
}

// The busy pointer ends when a clicked handler returns or shows its first box.
void MainWindow::EndBusyPointer() {
  if (!busyPointer_) return;
  busyPointer_ = false;
  QApplication::restoreOverrideCursor();
}
