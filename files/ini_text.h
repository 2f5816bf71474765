#pragma once

#include <QList>
#include <QString>
#include <QStringView>

namespace luvrin {

// The lines of a decoded text as a text reader gives them: CR LF, CR or LF end a line, and a last
// line needs no end (so a text that ends with a line end has no empty line after it).
QList<QStringView> textLines(QStringView text);

// One line of an INI text, read by the Windows profile reader's rules.
class IniLine {
 public:
  explicit IniLine(QStringView text) : text_(text) {}

  // The line as written, without its line end.
  QStringView text() const { return text_; }
  // "[" first after blanks and tabs.
  bool isSection() const;
  // Inside the brackets, blanks and tabs trimmed; to the line's end when "]" is missing.
  QStringView sectionName() const;
  // ";" first after blanks and tabs.
  bool isComment() const;
  // A line with "=" that is neither a section header nor a comment.
  bool isEntry() const;
  // The text before the first "=", exactly as written ("" without one).
  QStringView keyAsWritten() const;
  // keyAsWritten() without blanks and tabs around it.
  QStringView key() const;
  // The text after the first "=" without blanks (U+0020) around it, then one pair of matching
  // double or single quotes around it removed. A tab is part of the value.
  QStringView value() const;

 private:
  QStringView text_;
};

// A section or key name without the blanks and tabs around it.
QStringView trimIniName(QStringView name);

// Section and key names match without regard to ASCII letter case.
bool sameIniName(QStringView a, QStringView b);

// A value as the profile reader hands it back: cut to 2047 bytes of the file's encoding (UTF-8
// or GBK) without splitting a character, blanks trimmed again after the cut.
QString cutIniValue(QStringView value, bool utf8);

}  // namespace luvrin
