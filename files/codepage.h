#pragma once

#include <QByteArray>
#include <QString>

namespace luvrin {

// Files are bytes in code page 936 (GBK). Reading also accepts UTF-8, so files written on Linux
// work: bytes that begin with a UTF-8 byte-order mark, or that are valid UTF-8 whose UTF-8
// reading looks like Chinese text (ideographs, Chinese punctuation, full-width forms, ASCII)
// while the GBK reading looks less so. Everything else, ties included, is GBK. Writing is
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
  QByteArray pending_;  // at most the first half of a character
};

}  // namespace luvrin
