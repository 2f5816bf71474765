#include "controls.h"

#include <algorithm>

namespace luvrin {

void TextBox::setText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  // A new text puts the caret at its start, as a text box does when its text is replaced.
  selStart_ = 0;
  selLength_ = 0;
  changed().notify();
  if (Change) Change();
}

void TextBox::setSelStart(int start) {
  start = std::clamp(start, 0, static_cast<int>(text_.size()));
  if (start == selStart_ && selLength_ == 0) return;
  selStart_ = start;
  selLength_ = 0;
  changed().notify();
}

void TextBox::setSelLength(int length) {
  length = std::clamp(length, 0, static_cast<int>(text_.size()) - selStart_);
  if (length == selLength_) return;
  selLength_ = length;
  changed().notify();
}

void TextBox::select(int start, int length) {
  start = std::clamp(start, 0, static_cast<int>(text_.size()));
  length = std::clamp(length, 0, static_cast<int>(text_.size()) - start);
  if (start == selStart_ && length == selLength_) return;
  selStart_ = start;
  selLength_ = length;
  changed().notify();
}

bool ScrollBar::setValue(int v) {
  if (v < min_ || v > max_) return false;
  if (v == value_) return true;
  value_ = v;
  changed().notify();
  if (Change) Change();
  return true;
}

void ScrollBar::scrollTo(int v) {
  v = std::clamp(v, min_, max_);
  if (v == value_) return;
  value_ = v;
  changed().notify();
  if (Scroll) Scroll();
}

void ListBox::addItem(const QString& item) {
  items_.push_back(item);
  changed().notify();
}

void ListBox::clear() {
  if (items_.isEmpty() && listIndex_ == -1) return;
  items_.clear();
  listIndex_ = -1;
  changed().notify();
}

void ListBox::setListIndex(int index) {
  if (index < -1 || index >= listCount()) return;
  update(listIndex_, index);
}

}  // namespace luvrin
