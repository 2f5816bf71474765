#include "devices_view.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

#include "rdm_devices.h"
#include "widget_binding.h"

namespace luvrin {

namespace {

const QStringList kColumns = {QStringLiteral("UID"),      QStringLiteral("厂商"),
                              QStringLiteral("型号"),     QStringLiteral("名称"),
                              QStringLiteral("起始地址"), QStringLiteral("通道数"),
                              QStringLiteral("模式"),     QStringLiteral("软件")};

QString detailsText(const rdm::Device& d) {
  QStringList lines;
  for (const rdm::Sensor& s : d.sensors)
    lines << QStringLiteral("传感器 %1: %2 %3")
                 .arg(s.name.isEmpty() ? QString::number(s.number) : s.name)
                 .arg(s.value ? QString::number(*s.value) : QStringLiteral("-"))
                 .arg(s.unitText());
  if (d.lampHours) lines << QStringLiteral("灯泡小时: %1").arg(*d.lampHours);
  if (d.lampState) lines << QStringLiteral("灯泡状态: %1").arg(rdm::lampStateText(*d.lampState));
  if (d.deviceHours) lines << QStringLiteral("设备小时: %1").arg(*d.deviceHours);
  for (const QString& s : d.status) lines << QStringLiteral("状态消息: ") + s;
  for (const rdm::Slot& s : d.slotInfo)
    lines << QStringLiteral("通道 %1: %2").arg(d.address + s.offset).arg(s.name);
  for (const rdm::Device& sub : d.subDevices)
    lines << QStringLiteral("子设备 %1: %2, 地址 %3")
                 .arg(sub.subDevice)
                 .arg(sub.label)
                 .arg(sub.address);
  for (const auto& [pid, why] : d.problems)
    lines << QStringLiteral("参数 0x%1 未读到: %2").arg(pid, 4, 16, QLatin1Char('0')).arg(why);
  return lines.join(u'\n');
}

template <typename Field, typename Value>
rdm::DeviceWriter::Change only(Field rdm::DeviceWriter::Change::*field, Value value) {
  rdm::DeviceWriter::Change c;
  c.*field = value;
  return c;
}

}  // namespace

DevicesView::DevicesView(DevicesWindow& model, QWidget* parent)
    : QWidget(parent), model_(model), devices_(model.devices()) {
  applyWindowFont(this);
  if (!QApplication::windowIcon().isNull()) setWindowIcon(QApplication::windowIcon());
  setWindowTitle(model.caption());
  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  search_ = new QPushButton(QStringLiteral("搜索(&S)"), this);
  search_->setObjectName(QStringLiteral("Search"));
  update_ = new QPushButton(QStringLiteral("更新(&U)"), this);
  update_->setObjectName(QStringLiteral("Update"));
  progress_ = new QLabel(this);
  progress_->setObjectName(QStringLiteral("Progress"));
  top->addWidget(search_);
  top->addWidget(update_);
  top->addWidget(progress_, 1);
  layout->addLayout(top);

  table_ = new QTableWidget(0, static_cast<int>(kColumns.size()), this);
  table_->setObjectName(QStringLiteral("Devices"));
  table_->setHorizontalHeaderLabels(kColumns);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  layout->addWidget(table_, 2);

  details_ = new QPlainTextEdit(this);
  details_->setObjectName(QStringLiteral("Details"));
  details_->setReadOnly(true);
  layout->addWidget(details_, 1);

  auto* settings = new QHBoxLayout;
  identify_ = new QPushButton(QStringLiteral("识别(&I)"), this);
  identify_->setObjectName(QStringLiteral("Identify"));
  identify_->setCheckable(true);
  address_ = new QSpinBox(this);
  address_->setObjectName(QStringLiteral("Address"));
  address_->setRange(1, 512);
  auto* setAddress = new QPushButton(QStringLiteral("设地址(&A)"), this);
  setAddress->setObjectName(QStringLiteral("SetAddress"));
  personality_ = new QComboBox(this);
  personality_->setObjectName(QStringLiteral("Personality"));
  label_ = new QLineEdit(this);
  label_->setObjectName(QStringLiteral("Label"));
  label_->setPlaceholderText(QStringLiteral("名称"));
  settings->addWidget(identify_);
  settings->addWidget(new QLabel(QStringLiteral("起始地址:"), this));
  settings->addWidget(address_);
  settings->addWidget(setAddress);
  settings->addWidget(new QLabel(QStringLiteral("模式:"), this));
  settings->addWidget(personality_, 1);
  settings->addWidget(label_, 1);
  layout->addLayout(settings);

  // 配接: the proposal for the selected device, its name to edit, then the line written.
  auto* patching = new QHBoxLayout;
  patch_ = new QPushButton(QStringLiteral("配接(&P)"), this);
  patch_->setObjectName(QStringLiteral("Patch"));
  patchName_ = new QLineEdit(this);
  patchName_->setObjectName(QStringLiteral("PatchName"));
  auto* nameLabel = new QLabel(QStringLiteral("灯具名称(&N):"), this);
  nameLabel->setBuddy(patchName_);
  patchLine_ = new QLabel(this);
  patchLine_->setObjectName(QStringLiteral("PatchLine"));
  patchApply_ = new QPushButton(QStringLiteral("写入配接(&W)"), this);
  patchApply_->setObjectName(QStringLiteral("PatchApply"));
  patching->addWidget(patch_);
  patching->addWidget(nameLabel);
  patching->addWidget(patchName_, 1);
  patching->addWidget(patchLine_, 2);
  patching->addWidget(patchApply_);
  layout->addLayout(patching);
  result_ = new QLabel(this);
  result_->setObjectName(QStringLiteral("Result"));
  layout->addWidget(result_);

  connect(search_, &QPushButton::clicked, this, [this] { discover(true); });
  connect(update_, &QPushButton::clicked, this, [this] { discover(false); });
  connect(table_, &QTableWidget::itemSelectionChanged, this, [this] { showSelected(); });
  connect(identify_, &QPushButton::clicked, this,
          [this](bool on) { change(only(&rdm::DeviceWriter::Change::identify, on)); });
  connect(setAddress, &QPushButton::clicked, this,
          [this] { change(only(&rdm::DeviceWriter::Change::address, address_->value())); });
  // Enter, or leaving the box with a new value, sets it.
  connect(address_, &QSpinBox::editingFinished, this, [this] {
    const auto uid = selected();
    const rdm::Device* d = uid ? devices_.find(*uid) : nullptr;
    if (d && d->address != address_->value())
      change(only(&rdm::DeviceWriter::Change::address, address_->value()));
  });
  connect(personality_, &QComboBox::activated, this,
          [this](int index) { change(only(&rdm::DeviceWriter::Change::personality, index + 1)); });
  connect(label_, &QLineEdit::returnPressed, this,
          [this] { change(only(&rdm::DeviceWriter::Change::label, label_->text())); });

  connect(patch_, &QPushButton::clicked, this, [this] {
    if (const auto uid = selected()) model_.proposePatch(*uid);
  });
  const auto apply = [this] {
    const auto& state = model_.patchState();
    const auto uid = selected();
    if (uid && state.proposal && state.uid == uid) model_.applyPatch(*uid, patchName_->text());
  };
  connect(patchApply_, &QPushButton::clicked, this, apply);
  connect(patchName_, &QLineEdit::returnPressed, this, apply);

  sub_ = devices_.changed().subscribe([this] { refresh(); });
  patchSub_ = model_.patchChanged().subscribe([this] { showPatch(); });
  refresh();
  resize(900, 560);
  placeOnScreen(this);
}

DevicesView::~DevicesView() {
  *alive_ = false;
  devices_.changed().unsubscribe(sub_);
  model_.patchChanged().unsubscribe(patchSub_);
}

void DevicesView::closeEvent(QCloseEvent* event) {
  event->accept();
  model_.Hide();
}

std::optional<rdm::Uid> DevicesView::selected() const {
  const QList<QTableWidgetItem*> items = table_->selectedItems();
  if (items.isEmpty()) return std::nullopt;
  return rdm::Uid::parse(table_->item(items.first()->row(), 0)->text());
}

void DevicesView::refresh() {
  const QString why = devices_.refusal();
  QStringList line{why.isEmpty() ? devices_.progress() : QStringLiteral("没有 RDM: ") + why};
  if (!devices_.interfaceText().isEmpty()) line << devices_.interfaceText();
  line.removeAll(QString());
  progress_->setText(line.join(QStringLiteral("    ")));
  search_->setEnabled(why.isEmpty() && !devices_.discovering());
  update_->setEnabled(why.isEmpty() && !devices_.discovering());
  const auto keep = selected();
  const QSignalBlocker quiet(table_);
  table_->setRowCount(static_cast<int>(devices_.devices().size()));
  int row = 0;
  for (const rdm::Device& d : devices_.devices()) {
    const QString address = d.address == 0xFFFF ? QStringLiteral("-") : QString::number(d.address);
    const QStringList cells = {
        d.uid.toString(),
        d.manufacturer,
        d.model,
        d.label,
        devices_.overlaps(d.uid) ? address + QStringLiteral(" (重叠)") : address,
        QString::number(d.footprint),
        QStringLiteral("%1/%2").arg(d.personality).arg(d.personalities),
        d.software};
    for (int c = 0; c < cells.size(); ++c) {
      auto* item = new QTableWidgetItem(cells[c]);
      if (devices_.overlaps(d.uid)) {
        item->setForeground(Qt::red);
        item->setToolTip(QStringLiteral("地址范围与另一台设备重叠"));
      }
      table_->setItem(row, c, item);
    }
    if (keep && *keep == d.uid) table_->selectRow(row);
    ++row;
  }
  table_->resizeColumnToContents(0);
  showSelected();
}

void DevicesView::showSelected() {
  const auto uid = selected();
  const rdm::Device* d = uid ? devices_.find(*uid) : nullptr;
  for (QWidget* w : std::initializer_list<QWidget*>{identify_, address_, personality_, label_})
    w->setEnabled(d != nullptr);
  showPatch();
  if (!d) {
    details_->clear();
    return;
  }
  details_->setPlainText(detailsText(*d));
  identify_->setChecked(d->identify);
  if (!address_->hasFocus() && d->address >= 1 && d->address <= 512) address_->setValue(d->address);
  personality_->clear();
  for (int i = 1; i <= d->personalities; ++i) {
    const QString name = i <= d->personalityNames.size() ? d->personalityNames[i - 1] : QString();
    personality_->addItem(name.isEmpty() ? QString::number(i)
                                         : QStringLiteral("%1 %2").arg(i).arg(name));
  }
  personality_->setCurrentIndex(d->personality - 1);
  if (!label_->hasFocus()) label_->setText(d->label);
}

void DevicesView::discover(bool full) {
  result_->clear();
  if (devices_.discover(full) == RdmDevices::Start::Busy)
    result_->setText(QStringLiteral("正在搜索设备"));
}

void DevicesView::change(const rdm::DeviceWriter::Change& c) {
  const auto uid = selected();
  if (!uid) return;
  result_->setText(QStringLiteral("正在设置…"));
  std::weak_ptr<bool> alive = alive_;
  devices_.change(*uid, c, [this, alive](RdmDevices::ChangeResult r) {
    if (alive.expired()) return;
    result_->setText(r.kind == RdmDevices::ChangeResult::Kind::Done ? QStringLiteral("已设置")
                                                                    : r.why);
    if (r.kind != RdmDevices::ChangeResult::Kind::Done) showSelected();
  });
}

// The proposal shows for the device it was made for; the status line says how it went.
void DevicesView::showPatch() {
  const DevicesWindow::PatchState& state = model_.patchState();
  const auto uid = selected();
  const bool forSelected = uid && state.uid == uid;
  const bool proposed = forSelected && state.proposal.has_value();
  patch_->setEnabled(uid && model_.patcher() && !state.working);
  patchName_->setEnabled(proposed && !state.working);
  patchApply_->setEnabled(proposed && !state.working);
  if (proposed && patchLine_->text().isEmpty()) {
    patchName_->setText(state.proposal->name);
    patchName_->setFocus();
    patchName_->selectAll();
  }
  if (!proposed) patchName_->clear();
  patchLine_->setText(proposed ? QStringLiteral("起始通道 %1, %2")
                                     .arg(state.proposal->start)
                                     .arg(patchLineText(*state.proposal))
                               : QString());
  if (forSelected && !state.status.isEmpty()) result_->setText(state.status);
}

}  // namespace luvrin
