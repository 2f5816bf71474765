#include "driver_window.h"

#include <QDateTime>
#include <QDir>
#include <QLocale>
#include <algorithm>
#include <cmath>
#include <utility>

#include "channel_data.h"
#include "log_categories.h"
#include "log_file.h"
#include "numeric.h"
#include "platform.h"
#include "program_file.h"
#include "scene_catalogue.h"
#include "script.h"
#include "serial_settings.h"
#include "source_uid.h"

namespace luvrin {

namespace {

const QString kRunStatus = QStringLiteral("运行");
const QString kTestStatus = QStringLiteral("测试");

bool trimmedBlankIsEmpty(const QString& s) {
  return std::all_of(s.begin(), s.end(), [](QChar c) { return c == u' '; });
}

OutputLink& toldInterval(OutputLink& link, int frameIntervalMs) {
  link.setFrameInterval(frameIntervalMs);
  return link;
}

}  // namespace

Form1::Form1(Scheduler& scheduler, QString programFolder, OutputLink& output, HandoffStore& handoff)
    : Form1(scheduler, std::move(programFolder), nullptr, &output, handoff) {}

Form1::Form1(Scheduler& scheduler, QString programFolder, FrameOutput& output,
             HandoffStore& handoff)
    : Form1(scheduler, std::move(programFolder), &output, nullptr, handoff) {}

Form1::Form1(Scheduler& scheduler, QString programFolder, FrameOutput* direct, OutputLink* given,
             HandoffStore& handoff)
    : Label1(QStringLiteral("状态:")),
      Text2(QStringLiteral("Text2")),
      Label2(QStringLiteral("参数:")),
      Text1(QStringLiteral("Text1")),
      Label7(QStringLiteral("发送数据长度:")),
      Text5(QStringLiteral("128")),
      Command3(QStringLiteral("调试状态")),
      Command2(QStringLiteral("根据配置文件生成EXE")),
      Command1(QStringLiteral("退出")),
      Label6(QStringLiteral("软件版本V3-150919A.")),
      Command5(QStringLiteral("运行")),
      DevicesButton(QStringLiteral("设备")),
      Label3(countdownText(0)),
      Label4(QStringLiteral("0")),
      Label5(QStringLiteral("发送频率0次/秒")),
      Timer1(scheduler, 100, true),
      Timer3(scheduler, 1, false),
      ownLink_(direct ? std::make_unique<DirectOutputLink>(scheduler, *direct) : nullptr),
      output_(toldInterval(ownLink_ ? *ownLink_ : *given, Timer3.interval())),
      Timer2(scheduler, 1000, true),
      timdelay(scheduler, 100, true),
      scheduler_(scheduler),
      folder_(std::move(programFolder)),
      handoff_(handoff),
      devices_(scheduler, output_,
               [] { return rdm::stableSourceUid(rdm::defaultSourceUidFile()); }),
      editor_(scheduler, folder_, editorSide_),
      engine_(scheduler, DriverPlayback::Window{
                             {&Text4, &Text7, &Label3, &timdelay, [this] { return OUTBUFCNT; }},
                             [this] { Timer1_Timer(); },
                             [this] { return Timer3.interval(); }}) {
  setCaption(QStringLiteral("LUVRINV3-150919A."));
  Label1.setGeometry(120, 240, 450, 180);
  Text2.setGeometry(600, 120, 2175, 375);
  Label2.setGeometry(120, 720, 450, 180);
  Text1.setGeometry(600, 600, 2175, 375);
  Label7.setGeometry(3000, 240, 1170, 180);
  Text5.setGeometry(4200, 120, 2175, 375);
  Command3.setGeometry(6840, 480, 2055, 375);
  Command2.setGeometry(6840, 840, 2055, 375);
  Command1.setGeometry(9360, 480, 975, 855);
  Label6.setGeometry(6960, 240, 1710, 180);
  Text7.setGeometry(120, 1320, 9855, 1935);
  Text3.setGeometry(120, 3360, 9855, 735);
  Text4.setGeometry(120, 4200, 9855, 2775);
  Text6.setGeometry(120, 7080, 9855, 975);
  Command5.setGeometry(0, 8040, 855, 375);
  Label3.setGeometry(960, 8160, 900, 180);
  Label4.setGeometry(3480, 8160, 90, 180);
  Label5.setGeometry(3840, 8160, 1260, 180);
  StatusLine.setGeometry(5280, 8160, 5280, 180);
  RemoteLine.setGeometry(120, 1035, 6600, 240);
  // Above 退出, the one free place in the top row.
  DevicesButton.setGeometry(9360, 60, 975, 375);

  Timer1.onTimer = [this] { Timer1_Timer(); };
  Timer2.onTimer = [this] { Timer2_Timer(); };
  timdelay.onTimer = [this] { timdelay_Timer(); };
  Text1.Change = [this] { Text1_Change(); };
  Text3.Change = [this] { Text3_Change(); };
  Text4.Change = [this] { Text4_Change(); };
  Text5.Change = [this] { Text5_Change(); };
  Text6.Change = [this] { Text6_Change(); };
  Command1.Click = [this] { Command1_Click(); };
  Command2.Click = [this] { Command2_Click(); };
  Command3.Click = [this] { Command3_Click(); };
  Command5.Click = [this] { Command5_Click(); };
  DevicesButton.Click = [this] { devicesWindow_.Show(); };
  Label2.Click = [this] { Label2_Click(); };
  Label6.Click = [this] { Label6_Click(); };
  Text2.Change = [this] { output_.setCountOnly(Text2.text() == kTestStatus); };
  statusBack_.onTimer = [this] {
    statusBack_.setEnabled(false);
    showOutputStatus();
  };
  statusSettled_.onTimer = [this] { logOutputStatus(); };
  patchWatch_.onTimer = [this] { watchPatch(); };
  output_.watch([this] { countFrames(); },
                [this] {
                  showOutputStatus();
                  // Whether the output carries RDM, and why not, goes with its status.
                  devices_.changed().notify();
                });
}

Form1::~Form1() {
  output_.detach();
  handoff_.watch({});
  engine_.stopAll();
}

void Form1::Form_Load() { Form_Load(readSerialConfiguration(folder_)); }

void Form1::Form_Load(const SerialConfiguration& settings) {
  setLoaded(true);
  setVisible(false);

  if (settings.frameInterval) Timer3.setInterval(*settings.frameInterval);
  output_.setFrameInterval(Timer3.interval());
  output_.open();
  showOutputStatus();
  // A new scene is taken up as soon as a launcher writes it, not at the next poll.
  handoff_.watch([this] { requestIntake(); });

  Text2.setText(settings.status);
  Text5.setText(settings.sendDataLength);
  resizeFrame();
  output_.setFrame(frame_);
  OUTBUFCNT = numericValue(Text5.text());
  const int clear = groupCount(OUTBUFCNT + 1.0, kChannelSlots);
  std::fill_n(channels_.begin(), clear, std::uint8_t{0});
  parsedGroups_ = -1;
  channelsChanged_ = true;

  if (Text2.text() != kRunStatus) setVisible(true);
  watchPatch();
  patchWatch_.setEnabled(true);

  const QDateTime now = QDateTime::currentDateTime();
  const QLocale locale = QLocale::system();
  setCaption(locale.toString(now.date(), QLocale::ShortFormat) + u' ' +
             now.time().toString(QStringLiteral("H:mm:ss")));
}

void Form1::resizeFrame() {
  // A negative length cannot size a frame: the frame stays as it was, so a length mistyped during
  // a show keeps the lights as they are, and at start-up there is no frame to send. The length is
  // capped; the box keeps its text.
  if (auto n = channelCount(numericValue(Text5.text())))
    frame_.resize(static_cast<std::size_t>(*n) + 1, 0);
}

void Form1::watchPatch() { patch_.poll(frame_.empty() ? 0 : static_cast<int>(frame_.size()) - 1); }

void Form1::requestIntake() {
  scheduler_.post([this] { Timer1_Timer(); });
}

void Form1::Timer1_Timer() {
  takeHandoff();
  parseChannelData();

  if (Text2.text() == kTestStatus) return;

  if (visible()) {
    const QByteArray input = output_.takeInput();
    if (!input.isEmpty()) {
      const QString text = inputDecoder_.decode(input);
      if (!trimmedBlankIsEmpty(text)) Text6.setText(Text6.text() + text);
    }
  }

  resizeFrame();
  handOverFrame();
}

void Form1::takeHandoff() {
  const Handoff handoff = handoff_.readHandoff();
  // Judged once per value: the poll comes every 100 ms, and the folders' names stand.
  if (!handoffJudged_ || handoff != judgedHandoff_) {
    handoffJudged_ = true;
    judgedHandoff_ = handoff;
    handoffIsOurs_ = handoff.show.isEmpty() || platform::sameFolder(handoff.show, folder_);
    // Another show's launcher must not play a scene of this show under its name: the lights
    // keep what they have, and the log says why.
    if (!handoffIsOurs_)
      sceneRefused(QStringLiteral("演出 %1 的场景 \"%2\" 没有播放: 这里运行的是演出 %3")
                       .arg(QDir::toNativeSeparators(handoff.show), handoff.scene,
                            QDir::toNativeSeparators(folder_)));
  }
  if (handoffIsOurs_) Text1.setText(handoff.scene);
}

void Form1::parseChannelData() {
  const QString& s = Text7.text();
  const int parsed = groupCount(OUTBUFCNT, kChannelSlots);
  // The same text read over the same slots gives the same levels (a group of 999 keeps what the
  // slot holds either way): a look that stands costs no pass a read of 65535 groups.
  if (parsed == parsedGroups_ && (s.isSharedWith(parsedText_) || s == parsedText_)) return;
  for (int k = 0; k < parsed; ++k) {
    if (auto level = readLevel(s, k)) channels_[static_cast<std::size_t>(k)] = *level;
  }
  parsedText_ = s;
  parsedGroups_ = parsed;
  channelsChanged_ = true;
}

void Form1::handOverFrame() {
  // Elements 0 to the length, both ends included: none for a negative length.
  const auto copy = std::min<std::size_t>(
      frame_.size(),
      static_cast<std::size_t>(groupCount(numericValue(Text5.text()) + 1.0, kChannelSlots)));
  if (!channelsChanged_ && frame_.size() == handedSize_ && copy == handedCopy_) return;
  std::copy_n(channels_.begin(), copy, frame_.begin());
  output_.setFrame(frame_);
  channelsChanged_ = false;
  handedSize_ = frame_.size();
  handedCopy_ = copy;
}

void Form1::Timer2_Timer() {
  countFrames();
  framesPerSecond_ = static_cast<int>(numericValue(Label4.caption()));
  Label5.setCaption(QStringLiteral("发送频率") + Label4.caption() + QStringLiteral("次/秒"));
  Label4.setCaption(QStringLiteral("0"));
}

void Form1::countFrames() {
  const std::int64_t n = output_.takeFramesCounted();
  if (n == 0) return;
  Label4.setCaption(QString::number(static_cast<qint64>(numericValue(Label4.caption())) + n));
}

void Form1::showOutputStatus() {
  const QString status = output_.status();
  if (!statusBack_.enabled()) StatusLine.setCaption(status);
  // An output passes through a few states as it starts (opening, the first frame's universes):
  // only one that lasts tells the user anything, so the log waits for the status to settle.
  statusSettled_.setEnabled(false);
  statusSettled_.setEnabled(status != loggedStatus_);
}

void Form1::logOutputStatus() {
  statusSettled_.setEnabled(false);
  const QString status = output_.status();
  if (status == loggedStatus_) return;
  loggedStatus_ = status;
  // A hidden driver has no window: the log is where its user finds out why nothing arrives.
  if (!status.isEmpty()) logKeptLine(QStringLiteral("output"), QStringLiteral("输出: ") + status);
}

void Form1::Text5_Change() { OUTBUFCNT = numericValue(Text5.text()); }

void Form1::Text6_Change() {
  if (Text6.text().size() > kLogLimit) Text6.setText(QString());
  Text6.setSelStart(static_cast<int>(Text6.text().size()));
}

void Form1::Text1_Change() {
  FileRead::Failure failure = FileRead::Failure::None;
  Text3.setText(SceneCatalogue(folder_).lookup(Text1.text(), &failure));
  if (failure != FileRead::Failure::None)
    sceneRefused(QStringLiteral("场景目录 %1 %2, 场景 \"%3\" 没有播放")
                     .arg(QDir::toNativeSeparators(SceneCatalogue(folder_).path()),
                          describeFailureForUser(failure), Text1.text()));
}

void Form1::sceneRefused(const QString& cause) {
  // The lights keep what they had, so the user must be told where they look; a cause that
  // stays is told once, not at every hand-off.
  if (cause == sceneRefusal_) return;
  sceneRefusal_ = cause;
  StatusLine.setCaption(cause);
  statusBack_.setEnabled(false);
  statusBack_.setEnabled(true);
  logLine(QStringLiteral("场景: ") + cause);
}

void Form1::Text3_Change() {
  if (Text3.text().startsWith(kFrameMarker)) {
    qCDebug(lcScene) << "scene loaded: channel data of" << Text3.text().size() << "characters";
    sceneRefusal_.clear();
    Text7.setText(Text3.text());
    Text4.setText(QString());
    Text3.setText(QString());
  }
  const QString entry = Text3.text();
  if (entry.endsWith(QStringLiteral(".ini")) || entry.endsWith(QStringLiteral(".INI"))) {
    // A script file that is missing, unreadable, too large or empty leaves the running scene
    // alone and the entry in view.
    const auto path = resolveProgramFile(folder_, entry);
    if (!path) {
      qCDebug(lcScene) << "scene left as it was: no script file" << entry;
      sceneRefused(QStringLiteral("脚本文件 %1 不存在, 场景没有改变").arg(entry));
      return;
    }
    const FileRead read = readSmallFile(*path, kMaxScriptFileBytes);
    if (!read) {
      qCDebug(lcScene) << "scene left as it was: script file" << *path << "is"
                       << describeFailure(read.failure);
      sceneRefused(QStringLiteral("脚本文件 %1 %2, 场景没有改变")
                       .arg(QDir::toNativeSeparators(*path), describeFailureForUser(read.failure)));
      return;
    }
    const auto script = readScriptFile(read.bytes);
    if (!script) {
      qCDebug(lcScene) << "scene left as it was: script file" << *path << "holds no script";
      sceneRefused(QStringLiteral("脚本文件 %1 没有脚本, 场景没有改变")
                       .arg(QDir::toNativeSeparators(*path)));
      return;
    }
    qCDebug(lcScene) << "scene loaded: script file" << *path;
    sceneRefusal_.clear();
    Text4.setText(*script);
    Text3.setText(QString());
  }
}

void Form1::Text4_Change() { Command5_Click(); }

void Form1::Command5_Click() { engine_.Command5_Click(); }

void Form1::timdelay_Timer() { engine_.timdelay_Timer(); }

void Form1::Command1_Click() {
  if (onQuit) onQuit();
}

void Form1::Command2_Click() {
  if (!builder_) builder_ = std::make_unique<Form2>(folder_, [this] { return Text1.text(); });
  builder_->Command2_Click();
  // The builder shows no window of its own: what it wrote, or why nothing, shows in the status
  // line for a while, then the output's status comes back.
  StatusLine.setCaption(builder_->Label1.caption());
  statusBack_.setEnabled(false);
  statusBack_.setEnabled(true);
}

void Form1::Command3_Click() {
  const QString s = Text7.text();
  const int faders = groupCount(OUTBUFCNT, Form3::kFaderCount);
  std::vector<std::pair<int, int>> values;
  values.reserve(static_cast<std::size_t>(faders));
  for (int k = 0; k < faders; ++k) {
    const auto value = readLevelValue(s, k);
    if (!value || *value < -32768 || *value > 32767) continue;
    values.emplace_back(k, *value);
  }
  if (faders > 0) editor_.setFaders(values);
  editor_.Show();
}

void Form1::Label2_Click() { Command3_Click(); }

void Form1::Label6_Click() { notes_.Show(); }

}  // namespace luvrin
