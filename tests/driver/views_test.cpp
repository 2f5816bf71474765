#include "views.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
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
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTranslator>
#include <chrono>
#include <iostream>
#include <memory>

#include "devices_view.h"
#include "driver_fixture.h"
#include "driver_window_view.h"
#include "editor_window_view.h"
#include "rdm_rig.h"
#include "support/text_history.h"
#include "support/widget_child.h"
#include "version_notes_view.h"

using namespace std::chrono_literals;
using namespace luvrin;
using namespace luvrin::testing;
namespace {

template <typename V>
std::vector<V*> topLevels() {
  std::vector<V*> found;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* v = dynamic_cast<V*>(w)) found.push_back(v);
  return found;
}

void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

}  // namespace

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
  DriverEditorRig rig;
  TwipScale scale;
};

TEST_F(InstalledViews, DriverWindowShowsEveryControlInTabOrder) {
  installViews(rig.driver);
  Form1View* view = driverView();
  ASSERT_NE(view, nullptr);
  EXPECT_TRUE(view->isVisible());
  EXPECT_EQ(view->windowTitle(), rig.driver.caption());
  EXPECT_EQ(view->size(), QSize(scale.px(10680), scale.px(8520)));
  for (const QWidget* w : view->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    EXPECT_TRUE(view->rect().contains(w->geometry())) << w->objectName().toStdString();
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
                             "Text4", "Command5", "Text5", "Text6",    "Command3", "DevicesButton"};
  QWidget* w = view->findChild<QWidget*>(order.front());
  for (qsizetype i = 1; i < order.size(); ++i) {
    do {
      w = w->nextInFocusChain();
    } while (!(w->focusPolicy() & Qt::TabFocus) || w->parentWidget() != view);
    EXPECT_EQ(w->objectName(), order[i]) << "after " << order[i - 1].toStdString();
  }
}

TEST_F(InstalledViews, LongStatusShowsItsStartAndTheWholeOnHoverAndClickToCopy) {
  installViews(rig.driver);
  Form1View* view = driverView();
  ASSERT_NE(view, nullptr);
  const QString whole = QStringLiteral(
      "端口 \"udp:1\" 不是串口: 应为 1 到 256 的数字、COMn 或设备路径; 输出没有打开, 请改 "
      "串口配置.ini 的 端口");
  rig.driver.StatusLine.setCaption(whole);
  auto* status = child<QLabel>(*view, QStringLiteral("StatusLine"));
  EXPECT_TRUE(view->rect().contains(status->geometry()));
  EXPECT_LE(status->fontMetrics().horizontalAdvance(status->text()), status->width());
  EXPECT_TRUE(status->text().startsWith(QStringLiteral("端口 \"udp:1\"")));
  EXPECT_EQ(status->toolTip(), whole);
  QTest::mouseClick(status, Qt::LeftButton);
  auto* dialog = view->findChild<QDialog*>(QStringLiteral("StatusLineWhole"));
  ASSERT_NE(dialog, nullptr);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(dialog->findChild<QPlainTextEdit*>()->toPlainText(), whole);
  for (QPushButton* b : dialog->findChildren<QPushButton*>())
    if (b->text() == QStringLiteral("复制")) QTest::mouseClick(b, Qt::LeftButton);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), whole);
  dialog->close();
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

TEST(DevicesWindow, FindsTheDevicesShowsOneAndSetsItFromTheKeyboard) {
  RdmRig rig;
  installViews(rig.driver);
  child<QPushButton>(*topLevels<Form1View>().front(), QStringLiteral("DevicesButton"))->click();
  ASSERT_EQ(topLevels<DevicesView>().size(), 1u);
  DevicesView& view = *topLevels<DevicesView>().front();
  EXPECT_TRUE(view.isVisible());
  QTest::keyClick(child<QPushButton>(view, QStringLiteral("Search")), Qt::Key_Space);
  rig.run(5s);
  auto* table = child<QTableWidget>(view, QStringLiteral("Devices"));
  ASSERT_EQ(table->rowCount(), 3)
      << child<QLabel>(view, QStringLiteral("Progress"))->text().toStdString();
  EXPECT_EQ(table->item(2, 0)->text(), QStringLiteral("7a70:00000003"));
  EXPECT_EQ(table->item(0, 4)->text(), QStringLiteral("1 (重叠)"));
  EXPECT_EQ(table->item(2, 4)->text(), QStringLiteral("100"));
  EXPECT_TRUE(child<QLabel>(view, QStringLiteral("Progress"))->text().contains(u"找到 3 台设备"));

  table->selectRow(2);
  EXPECT_TRUE(child<QPlainTextEdit>(view, QStringLiteral("Details"))
                  ->toPlainText()
                  .contains(QStringLiteral("传感器 Temp: 40 °C")));
  auto* address = child<QSpinBox>(view, QStringLiteral("Address"));
  address->setFocus();
  address->setValue(200);
  QTest::keyClick(address, Qt::Key_Return);
  rig.run(1s);
  EXPECT_EQ(rig.line.devices[2].address, 200);
  // The device will not identify: the window says why and the toggle stays off.
  QTest::keyClick(child<QPushButton>(view, QStringLiteral("Identify")), Qt::Key_Space);
  rig.run(1s);
  EXPECT_FALSE(child<QPushButton>(view, QStringLiteral("Identify"))->isChecked());
  EXPECT_TRUE(child<QLabel>(view, QStringLiteral("Result"))->text().contains(u"NR_UNKNOWN_PID"));

  // 配接: the proposal while the library is read, a name of the user's, the line written.
  rig.driver.Text5.setText(QStringLiteral("128"));
  rig.run(1s);
  table->selectRow(0);
  QTest::keyClick(child<QPushButton>(view, QStringLiteral("Patch")), Qt::Key_Space);
  EXPECT_EQ(child<QLabel>(view, QStringLiteral("Result"))->text(), QStringLiteral("正在读取灯库…"));
  rig.driver.devicesWindow().patcher()->finish();
  auto* name = child<QLineEdit>(view, QStringLiteral("PatchName"));
  EXPECT_EQ(name->text(), QStringLiteral("Spot"));
  name->setText(QStringLiteral("左1"));
  QTest::keyClick(name, Qt::Key_Return);
  rig.driver.devicesWindow().patcher()->finish();
  EXPECT_TRUE(child<QLabel>(view, QStringLiteral("Result"))->text().startsWith(u"已配接: 左1"))
      << child<QLabel>(view, QStringLiteral("Result"))->text().toStdString();
  removeViews(rig.driver);

  RdmRig without(false);
  without.driver.devicesWindow().Show();
  installViews(without.driver);
  DevicesView& none = *topLevels<DevicesView>().front();
  EXPECT_TRUE(child<QLabel>(none, QStringLiteral("Progress"))->text().contains(u"不支持 RDM"));
  EXPECT_FALSE(child<QPushButton>(none, QStringLiteral("Search"))->isEnabled());
  removeViews(without.driver);
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
