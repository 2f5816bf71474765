#include "gbk_codec.h"

#include <cstdio>

#include "log_categories.h"

namespace luvrin {

namespace {

bool isLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

constexpr char kMissing[] =
    "LUVRIN: this system has no converter for code page 936 (GBK); files are read as Latin-1 "
    "and no Chinese key or name in them can be found";

}  // namespace

void GbkConverter::reportMissing() const {
  std::call_once(reported_, [] {
    // stderr always, whatever the logging rules say; the category for those who collect logs.
    std::fprintf(stderr, "%s\n", kMissing);
    std::fflush(stderr);
    qCDebug(lcCodepage) << kMissing;
  });
}

QString GbkConverter::decode(QByteArrayView bytes) const {
  if (codec_.available()) return codec_.decode(bytes);
  reportMissing();
  return QString::fromLatin1(bytes);
}

QByteArray GbkConverter::encode(QStringView text) const {
  if (codec_.available()) return codec_.encode(text);
  reportMissing();
  return text.toLatin1();
}

const GbkConverter& systemGbk() {
  static const GbkConverter converter(systemGbkCodec());
  return converter;
}

qsizetype completeGbkPrefix(QByteArrayView bytes) {
  qsizetype i = 0;
  const qsizetype n = bytes.size();
  while (i < n) {
    if (!isLeadByte(static_cast<unsigned char>(bytes[i]))) {
      ++i;
    } else if (i + 1 < n) {
      i += 2;
    } else {
      return i;
    }
  }
  return n;
}

}  // namespace luvrin
