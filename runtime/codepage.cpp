#include "codepage.h"

#include "gbk_codec.h"

namespace luvrin {

namespace {

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

}  // namespace

bool isUtf8Text(const QByteArray& bytes) {
  return bytes.startsWith("\xEF\xBB\xBF") || isValidUtf8WithNonAscii(bytes);
}

QString decodeFileText(const QByteArray& bytes) {
  if (bytes.startsWith("\xEF\xBB\xBF")) return QString::fromUtf8(bytes.mid(3));
  if (isValidUtf8WithNonAscii(bytes)) return QString::fromUtf8(bytes);
  return systemGbk().decode(bytes);
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
