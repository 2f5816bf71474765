#pragma once

#include <QObject>
#include <QRect>
#include <QString>
#include <memory>
#include <vector>

#include "controls.h"
#include "form.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;
class QWidget;

namespace luvrin {

// Window layouts are in twips; widgets in pixels at the screen's logical resolution.
class TwipScale {
 public:
  static constexpr double kTwipsPerInch = 1440.0;
  // The primary screen's logical resolution (96 when there is no screen).
  TwipScale();
  explicit TwipScale(double dpi) : dpi_(dpi) {}
  double dpi() const { return dpi_; }
  int px(int twips) const;
  QRect rect(const Control& c) const;

 private:
  double dpi_;
};

// A multi-line text box as the windows have them: lines do not wrap, the bars always show.
enum class ScrollBars { Horizontal, Both };
QPlainTextEdit* makeMultiLineBox(QWidget* parent, ScrollBars bars);
// The windows' font: the point size the layouts were drawn for.
void applyWindowFont(QWidget* window);

// Where a window of that size goes: centred on around (its owner, or the screen), then moved
// and if need be shrunk into available, the screen's area without the task bar. A window drawn
// in twips grows with the DPI, and centred on a smaller owner it would start off the screen.
QRect placedWithin(QSize size, const QRect& around, const QRect& available);
// Places a window not yet shown so (around: the screen's area when invalid).
void placeOnScreen(QWidget* window, const QRect& around = QRect());

// The models keep CR LF as two characters; a text widget holds one line break for it. This maps
// positions between the model text and the widget's text. A lone CR or LF is one character on
// both sides.
class CrLfMap {
 public:
  CrLfMap() = default;
  explicit CrLfMap(const QString& model) { build(model); }
  void build(const QString& model);
  int toWidget(int modelPos) const;
  int toModel(int widgetPos) const;
  // The text a widget shows for a model text.
  static QString widgetText(const QString& model);

 private:
  std::vector<int> modelPairs_;   // model index of the CR of each CR LF
  std::vector<int> widgetPairs_;  // widget index of the line break standing for it
};

// The model text after the user changed the widget's text from oldWidget to newWidget: only the
// changed stretch is replaced, line breaks typed there become CR LF, and everything around it
// (a lone CR, CR LF pairs) stays exactly as the model had it.
QString applyWidgetEdit(const QString& model, const QString& oldWidget, const QString& newWidget);

// Keeps one widget in step with one control model: geometry (twips), visibility, enabled, and
// what the kind of control adds. Lives no longer than the model or the widget.
class ControlBinding : public QObject {
 public:
  ControlBinding(Control& model, QWidget* widget, const TwipScale& scale);
  ~ControlBinding() override;
  ControlBinding(const ControlBinding&) = delete;
  ControlBinding& operator=(const ControlBinding&) = delete;

 protected:
  // Model to widget; runs on every change of the model.
  virtual void sync();
  // Labels size themselves to their text: only the position comes from the model.
  bool autoSize_ = false;
  const TwipScale scale_;

 private:
  Control& control_;
  QWidget* widget_;
  Notifier::Id sub_;
};

class TextEditBinding : public ControlBinding {
 public:
  TextEditBinding(TextBox& model, QPlainTextEdit* widget, const TwipScale& scale);
  ~TextEditBinding() override;

 private:
  void sync() override;
  void pushText();
  void pushSelection();
  void onEdited();
  void onCursorMoved();

  TextBox& box_;
  QPlainTextEdit* edit_;
  QString modelText_;   // the model text the widget shows
  QString widgetText_;  // the widget's text for it
  CrLfMap map_;
  int selStart_ = -1;
  int selLength_ = -1;
  bool updating_ = false;
  Notifier::Id focusSub_;
};

class LineEditBinding : public ControlBinding {
 public:
  LineEditBinding(TextBox& model, QLineEdit* widget, const TwipScale& scale);
  ~LineEditBinding() override;

 private:
  void sync() override;
  void pushSelection();
  void onEdited(const QString& text);
  void onCursorMoved();

  TextBox& box_;
  QLineEdit* edit_;
  int selStart_ = -1;
  int selLength_ = -1;
  bool updating_ = false;
  Notifier::Id focusSub_;
};

class LabelBinding : public ControlBinding {
 public:
  // autoSize: the label takes the size of its text, as the windows' labels do.
  LabelBinding(Label& model, QLabel* widget, const TwipScale& scale, bool autoSize = true);
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void sync() override;
  Label& label_;
  QLabel* widget_;
};

// A label of fixed size for a text that may be long (the driver's status): it shows the first
// words, the whole text on hover, and on a click a window where the whole text can be read and
// copied; that window is not modal, so nothing waits on it.
class ElidedLabelBinding : public ControlBinding {
 public:
  ElidedLabelBinding(Label& model, QLabel* widget, const TwipScale& scale);
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void sync() override;
  void showWhole();
  Label& label_;
  QLabel* widget_;
};

class ButtonBinding : public ControlBinding {
 public:
  ButtonBinding(CommandButton& model, QPushButton* widget, const TwipScale& scale);

 private:
  void sync() override;
  CommandButton& button_;
  QPushButton* widget_;
};

class ScrollBarBinding : public ControlBinding {
 public:
  ScrollBarBinding(ScrollBar& model, QScrollBar* widget, const TwipScale& scale);

 private:
  void sync() override;
  void onValue(int value);
  ScrollBar& bar_;
  QScrollBar* widget_;
  bool updating_ = false;
};

class OptionBinding : public ControlBinding {
 public:
  OptionBinding(OptionButton& model, QRadioButton* widget, const TwipScale& scale);

 private:
  void sync() override;
  OptionButton& option_;
  QRadioButton* widget_;
  bool updating_ = false;
};

class FrameBinding : public ControlBinding {
 public:
  FrameBinding(Frame& model, QGroupBox* widget, const TwipScale& scale);

 private:
  void sync() override;
  Frame& frame_;
  QGroupBox* widget_;
};

// A window's title follows its model's caption; the client area is sized in twips.
class FormBinding : public QObject {
 public:
  FormBinding(FormState& model, QWidget* window);
  ~FormBinding() override;

 private:
  FormState& form_;
  QWidget* window_;
  Notifier::Id sub_;
};

// The bindings of one view, cleared before the view's widgets go. Never cleared from inside a
// model's change notification: a binding may still be due to hear it.
class BindingSet {
 public:
  template <typename B, typename... Args>
  B& add(Args&&... args) {
    auto binding = std::make_unique<B>(std::forward<Args>(args)...);
    B& ref = *binding;
    bindings_.push_back(std::move(binding));
    return ref;
  }
  void clear() { bindings_.clear(); }
  std::size_t size() const { return bindings_.size(); }

 private:
  std::vector<std::unique_ptr<QObject>> bindings_;
};

}  // namespace luvrin
