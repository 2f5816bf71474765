// The playback engine scanning a whole script on virtual time, in a whole driver window with a
// recording port: 3 s of a show, with a second script taking over half way.
// Input: byte 0 picks how the script arrives, byte 1 the send data length, the rest is the
// script (as file bytes, GBK or UTF-8):
//   0  straight into the driver's script box, the editor closed;
//   1  as a script file named by a scene, through the hand-off value and scene loading;
//   2  in the editor: run, run again on top, stop; the driver plays the second half meanwhile.
#include <QByteArray>
#include <QString>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "channel_data.h"
#include "codepage.h"
#include "driver_window.h"
#include "fuzz/fuzz_check.h"
#include "numeric.h"
#include "scheduler.h"
#include "support/test_support.h"
#include "support/virtual_time.h"

using namespace std::chrono_literals;

namespace {

const char* const kLengths[] = {"128", "512", "2", "0", "1.5", "-3", "70000", "24"};

luvrin::testing::TempShow& show() {
  static luvrin::testing::TempShow s({{QStringLiteral("发送定时器时间"), QStringLiteral("100")}});
  static const bool catalogue = [] {
    s.writeCatalog({QStringLiteral("Fuzz=fuzz.ini")});
    return true;
  }();
  (void)catalogue;
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int mode = data[0] % 3;
  const QString length = QString::fromLatin1(kLengths[data[1] % std::size(kLengths)]);
  const QByteArray bytes(reinterpret_cast<const char*>(data + 2), static_cast<qsizetype>(size - 2));
  const QString script = luvrin::decodeFileText(bytes);
  const QString secondHalf = script.mid(script.size() / 2);

  luvrin::ManualClock clock;
  luvrin::VirtualScheduler scheduler(clock);
  luvrin::testing::RecordingPort port;
  luvrin::testing::MemoryHandoff handoff;
  const auto output = luvrin::testing::serialBoxFor(port, show().programFolder());
  luvrin::Form1 driver(scheduler, show().programFolder(), *output, handoff);
  driver.Form_Load();
  driver.Text5.setText(length);

  auto advance = [&](std::chrono::milliseconds d) {
    scheduler.advanceBy(d);
    // A new driver run replaces the one before; they never pile up.
    FUZZ_CHECK(driver.engine().runDepth() <= 1);
  };

  switch (mode) {
    case 0:
      driver.Text4.setText(script);
      advance(1500ms);
      driver.Text4.setText(secondHalf);
      advance(1500ms);
      break;
    case 1:
      show().writeFile(QStringLiteral("fuzz.ini"), bytes);
      handoff.value = QStringLiteral("Fuzz");
      advance(3000ms);
      break;
    case 2: {
      luvrin::Form3& editor = driver.editor();
      editor.Show();
      editor.Text5.setText(script);
      editor.Command5_Click();
      advance(700ms);
      editor.Command5_Click();
      driver.Text4.setText(secondHalf);
      advance(1300ms);
      editor.Command7_Click();
      // One stop ends every editor run within a tick and a step.
      advance(1000ms);
      FUZZ_CHECK(!editor.engine().running());
      FUZZ_CHECK(editor.Timer3.enabled() && !editor.Timer4.enabled());
      break;
    }
  }

  // Every frame on the wire is the header, N + 1 level bytes and the trailer.
  const auto channels = luvrin::channelCount(luvrin::numericValue(length));
  const qsizetype frameBytes = channels ? 7 + *channels + 1 + 1 : 0;
  for (const QByteArray& frame : port.frames) {
    FUZZ_CHECK(frame.size() == frameBytes);
    FUZZ_CHECK(frame.startsWith("::::DMX") && frame.endsWith('.'));
  }
  if (mode != 2 && channels)
    FUZZ_CHECK(driver.Text7.text().size() <= luvrin::channelDataLength(*channels));
  return 0;
}
