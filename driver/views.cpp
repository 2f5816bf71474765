#include "views.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QObject>
#include <QPointer>
#include <QTranslator>
#include <map>
#include <memory>
#include <vector>

#include "devices_view.h"
#include "driver_window.h"
#include "driver_window_view.h"
#include "editor_window_view.h"
#include "version_notes_view.h"

namespace luvrin {

namespace {

// Follows the windows' states and keeps one view per shown window.
class ViewManager : public QObject {
 public:
  explicit ViewManager(Form1& driver) : driver_(driver) {
    driverSub_ = driver_.changed().subscribe([this] { followDriver(); });
    editorSub_ = driver_.editor().changed().subscribe([this] { followEditor(); });
    notesSub_ = driver_.notes().changed().subscribe([this] { followNotes(); });
    devicesSub_ = driver_.devicesWindow().changed().subscribe([this] { followDevices(); });
    followDriver();
    followEditor();
    followNotes();
    followDevices();
  }

  ~ViewManager() override {
    driver_.changed().unsubscribe(driverSub_);
    driver_.editor().changed().unsubscribe(editorSub_);
    driver_.notes().changed().unsubscribe(notesSub_);
    driver_.devicesWindow().changed().unsubscribe(devicesSub_);
    devicesView_.reset();
    delete editorView_.data();
    // Views on their way out still listen to the models: they go now, while the models stand.
    for (const QPointer<Form3View>& view : retired_) delete view.data();
    notesView_.reset();
    driverView_.reset();
  }

 private:
  void followDriver() {
    if (driver_.visible() && !driverView_) {
      driverView_ = std::make_unique<Form1View>(driver_);
      driverView_->show();
    } else if (driverView_) {
      driverView_->setVisible(driver_.visible());
    }
  }

  void followEditor() {
    Form3& editor = driver_.editor();
    if (editorView_ && !editor.loaded()) {
      // Not deleted here: this runs inside the model's notification, which may still be due to
      // reach the view's own bindings.
      editorView_->hide();
      editorView_->deleteLater();
      std::erase_if(retired_, [](const QPointer<Form3View>& v) { return v.isNull(); });
      retired_.push_back(editorView_);
      editorView_.clear();
      return;
    }
    if (!editor.visible()) {
      if (editorView_) editorView_->hide();
      return;
    }
    if (!editorView_) editorView_ = new Form3View(editor, driverView_.get());
    editorView_->show();
    editorView_->raise();
    editorView_->activateWindow();
  }

  void followNotes() {
    Form4& notes = driver_.notes();
    if (!notes.visible()) {
      if (notesView_) notesView_->hide();
      return;
    }
    if (!notesView_) notesView_ = std::make_unique<Form4View>(notes);
    notesView_->show();
    notesView_->raise();
    notesView_->activateWindow();
  }

  void followDevices() {
    DevicesWindow& window = driver_.devicesWindow();
    if (!window.visible()) {
      if (devicesView_) devicesView_->hide();
      return;
    }
    if (!devicesView_) {
      window.attachPatch(driver_.patch(), driver_.outputFrame());
      devicesView_ = std::make_unique<DevicesView>(window);
    }
    devicesView_->show();
    devicesView_->raise();
    devicesView_->activateWindow();
  }

  Form1& driver_;
  std::unique_ptr<Form1View> driverView_;
  std::unique_ptr<DevicesView> devicesView_;
  Notifier::Id devicesSub_ = 0;
  QPointer<Form3View> editorView_;
  std::vector<QPointer<Form3View>> retired_;
  std::unique_ptr<Form4View> notesView_;
  Notifier::Id driverSub_ = 0;
  Notifier::Id editorSub_ = 0;
  Notifier::Id notesSub_ = 0;
};

std::map<Form1*, ViewManager*>& managers() {
  static std::map<Form1*, ViewManager*> all;
  return all;
}

}  // namespace

void installViews(Form1& driver) {
  if (managers().count(&driver) != 0) return;
  auto* manager = new ViewManager(driver);
  managers()[&driver] = manager;
  // The views go while the models still stand: main's driver outlives the event loop.
  QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, manager,
                   [&driver] { removeViews(driver); });
}

void removeViews(Form1& driver) {
  const auto it = managers().find(&driver);
  if (it == managers().end()) return;
  ViewManager* manager = it->second;
  managers().erase(it);
  delete manager;
}

QStringList qtTranslationFolders(const QString& programFolder) {
  // The shipped copy first: a Windows install has no system translations to fall back on.
  return {programFolder + QStringLiteral("/translations"),
          QLibraryInfo::path(QLibraryInfo::TranslationsPath)};
}

QTranslator* installQtTranslation(const QStringList& folders) {
  // The windows are Chinese whatever the user's locale, so Qt's own texts are too.
  auto translator = std::make_unique<QTranslator>(QCoreApplication::instance());
  for (const QString& folder : folders) {
    if (folder.isEmpty()) continue;
    if (translator->load(QStringLiteral("qtbase_zh_CN"), folder) &&
        QCoreApplication::installTranslator(translator.get()))
      return translator.release();
  }
  return nullptr;
}

}  // namespace luvrin
