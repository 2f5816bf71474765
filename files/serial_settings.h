#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace luvrin {

// The serial settings file of the program folder, read once. Absent keys and values that do not
// convert leave what they would set as it is: an empty optional, or the empty text, which is
// what the driver puts in its boxes for an absent key.
struct SerialConfiguration {
  static constexpr const char16_t* kFileName = u"串口配置.ini";
  static constexpr const char16_t* kSection = u"串口配置";
  // Five short keys; a larger file is not a settings file, and is read as if absent.
  static constexpr qint64 kMaxFileBytes = 1024 * 1024;

  // "发送定时器时间": milliseconds, 0 to 65535, by the strict whole-number conversion.
  std::optional<int> frameInterval;
  // "设置": the port's line settings string as written; the port judges it.
  QString lineSettings;
  // "端口": a number within 16 bits (strict conversion; the port judges its range), or a device
  // path (beginning with "/") as written.
  std::optional<int> portNumber;
  QString portDevice;
  // "端口" as written, which may also name an output other than a serial port (ola:, sacn:,
  // artnet:).
  QString port;
  // "状态": the operating status.
  QString status;
  // "发送数据长度": the send data length as written; its numeric value is the driver's.
  QString sendDataLength;
  // "远程端口": the remote's port, plain ASCII digits for 1 to 65535. Anything else that is not
  // empty is refused, and remotePortRefusal says why; no remote then.
  std::optional<quint16> remotePort;
  QString remotePortRefusal;
  // "远程密码": the key every remote request must carry; empty, none.
  QString remoteKey;
  // "远程主机名": names (comma-separated) the remote answers to besides the machine's addresses
  // and localhost, lower case.
  QStringList remoteHostNames;
};

// A file that is missing, or refused (not a regular file, larger than kMaxFileBytes), reads as
// one with no keys; a refusal is warned of on luvrin.settings.
SerialConfiguration readSerialConfiguration(const QString& programFolder);
// The same on the file's bytes (GBK, or UTF-8).
SerialConfiguration serialConfigurationFromBytes(const QByteArray& bytes);

}  // namespace luvrin
