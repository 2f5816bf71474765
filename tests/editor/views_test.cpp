#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeySequence>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <chrono>
#include <iostream>
#include <memory>

#include "editor_rig.h"
#include "editor_window_view.h"
#include "support/widget_child.h"

using namespace std::chrono_literals;
using namespace luvrin;
using namespace luvrin::testing;

namespace {}  // namespace

class EditorView : public ::testing::Test {
 protected:
  EditorView() : rig({{QStringLiteral("发送数据长度"), QStringLiteral("4")}}) {}
  Form3& ed() { return rig.editor(); }
  QRect px(int l, int t, int w, int h) const {
    return QRect(scale.px(l), scale.px(t), scale.px(w), scale.px(h));
  }
  EditorRig rig;
  TwipScale scale;
};

TEST_F(EditorView, OpensAtOnceWithEveryControlAndCaption) {
  ed().Load();
  for (int k = 0; k < 4; ++k) rig.fader(k).setValue(k + 1);
  QElapsedTimer timer;
  timer.start();
  ed().Show();
  Form3View view(ed());
  view.show();
  QCoreApplication::processEvents();
  const qint64 openMs = timer.elapsed();
  RecordProperty("open_ms", static_cast<int>(openMs));
  std::cout << "[ measure ] editor window opened in " << openMs << " ms\n";

  EXPECT_EQ(view.windowTitle(), QStringLiteral("Form3"));
  EXPECT_EQ(view.size(), QSize(scale.px(15240), scale.px(11010)));
  const std::pair<const char*, const char*> buttons[] = {
      {"Command4", "添加动作"}, {"Command5", "运行"}, {"Command7", "停止"},
      {"Command3", "保存"},     {"Command6", "打开"}, {"Command8", "返回到运行窗口"}};
  for (auto [name, caption] : buttons)
    EXPECT_EQ(child<QPushButton>(view, QString::fromLatin1(name))->text(),
              QString::fromUtf8(caption));
  EXPECT_EQ(child<QLabel>(view, QStringLiteral("Label1"))->text(), QStringLiteral("延时(100mS):"));
  EXPECT_EQ(child<QLabel>(view, QStringLiteral("Label2"))->text(), QStringLiteral("乘余时间:0"));
  EXPECT_EQ(child<QLineEdit>(view, QStringLiteral("Text6"))->text(), QStringLiteral("1"));
  EXPECT_EQ(child<QPushButton>(view, QStringLiteral("Command8"))->geometry(),
            px(8040, 0, 2055, 495));
  EXPECT_EQ(child<QPlainTextEdit>(view, QStringLiteral("Text5"))->geometry(),
            px(1440, 6240, 13215, 2655));
  EXPECT_EQ(child<QLabel>(view, QStringLiteral("Label2"))->pos(),
            QPoint(scale.px(120), scale.px(8280)));

  for (int k = 0; k < 13; ++k)
    EXPECT_EQ(child<QRadioButton>(view, QStringLiteral("Option1(%1)").arg(k))->text(),
              QString::number(40 * k + 1));
  auto* page0 = child<QGroupBox>(view, QStringLiteral("Frame1(0)"));
  EXPECT_EQ(page0->title(), QStringLiteral("1"));
  EXPECT_EQ(page0->geometry(), px(120, 960, 14655, 4095));
  EXPECT_EQ(page0->findChildren<QScrollBar*>().size(), 40);
  // Channel numbers and the levels stand over the faders, left to right.
  for (int i = 0; i < 40; ++i) {
    auto* number = child<QLineEdit>(view, QStringLiteral("Text3(%1)").arg(i));
    auto* fader = child<QScrollBar>(view, QStringLiteral("VScroll1(%1)").arg(i));
    EXPECT_EQ(number->text(), QString::number(i + 1));
    EXPECT_EQ(number->x(), fader->x());
    EXPECT_EQ(fader->geometry(), px(120 + 360 * i, 840, 375, 3135));
  }
  EXPECT_EQ(child<QLineEdit>(view, QStringLiteral("Text2(2)"))->text(), QStringLiteral("3"));
  EXPECT_EQ(child<QScrollBar>(view, QStringLiteral("VScroll1(3)"))->value(), 4);
  // Hidden pages are not built until they are shown.
  for (int f = 1; f < 13; ++f) EXPECT_FALSE(view.pageBuilt(f)) << f;

  timer.restart();
  for (int f = 1; f < 13; ++f) ed().Option1_Click(f);
  QCoreApplication::processEvents();
  std::cout << "[ measure ] the other twelve pages built and shown in " << timer.elapsed()
            << " ms\n";
  for (int f = 1; f < 13; ++f) EXPECT_TRUE(view.pageBuilt(f)) << f;
  EXPECT_EQ(view.findChildren<QScrollBar*>(QRegularExpression(QStringLiteral("^VScroll1"))).size(),
            512);
}

TEST_F(EditorView, PageButtonsShowOnePageAtPageZerosPlace) {
  ed().Show();
  Form3View view(ed());
  view.show();
  QCoreApplication::processEvents();
  auto* last = child<QRadioButton>(view, QStringLiteral("Option1(12)"));
  QTest::mouseClick(last, Qt::LeftButton);
  EXPECT_EQ(ed().currentPage(), 12);
  auto* page12 = child<QGroupBox>(view, QStringLiteral("Frame1(12)"));
  EXPECT_TRUE(page12->isVisible());
  EXPECT_FALSE(child<QGroupBox>(view, QStringLiteral("Frame1(0)"))->isVisible());
  EXPECT_EQ(page12->geometry(), px(120, 960, 14655, 4095));
  EXPECT_EQ(page12->title(), QStringLiteral("13"));
  const auto faders = page12->findChildren<QScrollBar*>();
  EXPECT_EQ(faders.size(), 32);
  auto* first = child<QScrollBar>(view, QStringLiteral("VScroll1(480)"));
  EXPECT_EQ(first->parentWidget(), page12);
  EXPECT_EQ(first->x(), scale.px(120));
  EXPECT_EQ(child<QLineEdit>(view, QStringLiteral("Text3(511)"))->text(), QStringLiteral("512"));
  EXPECT_TRUE(last->isChecked());
  EXPECT_FALSE(child<QRadioButton>(view, QStringLiteral("Option1(0)"))->isChecked());

  // Clicking the selected button again keeps it selected.
  QTest::mouseClick(last, Qt::LeftButton);
  EXPECT_TRUE(last->isChecked());
  QTest::mouseClick(child<QRadioButton>(view, QStringLiteral("Option1(0)")), Qt::LeftButton);
  EXPECT_TRUE(child<QGroupBox>(view, QStringLiteral("Frame1(0)"))->isVisible());
  EXPECT_FALSE(page12->isVisible());
  EXPECT_FALSE(view.pageBuilt(5));
}

TEST_F(EditorView, MovingFadersThroughTheWidgetsDrivesTheOutput) {
  ed().Show();
  Form3View view(ed());
  view.show();
  QCoreApplication::processEvents();
  auto* fader = child<QScrollBar>(view, QStringLiteral("VScroll1(1)"));
  auto* valueBox = child<QLineEdit>(view, QStringLiteral("Text2(1)"));
  fader->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  EXPECT_EQ(rig.fader(1).value(), 1);
  EXPECT_EQ(valueBox->text(), QStringLiteral("1"));
  fader->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(valueBox->text(), QStringLiteral("11"));
  fader->setSliderDown(true);
  fader->setSliderPosition(200);
  EXPECT_EQ(valueBox->text(), QStringLiteral("200"));
  fader->setSliderDown(false);
  rig.scheduler.advanceBy(100ms);
  EXPECT_EQ(rig.driver.Text7.text(), QStringLiteral("DMX000,200,000,000,"));

  // A value typed into the value box changes nothing; the next movement overwrites it.
  valueBox->selectAll();
  QTest::keyClicks(valueBox, QStringLiteral("99"));
  EXPECT_EQ(ed().Text2[1].text(), QStringLiteral("99"));
  rig.scheduler.advanceBy(300ms);
  EXPECT_EQ(rig.driver.Text7.text(), QStringLiteral("DMX000,200,000,000,"));
  fader->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(valueBox->text(), QStringLiteral("199"));

  // A fader on a later page, once its page is shown.
  QTest::mouseClick(child<QRadioButton>(view, QStringLiteral("Option1(1)")), Qt::LeftButton);
  auto* fader41 = child<QScrollBar>(view, QStringLiteral("VScroll1(40)"));
  fader41->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(rig.fader(40).value(), 10);
  EXPECT_EQ(child<QLineEdit>(view, QStringLiteral("Text2(40)"))->text(), QStringLiteral("10"));
}

TEST_F(EditorView, FadersAreTabStopsInChannelOrderAndFollowTheKeys) {
  ed().Show();
  Form3View view(ed());
  view.show();
  QApplication::setActiveWindow(&view);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
  auto tab = [] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); };
  auto focused = [] {
    QWidget* w = QApplication::focusWidget();
    return w != nullptr ? w->objectName().toStdString() : std::string();
  };

  child<QRadioButton>(view, QStringLiteral("Option1(12)"))->setFocus(Qt::TabFocusReason);
  for (int i = 0; i < 40; ++i) {
    tab();
    ASSERT_EQ(focused(), QStringLiteral("VScroll1(%1)").arg(i).toStdString());
  }

  // The keys of a window's scroll bar: arrows by the small change, pages by the large one.
  auto* fader = child<QScrollBar>(view, QStringLiteral("VScroll1(1)"));
  auto* valueBox = child<QLineEdit>(view, QStringLiteral("Text2(1)"));
  fader->setFocus(Qt::TabFocusReason);
  const std::pair<Qt::Key, int> keys[] = {
      {Qt::Key_Down, 1},   {Qt::Key_Down, 2},  {Qt::Key_PageDown, 12}, {Qt::Key_Up, 11},
      {Qt::Key_PageUp, 1}, {Qt::Key_End, 255}, {Qt::Key_Up, 254},      {Qt::Key_Home, 0}};
  for (auto [key, value] : keys) {
    QTest::keyClick(QApplication::focusWidget(), key);
    EXPECT_EQ(rig.fader(1).value(), value) << QKeySequence(key).toString().toStdString();
    EXPECT_EQ(valueBox->text(), QString::number(value));
  }
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_PageDown);
  rig.scheduler.advanceBy(100ms);
  EXPECT_EQ(rig.driver.Text7.text(), QStringLiteral("DMX000,010,000,000,"));

  // A page shown later is reached the same way, in its own channel order.
  QTest::mouseClick(child<QRadioButton>(view, QStringLiteral("Option1(1)")), Qt::LeftButton);
  child<QRadioButton>(view, QStringLiteral("Option1(12)"))->setFocus(Qt::TabFocusReason);
  tab();
  EXPECT_EQ(focused(), "VScroll1(40)");
  tab();
  EXPECT_EQ(focused(), "VScroll1(41)");
}

namespace {

// Answers the next file dialog the program shows: notes the folder it starts in and chooses
// path in it. Gives up (cancels) after a few seconds rather than hang the test.
class DialogAnswer {
 public:
  explicit DialogAnswer(QString path) : path_(std::move(path)) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
    timer_.start();
  }
  const QString& startFolder() const { return startFolder_; }

 private:
  // Answered again at every poll until it closes: the dialog may still be settling at first.
  void poll() {
    ++polls_;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* dialog = qobject_cast<QFileDialog*>(w);
      if (dialog == nullptr || !dialog->isVisible()) continue;
      if (startFolder_.isEmpty())
        startFolder_ = QFileInfo(dialog->directory().absolutePath()).canonicalFilePath();
      if (polls_ > 500) {
        dialog->reject();
        return;
      }
      // Typed as a user types it: selectFile leaves the name box alone while it has the focus.
      auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      if (name == nullptr) {
        dialog->reject();
        return;
      }
      name->setText(path_);
      static_cast<QDialog*>(dialog)->accept();  // QFileDialog hides it; it checks the choice
      return;
    }
  }
  QString path_;
  QString startFolder_;
  QTimer timer_;
  int polls_ = 0;
};

}  // namespace

TEST_F(EditorView, FileDialogsStartInTheProgramFolderThenInTheFolderLastUsed) {
  ed().Show();
  Form3View view(ed());
  view.show();
  QCoreApplication::processEvents();
  const QString program = QFileInfo(rig.show.programFolder()).canonicalFilePath();
  ASSERT_NE(QDir::currentPath(), program);
  QTemporaryDir elsewhere;
  ASSERT_TRUE(elsewhere.isValid());
  const QString saved = elsewhere.path() + QStringLiteral("/s1.ini");

  ed().Text5.setText(QStringLiteral("DMX001,002,"));
  {
    DialogAnswer answer(saved);
    QTest::mouseClick(child<QPushButton>(view, QStringLiteral("Command3")), Qt::LeftButton);
    EXPECT_EQ(answer.startFolder(), program);
  }
  ASSERT_TRUE(QFileInfo::exists(saved));
  EXPECT_EQ(ed().dialogFolder(), elsewhere.path());

  ed().Text5.setText(QString());
  {
    DialogAnswer answer(saved);
    QTest::mouseClick(child<QPushButton>(view, QStringLiteral("Command6")), Qt::LeftButton);
    EXPECT_EQ(answer.startFolder(), QFileInfo(elsewhere.path()).canonicalFilePath());
  }
  EXPECT_EQ(ed().Text5.text(), QStringLiteral("DMX001,002,"));
}

TEST_F(EditorView, TypedScriptAndRecordedActionsKeepCrLf) {
  ed().Show();
  Form3View view(ed());
  view.show();
  QCoreApplication::processEvents();
  auto* script = child<QPlainTextEdit>(view, QStringLiteral("Text5"));
  QTest::keyClicks(script, QStringLiteral("'note"));
  QTest::keyClick(script, Qt::Key_Return);
  EXPECT_EQ(ed().Text5.text(), QStringLiteral("'note\r\n"));

  child<QPushButton>(view, QStringLiteral("Command4"))->click();
  const QString expected = QStringLiteral("'note\r\n\r\nDMX000,000,000,000,\r\n!T000001'100mS");
  EXPECT_EQ(ed().Text5.text(), expected);
  EXPECT_EQ(script->toPlainText(), QString(expected).replace(QStringLiteral("\r\n"), "\n"));
  // The caret stands before the last character in the widget too.
  EXPECT_EQ(script->textCursor().position(), script->toPlainText().size() - 1);

  // A run marks the frame being played.
  child<QPushButton>(view, QStringLiteral("Command5"))->click();
  rig.scheduler.runOnce();
  EXPECT_EQ(script->textCursor().selectedText(), QStringLiteral("DMX000,000,000,000,"));
  child<QPushButton>(view, QStringLiteral("Command7"))->click();
  rig.scheduler.advanceBy(300ms);
  EXPECT_FALSE(ed().engine().running());
}

TEST_F(EditorView, CloseBoxUnloadsTheEditor) {
  ed().Show();
  Form3View view(ed());
  view.show();
  QCoreApplication::processEvents();
  view.close();
  EXPECT_FALSE(ed().loaded());
  EXPECT_FALSE(ed().Timer3.enabled());
}
