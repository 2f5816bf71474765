#include <QStringDecoder>
#include <QStringEncoder>

#include "gbk_codec.h"

namespace luvrin {

namespace {

// Qt's converter, backed by ICU: present wherever Qt was built with ICU, as on Debian.
class QtGbkCodec final : public GbkCodec {
 public:
  bool available() const override {
    static const bool valid = QStringDecoder("GBK").isValid();
    return valid;
  }
  QString decode(QByteArrayView bytes) const override {
    return QStringDecoder("GBK").decode(bytes);
  }
  QByteArray encode(QStringView text) const override { return QStringEncoder("GBK").encode(text); }
};

}  // namespace

const GbkCodec& systemGbkCodec() {
  static const QtGbkCodec codec;
  return codec;
}

}  // namespace luvrin
