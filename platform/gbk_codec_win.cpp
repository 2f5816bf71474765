#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>

#include "gbk_codec.h"

namespace luvrin {

namespace {

constexpr UINT kCodePage = 936;

bool isLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
bool isTrailByte(unsigned char c) { return c >= 0x40 && c <= 0xFE && c != 0x7F; }

// The system's code page 936 tables: Qt for Windows has no ICU, and Windows itself reads GBK
// the way the files were always written there.
class WindowsGbkCodec final : public GbkCodec {
 public:
  bool available() const override {
    static const bool valid = IsValidCodePage(kCodePage) != 0;
    return valid;
  }

  QString decode(QByteArrayView bytes) const override {
    QString out;
    out.reserve(bytes.size());
    // Windows takes the byte after any lead byte as its second half, even a line end or an "=";
    // a lead byte without a proper second half is cut out here and becomes U+FFFD alone, so the
    // ASCII around broken bytes survives as it does with ICU.
    qsizetype start = 0;
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    while (i < n) {
      const auto c = static_cast<unsigned char>(bytes[i]);
      if (isLeadByte(c) && (i + 1 == n || !isTrailByte(bytes[i + 1]))) {
        appendDecoded(out, bytes.sliced(start, i - start));
        out += QChar::ReplacementCharacter;
        start = ++i;
      } else {
        i += isLeadByte(c) ? 2 : 1;
      }
    }
    appendDecoded(out, bytes.sliced(start));
    return out;
  }

  QByteArray encode(QStringView text) const override {
    QByteArray out;
    out.reserve(text.size());
    // Code page 936 has nothing beyond the BMP. A pair of surrogates is one character and becomes
    // one '?' here, where Windows versions differ in how many they write.
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < text.size()) {
      if (!text[i].isSurrogate()) {
        ++i;
        continue;
      }
      appendEncoded(out, text.sliced(start, i - start));
      out += '?';
      const bool pair =
          text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
      i += pair ? 2 : 1;
      start = i;
    }
    appendEncoded(out, text.sliced(start));
    return out;
  }

 private:
  // The system functions count in int; files this large are refused long before, but a run is
  // still converted in pieces that fit.
  static constexpr qsizetype kPiece = 1 << 28;

  static void appendEncoded(QByteArray& out, QStringView run) {
    while (!run.isEmpty()) {
      const qsizetype len = std::min<qsizetype>(run.size(), kPiece);
      const auto* wide = reinterpret_cast<const wchar_t*>(run.utf16());
      // No best fit: a character GBK lacks becomes '?', not a look-alike that reads back as
      // something else.
      const int need = WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, wide, int(len), nullptr,
                                           0, nullptr, nullptr);
      if (need > 0) {
        const qsizetype at = out.size();
        out.resize(at + need);
        WideCharToMultiByte(kCodePage, WC_NO_BEST_FIT_CHARS, wide, int(len), out.data() + at, need,
                            nullptr, nullptr);
      }
      run = run.sliced(len);
    }
  }

  static void appendDecoded(QString& out, QByteArrayView run) {
    while (!run.isEmpty()) {
      qsizetype len = std::min<qsizetype>(run.size(), kPiece);
      len = completeGbkPrefix(run.first(len));
      const int need = MultiByteToWideChar(kCodePage, 0, run.data(), int(len), nullptr, 0);
      if (need > 0) {
        const qsizetype at = out.size();
        out.resize(at + need);
        MultiByteToWideChar(kCodePage, 0, run.data(), int(len),
                            reinterpret_cast<wchar_t*>(out.data() + at), need);
      }
      run = run.sliced(len);
    }
  }
};

}  // namespace

const GbkCodec& systemGbkCodec() {
  static const WindowsGbkCodec codec;
  return codec;
}

}  // namespace luvrin
