// ReadIniKey over any file content and any section and key.
// Input: the section's name (UTF-8) up to the first LF, the key's up to the second, then the
// file's bytes. An input with no LF looks for key "Intro" of section "DMX".
#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

#include "codepage.h"
#include "fuzz/fuzz_check.h"
#include "read_ini_key.h"

namespace {

QString swapAsciiCase(const QString& s) {
  QString out = s;
  for (QChar& c : out) {
    if (c >= u'a' && c <= u'z')
      c = QChar(c.unicode() - u'a' + u'A');
    else if (c >= u'A' && c <= u'Z')
      c = QChar(c.unicode() - u'A' + u'a');
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  QString section = QStringLiteral("DMX");
  QString key = QStringLiteral("Intro");
  QByteArray file = input;
  if (const qsizetype a = input.indexOf('\n'); a >= 0) {
    const qsizetype b = input.indexOf('\n', a + 1);
    if (b >= 0) {
      section = QString::fromUtf8(input.left(a));
      key = QString::fromUtf8(input.mid(a + 1, b - a - 1));
      file = input.mid(b + 1);
    }
  }

  const QString value = luvrin::readIniKeyFromBytes(file, section, key);

  // A value is one line of the file, blanks trimmed, cut to the reader's 2047 bytes.
  FUZZ_CHECK(!value.contains(u'\r') && !value.contains(u'\n'));
  FUZZ_CHECK(!value.startsWith(u' ') && !value.endsWith(u' '));
  const qsizetype bytes =
      luvrin::isUtf8Text(file) ? value.toUtf8().size() : luvrin::encodeGbk(value).size();
  FUZZ_CHECK(bytes <= 2047);
  if (!value.isEmpty()) FUZZ_CHECK(luvrin::decodeFileText(file).contains(value));

  // Section and key are matched without regard to ASCII letter case.
  FUZZ_CHECK(luvrin::readIniKeyFromBytes(file, swapAsciiCase(section), swapAsciiCase(key)) ==
             value);
  return 0;
}
