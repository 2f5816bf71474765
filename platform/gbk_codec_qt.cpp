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
    // A lead byte cut off at the end would be held back for input that never comes; a line end
    // after it makes it show as a broken character.
    QString text = QStringDecoder("GBK").decode(bytes.toByteArray() + '\n');
    text.chop(1);
    return text;
  }
  QByteArray encode(QStringView text) const override { return QStringEncoder("GBK").encode(text); }
};

}  // namespace

const GbkCodec& systemGbkCodec() {
  static const QtGbkCodec codec;
  return codec;
}

}  // namespace luvrin
