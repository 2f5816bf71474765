#pragma once

#include <QByteArray>
#include <QString>

namespace luvrin {

// Files are bytes in code page 936 (GBK). Reading also accepts UTF-8: a UTF-8 byte-order mark,
// or bytes that are valid UTF-8 and hold non-ASCII, so files written on Linux work. Writing is
// always GBK.
QString decodeFileText(const QByteArray& bytes);
// Whether decodeFileText reads these bytes as UTF-8 rather than GBK.
bool isUtf8Text(const QByteArray& bytes);
QByteArray encodeGbk(const QString& text);
// Whether every character of text survives a round trip through GBK.
bool representableInGbk(const QString& text);

// A GBK decoder that keeps its state between chunks, for a byte stream such as serial input,
// so that a character split across two reads is not broken.
class StreamingGbkDecoder {
 public:
  QString decode(const QByteArray& chunk);

 private:
  QByteArray pending_;
};

}  // namespace luvrin
