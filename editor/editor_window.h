#pragma once

#include <QString>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "controls.h"
#include "editor_playback.h"
#include "form.h"
#include "scheduler.h"
#include "show_patch.h"

namespace luvrin {

// All the editor reaches of the driver: its send data length and its channel data box.
class DriverLink {
 public:
  // The driver's send data length (its OUTBUFCNT), read when it is needed.
  virtual double sendDataLength() const = 0;
  // Hands a channel data text to the driver, as typing it into its channel data box would.
  virtual void takeChannelData(const QString& text) = 0;
  // The show's patch, for the names of the faders; null for none.
  virtual fixtures::ShowPatch* showPatch() const { return nullptr; }

 protected:
  ~DriverLink() = default;
};

// The editor window: 512 faders on 13 pages, live output to the driver's channel data box,
// recording, playback and script files. The object exists from the driver's start-up; it is
// loaded (Form_Load) at first use and unloaded when closed.
class Form3 : public FormState {
 public:
  static constexpr int kFaderCount = 512;
  static constexpr int kPageCount = 13;
  static constexpr int kFadersPerPage = 40;
  static constexpr int kFaderMax = 255;

  // Geometry of the window and of the fader set, in twips (fader controls relative to their page).
  static constexpr int kClientWidth = 15240;
  static constexpr int kClientHeight = 11010;
  static constexpr int kPageLeft = 120;
  static constexpr int kPageTop = 960;
  static constexpr int kPageWidth = 14655;
  static constexpr int kPageHeight = 4095;
  static constexpr int kColumnLeft = 120;
  static constexpr int kColumnPitch = 360;
  static constexpr int kOptionTop = 600;
  static constexpr int kOptionWidth = 735;
  static constexpr int kOptionHeight = 375;
  // What named faders add: two lines of names, a capability written upwards, a second line
  // on the page buttons for the fixtures that begin there.
  static constexpr int kNameHeight = 420;
  static constexpr int kCapabilityHeight = 1260;
  static constexpr int kOptionGrow = 240;
  static constexpr int kNamedOptionWidth = 1100;

  // Fader set elements on page `page`: the first index and how many (the last page holds 32).
  static constexpr std::pair<int, int> pageFaders(int page) {
    const int first = kFadersPerPage * page;
    return {first, std::min(kFadersPerPage, kFaderCount - first)};
  }
  static constexpr int pageOf(int index) { return index / kFadersPerPage; }

  Form3(Scheduler& scheduler, QString programFolder, DriverLink& driver);
  ~Form3();
  Form3(const Form3&) = delete;
  Form3& operator=(const Form3&) = delete;

  // The editor channel count: the driver's, whether the window is open or closed.
  double OUTBUFCNT() const { return driver_.sendDataLength(); }

  void Load();    // runs Form_Load unless loaded
  void Show();    // loads if needed, then shows, not modal
  void Unload();  // closes: timers stop, runs end, faders and boxes are discarded

  void Form_Load();
  // Moves faders as a hand would (fader index from 0, then its value), loading the window
  // first: how the driver's 调试状态 and the remote set levels. A value outside a fader's range,
  // or an index past the last fader, moves nothing.
  void setFaders(std::span<const std::pair<int, int>> values);
  void Option1_Click(int Index);
  void VScroll1_Scroll(int Index);
  void VScroll1_Change(int Index);
  QString BuildChannelDataText() const;

  void Timer3_Timer();  // live output
  void Text7_Change();  // hands the channel data box to the driver
  void Timer4_Timer();  // re-hands the current frame during a run

  void Command4_Click();  // add action
  void Command5_Click();  // run
  void Command7_Click();  // stop
  void Command3_Click();  // save
  void Command6_Click();  // open
  void Command8_Click();  // back to the driver window
  void Command9_Click();  // the fixture view
  void timdelay_Timer();
  EditorPlayback::Delay DelayTim(std::int32_t n) { return engine_.DelayTim(n); }

  // The window's height: taller while faders carry names.
  int clientHeight() const { return clientHeight_; }
  bool named() const { return named_; }
  // After the window's height changed with the names.
  Notifier& layoutChanged() { return layoutChanged_; }
  fixtures::ShowPatch* showPatch() const { return driver_.showPatch(); }

  // The page shown now (the selected page button).
  int currentPage() const { return page_; }
  EditorPlayback& engine() { return engine_; }
  std::int32_t countdown() const { return engine_.countdown(); }

  // The file dialog and message boxes, supplied by the view; without them save and open do
  // nothing and messages go nowhere.
  struct Dialogs {
    std::function<std::optional<QString>()> saveFileName;  // nullopt: cancelled
    std::function<std::optional<QString>()> openFileName;  // nullopt: cancelled
    std::function<void(const QString&)> message;
    std::function<bool(const QString&)> confirm;  // true: go on
    std::function<void()> fixtures;               // opens the fixture view
  };
  Dialogs dialogs;
  // Where the save and open dialogs start: the program folder, where scripts must live for a
  // scene to name them, until the user picks a file elsewhere; then the folder last used.
  const QString& dialogFolder() const { return dialogFolder_; }

  std::vector<ScrollBar> VScroll1;     // faders 0 to 511, fader i is channel i + 1
  std::vector<TextBox> Text3;          // channel numbers
  std::vector<TextBox> Text2;          // fader values
  std::vector<Label> FaderName;        // under the number: fixture and channel, two lines
  std::vector<Label> FaderCapability;  // under the value: the capability the value falls in
  std::vector<Frame> Frame1;           // the 13 fader pages, "1" to "13"
  std::vector<OptionButton> Option1;   // page buttons "1", "41", ..., "481"
  CommandButton Command4;              // "添加动作": add action
  TextBox Text7;                       // channel data box, handed on to the driver's Text7
  Label Label1;                        // "延时(100mS):": names Text6
  TextBox Text6;                       // "1": delay box, in 100 ms ticks
  TextBox Text5;                       // script box
  CommandButton Command5;              // "运行": plays the script box
  CommandButton Command7;              // "停止": stops every run
  CommandButton Command3;              // "保存": save the script box
  CommandButton Command6;              // "打开": open a script file
  Label Label2;                        // "乘余时间:0": delay countdown
  CommandButton Command8;              // "返回到运行窗口": closes the editor
  CommandButton Command9;              // "灯具": the fixture view

  Timer Timer3;    // "发送定时器时间" (100 ms if unset): live output
  Timer Timer4;    // 800 ms, during a run: re-hands Text7
  Timer timdelay;  // 100 ms, during a delay: countdown

 private:
  // Puts every control back as the window design has it.
  void resetControls();
  void layOut();
  // The names of the faders and page buttons, from the patch.
  void showNames();
  void showCapability(int index);
  void tell(const QString& text) const;
  bool ask(const QString& text) const;

  QString folder_;
  QString dialogFolder_;
  DriverLink& driver_;
  int page_ = 0;
  bool named_ = false;
  int pageTop_ = kPageTop;
  int clientHeight_ = kClientHeight;
  Notifier::Id patchSub_ = 0;
  Notifier layoutChanged_;
  // Declared last: its runs refer to the controls above and end before they go.
  EditorPlayback engine_;
};

}  // namespace luvrin
