#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <map>

namespace luvrin {

// Lets a view follow a model without the model knowing about widgets.
class Notifier {
 public:
  using Id = int;
  Id subscribe(std::function<void()> fn) {
    listeners_[++last_] = std::move(fn);
    return last_;
  }
  void unsubscribe(Id id) { listeners_.erase(id); }
  void notify() const {
    if (listeners_.empty()) return;
    // A copy: a listener may unsubscribe while we walk the list.
    auto copy = listeners_;
    for (auto& [id, fn] : copy) fn();
  }

 private:
  std::map<Id, std::function<void()>> listeners_;
  Id last_ = 0;
};

// State every control shares: geometry in twips, visibility, enabled flag.
class Control {
 public:
  Control() = default;
  Control(int left, int top, int width, int height)
      : left_(left), top_(top), width_(width), height_(height) {}
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;
  Control(Control&&) = default;
  Control& operator=(Control&&) = default;
  virtual ~Control() = default;

  int left() const { return left_; }
  int top() const { return top_; }
  int width() const { return width_; }
  int height() const { return height_; }
  void setLeft(int v) { update(left_, v); }
  void setTop(int v) { update(top_, v); }
  void move(int left, int top) {
    const bool changed = left != left_ || top != top_;
    left_ = left;
    top_ = top;
    if (changed) changed_.notify();
  }
  void setGeometry(int left, int top, int width, int height) {
    move(left, top);
    update(width_, width);
    update(height_, height);
  }
  bool visible() const { return visible_; }
  void setVisible(bool v) { update(visible_, v); }
  bool enabled() const { return enabled_; }
  void setEnabled(bool v) { update(enabled_, v); }

  // Fires on any change of the control's state, for views only.
  Notifier& changed() { return changed_; }

 protected:
  template <typename T>
  void update(T& field, const T& value) {
    if (field == value) return;
    field = value;
    changed_.notify();
  }

 private:
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  bool visible_ = true;
  bool enabled_ = true;
  Notifier changed_;
};

// A text box. Change runs only on a real change of the text; setting the same text runs nothing.
// Texts keep CR LF exactly; selection positions count UTF-16 code units of the model text.
class TextBox : public Control {
 public:
  using Control::Control;
  explicit TextBox(QString text) : text_(std::move(text)) {}

  const QString& text() const { return text_; }
  void setText(const QString& text);

  int selStart() const { return selStart_; }
  int selLength() const { return selLength_; }
  void setSelStart(int start);
  void setSelLength(int length);
  void select(int start, int length);

  // Asks the view for the input focus; only a shown window can take it.
  void setFocus() { focusRequested_.notify(); }
  Notifier& focusRequested() { return focusRequested_; }

  std::function<void()> Change;

 private:
  QString text_;
  int selStart_ = 0;
  int selLength_ = 0;
  Notifier focusRequested_;
};

class Label : public Control {
 public:
  using Control::Control;
  explicit Label(QString caption) : caption_(std::move(caption)) {}
  const QString& caption() const { return caption_; }
  void setCaption(const QString& caption) { update(caption_, caption); }
  std::function<void()> Click;

 private:
  QString caption_;
};

class CommandButton : public Control {
 public:
  using Control::Control;
  explicit CommandButton(QString caption) : caption_(std::move(caption)) {}
  const QString& caption() const { return caption_; }
  void setCaption(const QString& caption) { update(caption_, caption); }
  const QString& tag() const { return tag_; }
  void setTag(const QString& tag) { tag_ = tag; }
  void click() {
    if (Click) Click();
  }
  std::function<void()> Click;

 private:
  QString caption_;
  QString tag_;
};

// A vertical scroll bar used as a fader. setValue outside min..max fails and changes nothing.
class ScrollBar : public Control {
 public:
  using Control::Control;
  int value() const { return value_; }
  bool setValue(int v);
  int min() const { return min_; }
  int max() const { return max_; }
  void setRange(int min, int max) {
    min_ = min;
    max_ = max;
  }
  int smallChange() const { return smallChange_; }
  int largeChange() const { return largeChange_; }
  void setSteps(int small, int large) {
    smallChange_ = small;
    largeChange_ = large;
  }
  // A drag in progress: the value moves and Scroll runs, as the widget reports it.
  void scrollTo(int v);

  std::function<void()> Change;
  std::function<void()> Scroll;

 private:
  int value_ = 0;
  int min_ = 0;
  int max_ = 32767;
  int smallChange_ = 1;
  int largeChange_ = 1;
};

class OptionButton : public Control {
 public:
  using Control::Control;
  const QString& caption() const { return caption_; }
  void setCaption(const QString& caption) { update(caption_, caption); }
  bool value() const { return value_; }
  void setValue(bool v) { update(value_, v); }
  std::function<void()> Click;

 private:
  QString caption_;
  bool value_ = false;
};

class Frame : public Control {
 public:
  using Control::Control;
  const QString& caption() const { return caption_; }
  void setCaption(const QString& caption) { update(caption_, caption); }

 private:
  QString caption_;
};

class ListBox : public Control {
 public:
  using Control::Control;
  const QStringList& items() const { return items_; }
  int listCount() const { return static_cast<int>(items_.size()); }
  void addItem(const QString& item);
  void clear();
  int listIndex() const { return listIndex_; }
  void setListIndex(int index);

 private:
  QStringList items_;
  int listIndex_ = -1;
};

}  // namespace luvrin
