#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>
#include <mutex>

namespace luvrin {

// Code page 936 (GBK) as the system converts it: Qt's ICU converter on Linux, the system's own
// code page 936 on Windows, where Qt has no ICU. The build picks one source file per system.
class GbkCodec {
 public:
  virtual ~GbkCodec() = default;
  // False where the system has no code page 936 converter at all.
  virtual bool available() const = 0;
  // A lead byte without its second half becomes U+FFFD; the bytes around it, ASCII above all,
  // are kept.
  virtual QString decode(QByteArrayView bytes) const = 0;
  // Characters GBK lacks become '?'.
  virtual QByteArray encode(QStringView text) const = 0;
};

const GbkCodec& systemGbkCodec();

// GBK text through a codec. Where the codec is not available the bytes are read and written as
// Latin-1, which keeps ASCII keys and numbers but no Chinese at all; that is never silent: the
// first conversion says so on stderr and in luvrin.codepage.
class GbkConverter {
 public:
  explicit GbkConverter(const GbkCodec& codec) : codec_(codec) {}
  bool exact() const { return codec_.available(); }
  QString decode(QByteArrayView bytes) const;
  QByteArray encode(QStringView text) const;

 private:
  void reportMissing() const;

  const GbkCodec& codec_;
  mutable std::once_flag reported_;
};

// The converter of this system, used for every file and for serial input.
const GbkConverter& systemGbk();

// How many bytes from the start of bytes hold whole characters: all of them, unless the last
// byte is the first half of a double-byte character whose second half has not arrived yet.
qsizetype completeGbkPrefix(QByteArrayView bytes);

}  // namespace luvrin
