#include "version_notes_view.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPlainTextEdit>

#include "version_notes.h"

namespace luvrin {

namespace {
constexpr int kClientWidth = 8190;
constexpr int kClientHeight = 5430;
}  // namespace

Form4View::Form4View(Form4& model, QWidget* parent) : QWidget(parent), model_(model) {
  const TwipScale scale;
  applyWindowFont(this);
  if (!QApplication::windowIcon().isNull()) setWindowIcon(QApplication::windowIcon());
  QPlainTextEdit* text1 = makeMultiLineBox(this, ScrollBars::Both);
  text1->setObjectName(QStringLiteral("Text1"));
  bindings_.add<TextEditBinding>(model.Text1, text1, scale);
  bindings_.add<FormBinding>(model, this);
  resize(scale.px(kClientWidth), scale.px(kClientHeight));
  placeOnScreen(this);
}

Form4View::~Form4View() { bindings_.clear(); }

void Form4View::closeEvent(QCloseEvent* event) {
  event->accept();
  model_.Hide();
}

}  // namespace luvrin
