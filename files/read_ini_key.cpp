#include "read_ini_key.h"

#include <QFile>

#include "codepage.h"

namespace luvrin {

namespace {

constexpr qsizetype kValueBytes = 2047;

bool equalsAsciiCaseless(QStringView a, QStringView b) {
  if (a.size() != b.size()) return false;
  for (qsizetype i = 0; i < a.size(); ++i) {
    char16_t x = a[i].unicode(), y = b[i].unicode();
    if (x >= u'A' && x <= u'Z') x = x - u'A' + u'a';
    if (y >= u'A' && y <= u'Z') y = y - u'A' + u'a';
    if (x != y) return false;
  }
  return true;
}

QStringView trimBlanks(QStringView s) {
  qsizetype b = 0, e = s.size();
  while (b < e && s[b] == u' ') ++b;
  while (e > b && s[e - 1] == u' ') --e;
  return s.mid(b, e - b);
}

QStringView trimWhite(QStringView s) {
  qsizetype b = 0, e = s.size();
  while (b < e && (s[b] == u' ' || s[b] == u'\t')) ++b;
  while (e > b && (s[e - 1] == u' ' || s[e - 1] == u'\t')) --e;
  return s.mid(b, e - b);
}

// The Windows profile reader drops one pair of matching quotes around a value; a lone or
// mismatched quote is part of it.
QStringView unquote(QStringView s) {
  if (s.size() >= 2 && (s.front() == u'"' || s.front() == u'\'') && s.back() == s.front())
    return s.mid(1, s.size() - 2);
  return s;
}

// Cuts text to what fits in limit bytes of the file's encoding, never inside a character.
QString cutToBytes(QStringView text, bool utf8, qsizetype limit) {
  qsizetype bytes = 0;
  qsizetype i = 0;
  while (i < text.size()) {
    const qsizetype len = (text[i].isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
    const QStringView ch = text.mid(i, len);
    qsizetype n;
    if (ch.size() == 1 && ch[0].unicode() < 0x80) {
      n = 1;
    } else if (utf8) {
      n = ch.toUtf8().size();
    } else {
      n = encodeGbk(ch.toString()).size();
    }
    if (bytes + n > limit) break;
    bytes += n;
    i += len;
  }
  return text.left(i).toString();
}

}  // namespace

QString readIniKeyFromBytes(const QByteArray& bytes, const QString& section, const QString& key) {
  const QString text = decodeFileText(bytes);
  const QStringView all(text);
  const QStringView wantedSection = trimWhite(section);
  const QStringView wantedKey = trimWhite(key);
  // An empty name would match a line such as "=DMX123,": no launcher is called that.
  if (wantedSection.isEmpty() || wantedKey.isEmpty()) return QString();
  bool inSection = false;
  bool sectionSeen = false;
  qsizetype pos = 0;
  while (pos <= all.size()) {
    qsizetype end = pos;
    while (end < all.size() && all[end] != u'\n' && all[end] != u'\r') ++end;
    const QStringView raw = all.mid(pos, end - pos);
    const QStringView line = trimWhite(raw);
    // Next line: CR LF, LF or CR.
    qsizetype next = end;
    if (next < all.size() && all[next] == u'\r') ++next;
    if (next < all.size() && all[next] == u'\n' && (next == end || all[next - 1] == u'\r')) ++next;
    if (next == end) next = end + 1;

    if (line.startsWith(u'[')) {
      const qsizetype close = line.indexOf(u']');
      const QStringView name = trimWhite(line.mid(1, close < 0 ? -1 : close - 1));
      // The first section of that name is the one that counts.
      if (inSection) return QString();
      inSection = !sectionSeen && equalsAsciiCaseless(name, wantedSection);
      if (inSection) sectionSeen = true;
    } else if (inSection && !line.startsWith(u';')) {
      // The value keeps everything but blanks: a tab is part of it.
      const qsizetype eq = raw.indexOf(u'=');
      if (eq >= 0 && equalsAsciiCaseless(trimWhite(raw.left(eq)), wantedKey)) {
        const QStringView value = unquote(trimBlanks(raw.mid(eq + 1)));
        return trimBlanks(cutToBytes(value, isUtf8Text(bytes), kValueBytes)).toString();
      }
    }
    pos = next;
  }
  return QString();
}

QString ReadIniKey(const QString& path, const QString& section, const QString& key) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QString();
  return readIniKeyFromBytes(file.readAll(), section, key);
}

}  // namespace luvrin
