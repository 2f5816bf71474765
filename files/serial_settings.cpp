#include "serial_settings.h"

#include <QLoggingCategory>
#include <QRegularExpression>

#include "log_categories.h"
#include "numeric.h"
#include "program_file.h"
#include "read_ini_key.h"

namespace {

// A port as a user writes one: digits only, no sign, exponent, or full-width digits.
std::optional<quint16> plainPort(const QString& text) {
  if (text.isEmpty() || text.size() > 5) return std::nullopt;
  int n = 0;
  for (const QChar c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    n = n * 10 + (c.unicode() - u'0');
  }
  if (n < 1 || n > 65535) return std::nullopt;
  return static_cast<quint16>(n);
}

}  // namespace

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

  if (const QString remote = value(QStringLiteral("远程端口")); !remote.isEmpty()) {
    c.remotePort = plainPort(remote);
    if (!c.remotePort)
      c.remotePortRefusal =
          QStringLiteral(
              "远程端口 \"%1\" 无效: 须为 1 到 65535 的数字 (remote port must be 1-65535)")
              .arg(remote.left(40));
  }
  c.remoteKey = value(QStringLiteral("远程密码"));
  for (const QString& name :
       value(QStringLiteral("远程主机名")).split(QRegularExpression(QStringLiteral("[,，]")))) {
    QString trimmed = name.trimmed().toLower();
    if (trimmed.endsWith(u'.')) trimmed.chop(1);
    if (!trimmed.isEmpty()) c.remoteHostNames.append(trimmed);
  }
  return c;
}

SerialConfiguration readSerialConfiguration(const QString& programFolder) {
  const FileRead file =
      readSmallFile(programFolder + u'/' + QString::fromUtf16(SerialConfiguration::kFileName),
                    SerialConfiguration::kMaxFileBytes, lcSettings());
  return serialConfigurationFromBytes(file.bytes);
}

}  // namespace luvrin
