#include "editor_window.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "channel_data.h"
#include "codepage.h"
#include "numeric.h"
#include "program_file.h"
#include "script.h"
#include "serial_settings.h"

namespace luvrin {

namespace {

constexpr int kLiveOutputDefaultMs = 100;
constexpr int kRefreshMs = 800;
constexpr int kTickMs = 100;

int columnLeft(int index) {
  return Form3::kColumnLeft + Form3::kColumnPitch * (index % Form3::kFadersPerPage);
}

}  // namespace

Form3::Form3(Scheduler& scheduler, QString programFolder, DriverLink& driver)
    : VScroll1(kFaderCount),
      Text3(kFaderCount),
      Text2(kFaderCount),
      FaderName(kFaderCount),
      FaderCapability(kFaderCount),
      Frame1(kPageCount),
      Option1(kPageCount),
      Command4(QStringLiteral("添加动作")),
      Label1(QStringLiteral("延时(100mS):")),
      Command5(QStringLiteral("运行")),
      Command7(QStringLiteral("停止")),
      Command3(QStringLiteral("保存")),
      Command6(QStringLiteral("打开")),
      Label2(countdownText(0)),
      Command8(QStringLiteral("返回到运行窗口")),
      Command9(QStringLiteral("灯具")),
      // Nothing of the window ticks before it is loaded.
      Timer3(scheduler, kLiveOutputDefaultMs, false),
      Timer4(scheduler, kRefreshMs, false),
      timdelay(scheduler, kTickMs, false),
      folder_(std::move(programFolder)),
      dialogFolder_(folder_),
      driver_(driver),
      engine_(scheduler, EditorPlayback::Window{
                             {&Text5, &Text7, &Label2, &timdelay, [this] { return OUTBUFCNT(); }},
                             &Command5,
                             &Timer3,
                             &Timer4}) {
  setCaption(QStringLiteral("Form3"));

  for (int i = 0; i < kFaderCount; ++i) {
    const auto k = static_cast<std::size_t>(i);
    VScroll1[k].setGeometry(columnLeft(i), 840, 375, 3135);
    VScroll1[k].setRange(0, kFaderMax);
    // Arrows move a fader by one level, a click into the trough by ten.
    VScroll1[k].setSteps(1, 10);
    VScroll1[k].Change = [this, i] { VScroll1_Change(i); };
    VScroll1[k].Scroll = [this, i] { VScroll1_Scroll(i); };
    Text3[k].setGeometry(columnLeft(i), 240, 375, 270);
    FaderName[k].setVisible(false);
    FaderCapability[k].setVisible(false);
  }
  for (int f = 0; f < kPageCount; ++f)
    Option1[static_cast<std::size_t>(f)].Click = [this, f] { Option1_Click(f); };
  Command8.setGeometry(8040, 0, 2055, 495);
  Command9.setGeometry(10200, 0, 1215, 495);
  layOut();

  Command4.Click = [this] { Command4_Click(); };
  Command5.Click = [this] { Command5_Click(); };
  Command7.Click = [this] { Command7_Click(); };
  Command3.Click = [this] { Command3_Click(); };
  Command6.Click = [this] { Command6_Click(); };
  Command8.Click = [this] { Command8_Click(); };
  Command9.Click = [this] { Command9_Click(); };
  if (fixtures::ShowPatch* patch = driver_.showPatch()) {
    patchSub_ = patch->changed().subscribe([this] {
      if (loaded()) showNames();
    });
  }
  Text7.Change = [this] { Text7_Change(); };
  Timer3.onTimer = [this] { Timer3_Timer(); };
  Timer4.onTimer = [this] { Timer4_Timer(); };
  timdelay.onTimer = [this] { timdelay_Timer(); };

  resetControls();
}

Form3::~Form3() {
  engine_.stopAll();
  if (fixtures::ShowPatch* patch = driver_.showPatch()) patch->changed().unsubscribe(patchSub_);
}

// Named faders need two rows more: the fixture and channel under the number, the capability
// under the value. The window grows by them; without names it stays as it was drawn.
void Form3::layOut() {
  const int names = named_ ? kNameHeight : 0;
  const int capabilities = named_ ? kCapabilityHeight : 0;
  const int grow = names + capabilities;
  const int options = named_ ? kOptionGrow : 0;
  pageTop_ = kPageTop + options;
  for (int i = 0; i < kFaderCount; ++i) {
    const auto k = static_cast<std::size_t>(i);
    FaderName[k].setGeometry(columnLeft(i), 510, kColumnPitch, kNameHeight);
    Text2[k].setGeometry(columnLeft(i), 600 + names, 375, 270);
    FaderCapability[k].setGeometry(columnLeft(i), 870 + names, 375, kCapabilityHeight);
    VScroll1[k].setGeometry(columnLeft(i), 840 + grow, 375, 3135);
  }
  for (int f = 0; f < kPageCount; ++f) {
    const auto k = static_cast<std::size_t>(f);
    Frame1[k].setGeometry(kPageLeft, pageTop_, kPageWidth, kPageHeight + grow);
    const int width = named_ ? kNamedOptionWidth : kOptionWidth;
    Option1[k].setGeometry(kColumnLeft + width * f, kOptionTop, width, kOptionHeight + options);
  }
  const int down = grow + options;
  Command4.setGeometry(0, 5160 + down, 1095, 495);
  Text7.setGeometry(1440, 5160 + down, 13215, 1095);
  Label1.setGeometry(120, 5760 + down, 1080, 180);
  Text6.setGeometry(120, 6000 + down, 735, 375);
  Text5.setGeometry(1440, 6240 + down, 13215, 2655);
  Command5.setGeometry(120, 6480 + down, 1215, 375);
  Command7.setGeometry(120, 6960 + down, 1215, 375);
  Command3.setGeometry(120, 7440 + down, 1215, 375);
  Command6.setGeometry(120, 7920 + down, 1215, 375);
  Label2.setGeometry(120, 8280 + down, 900, 180);
  clientHeight_ = kClientHeight + down;
}

void Form3::showNames() {
  const fixtures::ShowPatch* patch = driver_.showPatch();
  bool any = false;
  for (int i = 0; i < kFaderCount; ++i) {
    const auto k = static_cast<std::size_t>(i);
    const auto label = patch ? patch->label(i + 1) : std::nullopt;
    any = any || label.has_value();
    FaderName[k].setCaption(label ? label->fixture + u'\n' + label->channel : QString());
    FaderName[k].setVisible(label.has_value());
    FaderCapability[k].setVisible(label.has_value());
    showCapability(i);
  }
  for (int f = 0; f < kPageCount; ++f) {
    const auto [first, count] = pageFaders(f);
    const QStringList starting =
        patch ? patch->fixturesStarting(first + 1, first + count) : QStringList();
    QString caption = QString::number(first + 1);
    if (!starting.isEmpty()) caption += u'\n' + starting.join(u' ');
    Option1[static_cast<std::size_t>(f)].setCaption(caption);
  }
  if (any != named_) {
    named_ = any;
    layOut();
    layoutChanged_.notify();
  }
}

void Form3::showCapability(int index) {
  const fixtures::ShowPatch* patch = driver_.showPatch();
  const auto k = static_cast<std::size_t>(index);
  const auto meaning = patch ? patch->channel(index + 1, VScroll1[k].value()) : std::nullopt;
  FaderCapability[k].setCaption(meaning ? meaning->capability : QString());
}

void Form3::Command9_Click() {
  if (dialogs.fixtures) dialogs.fixtures();
}

void Form3::resetControls() {
  for (auto& fader : VScroll1) fader.setValue(0);
  for (auto& box : Text3) box.setText(QStringLiteral("0"));
  for (auto& box : Text2) box.setText(QStringLiteral("0"));
  for (int f = 0; f < kPageCount; ++f) {
    const auto k = static_cast<std::size_t>(f);
    Frame1[k].move(kPageLeft, pageTop_);
    Frame1[k].setVisible(f == 0);
    Option1[k].setValue(f == 0);
  }
  page_ = 0;
  Text7.setText(QString());
  Text6.setText(QStringLiteral("1"));
  Text5.setText(QString());
  Command5.setTag(QString());
  Label2.setCaption(countdownText(0));
}

void Form3::Load() {
  if (loaded()) return;
  Timer3.setInterval(kLiveOutputDefaultMs);
  Timer3.setEnabled(true);
  setLoaded(true);
  Form_Load();
}

void Form3::setFaders(std::span<const std::pair<int, int>> values) {
  Load();
  for (const auto& [index, value] : values) {
    if (index < 0 || index >= kFaderCount) continue;
    VScroll1[static_cast<std::size_t>(index)].setValue(value);
  }
}

void Form3::Show() {
  Load();
  // Showing a window that is already shown brings it to the front.
  if (visible()) changed().notify();
  setVisible(true);
}

void Form3::Unload() {
  if (!loaded()) return;
  Timer3.setEnabled(false);
  Timer4.setEnabled(false);
  timdelay.setEnabled(false);
  // A run left behind would go on writing frames into a window that no longer exists.
  engine_.stopAll();
  setVisible(false);
  setLoaded(false);
  // The driver keeps the levels it last received: emptying our channel data box hands nothing.
  resetControls();
}

void Form3::Form_Load() {
  for (int i = 0; i < kFaderCount; ++i)
    Text3[static_cast<std::size_t>(i)].setText(QString::number(i + 1));
  for (int k = 0; k < kPageCount; ++k) {
    Option1[static_cast<std::size_t>(k)].setCaption(QString::number(kFadersPerPage * k + 1));
    Frame1[static_cast<std::size_t>(k)].setCaption(QString::number(k + 1));
  }
  for (int i = 0; i < kFaderCount; ++i) {
    const auto k = static_cast<std::size_t>(i);
    Text3[k].setLeft(columnLeft(i));
    Text2[k].setLeft(columnLeft(i));
    VScroll1[k].setLeft(columnLeft(i));
  }
  showNames();
  // The driver's frame interval paces the live output too; without one it stays at 100 ms.
  if (const auto interval = readSerialConfiguration(folder_).frameInterval)
    Timer3.setInterval(*interval);
}

void Form3::Option1_Click(int Index) {
  if (Index < 0 || Index >= kPageCount) return;
  for (int k = 0; k < kPageCount; ++k) {
    auto& page = Frame1[static_cast<std::size_t>(k)];
    page.setVisible(false);
    page.move(kPageLeft, pageTop_);
    Option1[static_cast<std::size_t>(k)].setValue(k == Index);
  }
  Frame1[static_cast<std::size_t>(Index)].setVisible(true);
  page_ = Index;
}

void Form3::VScroll1_Scroll(int Index) {
  const auto k = static_cast<std::size_t>(Index);
  Text2[k].setText(QString::number(VScroll1[k].value()));
  showCapability(Index);
}

void Form3::VScroll1_Change(int Index) { VScroll1_Scroll(Index); }

QString Form3::BuildChannelDataText() const {
  const int n = groupCount(OUTBUFCNT());
  QString text;
  text.reserve(channelDataLength(n));
  text += kFrameMarker;
  for (int i = 0; i < n; ++i)
    appendLevelGroup(text, i < kFaderCount ? VScroll1[static_cast<std::size_t>(i)].value() : 0);
  return text;
}

void Form3::Timer3_Timer() { Text7.setText(BuildChannelDataText()); }

void Form3::Text7_Change() {
  if (!loaded()) return;
  driver_.takeChannelData(Text7.text());
}

void Form3::Timer4_Timer() { Text7_Change(); }

void Form3::Command4_Click() {
  // The digits are clamped to six so that the line plays as the delay it shows: the player reads
  // six characters of count, and a text that is no number records as 0, which is how it plays.
  const QString action =
      composeAction(BuildChannelDataText(), delayDigits(numericValue(Text6.text())));
  Text5.setText(Text5.text() + action);
  Text5.setSelStart(static_cast<int>(Text5.text().size()) - 1);
}

void Form3::Command5_Click() { engine_.Command5_Click(); }

void Form3::Command7_Click() { engine_.Command7_Click(); }

void Form3::timdelay_Timer() { engine_.timdelay_Timer(); }

void Form3::tell(const QString& text) const {
  if (dialogs.message) dialogs.message(text);
}

bool Form3::ask(const QString& text) const { return !dialogs.confirm || dialogs.confirm(text); }

void Form3::Command3_Click() {
  const QString script = Text5.text();
  if (script.contains(u'"') &&
      !ask(QStringLiteral("脚本中含有双引号(\"),文件中无法保存它:再次打开时脚本会在第一个双引号处"
                          "截断。仍要保存吗?")))
    return;
  if (!representableInGbk(script) &&
      !ask(QStringLiteral("脚本中有无法按中文编码(GBK)保存的字符,保存后这些字符会变成\"?\"。"
                          "仍要保存吗?")))
    return;

  const auto path = dialogs.saveFileName ? dialogs.saveFileName() : std::nullopt;
  if (!path || path->isEmpty()) return;
  dialogFolder_ = QFileInfo(*path).absolutePath();

  // Replaced whole or not at all: a failed save never leaves a half-written script behind.
  QSaveFile file(*path);
  const QByteArray bytes = scriptFileBytes(script);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
    const QString reason = file.errorString();
    file.cancelWriting();
    tell(QStringLiteral("无法保存文件 %1:%2").arg(*path, reason));
  }
}

void Form3::Command6_Click() {
  const auto path = dialogs.openFileName ? dialogs.openFileName() : std::nullopt;
  if (!path || path->isEmpty()) return;
  dialogFolder_ = QFileInfo(*path).absolutePath();

  // A failed open keeps the script box: unsaved work must not be wiped by a wrong file.
  const FileRead read = readSmallFile(*path, kMaxScriptFileBytes);
  switch (read.failure) {
    case FileRead::Failure::None:
      break;
    case FileRead::Failure::TooLarge:
      tell(QStringLiteral("文件 %1 太大(超过 16 MB),不是动作脚本文件。").arg(*path));
      return;
    case FileRead::Failure::NotRegular:
      tell(QStringLiteral("无法打开 %1:不是普通文件。").arg(*path));
      return;
    case FileRead::Failure::Missing:
    case FileRead::Failure::Unreadable:
      tell(QStringLiteral("无法打开文件 %1:%2").arg(*path, read.error));
      return;
  }
  // An empty file, or one that holds no field, gives an empty script.
  Text5.setText(readScriptFile(read.bytes).value_or(QString()));
}

void Form3::Command8_Click() { Unload(); }

}  // namespace luvrin
