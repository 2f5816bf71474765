#pragma once

#include <QWidget>
#include <memory>
#include <optional>

#include "controls.h"
#include "rdm_device.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTableWidget;

namespace luvrin {

class DevicesWindow;
class RdmDevices;

// The devices window: the table of the devices found, discovery with its progress, and the
// selected device's details and settings. Closing it hides it.
class DevicesView : public QWidget {
 public:
  explicit DevicesView(DevicesWindow& model, QWidget* parent = nullptr);
  ~DevicesView() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void refresh();
  void showSelected();
  std::optional<rdm::Uid> selected() const;
  void discover(bool full);
  void change(const rdm::DeviceWriter::Change& change);
  void showPatch();

  DevicesWindow& model_;
  RdmDevices& devices_;
  Notifier::Id sub_ = 0;
  QLabel* progress_;
  QPushButton* search_;
  QPushButton* update_;
  QTableWidget* table_;
  QPlainTextEdit* details_;
  QPushButton* identify_;
  QSpinBox* address_;
  QComboBox* personality_;
  QLineEdit* label_;
  QPushButton* patch_;
  QLineEdit* patchName_;
  QLabel* patchLine_;
  QPushButton* patchApply_;
  QLabel* result_;
  Notifier::Id patchSub_ = 0;
  // The view may go while a change is on the line: its answer then reaches nothing.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace luvrin
