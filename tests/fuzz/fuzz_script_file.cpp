// The script-file reader over any file content.
#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

#include "codepage.h"
#include "fuzz/fuzz_check.h"
#include "script.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  const std::optional<QString> script = luvrin::readScriptFile(bytes);

  if (script) {
    // The field is part of the file's text; a quoted one never holds the quote that ends it, an
    // unquoted one never runs past the line.
    const QString text = luvrin::decodeFileText(bytes);
    FUZZ_CHECK(text.contains(*script));
    qsizetype i = 0;
    while (i < text.size() && text[i] == u' ') ++i;
    if (i < text.size() && text[i] == u'"')
      FUZZ_CHECK(!script->contains(u'"'));
    else
      FUZZ_CHECK(!script->contains(u'\r') && !script->contains(u'\n') && !script->contains(u','));

    // What the editor saves it reads back unchanged, as long as the saved bytes are read in the
    // code page they were written in (the form has no way to write a quote inside the field).
    const QByteArray saved = luvrin::scriptFileBytes(*script);
    if (!script->contains(u'"') && luvrin::representableInGbk(*script) &&
        !luvrin::isUtf8Text(saved)) {
      const std::optional<QString> again = luvrin::readScriptFile(saved);
      FUZZ_CHECK(again && *again == *script);
    }
  }
  return 0;
}
