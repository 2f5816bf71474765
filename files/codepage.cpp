#include "codepage.h"

#include <bitset>
#include <memory>

#include "gbk_codec.h"

namespace luvrin {

namespace {

constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";

bool isValidUtf8WithNonAscii(const QByteArray& bytes) {
  bool nonAscii = false;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
  const qsizetype n = bytes.size();
  for (qsizetype i = 0; i < n;) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    nonAscii = true;
    int len;
    char32_t cp;
    if ((c & 0xE0) == 0xC0) {
      len = 2;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (i + len > n) return false;
    for (int k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) ||
        (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
      return false;
    i += len;
  }
  return nonAscii;
}

QString decodeGbk(const QByteArray& bytes) { return systemGbk().decode(bytes); }

// The hanzi of GB2312: the characters everyday Chinese text is written with. A reading full of
// the other ideographs (GBK's additions, the extensions) is more likely bytes read the wrong way.
const std::bitset<0x10000>& commonHanzi() {
  static const std::unique_ptr<std::bitset<0x10000>> table = [] {
    auto set = std::make_unique<std::bitset<0x10000>>();
    const GbkConverter& gbk = systemGbk();
    if (!gbk.exact()) return set;
    for (int row = 0xB0; row <= 0xF7; ++row) {
      for (int cell = 0xA1; cell <= 0xFE; ++cell) {
        const char pair[2] = {static_cast<char>(row), static_cast<char>(cell)};
        const QString ch = gbk.decode(QByteArrayView(pair, 2));
        if (ch.size() == 1 && ch[0].unicode() >= 0x3400) set->set(ch[0].unicode());
      }
    }
    return set;
  }();
  return *table;
}

bool isIdeograph(char32_t c) {
  return (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) ||
         (c >= 0xF900 && c <= 0xFAFF) || (c >= 0x20000 && c <= 0x3FFFF);
}

// Punctuation that Chinese text uses besides ASCII: the CJK block, the full-width forms, and
// the general punctuation that GB2312 carries (dashes, curly quotes, ellipsis, ‰, ※).
bool isChinesePunctuation(char32_t c) {
  return (c >= 0x3000 && c <= 0x303F) || (c >= 0xFF01 && c <= 0xFFEF) ||
         (c >= 0x2010 && c <= 0x205E) || c == 0x00B7;
}

struct Tally {
  qsizetype nonAscii = 0;
  qsizetype foreign = 0;  // neither an ideograph nor Chinese punctuation
  qsizetype rare = 0;     // an ideograph outside GB2312

  // Lower is more like Chinese text. A foreign character weighs more than a rare ideograph:
  // mojibake of UTF-8 read as GBK is mostly rare ideographs, kana, private-use and broken pairs.
  qsizetype penalty() const { return foreign * 4 + rare; }
};

Tally tally(const QString& text) {
  Tally t;
  const auto& common = commonHanzi();
  for (qsizetype i = 0; i < text.size(); ++i) {
    char32_t c = text[i].unicode();
    if (c < 0x80) continue;
    if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
      c = QChar::surrogateToUcs4(text[i], text[i + 1]);
      ++i;
    }
    ++t.nonAscii;
    if (isIdeograph(c)) {
      if (c > 0xFFFF || !common.test(c)) ++t.rare;
    } else if (!isChinesePunctuation(c)) {
      ++t.foreign;
    }
  }
  return t;
}

// The files are GBK by contract; many GBK hanzi pairs are valid UTF-8 by chance ("摇头" is
// Cyrillic and Greek in UTF-8). So UTF-8 is taken only when its reading looks like Chinese text
// (at least three in four of its non-ASCII characters are ideographs or Chinese punctuation) and
// the GBK reading looks less so. A tie stays GBK.
bool readAsUtf8(const QByteArray& bytes, QString* utf8Reading, QString* gbkReading) {
  if (bytes.startsWith(kUtf8Mark)) {
    if (utf8Reading) *utf8Reading = QString::fromUtf8(bytes.mid(3));
    return true;
  }
  if (!isValidUtf8WithNonAscii(bytes)) return false;
  QString utf8 = QString::fromUtf8(bytes);
  const Tally u = tally(utf8);
  if (u.foreign * 4 > u.nonAscii) return false;
  QString gbk = decodeGbk(bytes);
  const Tally g = tally(gbk);
  const bool utf8Wins = u.penalty() < g.penalty();
  if (utf8Reading) *utf8Reading = std::move(utf8);
  if (gbkReading) *gbkReading = std::move(gbk);
  return utf8Wins;
}

}  // namespace

bool isUtf8Text(const QByteArray& bytes) { return readAsUtf8(bytes, nullptr, nullptr); }

QString decodeFileText(const QByteArray& bytes) {
  QString utf8, gbk;
  if (readAsUtf8(bytes, &utf8, &gbk)) return utf8;
  return gbk.isNull() ? decodeGbk(bytes) : gbk;
}

QByteArray encodeGbk(const QString& text) { return systemGbk().encode(text); }

bool representableInGbk(const QString& text) {
  return systemGbk().exact() && systemGbk().decode(encodeGbk(text)) == text;
}

QString StreamingGbkDecoder::decode(const QByteArray& chunk) {
  pending_ += chunk;
  const qsizetype whole = completeGbkPrefix(pending_);
  const QString text = systemGbk().decode(QByteArrayView(pending_).first(whole));
  pending_.remove(0, whole);
  return text;
}

}  // namespace luvrin
