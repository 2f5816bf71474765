#include "widget_binding.h"

#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace luvrin {

TwipScale::TwipScale() : dpi_(96.0) {
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    dpi_ = screen->logicalDotsPerInchY();
}

int TwipScale::px(int twips) const {
  return static_cast<int>(std::lround(twips * dpi_ / kTwipsPerInch));
}

QRect TwipScale::rect(const Control& c) const {
  return QRect(px(c.left()), px(c.top()), px(c.width()), px(c.height()));
}

QPlainTextEdit* makeMultiLineBox(QWidget* parent, ScrollBars bars) {
  auto* box = new QPlainTextEdit(parent);
  box->setLineWrapMode(QPlainTextEdit::NoWrap);
  box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  box->setVerticalScrollBarPolicy(bars == ScrollBars::Both ? Qt::ScrollBarAlwaysOn
                                                           : Qt::ScrollBarAlwaysOff);
  return box;
}

void applyWindowFont(QWidget* window) {
  QFont font = window->font();
  font.setPointSize(9);
  window->setFont(font);
}

QRect placedWithin(QSize size, const QRect& around, const QRect& available) {
  QRect frame(QPoint(), size.boundedTo(available.size()));
  frame.moveCenter(around.center());
  if (frame.right() > available.right()) frame.moveRight(available.right());
  if (frame.bottom() > available.bottom()) frame.moveBottom(available.bottom());
  if (frame.left() < available.left()) frame.moveLeft(available.left());
  if (frame.top() < available.top()) frame.moveTop(available.top());
  return frame;
}

void placeOnScreen(QWidget* window, const QRect& around) {
  const QScreen* screen = around.isValid() ? QGuiApplication::screenAt(around.center()) : nullptr;
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect available = screen->availableGeometry();
  const QRect frame =
      placedWithin(window->size(), around.isValid() ? around : available, available);
  if (frame.size() != window->size()) window->resize(frame.size());
  window->move(frame.topLeft());
}

void CrLfMap::build(const QString& model) {
  modelPairs_.clear();
  widgetPairs_.clear();
  const int n = static_cast<int>(model.size());
  const QChar* s = model.constData();
  for (int i = 0; i + 1 < n; ++i) {
    if (s[i] == u'\r' && s[i + 1] == u'\n') {
      widgetPairs_.push_back(i - static_cast<int>(modelPairs_.size()));
      modelPairs_.push_back(i);
      ++i;
    }
  }
}

int CrLfMap::toWidget(int modelPos) const {
  // Pairs wholly before the position each count one character less in the widget.
  const auto k = static_cast<int>(
      std::upper_bound(modelPairs_.begin(), modelPairs_.end(), modelPos - 2) - modelPairs_.begin());
  // A position between CR and LF stands before the line break.
  if (k < static_cast<int>(modelPairs_.size()) &&
      modelPairs_[static_cast<std::size_t>(k)] + 1 == modelPos)
    return modelPairs_[static_cast<std::size_t>(k)] - k;
  return modelPos - k;
}

int CrLfMap::toModel(int widgetPos) const {
  const auto k = static_cast<int>(
      std::lower_bound(widgetPairs_.begin(), widgetPairs_.end(), widgetPos) - widgetPairs_.begin());
  return widgetPos + k;
}

QString CrLfMap::widgetText(const QString& model) {
  if (!model.contains(u'\r')) return model;
  return QString(model).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

QString applyWidgetEdit(const QString& model, const QString& oldWidget, const QString& newWidget) {
  const qsizetype oldN = oldWidget.size();
  const qsizetype newN = newWidget.size();
  const qsizetype common = std::min(oldN, newN);
  qsizetype prefix = 0;
  while (prefix < common && oldWidget[prefix] == newWidget[prefix]) ++prefix;
  qsizetype suffix = 0;
  while (suffix < common - prefix && oldWidget[oldN - 1 - suffix] == newWidget[newN - 1 - suffix])
    ++suffix;

  const CrLfMap map(model);
  const int start = map.toModel(static_cast<int>(prefix));
  const int end = map.toModel(static_cast<int>(oldN - suffix));
  QString inserted = newWidget.mid(prefix, newN - prefix - suffix);
  inserted.replace(u'\n', QStringLiteral("\r\n"));
  return model.left(start) + inserted + model.mid(end);
}

// ---------------------------------------------------------------------------------------------

ControlBinding::ControlBinding(Control& model, QWidget* widget, const TwipScale& scale)
    : scale_(scale), control_(model), widget_(widget) {
  sub_ = control_.changed().subscribe([this] { sync(); });
}

ControlBinding::~ControlBinding() { control_.changed().unsubscribe(sub_); }

void ControlBinding::sync() {
  if (autoSize_)
    widget_->move(scale_.px(control_.left()), scale_.px(control_.top()));
  else
    widget_->setGeometry(scale_.rect(control_));
  widget_->setHidden(!control_.visible());
  widget_->setEnabled(control_.enabled());
}

// ---------------------------------------------------------------------------------------------

TextEditBinding::TextEditBinding(TextBox& model, QPlainTextEdit* widget, const TwipScale& scale)
    : ControlBinding(model, widget, scale), box_(model), edit_(widget) {
  connect(edit_, &QPlainTextEdit::textChanged, this, &TextEditBinding::onEdited);
  connect(edit_, &QPlainTextEdit::cursorPositionChanged, this, &TextEditBinding::onCursorMoved);
  connect(edit_, &QPlainTextEdit::selectionChanged, this, &TextEditBinding::onCursorMoved);
  focusSub_ = box_.focusRequested().subscribe([this] {
    if (edit_->window()->isVisible()) edit_->setFocus(Qt::OtherFocusReason);
  });
  pushText();
  sync();
}

TextEditBinding::~TextEditBinding() { box_.focusRequested().unsubscribe(focusSub_); }

void TextEditBinding::sync() {
  if (updating_) return;
  ControlBinding::sync();
  const QString& text = box_.text();
  // Most changes are of the selection (a run marks its progress): the text is compared by its
  // storage first, so a large script is not compared character by character each time.
  const bool same = text.size() == modelText_.size() &&
                    (text.constData() == modelText_.constData() || text == modelText_);
  if (!same) pushText();
  if (box_.selStart() != selStart_ || box_.selLength() != selLength_) pushSelection();
}

void TextEditBinding::pushText() {
  modelText_ = box_.text();
  const QString shown = CrLfMap::widgetText(modelText_);
  updating_ = true;
  // QPlainTextEdit signals a change even for the same text, and resets caret and scrolling.
  if (edit_->toPlainText() != shown) edit_->setPlainText(shown);
  updating_ = false;
  widgetText_ = edit_->toPlainText();
  map_.build(modelText_);
  selStart_ = selLength_ = -1;
}

void TextEditBinding::pushSelection() {
  selStart_ = box_.selStart();
  selLength_ = box_.selLength();
  const int last = std::max(0, edit_->document()->characterCount() - 1);
  const int anchor = std::clamp(map_.toWidget(selStart_), 0, last);
  const int position = std::clamp(map_.toWidget(selStart_ + selLength_), 0, last);
  QTextCursor cursor = edit_->textCursor();
  cursor.setPosition(anchor);
  cursor.setPosition(position, QTextCursor::KeepAnchor);
  updating_ = true;
  edit_->setTextCursor(cursor);
  updating_ = false;
}

void TextEditBinding::onEdited() {
  if (updating_) return;
  const QString now = edit_->toPlainText();
  if (now == widgetText_) return;
  const QString next = applyWidgetEdit(box_.text(), widgetText_, now);
  widgetText_ = now;
  map_.build(next);
  if (next == box_.text()) {
    modelText_ = box_.text();
    onCursorMoved();
    return;
  }
  updating_ = true;
  box_.setText(next);
  updating_ = false;
  if (box_.text() != next) {
    // The change handler rewrote the text (a log that empties itself): show what it made.
    pushText();
    pushSelection();
    return;
  }
  modelText_ = box_.text();
  if (box_.selStart() != 0 || box_.selLength() != 0)
    pushSelection();  // the handler placed the caret
  else
    onCursorMoved();
}

void TextEditBinding::onCursorMoved() {
  if (updating_) return;
  const QTextCursor cursor = edit_->textCursor();
  const int a = map_.toModel(std::min(cursor.anchor(), cursor.position()));
  const int b = map_.toModel(std::max(cursor.anchor(), cursor.position()));
  updating_ = true;
  box_.select(a, b - a);
  updating_ = false;
  selStart_ = box_.selStart();
  selLength_ = box_.selLength();
}

// ---------------------------------------------------------------------------------------------

LineEditBinding::LineEditBinding(TextBox& model, QLineEdit* widget, const TwipScale& scale)
    : ControlBinding(model, widget, scale), box_(model), edit_(widget) {
  connect(edit_, &QLineEdit::textEdited, this, &LineEditBinding::onEdited);
  connect(edit_, &QLineEdit::cursorPositionChanged, this, &LineEditBinding::onCursorMoved);
  connect(edit_, &QLineEdit::selectionChanged, this, &LineEditBinding::onCursorMoved);
  focusSub_ = box_.focusRequested().subscribe([this] {
    if (edit_->window()->isVisible()) edit_->setFocus(Qt::OtherFocusReason);
  });
  sync();
}

LineEditBinding::~LineEditBinding() { box_.focusRequested().unsubscribe(focusSub_); }

void LineEditBinding::sync() {
  if (updating_) return;
  ControlBinding::sync();
  if (edit_->text() != box_.text()) {
    updating_ = true;
    edit_->setText(box_.text());
    updating_ = false;
    selStart_ = selLength_ = -1;
  }
  if (box_.selStart() != selStart_ || box_.selLength() != selLength_) pushSelection();
}

void LineEditBinding::pushSelection() {
  selStart_ = box_.selStart();
  selLength_ = box_.selLength();
  updating_ = true;
  if (selLength_ > 0)
    edit_->setSelection(selStart_, selLength_);
  else
    edit_->setCursorPosition(selStart_);
  updating_ = false;
}

void LineEditBinding::onEdited(const QString& text) {
  if (updating_) return;
  updating_ = true;
  box_.setText(text);
  updating_ = false;
  if (box_.text() != edit_->text()) {
    sync();
    return;
  }
  onCursorMoved();
}

void LineEditBinding::onCursorMoved() {
  if (updating_) return;
  const int start = edit_->hasSelectedText() ? edit_->selectionStart() : edit_->cursorPosition();
  const int length = edit_->hasSelectedText() ? edit_->selectionLength() : 0;
  updating_ = true;
  box_.select(start, length);
  updating_ = false;
  selStart_ = box_.selStart();
  selLength_ = box_.selLength();
}

// ---------------------------------------------------------------------------------------------

LabelBinding::LabelBinding(Label& model, QLabel* widget, const TwipScale& scale, bool autoSize)
    : ControlBinding(model, widget, scale), label_(model), widget_(widget) {
  autoSize_ = autoSize;
  widget_->setTextFormat(Qt::PlainText);
  if (label_.Click) widget_->setCursor(Qt::PointingHandCursor);
  widget_->installEventFilter(this);
  sync();
}

bool LabelBinding::eventFilter(QObject* watched, QEvent* event) {
  if (watched == widget_ && event->type() == QEvent::MouseButtonRelease) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() == Qt::LeftButton &&
        widget_->rect().contains(mouse->position().toPoint()) && label_.Click) {
      // A copy: the click may close the window that holds this label.
      auto click = label_.Click;
      click();
      return true;
    }
  }
  return false;
}

void LabelBinding::sync() {
  if (widget_->text() != label_.caption()) widget_->setText(label_.caption());
  if (autoSize_) widget_->adjustSize();
  ControlBinding::sync();
}

// ---------------------------------------------------------------------------------------------

ElidedLabelBinding::ElidedLabelBinding(Label& model, QLabel* widget, const TwipScale& scale)
    : ControlBinding(model, widget, scale), label_(model), widget_(widget) {
  widget_->setTextFormat(Qt::PlainText);
  widget_->setCursor(Qt::PointingHandCursor);
  widget_->installEventFilter(this);
  sync();
}

bool ElidedLabelBinding::eventFilter(QObject* watched, QEvent* event) {
  if (watched != widget_) return false;
  if (event->type() == QEvent::Resize) {
    sync();
  } else if (event->type() == QEvent::MouseButtonRelease &&
             static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
             !label_.caption().isEmpty()) {
    showWhole();
    return true;
  }
  return false;
}

void ElidedLabelBinding::sync() {
  ControlBinding::sync();
  const QString whole = label_.caption();
  const QString shown = widget_->fontMetrics().elidedText(whole, Qt::ElideRight, widget_->width());
  if (widget_->text() != shown) widget_->setText(shown);
  if (widget_->toolTip() != whole) widget_->setToolTip(whole);
}

void ElidedLabelBinding::showWhole() {
  auto* dialog = new QDialog(widget_->window());
  dialog->setObjectName(widget_->objectName() + QStringLiteral("Whole"));
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle(widget_->window()->windowTitle());
  auto* text = new QPlainTextEdit(label_.caption(), dialog);
  text->setReadOnly(true);
  auto* buttons = new QDialogButtonBox(dialog);
  QPushButton* copy = buttons->addButton(QStringLiteral("复制"), QDialogButtonBox::ActionRole);
  QPushButton* close = buttons->addButton(QStringLiteral("关闭"), QDialogButtonBox::RejectRole);
  connect(copy, &QPushButton::clicked, dialog,
          [text] { QGuiApplication::clipboard()->setText(text->toPlainText()); });
  connect(close, &QPushButton::clicked, dialog, &QDialog::close);
  auto* layout = new QVBoxLayout(dialog);
  layout->addWidget(text);
  layout->addWidget(buttons);
  dialog->resize(widget_->window()->width() / 2, widget_->window()->height() / 3);
  placeOnScreen(dialog, widget_->window()->frameGeometry());
  dialog->show();
}

// ---------------------------------------------------------------------------------------------

ButtonBinding::ButtonBinding(CommandButton& model, QPushButton* widget, const TwipScale& scale)
    : ControlBinding(model, widget, scale), button_(model), widget_(widget) {
  connect(widget_, &QPushButton::clicked, this, [this] {
    auto click = button_.Click;
    if (click) click();
  });
  sync();
}

void ButtonBinding::sync() {
  ControlBinding::sync();
  if (widget_->text() != button_.caption()) widget_->setText(button_.caption());
}

// ---------------------------------------------------------------------------------------------

ScrollBarBinding::ScrollBarBinding(ScrollBar& model, QScrollBar* widget, const TwipScale& scale)
    : ControlBinding(model, widget, scale), bar_(model), widget_(widget) {
  widget_->setOrientation(Qt::Vertical);
  // A window's scroll bar is a tab stop that the arrow, page, Home and End keys move; Qt's
  // scroll bars, made for scroll areas, take no focus.
  widget_->setFocusPolicy(Qt::StrongFocus);
  connect(widget_, &QScrollBar::valueChanged, this, &ScrollBarBinding::onValue);
  connect(widget_, &QScrollBar::sliderReleased, this, [this] { onValue(widget_->value()); });
  sync();
}

void ScrollBarBinding::sync() {
  if (updating_) return;
  ControlBinding::sync();
  updating_ = true;
  widget_->setRange(bar_.min(), bar_.max());
  widget_->setSingleStep(bar_.smallChange());
  widget_->setPageStep(bar_.largeChange());
  widget_->setValue(bar_.value());
  updating_ = false;
}

void ScrollBarBinding::onValue(int value) {
  if (updating_) return;
  updating_ = true;
  // While the thumb is dragged the bar scrolls; any other movement is a change.
  if (widget_->isSliderDown())
    bar_.scrollTo(value);
  else
    bar_.setValue(value);
  updating_ = false;
  sync();
}

// ---------------------------------------------------------------------------------------------

OptionBinding::OptionBinding(OptionButton& model, QRadioButton* widget, const TwipScale& scale)
    : ControlBinding(model, widget, scale), option_(model), widget_(widget) {
  // The model decides which button is selected; Qt's own grouping would fight it.
  widget_->setAutoExclusive(false);
  connect(widget_, &QRadioButton::clicked, this, [this] {
    if (option_.Click) {
      auto click = option_.Click;
      click();
    } else {
      option_.setValue(true);
    }
    sync();
  });
  sync();
}

void OptionBinding::sync() {
  ControlBinding::sync();
  if (widget_->text() != option_.caption()) widget_->setText(option_.caption());
  if (widget_->isChecked() != option_.value()) widget_->setChecked(option_.value());
}

// ---------------------------------------------------------------------------------------------

FrameBinding::FrameBinding(Frame& model, QGroupBox* widget, const TwipScale& scale)
    : ControlBinding(model, widget, scale), frame_(model), widget_(widget) {
  sync();
}

void FrameBinding::sync() {
  ControlBinding::sync();
  if (widget_->title() != frame_.caption()) widget_->setTitle(frame_.caption());
}

// ---------------------------------------------------------------------------------------------

FormBinding::FormBinding(FormState& model, QWidget* window) : form_(model), window_(window) {
  sub_ = form_.changed().subscribe([this] { window_->setWindowTitle(form_.caption()); });
  window_->setWindowTitle(form_.caption());
}

FormBinding::~FormBinding() { form_.changed().unsubscribe(sub_); }

}  // namespace luvrin
