#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "codepage.h"
#include "controls.h"
#include "driver_playback.h"
#include "editor_window.h"
#include "form.h"
#include "handoff_store.h"
#include "launcher_builder.h"
#include "numeric.h"
#include "output_link.h"
#include "rdm_devices.h"
#include "scheduler.h"
#include "serial_settings.h"
#include "show_patch.h"
#include "version_notes.h"

namespace luvrin {

// The driver window: start-up, frame output, channel data intake, scene lookup and loading,
// the driver's playback engine and its commands. Runs the same with or without a view.
class Form1 : public FormState {
 public:
  // Slots 0 to N for the largest send data length: every universe of a frame has its levels.
  static constexpr int kChannelSlots = static_cast<int>(kMaxChannelCount) + 1;
  static constexpr int kLogLimit = 20000;
  static constexpr int kBuilderMessageMs = 10000;
  // How long the output's status must stay as it is before the log records it.
  static constexpr int kStatusSettleMs = 300;

  // The output's frames go as the link's own frame loop ticks.
  Form1(Scheduler& scheduler, QString programFolder, OutputLink& output, HandoffStore& handoff);
  // The output is used from this window's thread, its frame loop ticking on this scheduler.
  Form1(Scheduler& scheduler, QString programFolder, FrameOutput& output, HandoffStore& handoff);
  ~Form1();

  // Start-up: settings, port, frame, buffer, show unless "运行", title. The settings are those
  // of the program folder, read here or handed over as main() read them.
  void Form_Load();
  void Form_Load(const SerialConfiguration& settings);

  void Timer1_Timer();  // intake
  void Timer2_Timer();  // rate meter
  void timdelay_Timer();
  void Text1_Change();  // scene lookup
  void Text3_Change();  // scene loading
  void Text4_Change();
  void Text5_Change();
  void Text6_Change();
  void Command1_Click();  // exit
  void Command2_Click();  // build launchers
  void Command3_Click();  // editor with the current levels
  void Label2_Click();
  void Label6_Click();    // version notes
  void Command5_Click();  // play Text4
  DriverPlayback::Delay DelayTim(std::int32_t n) { return engine_.DelayTim(n); }

  // The send data length: always the numeric value of Text5.
  double OUTBUFCNT = 0;

  const std::vector<std::uint8_t>& channelBuffer() const { return channels_; }
  const std::vector<std::uint8_t>& outputFrame() const { return frame_; }
  const QString& programFolder() const { return folder_; }
  QString outputStatus() const { return output_.status(); }
  std::int32_t countdown() const { return engine_.countdown(); }
  DriverPlayback& engine() { return engine_; }
  // The rate meter's last reading: frames sent in the last whole second.
  int framesPerSecond() const { return framesPerSecond_; }
  // An intake pass as soon as pending events have run, as when a launcher writes its scene.
  void requestIntake();

  Form3& editor() { return editor_; }
  Form4& notes() { return notes_; }
  RdmDevices& devices() { return devices_; }
  DevicesWindow& devicesWindow() { return devicesWindow_; }
  Form2* builder() { return builder_.get(); }
  // The show's patch: what each channel is, for the editor and the remote.
  fixtures::ShowPatch& patch() { return patch_; }

  // Ends the program; main() sets it. Closing the window ends it too.
  std::function<void()> onQuit;

  Label Label1;                 // "状态:": names Text2
  TextBox Text2;                // operating status: "运行" hidden, "测试" sends nothing
  Label Label2;                 // "参数:": names Text1; a click acts as Command3
  TextBox Text1;                // launcher name from the hand-off value
  Label Label7;                 // "发送数据长度:": names Text5
  TextBox Text5;                // "128": send data length (N)
  CommandButton Command3;       // "调试状态": editor with the current levels
  CommandButton Command2;       // "根据配置文件生成EXE": build launchers
  CommandButton Command1;       // "退出": exit
  Label Label6;                 // "软件版本V3-150919A.": opens the version notes
  TextBox Text7;                // channel data text: every source of levels writes here
  TextBox Text3;                // scene entry from the catalogue
  TextBox Text4;                // script box: the script being played
  TextBox Text6;                // serial input log
  CommandButton Command5;       // "运行": plays Text4
  CommandButton DevicesButton;  // "设备": the devices on the output's line
  Label Label3;                 // "乘余时间:0": delay countdown
  Label Label4;                 // "0": frames sent this second
  Label Label5;                 // "发送频率0次/秒": rate meter
  Label StatusLine;             // the output's status: which interface, and whether it works
  Label RemoteLine;             // where the remote is, or why it did not start; empty without one

  // Declared in firing order for ticks due at the same instant: intake, then the frame, then
  // the rate meter (so a second's count includes the frame sent at its last instant).
  Timer Timer1;  // 100 ms: intake
  // "发送定时器时间" (1 ms if unset): the interval the output link's frame loop is told. It
  // never ticks: the frames keep the link's own time.
  Timer Timer3;

 private:
  std::unique_ptr<OutputLink> ownLink_;
  // Told Timer3's interval as soon as it is made: a link whose frame timer runs on this
  // scheduler starts it here, so at one instant intake runs first, then the frame, then the
  // rate meter.
  OutputLink& output_;

 public:
  Timer Timer2;    // 1000 ms: rate meter
  Timer timdelay;  // 100 ms: delay countdown

 private:
  Form1(Scheduler& scheduler, QString programFolder, FrameOutput* direct, OutputLink* given,
        HandoffStore& handoff);
  void resizeFrame();
  // Text1 takes the hand-off's scene when the hand-off is for this show (or names none).
  void takeHandoff();
  void parseChannelData();
  void handOverFrame();
  // The frame counter is Label4's own number: it adds the frames the output counted.
  void countFrames();
  void showOutputStatus();
  void logOutputStatus();
  void sceneRefused(const QString& cause);
  void watchPatch();

  Scheduler& scheduler_;
  QString folder_;
  HandoffStore& handoff_;
  fixtures::ShowPatch patch_{folder_};
  // Looks for a changed patch file once a second, off the frame's way.
  Timer patchWatch_{scheduler_, 1000, false};
  RdmDevices devices_;
  DevicesWindow devicesWindow_{devices_};
  std::vector<std::uint8_t> channels_ = std::vector<std::uint8_t>(kChannelSlots, 0);
  std::vector<std::uint8_t> frame_;
  // What the last parse read, so a text that stands is not read again at every pass.
  QString parsedText_;
  int parsedGroups_ = -1;
  // The frame last handed to the output, by what it was made from: a frame that would come out
  // the same is not copied and handed over again.
  bool channelsChanged_ = true;
  std::size_t handedSize_ = 0;
  std::size_t handedCopy_ = 0;
  int framesPerSecond_ = 0;
  StreamingGbkDecoder inputDecoder_;
  struct EditorSide final : DriverLink {
    explicit EditorSide(Form1& driver) : driver_(driver) {}
    double sendDataLength() const override { return driver_.OUTBUFCNT; }
    void takeChannelData(const QString& text) override { driver_.Text7.setText(text); }
    fixtures::ShowPatch* showPatch() const override { return &driver_.patch_; }
    Form1& driver_;
  };
  EditorSide editorSide_{*this};
  Form3 editor_;
  Form4 notes_;
  std::unique_ptr<Form2> builder_;
  DriverPlayback engine_;
  // Gives the status line back to the output after the launcher builder's message.
  Timer statusBack_{scheduler_, kBuilderMessageMs, false};
  Timer statusSettled_{scheduler_, kStatusSettleMs, false};
  QString loggedStatus_;
  // The scene refused last, told once until a scene loads or the cause changes.
  QString sceneRefusal_;
  // The hand-off last read, and whether it is for this show.
  Handoff judgedHandoff_;
  bool handoffJudged_ = false;
  bool handoffIsOurs_ = true;
};

}  // namespace luvrin
