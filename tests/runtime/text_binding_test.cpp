#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>

#include "widget_binding.h"

using namespace luvrin;

namespace {
const TwipScale kScale(96);
}

TEST(CrLfMap, MapsPositionsAcrossPairsAndLoneBreaks) {
  // Model a b CR LF c d CR e LF f CR LF; the widget has one character per line break.
  const QString model = QStringLiteral("ab\r\ncd\re\nf\r\n");
  EXPECT_EQ(CrLfMap::widgetText(model), QStringLiteral("ab\ncd\re\nf\n"));
  const CrLfMap map(model);
  const std::vector<std::pair<int, int>> modelToWidget = {
      {0, 0}, {2, 2}, {3, 2}, {4, 3}, {6, 5}, {8, 7}, {9, 8}, {10, 9}, {11, 9}, {12, 10}};
  for (auto [m, w] : modelToWidget) EXPECT_EQ(map.toWidget(m), w) << m;
  const std::vector<std::pair<int, int>> widgetToModel = {{0, 0}, {2, 2},  {3, 4},
                                                          {5, 6}, {9, 10}, {10, 12}};
  for (auto [w, m] : widgetToModel) EXPECT_EQ(map.toModel(w), m) << w;
  for (int w = 0; w <= 10; ++w) EXPECT_EQ(map.toWidget(map.toModel(w)), w) << w;
}

TEST(ApplyWidgetEdit, TypedLineBreaksBecomeCrLfAndTheRestStaysAsItWas) {
  struct Case {
    const char* model;
    const char* oldWidget;
    const char* newWidget;
    const char* result;
  };
  for (const Case& c : {
           Case{"ab\r\ncd", "ab\ncd", "ab\nc\nd", "ab\r\nc\r\nd"},  // Enter
           Case{"ab\r\ncd", "ab\ncd", "abcd", "abcd"},              // a line break deleted whole
           Case{"x\ry\r\nz", "x\ny\nz", "x\ny\nzz", "x\ry\r\nzz"},  // lone CR kept
           Case{"aa\r\n", "aa\n", "aaa\n", "aaa\r\n"},
           Case{"one\r\ntwo", "one\ntwo", "q", "q"},                  // everything replaced
           Case{"a\r\nb", "a\nb", "a\n1\n2\nb", "a\r\n1\r\n2\r\nb"},  // pasted lines
           Case{"", "", "\n", "\r\n"},
       }) {
    EXPECT_EQ(applyWidgetEdit(QString::fromUtf8(c.model), QString::fromUtf8(c.oldWidget),
                              QString::fromUtf8(c.newWidget)),
              QString::fromUtf8(c.result))
        << c.newWidget;
  }
}

TEST(TextEditBinding, ShowsTheModelAndMapsItsSelection) {
  TextBox box;
  box.setText(QStringLiteral("DMX001,\r\n!T000005'100mS"));
  QPlainTextEdit edit;
  TextEditBinding binding(box, &edit, kScale);
  EXPECT_EQ(edit.toPlainText(), QStringLiteral("DMX001,\n!T000005'100mS"));
  box.select(9, 1);
  EXPECT_EQ(edit.textCursor().selectedText(), QStringLiteral("!"));
  box.select(0, 7);
  EXPECT_EQ(edit.textCursor().selectedText(), QStringLiteral("DMX001,"));

  // And the other way: a selection made in the widget counts CR LF as two.
  QTextCursor c = edit.textCursor();
  c.setPosition(8);
  c.setPosition(10, QTextCursor::KeepAnchor);
  edit.setTextCursor(c);
  EXPECT_EQ(box.selStart(), 9);
  EXPECT_EQ(box.selLength(), 2);
}

TEST(TextEditBinding, TypingReachesTheModelOnceAndEnterGivesCrLf) {
  TextBox box;
  box.setText(QStringLiteral("ab"));
  int changes = 0;
  box.Change = [&] { ++changes; };
  QPlainTextEdit edit;
  TextEditBinding binding(box, &edit, kScale);
  int widgetChanges = 0;
  QObject::connect(&edit, &QPlainTextEdit::textChanged, [&] { ++widgetChanges; });
  edit.moveCursor(QTextCursor::End);
  QTest::keyClick(&edit, Qt::Key_Return);
  QTest::keyClicks(&edit, QStringLiteral("cd"));
  EXPECT_EQ(box.text(), QStringLiteral("ab\r\ncd"));
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(widgetChanges, 3);  // the model's echo does not set the widget again
  EXPECT_EQ(box.selStart(), 6);
  QTest::keyClick(&edit, Qt::Key_Left);
  QTest::keyClick(&edit, Qt::Key_Left);
  QTest::keyClick(&edit, Qt::Key_Backspace);
  EXPECT_EQ(box.text(), QStringLiteral("abcd"));
  EXPECT_EQ(box.selStart(), 2);
}

TEST(TextEditBinding, ModelChangesOfSelectionOnlyLeaveTheTextAlone) {
  TextBox box;
  box.setText(QStringLiteral("line one\r\nline two"));
  QPlainTextEdit edit;
  TextEditBinding binding(box, &edit, kScale);
  int widgetChanges = 0;
  QObject::connect(&edit, &QPlainTextEdit::textChanged, [&] { ++widgetChanges; });
  for (int i = 0; i < 15; ++i) box.select(i, 1);
  box.setText(QStringLiteral("line one\r\nline two"));
  EXPECT_EQ(widgetChanges, 0);
  box.setText(QStringLiteral("other"));
  EXPECT_EQ(widgetChanges, 1);
  EXPECT_EQ(edit.toPlainText(), QStringLiteral("other"));
}

TEST(TextEditBinding, LoneCarriageReturnSurvivesTypingElsewhere) {
  TextBox box;
  box.setText(QStringLiteral("x\ry"));
  QPlainTextEdit edit;
  TextEditBinding binding(box, &edit, kScale);
  edit.moveCursor(QTextCursor::End);
  QTest::keyClicks(&edit, QStringLiteral("z"));
  EXPECT_EQ(box.text(), QStringLiteral("x\ryz"));
}

TEST(TextEditBinding, AHandlerThatRewritesTheTextIsShown) {
  TextBox box;
  box.Change = [&] {
    if (box.text().size() > 3) box.setText(QString());
  };
  QPlainTextEdit edit;
  TextEditBinding binding(box, &edit, kScale);
  QTest::keyClicks(&edit, QStringLiteral("abcd"));
  EXPECT_EQ(box.text(), QString());
  EXPECT_EQ(edit.toPlainText(), QString());
  QTest::keyClicks(&edit, QStringLiteral("e"));
  EXPECT_EQ(box.text(), QStringLiteral("e"));
}

TEST(TextEditBinding, FocusRequestFocusesOnlyAShownBox) {
  TextBox box;
  QWidget window;
  auto* other = new QLineEdit(&window);
  auto* edit = new QPlainTextEdit(&window);
  TextEditBinding binding(box, edit, kScale);
  box.setFocus();  // hidden: nothing happens
  EXPECT_FALSE(edit->hasFocus());
  window.show();
  QApplication::setActiveWindow(&window);
  other->setFocus();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  box.setFocus();
  EXPECT_TRUE(edit->hasFocus());
}

TEST(LineEditBinding, TypingAndModelChangesMeet) {
  TextBox box;
  box.setText(QStringLiteral("128"));
  int changes = 0;
  box.Change = [&] { ++changes; };
  QLineEdit edit;
  LineEditBinding binding(box, &edit, kScale);
  EXPECT_EQ(edit.text(), QStringLiteral("128"));
  edit.setCursorPosition(3);
  QTest::keyClicks(&edit, QStringLiteral("0"));
  EXPECT_EQ(box.text(), QStringLiteral("1280"));
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(box.selStart(), 4);
  box.setText(QStringLiteral("64"));
  EXPECT_EQ(edit.text(), QStringLiteral("64"));
  box.select(0, 1);
  EXPECT_EQ(edit.selectedText(), QStringLiteral("6"));
}

TEST(ScrollBarBinding, ArrowTroughAndDragMoveTheModel) {
  ScrollBar bar;
  bar.setRange(0, 255);
  bar.setSteps(1, 10);
  int changes = 0, scrolls = 0;
  bar.Change = [&] { ++changes; };
  bar.Scroll = [&] { ++scrolls; };
  QScrollBar widget;
  ScrollBarBinding binding(bar, &widget, kScale);
  EXPECT_EQ(widget.maximum(), 255);
  widget.triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(bar.value(), 1);
  widget.triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(bar.value(), 11);
  EXPECT_EQ(changes, 2);
  widget.setSliderDown(true);
  widget.setSliderPosition(200);
  EXPECT_EQ(bar.value(), 200);
  EXPECT_EQ(scrolls, 1);
  widget.setSliderDown(false);
  EXPECT_EQ(changes, 2);
  bar.setValue(30);
  EXPECT_EQ(widget.value(), 30);
  EXPECT_EQ(changes, 3);  // the widget's echo is not a second change
}

TEST(PlacedWithin, StaysOnTheScreensAvailableAreaAtAnyDpi) {
  const QRect screen(0, 0, 1280, 984);  // 1280x1024 less a task bar
  struct Case {
    QSize size;
    QRect around;
    QRect expected;
  };
  const Case cases[] = {
      // The editor at 144 DPI (1524x1101 pixels), centred on the smaller driver window.
      {QSize(1524, 1101), QRect(-20, -30, 1068, 852), QRect(0, 0, 1280, 984)},
      {QSize(400, 300), QRect(0, 0, 1280, 984), QRect(440, 342, 400, 300)},
      // Centred on an owner near the right edge: pushed back in, size kept.
      {QSize(400, 300), QRect(1100, 700, 200, 200), QRect(880, 650, 400, 300)},
      {QSize(400, 300), QRect(-300, -300, 200, 200), QRect(0, 0, 400, 300)},
  };
  for (const Case& c : cases)
    EXPECT_EQ(placedWithin(c.size, c.around, screen), c.expected) << c.size.width();
}
