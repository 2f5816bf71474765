#pragma once

#include <QString>
#include <QStringList>

class QTranslator;

namespace luvrin {

class Form1;

// Builds the driver window's view when the driver is shown, and follows the editor and the
// version notes: a view is created when its window is shown and destroyed when it is unloaded.
// Closing the driver window ends the program (Form1::onQuit). Needs a QApplication; the views go
// when the application is about to quit, or with removeViews.
void installViews(Form1& driver);
// Destroys the views of a driver at once (before the driver itself goes).
void removeViews(Form1& driver);

// Where Qt's own Chinese texts (standard buttons, file dialogs) are looked for, in order: the
// copy shipped in the driver folder, then Qt's installed translations.
QStringList qtTranslationFolders(const QString& programFolder);
// Installs the first Chinese translation of Qt found in folders into the application. The
// translator belongs to the application (deleting it takes it out again); null when there is
// none, and Qt's texts stay English.
QTranslator* installQtTranslation(const QStringList& folders);

}  // namespace luvrin
