#include "serial_settings.h"

#include <QLoggingCategory>

#include "log_categories.h"
#include "numeric.h"
#include "program_file.h"
#include "read_ini_key.h"

namespace {}  // namespace

namespace luvrin {

SerialConfiguration serialConfigurationFromBytes(const QByteArray& bytes) {
  const QString section = QString::fromUtf16(SerialConfiguration::kSection);
  const auto value = [&](const QString& key) { return readIniKeyFromBytes(bytes, section, key); };
  SerialConfiguration c;

  // Strict: an empty or partly numeric interval is no interval, unlike the numeric value of a
  // box's text, which would make it 0 and stop the frames.
  if (const auto interval = strictWholeNumber(value(QStringLiteral("发送定时器时间")));
      interval && *interval >= 0 && *interval <= 65535)
    c.frameInterval = static_cast<int>(*interval);

  c.lineSettings = value(QStringLiteral("设置"));

  const QString port = value(QStringLiteral("端口"));
  c.port = port;
  if (port.startsWith(u'/')) {
    c.portDevice = port;
  } else if (const auto number = strictWholeNumber(port);
             number && *number >= -32768 && *number <= 32767) {
    c.portNumber = static_cast<int>(*number);
  }

  c.status = value(QStringLiteral("状态"));
  c.sendDataLength = value(QStringLiteral("发送数据长度"));

  if (const auto port = strictWholeNumber(value(QStringLiteral("远程端口")));
      port && *port >= 1 && *port <= 65535)
    c.remotePort = static_cast<quint16>(*port);
  c.remoteKey = value(QStringLiteral("远程密码"));
  return c;
}

SerialConfiguration readSerialConfiguration(const QString& programFolder) {
  const FileRead file =
      readSmallFile(programFolder + u'/' + QString::fromUtf16(SerialConfiguration::kFileName),
                    SerialConfiguration::kMaxFileBytes, lcSettings());
  return serialConfigurationFromBytes(file.bytes);
}

}  // namespace luvrin
