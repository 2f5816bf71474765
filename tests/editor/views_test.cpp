#include "views.h"

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
#include "form1_view.h"
#include "form3_view.h"
#include "form4_view.h"

using namespace std::chrono_literals;
using namespace luvrin;
using namespace luvrin::testing;

namespace {

template <typename W>
W* child(QWidget& parent, const QString& name) {
  W* w = parent.findChild<W*>(name);
  EXPECT_NE(w, nullptr) << name.toStdString();
  return w;
}

template <typename V>
std::vector<V*> topLevels() {
  std::vector<V*> found;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* v = dynamic_cast<V*>(w)) found.push_back(v);
  return found;
}

void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

}  // namespace

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
  rig.driver.Text7.setText(QStringLiteral("DMX001,002,003,004,"));
  QElapsedTimer timer;
  timer.start();
  rig.driver.Command3_Click();
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
  // Channel numbers and the driver's levels stand over the faders, left to right.
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
  rig.driver.Command3_Click();
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
  rig.driver.Command3_Click();
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
  rig.driver.Command3_Click();
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
  rig.driver.Command3_Click();
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
  rig.driver.Command3_Click();
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
  rig.driver.Command3_Click();
  Form3View view(ed());
  view.show();
  QCoreApplication::processEvents();
  view.close();
  EXPECT_FALSE(ed().loaded());
  EXPECT_FALSE(ed().Timer3.enabled());
}

// The whole window layer as the program installs it.
class InstalledViews : public ::testing::Test {
 protected:
  InstalledViews() : rig({{QStringLiteral("发送数据长度"), QStringLiteral("4")}}) {}
  explicit InstalledViews(std::initializer_list<std::pair<QString, QString>> settings)
      : rig(settings) {}
  ~InstalledViews() override {
    removeViews(rig.driver);
    flushDeletes();
  }
  Form1View* driverView() {
    auto views = topLevels<Form1View>();
    return views.size() == 1 ? views.front() : nullptr;
  }
  QRect px(int l, int t, int w, int h) const {
    return QRect(scale.px(l), scale.px(t), scale.px(w), scale.px(h));
  }
  EditorRig rig;
  TwipScale scale;
};

TEST_F(InstalledViews, DriverWindowShowsEveryControlInTabOrder) {
  installViews(rig.driver);
  Form1View* view = driverView();
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(view->isVisible());
  EXPECT_EQ(view->windowTitle(), rig.driver.caption());
  EXPECT_EQ(view->size(), QSize(scale.px(10680), scale.px(8400)));
  const std::pair<const char*, const char*> captions[] = {{"Command3", "调试状态"},
                                                          {"Command2", "根据配置文件生成EXE"},
                                                          {"Command1", "退出"},
                                                          {"Command5", "运行"}};
  for (auto [name, caption] : captions)
    EXPECT_EQ(child<QPushButton>(*view, QString::fromLatin1(name))->text(),
              QString::fromUtf8(caption));
  const std::pair<const char*, const char*> labels[] = {{"Label1", "状态:"},
                                                        {"Label2", "参数:"},
                                                        {"Label7", "发送数据长度:"},
                                                        {"Label6", "软件版本V3-150919A."},
                                                        {"Label3", "乘余时间:0"}};
  for (auto [name, caption] : labels)
    EXPECT_EQ(child<QLabel>(*view, QString::fromLatin1(name))->text(), QString::fromUtf8(caption));
  auto* label6 = child<QLabel>(*view, QStringLiteral("Label6"));
  EXPECT_EQ(label6->palette().color(QPalette::WindowText), QColor(Qt::blue));
  EXPECT_EQ(child<QPlainTextEdit>(*view, QStringLiteral("Text7"))->geometry(),
            px(120, 1320, 9855, 1935));
  EXPECT_EQ(child<QPushButton>(*view, QStringLiteral("Command1"))->geometry(),
            px(9360, 480, 975, 855));
  EXPECT_EQ(child<QLineEdit>(*view, QStringLiteral("Text5"))->text(), rig.driver.Text5.text());

  const QStringList order = {"Text7", "Text1",    "Text2", "Command1", "Command2", "Text3",
                             "Text4", "Command5", "Text5", "Text6",    "Command3"};
  QWidget* w = view->findChild<QWidget*>(order.front());
  for (qsizetype i = 1; i < order.size(); ++i) {
    do {
      w = w->nextInFocusChain();
    } while (!(w->focusPolicy() & Qt::TabFocus) || w->parentWidget() != view);
    EXPECT_EQ(w->objectName(), order[i]) << "after " << order[i - 1].toStdString();
  }
}

TEST_F(InstalledViews, LabelsOpenTheEditorAndTheNotes) {
  installViews(rig.driver);
  Form1View* view = driverView();
  ASSERT_NE(view, nullptr);
  rig.driver.Text7.setText(QStringLiteral("DMX010,020,030,040,"));
  QTest::mouseClick(child<QLabel>(*view, QStringLiteral("Label2")), Qt::LeftButton);
  ASSERT_EQ(topLevels<Form3View>().size(), 1u);
  Form3View* editor = topLevels<Form3View>().front();
  EXPECT_TRUE(editor->isVisible());
  EXPECT_EQ(child<QScrollBar>(*editor, QStringLiteral("VScroll1(3)"))->value(), 40);
  // Again while it is open: the same window takes the levels.
  rig.driver.Text7.setText(QStringLiteral("DMX010,020,030,041,"));
  QTest::mouseClick(child<QLabel>(*view, QStringLiteral("Label2")), Qt::LeftButton);
  ASSERT_EQ(topLevels<Form3View>().size(), 1u);
  EXPECT_EQ(topLevels<Form3View>().front(), editor);
  EXPECT_EQ(child<QLineEdit>(*editor, QStringLiteral("Text2(3)"))->text(), QStringLiteral("41"));

  QTest::mouseClick(child<QLabel>(*view, QStringLiteral("Label6")), Qt::LeftButton);
  ASSERT_EQ(topLevels<Form4View>().size(), 1u);
  Form4View* notes = topLevels<Form4View>().front();
  EXPECT_TRUE(notes->isVisible());
  EXPECT_EQ(notes->windowTitle(), QStringLiteral("版记录"));
  EXPECT_TRUE(child<QPlainTextEdit>(*notes, QStringLiteral("Text1"))
                  ->toPlainText()
                  .startsWith(QStringLiteral("091105 增加跳循环功能")));
  notes->close();
  EXPECT_FALSE(rig.driver.notes().visible());
  QTest::mouseClick(child<QLabel>(*view, QStringLiteral("Label6")), Qt::LeftButton);
  ASSERT_EQ(topLevels<Form4View>().size(), 1u);
  EXPECT_EQ(topLevels<Form4View>().front(), notes);
  EXPECT_TRUE(notes->isVisible());
}

TEST_F(InstalledViews, ReturnButtonDestroysTheEditorViewAndReopeningStartsFresh) {
  installViews(rig.driver);
  rig.driver.Command3_Click();
  ASSERT_EQ(topLevels<Form3View>().size(), 1u);
  Form3View* editor = topLevels<Form3View>().front();
  QTest::keyClicks(child<QPlainTextEdit>(*editor, QStringLiteral("Text5")), QStringLiteral("x"));
  child<QPushButton>(*editor, QStringLiteral("Command8"))->click();
  EXPECT_FALSE(rig.editor().loaded());
  flushDeletes();
  EXPECT_TRUE(topLevels<Form3View>().empty());

  rig.driver.Command3.click();
  ASSERT_EQ(topLevels<Form3View>().size(), 1u);
  editor = topLevels<Form3View>().front();
  EXPECT_EQ(child<QPlainTextEdit>(*editor, QStringLiteral("Text5"))->toPlainText(), QString());

  // The close box does the same.
  editor->close();
  flushDeletes();
  EXPECT_TRUE(topLevels<Form3View>().empty());
  EXPECT_FALSE(rig.editor().loaded());
}

TEST_F(InstalledViews, ClosingTheDriverWindowEndsTheProgramWithTheEditorOpen) {
  int quits = 0;
  rig.driver.onQuit = [&] { ++quits; };
  installViews(rig.driver);
  rig.driver.Command3_Click();
  ASSERT_NE(driverView(), nullptr);
  driverView()->close();
  EXPECT_EQ(quits, 1);
}

TEST_F(InstalledViews, RemovingTheViewsLeavesTheModelsRunning) {
  installViews(rig.driver);
  rig.driver.Command3_Click();
  rig.driver.Label6_Click();
  removeViews(rig.driver);
  flushDeletes();
  EXPECT_EQ(driverView(), nullptr);
  EXPECT_TRUE(topLevels<Form3View>().empty());
  EXPECT_TRUE(topLevels<Form4View>().empty());
  rig.fader(0).setValue(5);
  rig.scheduler.advanceBy(100ms);
  EXPECT_EQ(rig.driver.Text7.text().left(7), QStringLiteral("DMX005,"));
}

class RunStatusViews : public InstalledViews {
 protected:
  RunStatusViews() : InstalledViews({{QStringLiteral("状态"), QStringLiteral("运行")}}) {}
};

TEST_F(RunStatusViews, AHiddenDriverBuildsNoWindow) {
  installViews(rig.driver);
  EXPECT_EQ(driverView(), nullptr);
}

TEST(QtTranslation, StandardTextsAreChineseFromTheShippedCopyFirst) {
  const QString installed = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  ASSERT_TRUE(QFileInfo::exists(installed + QStringLiteral("/qtbase_zh_CN.qm")))
      << "Qt's translations (Debian qt6-translations-l10n) are missing: scripts/install-deps";
  QTemporaryDir show;
  ASSERT_TRUE(show.isValid());
  ASSERT_TRUE(QDir(show.path()).mkdir(QStringLiteral("translations")));
  const QString shipped = show.path() + QStringLiteral("/translations/qtbase_zh_CN.qm");
  ASSERT_TRUE(QFile::copy(installed + QStringLiteral("/qtbase_zh_CN.qm"), shipped));
  auto cancelText = [] {
    QDialogButtonBox box(QDialogButtonBox::Cancel);
    return box.button(QDialogButtonBox::Cancel)->text().remove(u'&');
  };
  ASSERT_EQ(cancelText(), QStringLiteral("Cancel"));

  std::unique_ptr<QTranslator> translator(installQtTranslation(qtTranslationFolders(show.path())));
  ASSERT_NE(translator, nullptr);
  EXPECT_EQ(QFileInfo(translator->filePath()).canonicalFilePath(),
            QFileInfo(shipped).canonicalFilePath());
  EXPECT_EQ(cancelText(), QStringLiteral("取消"));
  translator.reset();
  EXPECT_EQ(cancelText(), QStringLiteral("Cancel"));

  // A driver folder without the copy still finds Qt's own.
  QTemporaryDir bare;
  translator.reset(installQtTranslation(qtTranslationFolders(bare.path())));
  ASSERT_NE(translator, nullptr);
  EXPECT_EQ(cancelText(), QStringLiteral("取消"));
  translator.reset();

  // None anywhere: English stays.
  EXPECT_EQ(installQtTranslation({bare.path(), QString()}), nullptr);
  EXPECT_EQ(cancelText(), QStringLiteral("Cancel"));
}
