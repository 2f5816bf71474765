#include "editor_window_view.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>

#include "fixture_view_window.h"

namespace luvrin {

namespace {

QString indexed(const char* name, int index) {
  return QStringLiteral("%1(%2)").arg(QLatin1StringView(name)).arg(index);
}

// A fader's name in its narrow column: each line cut to the width (the whole text on hover),
// or, for a capability, one line written upwards along the fader.
class FaderText : public QWidget {
 public:
  FaderText(bool upwards, QWidget* parent) : QWidget(parent), upwards_(upwards) {}
  void setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    setToolTip(QString(text).replace(u'\n', u' '));
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics metrics(font());
    if (upwards_) {
      painter.translate(0, height());
      painter.rotate(-90);
      const QRect area(0, 0, height(), width());
      painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                       metrics.elidedText(text_, Qt::ElideRight, area.width()));
      return;
    }
    const QStringList lines = text_.split(u'\n');
    int top = 0;
    for (const QString& line : lines) {
      painter.drawText(QRect(0, top, width(), metrics.height()), Qt::AlignCenter,
                       metrics.elidedText(line, Qt::ElideRight, width()));
      top += metrics.height();
    }
  }

 private:
  bool upwards_;
  QString text_;
};

// Geometry and visibility from the model, the caption as the widget's text.
class FaderTextBinding : public ControlBinding {
 public:
  FaderTextBinding(Label& model, FaderText* widget, const TwipScale& scale)
      : ControlBinding(model, widget, scale), label_(model), widget_(widget) {
    FaderTextBinding::sync();
  }

 private:
  void sync() override {
    ControlBinding::sync();
    widget_->setText(label_.caption());
  }
  Label& label_;
  FaderText* widget_;
};

}  // namespace

Form3View::Form3View(Form3& model, QWidget* owner) : QWidget(nullptr), model_(model) {
  applyWindowFont(this);
  if (!QApplication::windowIcon().isNull()) setWindowIcon(QApplication::windowIcon());

  for (int f = 0; f < Form3::kPageCount; ++f) {
    const auto k = static_cast<std::size_t>(f);
    auto* option = new QRadioButton(this);
    option->setObjectName(indexed("Option1", f));
    options_[k] = option;
    bindings_.add<OptionBinding>(model.Option1[k], option, scale_);
  }
  for (int f = 0; f < Form3::kPageCount; ++f) {
    const auto k = static_cast<std::size_t>(f);
    auto* page = new QGroupBox(this);
    page->setObjectName(indexed("Frame1", f));
    // The channel boxes are narrow: a small font keeps three digits readable in them.
    QFont small = page->font();
    small.setPixelSize(std::max(8, scale_.px(165)));
    page->setFont(small);
    pages_[k] = page;
    bindings_.add<FrameBinding>(model.Frame1[k], page, scale_);
    pageSubs_.push_back(model.Frame1[k].changed().subscribe([this, f] {
      if (model_.Frame1[static_cast<std::size_t>(f)].visible()) buildPage(f);
    }));
    if (model.Frame1[k].visible()) buildPage(f);
  }

  auto button = [&](CommandButton& m, const char* name) {
    auto* w = new QPushButton(this);
    w->setObjectName(QString::fromLatin1(name));
    bindings_.add<ButtonBinding>(m, w, scale_);
  };
  auto label = [&](Label& m, const char* name) {
    auto* w = new QLabel(this);
    w->setObjectName(QString::fromLatin1(name));
    bindings_.add<LabelBinding>(m, w, scale_);
  };

  button(model.Command4, "Command4");
  QPlainTextEdit* text7 = makeMultiLineBox(this, ScrollBars::Horizontal);
  text7->setObjectName(QStringLiteral("Text7"));
  bindings_.add<TextEditBinding>(model.Text7, text7, scale_);
  label(model.Label1, "Label1");
  auto* text6 = new QLineEdit(this);
  text6->setObjectName(QStringLiteral("Text6"));
  bindings_.add<LineEditBinding>(model.Text6, text6, scale_);
  QPlainTextEdit* text5 = makeMultiLineBox(this, ScrollBars::Both);
  text5->setObjectName(QStringLiteral("Text5"));
  bindings_.add<TextEditBinding>(model.Text5, text5, scale_);
  button(model.Command5, "Command5");
  button(model.Command7, "Command7");
  button(model.Command3, "Command3");
  button(model.Command6, "Command6");
  label(model.Label2, "Label2");
  button(model.Command8, "Command8");
  button(model.Command9, "Command9");
  bindings_.add<FormBinding>(model, this);
  installDialogs();

  resize(scale_.px(Form3::kClientWidth), scale_.px(model.clientHeight()));
  // Names make the window taller (and their going, shorter again).
  formSub_ = model.layoutChanged().subscribe([this] {
    const int height = scale_.px(model_.clientHeight());
    if (height != this->height()) resize(width(), height);
  });
  placeOnScreen(this, owner != nullptr && owner->isVisible() ? owner->frameGeometry() : QRect());
}

Form3View::~Form3View() {
  delete fixtureView_;
  model_.layoutChanged().unsubscribe(formSub_);
  for (int f = 0; f < Form3::kPageCount; ++f)
    model_.Frame1[static_cast<std::size_t>(f)].changed().unsubscribe(
        pageSubs_[static_cast<std::size_t>(f)]);
  bindings_.clear();
}

bool Form3View::pageBuilt(int page) const {
  return page >= 0 && page < Form3::kPageCount && built_[static_cast<std::size_t>(page)];
}

void Form3View::buildPage(int f) {
  if (built_[static_cast<std::size_t>(f)]) return;
  built_[static_cast<std::size_t>(f)] = true;
  QGroupBox* page = pages_[static_cast<std::size_t>(f)];
  const auto [first, count] = Form3::pageFaders(f);
  for (int i = first; i < first + count; ++i) {
    const auto k = static_cast<std::size_t>(i);
    auto* number = new QLineEdit(page);
    number->setObjectName(indexed("Text3", i));
    number->setFrame(false);
    number->setAlignment(Qt::AlignCenter);
    bindings_.add<LineEditBinding>(model_.Text3[k], number, scale_);

    auto* value = new QLineEdit(page);
    value->setObjectName(indexed("Text2", i));
    value->setFrame(false);
    value->setAlignment(Qt::AlignCenter);
    bindings_.add<LineEditBinding>(model_.Text2[k], value, scale_);

    auto* name = new FaderText(false, page);
    name->setObjectName(indexed("FaderName", i));
    bindings_.add<FaderTextBinding>(model_.FaderName[k], name, scale_);
    auto* capability = new FaderText(true, page);
    capability->setObjectName(indexed("FaderCapability", i));
    bindings_.add<FaderTextBinding>(model_.FaderCapability[k], capability, scale_);

    auto* fader = new QScrollBar(Qt::Vertical, page);
    fader->setObjectName(indexed("VScroll1", i));
    bindings_.add<ScrollBarBinding>(model_.VScroll1[k], fader, scale_);
  }
  orderTabs(f);
}

void Form3View::orderTabs(int page) {
  // Pages are built when first shown, so their widgets would otherwise join the tab chain at
  // its end, after the command buttons.
  QWidget* previous = options_.back();
  const auto [first, count] = Form3::pageFaders(page);
  for (int i = first; i < first + count; ++i) {
    auto* fader = pages_[static_cast<std::size_t>(page)]->findChild<QScrollBar*>(
        indexed("VScroll1", i), Qt::FindDirectChildrenOnly);
    if (fader == nullptr) continue;
    QWidget::setTabOrder(previous, fader);
    previous = fader;
  }
}

namespace {
// Scripts carry no fixed extension: a script saved as .txt must still be found.
const QString kScriptFilter = QStringLiteral("脚本 (*.ini *.INI);;所有文件 (*)");
}  // namespace

void Form3View::installDialogs() {
  // The hooks outlive this view in the model; once the view is gone they answer "cancelled".
  const QPointer<Form3View> self(this);
  model_.dialogs.saveFileName = [self]() -> std::optional<QString> {
    if (!self) return std::nullopt;
    const QString path = QFileDialog::getSaveFileName(self, QStringLiteral("保存脚本"),
                                                      self->model_.dialogFolder(), kScriptFilter);
    if (path.isEmpty()) return std::nullopt;
    return path;
  };
  model_.dialogs.openFileName = [self]() -> std::optional<QString> {
    if (!self) return std::nullopt;
    const QString path = QFileDialog::getOpenFileName(self, QStringLiteral("打开脚本"),
                                                      self->model_.dialogFolder(), kScriptFilter);
    if (path.isEmpty()) return std::nullopt;
    return path;
  };
  model_.dialogs.message = [self](const QString& text) {
    if (self) QMessageBox::warning(self, self->windowTitle(), text);
  };
  model_.dialogs.fixtures = [self] {
    if (!self) return;
    if (!self->fixtureView_) {
      self->fixtureView_ = new FixtureViewWindow(self->model_, self);
      self->fixtureView_->setAttribute(Qt::WA_DeleteOnClose);
    }
    self->fixtureView_->show();
    self->fixtureView_->raise();
    self->fixtureView_->activateWindow();
  };
  model_.dialogs.confirm = [self](const QString& text) {
    if (!self) return false;
    return QMessageBox::warning(self, self->windowTitle(), text,
                                QMessageBox::Ok | QMessageBox::Cancel,
                                QMessageBox::Cancel) == QMessageBox::Ok;
  };
}

void Form3View::closeEvent(QCloseEvent* event) {
  event->accept();
  model_.Unload();
}

}  // namespace luvrin
