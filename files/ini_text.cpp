#include "ini_text.h"

#include <QByteArray>

#include "codepage.h"

namespace luvrin {

namespace {

constexpr qsizetype kValueBytes = 2047;

QStringView trimBlanks(QStringView s) {
  qsizetype b = 0, e = s.size();
  while (b < e && s[b] == u' ') ++b;
  while (e > b && s[e - 1] == u' ') --e;
  return s.mid(b, e - b);
}

// The Windows profile reader drops one pair of matching quotes around a value; a lone or
// mismatched quote is part of it.
QStringView unquote(QStringView s) {
  if (s.size() >= 2 && (s.front() == u'"' || s.front() == u'\'') && s.back() == s.front())
    return s.mid(1, s.size() - 2);
  return s;
}

}  // namespace

QStringView trimIniName(QStringView s) {
  qsizetype b = 0, e = s.size();
  while (b < e && (s[b] == u' ' || s[b] == u'\t')) ++b;
  while (e > b && (s[e - 1] == u' ' || s[e - 1] == u'\t')) --e;
  return s.mid(b, e - b);
}

QList<QStringView> textLines(QStringView text) {
  QList<QStringView> lines;
  qsizetype pos = 0;
  const qsizetype n = text.size();
  while (pos < n) {
    qsizetype end = pos;
    while (end < n && text[end] != u'\r' && text[end] != u'\n') ++end;
    lines.push_back(text.mid(pos, end - pos));
    pos = end;
    if (pos < n && text[pos] == u'\r') {
      ++pos;
      if (pos < n && text[pos] == u'\n') ++pos;
    } else if (pos < n) {
      ++pos;
    }
  }
  return lines;
}

bool IniLine::isSection() const { return trimIniName(text_).startsWith(u'['); }

QStringView IniLine::sectionName() const {
  const QStringView line = trimIniName(text_);
  const qsizetype close = line.indexOf(u']');
  return trimIniName(line.mid(1, close < 0 ? -1 : close - 1));
}

bool IniLine::isComment() const { return trimIniName(text_).startsWith(u';'); }

bool IniLine::isEntry() const { return !isSection() && !isComment() && text_.contains(u'='); }

QStringView IniLine::keyAsWritten() const {
  const qsizetype eq = text_.indexOf(u'=');
  return eq < 0 ? QStringView() : text_.left(eq);
}

QStringView IniLine::key() const { return trimIniName(keyAsWritten()); }

QStringView IniLine::value() const {
  const qsizetype eq = text_.indexOf(u'=');
  return eq < 0 ? QStringView() : unquote(trimBlanks(text_.mid(eq + 1)));
}

bool sameIniName(QStringView a, QStringView b) {
  if (a.size() != b.size()) return false;
  for (qsizetype i = 0; i < a.size(); ++i) {
    char16_t x = a[i].unicode(), y = b[i].unicode();
    if (x >= u'A' && x <= u'Z') x = x - u'A' + u'a';
    if (y >= u'A' && y <= u'Z') y = y - u'A' + u'a';
    if (x != y) return false;
  }
  return true;
}

QString cutIniValue(QStringView value, bool utf8) {
  qsizetype bytes = 0;
  qsizetype i = 0;
  while (i < value.size()) {
    const qsizetype len = (value[i].isHighSurrogate() && i + 1 < value.size()) ? 2 : 1;
    const QStringView ch = value.mid(i, len);
    qsizetype n;
    if (ch.size() == 1 && ch[0].unicode() < 0x80) {
      n = 1;
    } else if (utf8) {
      n = ch.toUtf8().size();
    } else {
      n = encodeGbk(ch.toString()).size();
    }
    if (bytes + n > kValueBytes) break;
    bytes += n;
    i += len;
  }
  return trimBlanks(value.left(i)).toString();
}

}  // namespace luvrin
