#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "main_window.h"
#include "text_codec.h"

using app::Control;

namespace {

std::string Utf8(const QString& text) { return text.toStdString(); }

// What the handlers saw; reset before every test.
struct Seen {
  int created = 0;
  bool visibleWhenCreated = true;
  int destroyed = 0;
  TextValue addressWhenDestroyed;
  TextValue bodyWhenDestroyed;
  int clicks = 0;
  bool busyInHandler = false;
  bool busyInBox = true;
  int boxResult = -1;
} seen;

// Runs `inspect` on the next message box once it is on the screen, then
// presses its button `press`.
void DismissNextBox(std::function<void(QMessageBox&)> inspect, QMessageBox::StandardButton press) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, inspect, press] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    timer->deleteLater();
    timer->stop();
    inspect(*box);
    if (QAbstractButton* button = box->button(press)) {
      button->click();
    } else {
      box->reject();
    }
  });
  timer->start(5);
}

bool Busy() {
  return QApplication::overrideCursor() != nullptr &&
         QApplication::overrideCursor()->shape() == Qt::WaitCursor;
}

void CountClick(app::WindowOperations&) {
  ++seen.clicks;
  seen.busyInHandler = Busy();
}

void ClickWithBox(app::WindowOperations& window) {
  CountClick(window);
  DismissNextBox([](QMessageBox&) { seen.busyInBox = Busy(); }, QMessageBox::Ok);
  seen.boxResult = window.ShowMessageBox("\xc1\xac\xbd\xd3\xb3\xc9\xb9\xa6");  // 连接成功
}

void RecordCreated(app::WindowOperations& window) {
  ++seen.created;
  seen.visibleWhenCreated = dynamic_cast<MainWindow&>(window).isVisible();
  window.SetText(Control::编辑框_smtp端口, "");
}

void RecordDestroyed(app::WindowOperations& window) {
  ++seen.destroyed;
  seen.addressWhenDestroyed = window.GetText(Control::编辑框_SMTP地址);
  seen.bodyWhenDestroyed = window.GetText(Control::编辑框_内容);
}

constexpr app::WindowHandlers kHandlers{RecordCreated, RecordDestroyed, ClickWithBox, CountClick};

class WindowTest : public testing::Test {
 protected:
  // Closing a window must not leave a quit request behind for the next
  // test's message boxes.
  static void SetUpTestSuite() { QApplication::setQuitOnLastWindowClosed(false); }

  void SetUp() override { seen = {}; }

  void StartWindow() {
    ASSERT_TRUE(window.Start());
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  }

  QWidget* Widget(Control control) const { return window.ControlWidget(control); }
  std::string FocusName() const {
    return QApplication::focusWidget() ? Utf8(QApplication::focusWidget()->objectName()) : "(none)";
  }
  void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
  }

  MainWindow window{kHandlers};
};

TEST_F(WindowTest, IsAFixedWindowWithoutMaximiseOrTitleCentredOnTheScreen) {
  EXPECT_EQ(window.size(), QSize(424, 424));
  EXPECT_EQ(window.minimumSize(), window.maximumSize());
  const Qt::WindowFlags flags = window.windowFlags();
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
  EXPECT_TRUE(window.windowTitle().trimmed().isEmpty());

  StartWindow();
  const QRect screen = window.screen()->geometry();
  const QRect frame = window.frameGeometry();
  EXPECT_EQ(frame.left(), screen.left() + (screen.width() - frame.width()) / 2);
  EXPECT_EQ(frame.top(), screen.top() + (screen.height() - frame.height()) / 2);
}

struct ControlCase {
  Control control;
  const char* name;
  const char* className;
  QRect rect;
  const char* text;
};

const ControlCase kControls[] = {
    {Control::按钮_登陆邮箱, "按钮_登陆邮箱", "QPushButton", {368, 16, 48, 24}, "登陆"},
    {Control::按钮1, "按钮1", "QPushButton", {0, 392, 424, 32}, "发送"},
    {Control::编辑框_收件邮箱, "编辑框_收件邮箱", "QLineEdit", {64, 360, 344, 24}, ""},
    {Control::标签7, "标签7", "QLabel", {16, 360, 48, 24}, "收件箱："},
    {Control::标签6, "标签6", "QLabel", {24, 112, 32, 24}, "内容："},
    {Control::标签5, "标签5", "QLabel", {24, 80, 32, 24}, "标题："},
    {Control::编辑框_内容, "编辑框_内容", "QPlainTextEdit", {64, 112, 344, 240}, ""},
    {Control::编辑框_标题, "编辑框_标题", "QLineEdit", {64, 80, 344, 24}, ""},
    {Control::标签4, "标签4", "QLabel", {200, 48, 32, 24}, "密码："},
    {Control::标签3, "标签3", "QLabel", {24, 48, 32, 24}, "账号："},
    {Control::标签2, "标签2", "QLabel", {200, 16, 32, 24}, "端口："},
    {Control::标签1, "标签1", "QLabel", {8, 16, 56, 24}, "SMTP地址："},
    {Control::编辑框_smtp端口, "编辑框_smtp端口", "QLineEdit", {240, 16, 120, 24}, "25"},
    {Control::编辑框_发信账号, "编辑框_发信账号", "QLineEdit", {64, 48, 120, 24}, ""},
    {Control::编辑框_发信密码, "编辑框_发信密码", "QLineEdit", {240, 48, 120, 24}, ""},
    {Control::编辑框_SMTP地址, "编辑框_SMTP地址", "QLineEdit", {64, 16, 120, 24}, ""},
};

const Control kEditBoxes[] = {
    Control::编辑框_收件邮箱, Control::编辑框_内容,     Control::编辑框_标题,     Control::编辑框_smtp端口,
    Control::编辑框_发信账号, Control::编辑框_发信密码, Control::编辑框_SMTP地址,
};

QString ShownText(const QWidget* widget) {
  if (auto* label = qobject_cast<const QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<const QPushButton*>(widget)) return button->text();
  if (auto* edit = qobject_cast<const QLineEdit*>(widget)) return edit->text();
  return qobject_cast<const QPlainTextEdit*>(widget)->toPlainText();
}

TEST_F(WindowTest, HoldsTheSixteenControlsOfTheDesign) {
  ASSERT_EQ(std::size(kControls), std::size_t{app::kControlCount});
  for (const ControlCase& expected : kControls) {
    SCOPED_TRACE(expected.name);
    const QWidget* widget = Widget(expected.control);
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(Utf8(widget->objectName()), expected.name);
    EXPECT_EQ(window.findChildren<QWidget*>(QString::fromUtf8(expected.name)).size(), 1);
    EXPECT_STREQ(widget->metaObject()->className(), expected.className);
    EXPECT_EQ(widget->geometry(), expected.rect);
    EXPECT_EQ(Utf8(ShownText(widget)), expected.text);
    EXPECT_TRUE(widget->isEnabled());
    EXPECT_FALSE(widget->isHidden());

    if (auto* label = qobject_cast<const QLabel*>(widget)) {
      EXPECT_EQ(label->alignment(), Qt::AlignLeft | Qt::AlignVCenter);
      EXPECT_EQ(label->frameShape(), QFrame::NoFrame);
      EXPECT_EQ(label->focusPolicy(), Qt::NoFocus);
    }
    if (auto* button = qobject_cast<const QPushButton*>(widget)) {
      EXPECT_FALSE(button->isDefault());
      EXPECT_FALSE(button->autoDefault());
    }
    // Every caption is readable whole at the fixed size.
    if (qobject_cast<const QLabel*>(widget) || qobject_cast<const QPushButton*>(widget)) {
      EXPECT_LE(QFontMetrics(widget->font()).horizontalAdvance(ShownText(widget)), expected.rect.width());
    }
  }

  const auto* body = static_cast<QPlainTextEdit*>(Widget(Control::编辑框_内容));
  EXPECT_EQ(body->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_EQ(body->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(body->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_TRUE(body->tabChangesFocus());
  EXPECT_EQ(static_cast<QLineEdit*>(Widget(Control::编辑框_发信密码))->echoMode(), QLineEdit::Password);
}

TEST_F(WindowTest, CreatedEventRunsBeforeTheWindowIsShownAndFocusStartsInTheAddressBox) {
  StartWindow();
  EXPECT_EQ(seen.created, 1);
  EXPECT_FALSE(seen.visibleWhenCreated);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(window.GetText(Control::编辑框_smtp端口), "");
  EXPECT_EQ(FocusName(), "编辑框_SMTP地址");
}

struct TabCase {
  std::vector<Control> disabled;
  std::vector<const char*> cycle;  // from the focused control round to it again
};

class TabOrderTest : public WindowTest, public testing::WithParamInterface<TabCase> {};

TEST_P(TabOrderTest, TabAndShiftTabCycleOverTheEnabledControls) {
  StartWindow();
  for (Control control : GetParam().disabled) window.SetDisabled(control, true);
  const std::vector<const char*>& cycle = GetParam().cycle;
  window.findChild<QWidget*>(QString::fromUtf8(cycle.front()))->setFocus(Qt::OtherFocusReason);
  ASSERT_EQ(FocusName(), cycle.front());
  for (std::size_t i = 1; i <= cycle.size(); ++i) {
    Key(Qt::Key_Tab);
    EXPECT_EQ(FocusName(), cycle[i % cycle.size()]) << "after " << i << " Tab";
  }
  for (std::size_t i = cycle.size(); i-- > 0;) {
    Key(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(FocusName(), cycle[i]) << "Shift+Tab back to " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    , TabOrderTest,
    testing::Values(
        TabCase{{},
                {"编辑框_SMTP地址", "编辑框_发信密码", "编辑框_发信账号", "编辑框_smtp端口", "编辑框_标题",
                 "编辑框_内容", "编辑框_收件邮箱", "按钮1", "按钮_登陆邮箱"}},
        TabCase{{Control::编辑框_SMTP地址, Control::编辑框_smtp端口, Control::编辑框_发信账号,
                 Control::编辑框_发信密码, Control::按钮_登陆邮箱},
                {"编辑框_标题", "编辑框_内容", "编辑框_收件邮箱", "按钮1"}}),
    [](const testing::TestParamInfo<TabCase>& info) {
      return std::string(info.index == 0 ? "AllEnabled" : "ConnectionLocked");
    });

class EscapeTest : public WindowTest, public testing::WithParamInterface<Control> {};

TEST_P(EscapeTest, ClosesTheWindowAndRaisesWillBeDestroyedOnceWithTheTextsInPlace) {
  StartWindow();
  window.SetText(Control::编辑框_SMTP地址, "smtp.example.org");
  window.SetText(Control::编辑框_内容, "body");
  Widget(GetParam())->setFocus(Qt::OtherFocusReason);
  Key(Qt::Key_Escape);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(seen.destroyed, 1);
  EXPECT_EQ(seen.addressWhenDestroyed, "smtp.example.org");
  EXPECT_EQ(seen.bodyWhenDestroyed, "body");
  window.close();
  EXPECT_EQ(seen.destroyed, 1);
}

constexpr const char* kEscapeCaseNames[] = {"FromTheServerBox", "FromTheBody", "FromTheSendButton"};
INSTANTIATE_TEST_SUITE_P(, EscapeTest,
                         testing::Values(Control::编辑框_SMTP地址, Control::编辑框_内容, Control::按钮1),
                         [](const testing::TestParamInfo<Control>& info) {
                           return std::string(kEscapeCaseNames[info.index]);
                         });

TEST_F(WindowTest, EscWithAModifierDoesNotClose) {
  StartWindow();
  Key(Qt::Key_Escape, Qt::ShiftModifier);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(seen.destroyed, 0);
}

TEST_F(WindowTest, EnterDoesNothingInALineEditAndBreaksTheLineInTheBody) {
  StartWindow();
  window.SetText(Control::编辑框_标题, "subject");
  Widget(Control::编辑框_标题)->setFocus(Qt::OtherFocusReason);
  Key(Qt::Key_Return);
  Key(Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(window.GetText(Control::编辑框_标题), "subject");
  EXPECT_EQ(FocusName(), "编辑框_标题");
  EXPECT_EQ(seen.clicks, 0);
  EXPECT_TRUE(window.isVisible());

  Widget(Control::编辑框_内容)->setFocus(Qt::OtherFocusReason);
  QTest::keyClicks(Widget(Control::编辑框_内容), "a");
  Key(Qt::Key_Return);
  QTest::keyClicks(Widget(Control::编辑框_内容), "b");
  EXPECT_EQ(window.GetText(Control::编辑框_内容), "a\r\nb");
  EXPECT_EQ(FocusName(), "编辑框_内容");
}

TEST_F(WindowTest, SpaceOnAFocusedButtonRaisesItsClickedEventUnderTheBusyPointer) {
  StartWindow();
  Widget(Control::按钮1)->setFocus(Qt::OtherFocusReason);
  Key(Qt::Key_Space);
  EXPECT_EQ(seen.clicks, 1);
  EXPECT_TRUE(seen.busyInHandler);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(WindowTest, BusyPointerEndsWhenTheHandlerShowsABox) {
  StartWindow();
  static_cast<QPushButton*>(Widget(Control::按钮_登陆邮箱))->click();
  EXPECT_EQ(seen.clicks, 1);
  EXPECT_TRUE(seen.busyInHandler);
  EXPECT_FALSE(seen.busyInBox);
  EXPECT_EQ(seen.boxResult, 0);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(WindowTest, PasswordShowsAsterisksAndReadsBackAsTyped) {
  StartWindow();
  auto* password = static_cast<QLineEdit*>(Widget(Control::编辑框_发信密码));
  password->setFocus(Qt::OtherFocusReason);
  QTest::keyClicks(password, "pa5s word");
  EXPECT_EQ(window.GetText(Control::编辑框_发信密码), "pa5s word");
  EXPECT_EQ(password->displayText(), QString(9, QLatin1Char('*')));
}

TEST_F(WindowTest, SetTextReplacesTheWholeTextAndTheEmptyTextEmpties) {
  for (Control box : kEditBoxes) {
    SCOPED_TRACE(Utf8(Widget(box)->objectName()));
    window.SetText(box, "first");
    window.SetText(box, "second");
    EXPECT_EQ(window.GetText(box), "second");
    window.SetText(box, "");
    EXPECT_EQ(window.GetText(box), "");
    // No box cuts a long text (a line edit's own default limit is 32,767).
    const TextValue longText(100000, 'x');
    window.SetText(box, longText);
    EXPECT_EQ(window.GetText(box), longText);
  }
}

TEST_F(WindowTest, TextsCrossTheWindowAsGbk) {
  const TextValue chinese = "\xd6\xd0\xce\xc4\xb1\xea\xcc\xe2";  // 中文标题
  window.SetText(Control::编辑框_标题, chinese);
  EXPECT_EQ(Utf8(ShownText(Widget(Control::编辑框_标题))), "中文标题");
  EXPECT_EQ(window.GetText(Control::编辑框_标题), chinese);

  static_cast<QLineEdit*>(Widget(Control::编辑框_收件邮箱))->setText(QString::fromUtf8("a😀b"));
  EXPECT_EQ(window.GetText(Control::编辑框_收件邮箱), "a?b");

  for (const char* body : {"one\r\ntwo", "one\ntwo"}) {
    window.SetText(Control::编辑框_内容, body);
    EXPECT_EQ(static_cast<QPlainTextEdit*>(Widget(Control::编辑框_内容))->blockCount(), 2) << body;
    EXPECT_EQ(window.GetText(Control::编辑框_内容), "one\r\ntwo") << body;
  }
}

TEST_F(WindowTest, IsDisabledReadsTheDisabledProperty) {
  for (Control control : {Control::按钮_登陆邮箱, Control::按钮1, Control::编辑框_SMTP地址, Control::编辑框_内容}) {
    SCOPED_TRACE(Utf8(Widget(control)->objectName()));
    EXPECT_EQ(window.IsDisabled(control), 0);
    window.SetDisabled(control, true);
    EXPECT_EQ(window.IsDisabled(control), 1);
    EXPECT_FALSE(Widget(control)->isEnabled());
    window.SetDisabled(control, false);
    EXPECT_EQ(window.IsDisabled(control), 0);
  }
}

struct BoxCase {
  unsigned style;
  std::vector<QMessageBox::StandardButton> buttons;
  QMessageBox::Icon icon;
  QMessageBox::StandardButton defaultButton;
  QMessageBox::StandardButton press;
  int result;
};

class MessageBoxTest : public WindowTest, public testing::WithParamInterface<BoxCase> {};

TEST_P(MessageBoxTest, ShowsTheButtonsAndIconOfTheStyleWordAndReturnsThePressedOne) {
  const BoxCase& expected = GetParam();
  std::string title, text;
  std::vector<QMessageBox::StandardButton> buttons;
  QMessageBox::Icon icon{};
  Qt::TextFormat format{};
  QMessageBox::StandardButton defaultButton{};
  DismissNextBox(
      [&](QMessageBox& box) {
        title = Utf8(box.windowTitle());
        text = Utf8(box.text());
        for (QAbstractButton* button : box.buttons()) buttons.push_back(box.standardButton(button));
        icon = box.icon();
        format = box.textFormat();
        defaultButton = box.standardButton(box.defaultButton());
      },
      expected.press);
  const int result = window.ShowMessageBox("<b>\xc1\xac\xbd\xd3\xb3\xc9\xb9\xa6</b>", expected.style);  // 连接成功

  EXPECT_EQ(title, "信息：");
  EXPECT_EQ(text, "<b>连接成功</b>");
  EXPECT_EQ(format, Qt::PlainText);
  std::sort(buttons.begin(), buttons.end());
  std::vector<QMessageBox::StandardButton> wanted = expected.buttons;
  std::sort(wanted.begin(), wanted.end());
  EXPECT_EQ(buttons, wanted);
  EXPECT_EQ(icon, expected.icon);
  EXPECT_EQ(defaultButton, expected.defaultButton);
  EXPECT_EQ(result, expected.result);
}

INSTANTIATE_TEST_SUITE_P(
    , MessageBoxTest,
    testing::Values(
        BoxCase{0, {QMessageBox::Ok}, QMessageBox::NoIcon, QMessageBox::Ok, QMessageBox::Ok, 0},
        BoxCase{0x31, {QMessageBox::Ok, QMessageBox::Cancel}, QMessageBox::Warning, QMessageBox::Ok,
                QMessageBox::Cancel, 1},
        BoxCase{0x212, {QMessageBox::Abort, QMessageBox::Retry, QMessageBox::Ignore}, QMessageBox::Critical,
                QMessageBox::Ignore, QMessageBox::Ignore, 4},
        BoxCase{0x323, {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel}, QMessageBox::Question,
                QMessageBox::Yes, QMessageBox::Yes, 5},
        BoxCase{0x144, {QMessageBox::Yes, QMessageBox::No}, QMessageBox::Information, QMessageBox::No,
                QMessageBox::No, 6},
        BoxCase{5, {QMessageBox::Retry, QMessageBox::Cancel}, QMessageBox::NoIcon, QMessageBox::Retry,
                QMessageBox::Retry, 3}),
    [](const testing::TestParamInfo<BoxCase>& info) { return "Style" + std::to_string(info.param.style); });

TEST_F(WindowTest, MessageBoxTakesAGivenCaption) {
  std::string title;
  DismissNextBox([&](QMessageBox& box) { title = Utf8(box.windowTitle()); }, QMessageBox::Ok);
  window.ShowMessageBox("", 0, std::string_view("\xd6\xd0\xce\xc4"));  // 中文
  EXPECT_EQ(title, "中文");
}

}  // namespace
