#pragma once

#include <QString>
#include <QStringList>
#include <functional>

#include "controls.h"
#include "form.h"
#include "scene_catalogue.h"

namespace luvrin {

// Why a catalogue that could not be read gives no launchers, as 生成 says it; "" for none.
QString catalogueProblem(FileRead::Failure failure);

// The launcher builder: hidden, loaded at first use. Reads the scene catalogue and writes one
// launcher per scene, a copy of the launcher that last started the driver (the stub when there
// is none). It replaces only launchers: a script a scene names, a file ending in ".ini" and
// anything that holds no program are the user's, left alone and named in Label1.
class Form2 : public FormState {
 public:
  static constexpr qint64 kCatalogueLimit = SceneCatalogue::kMaxFileBytes;

  // driverFolder: the program's own folder; launcherName: the name of the launcher that last
  // started the driver, read at each generation.
  Form2(QString driverFolder, std::function<QString()> launcherName);

  void Form_Load();
  void Command2_Click();  // catalogue load, then generation
  void Command1_Click();  // generation

  CommandButton Command2;  // "加载": load the catalogue, then generate
  CommandButton Command1;  // "生成EXE": write the launchers
  ListBox List1;           // scene names, in file order
  TextBox Text1;           // the catalogue's lines as read
  TextBox Text2;           // "Text2": the driver folder, set at load
  TextBox Text3;           // "Text3": the launcher folder (trailing separator)
  // What the last load or generation did: how many launchers were written, and why none or
  // not all were. Empty until then.
  Label Label1;

 private:
  void loadOnce();
  // The template launcher's name; with no hand-off value yet (a driver started from the
  // Start menu, no launcher run so far) the stub itself.
  QString templateName() const;

  QString folder_;
  std::function<QString()> launcherName_;
};

}  // namespace luvrin
