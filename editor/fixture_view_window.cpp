#include "fixture_view_window.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>

#include "widget_binding.h"

namespace luvrin {

namespace {

// Pan across, tilt up: one point moves both, coarse and fine together.
class Pad : public QWidget {
 public:
  explicit Pad(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(220, 220);
    setAccessibleName(QStringLiteral("水平 / 垂直"));
  }
  std::function<void(int, int)> moved;
  void setPoint(int pan, int tilt) {
    if (pan == pan_ && tilt == tilt_) return;
    pan_ = pan;
    tilt_ = tilt;
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), palette().color(QPalette::Base));
    p.setPen(palette().color(hasFocus() ? QPalette::Highlight : QPalette::Mid));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
    p.setPen(palette().color(QPalette::Mid));
    p.drawLine(width() / 2, 0, width() / 2, height());
    p.drawLine(0, height() / 2, width(), height() / 2);
    const QPointF at(pan_ * (width() - 1) / 65535.0, (65535 - tilt_) * (height() - 1) / 65535.0);
    p.setBrush(palette().color(QPalette::Highlight));
    p.drawEllipse(at, 7, 7);
    p.setPen(palette().color(QPalette::Text));
    p.drawText(rect().adjusted(4, 2, -4, -2), Qt::AlignLeft | Qt::AlignBottom,
               QStringLiteral("水平 %1  垂直 %2").arg(pan_ >> 8).arg(tilt_ >> 8));
  }
  void mousePressEvent(QMouseEvent* e) override { moveTo(e->position()); }
  void mouseMoveEvent(QMouseEvent* e) override {
    if (e->buttons() & Qt::LeftButton) moveTo(e->position());
  }
  void keyPressEvent(QKeyEvent* e) override {
    const int step = e->modifiers() & Qt::ShiftModifier ? 1 : 256;
    int pan = pan_, tilt = tilt_;
    switch (e->key()) {
      case Qt::Key_Left:
        pan -= step;
        break;
      case Qt::Key_Right:
        pan += step;
        break;
      case Qt::Key_Up:
        tilt += step;
        break;
      case Qt::Key_Down:
        tilt -= step;
        break;
      case Qt::Key_Home:
        pan = tilt = 32768;
        break;
      default:
        return QWidget::keyPressEvent(e);
    }
    emitMove(std::clamp(pan, 0, 65535), std::clamp(tilt, 0, 65535));
  }

 private:
  void moveTo(QPointF at) {
    const auto scaled = [](double v, int size) {
      return std::clamp(static_cast<int>(v * 65535.0 / std::max(1, size - 1) + 0.5), 0, 65535);
    };
    emitMove(scaled(at.x(), width()), 65535 - scaled(at.y(), height()));
  }
  void emitMove(int pan, int tilt) {
    setPoint(pan, tilt);
    if (moved) moved(pan, tilt);
  }
  int pan_ = 0, tilt_ = 0;
};

}  // namespace

FixtureViewWindow::FixtureViewWindow(Form3& editor, QWidget* owner)
    : QWidget(nullptr), editor_(editor), view_(editor) {
  applyWindowFont(this);
  setWindowTitle(QStringLiteral("灯具"));
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  auto* label = new QLabel(QStringLiteral("灯具:"), this);
  fixtures_ = new QComboBox(this);
  fixtures_->setObjectName(QStringLiteral("fixtures"));
  fixtures_->setMinimumContentsLength(12);
  label->setBuddy(fixtures_);
  top->addWidget(label);
  top->addWidget(fixtures_, 1);
  layout->addLayout(top);
  // A head has some twenty channels: they scroll, the window stays on the screen.
  auto* scroll = new QScrollArea(this);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  parts_ = new QWidget(scroll);
  partsLayout_ = new QVBoxLayout(parts_);
  partsLayout_->setContentsMargins(0, 0, 0, 0);
  scroll->setWidget(parts_);
  layout->addWidget(scroll, 1);
  // The patch's lines left out, marked where the fixtures are chosen.
  problems_ = new QLabel(this);
  problems_->setObjectName(QStringLiteral("problems"));
  problems_->setWordWrap(true);
  problems_->setStyleSheet(QStringLiteral("color: #b00000"));
  layout->addWidget(problems_);
  connect(fixtures_, &QComboBox::currentTextChanged, this,
          [this](const QString& name) { showFixture(name); });
  if (fixtures::ShowPatch* patch = editor_.showPatch())
    patchSub_ = patch->changed().subscribe([this] { refresh(); });
  for (int i = 0; i < Form3::kFaderCount; ++i)
    faderSubs_.push_back(
        editor_.VScroll1[static_cast<std::size_t>(i)].changed().subscribe([this] { follow(); }));
  refresh();
  resize(460, 640);
  placeOnScreen(this, owner != nullptr && owner->isVisible() ? owner->frameGeometry() : QRect());
}

FixtureViewWindow::~FixtureViewWindow() {
  for (int i = 0; i < Form3::kFaderCount; ++i)
    editor_.VScroll1[static_cast<std::size_t>(i)].changed().unsubscribe(
        faderSubs_[static_cast<std::size_t>(i)]);
  if (fixtures::ShowPatch* patch = editor_.showPatch()) patch->changed().unsubscribe(patchSub_);
}

void FixtureViewWindow::refresh() {
  const QString keep = view_.selected();
  const QStringList names = view_.fixtureNames();
  const QStringList problems = view_.problems();
  problems_->setText(problems.isEmpty()
                         ? QString()
                         : QStringLiteral("配接.ini 中未载入的行:\n") + problems.join(u'\n'));
  problems_->setHidden(problems.isEmpty());
  {
    const QSignalBlocker block(fixtures_);
    fixtures_->clear();
    fixtures_->addItems(names);
    fixtures_->setCurrentIndex(std::max(0, static_cast<int>(names.indexOf(keep))));
  }
  showFixture(fixtures_->currentText());
}

void FixtureViewWindow::showFixture(const QString& name) {
  followers_.clear();
  while (QLayoutItem* item = partsLayout_->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  if (!view_.select(name)) {
    partsLayout_->addWidget(new QLabel(
        name.isEmpty() ? QStringLiteral("配接中没有灯具 (驱动/配接.ini)") : name, parts_));
    partsLayout_->addStretch();
    return;
  }
  // The parts refer to the view's list, which stays as it is until the next select().
  for (const FixtureView::Part& part : view_.parts()) {
    auto* box = new QGroupBox(part.title, parts_);
    auto* inside = new QVBoxLayout(box);
    const FixtureView::Part* p = &part;
    switch (part.kind) {
      case FixtureView::Part::Kind::Pad: {
        auto* pad = new Pad(box);
        pad->setObjectName(QStringLiteral("pad"));
        pad->moved = [this, p](int pan, int tilt) { view_.setPad(*p, pan, tilt); };
        followers_.push_back([this, pad, p] {
          pad->setPoint(view_.value(p->channel, p->fine), view_.value(p->tiltChannel, p->tiltFine));
        });
        inside->addWidget(pad, 0, Qt::AlignHCenter);
        break;
      }
      case FixtureView::Part::Kind::Fader: {
        auto* slider = new QSlider(Qt::Horizontal, box);
        slider->setObjectName(QStringLiteral("channel%1").arg(part.channel));
        slider->setRange(0, Form3::kFaderMax);
        slider->setAccessibleName(part.title);
        connect(slider, &QSlider::valueChanged, this,
                [this, p](int v) { view_.setLevel(p->channel, v); });
        followers_.push_back([this, slider, p] {
          const QSignalBlocker block(slider);
          slider->setValue(view_.value(p->channel, 0) >> 8);
        });
        inside->addWidget(slider);
        break;
      }
      case FixtureView::Part::Kind::List: {
        auto* list = new QListWidget(box);
        list->setObjectName(QStringLiteral("channel%1").arg(part.channel));
        list->setAccessibleName(part.title);
        for (const fixtures::Capability& c : part.capabilities)
          list->addItem(QStringLiteral("%1  (%2-%3)").arg(c.name).arg(c.min).arg(c.max));
        list->setMaximumHeight(list->sizeHintForRow(0) * std::min<int>(6, list->count()) +
                               2 * list->frameWidth() + 2);
        connect(list, &QListWidget::currentRowChanged, this, [this, p](int row) {
          if (row >= 0 && row != view_.chosen(*p)) view_.choose(*p, row);
        });
        followers_.push_back([this, list, p] {
          const QSignalBlocker block(list);
          list->setCurrentRow(view_.chosen(*p));
        });
        inside->addWidget(list);
        break;
      }
    }
    partsLayout_->addWidget(box);
  }
  partsLayout_->addStretch();
  follow();
}

void FixtureViewWindow::follow() {
  for (const auto& f : followers_) f();
}

}  // namespace luvrin
