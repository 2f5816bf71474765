#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>

// The few things that differ between the operating systems. Each system has its own source file
// and the build picks one, so the rest of the program never asks which system it is on.
namespace luvrin::platform {

// Bytes the system's serial driver still holds for sending on the port behind handle (0 where
// the system cannot tell). QSerialPort's own buffer is separate: QSerialPort::bytesToWrite().
qint64 pendingOutputBytes(qintptr handle);

// How late a timer's wake may come on this system, beyond the instant asked for: Windows wakes
// waiting threads on its clock's ticks, whole milliseconds at best.
qint64 timerWakeSlackNs();

// Windows names ports COMn, programs end in .EXE and per-user settings live in the registry.
bool windowsConventions();

// The user's own folder for the program's files (the hand-off file, the sACN identifier):
// TALVEN in the user's configuration folder ($XDG_CONFIG_HOME/TALVEN on Linux).
QString userSettingsFolder();

// The user's own folder for the program's log: TALVEN in the XDG state folder on Linux
// ($XDG_STATE_HOME, else ~/.local/state), in the local application data folder on Windows.
QString userLogFolder();

// The user's own fixture definitions: TALVEN/灯库 in the user's data folder ($XDG_DATA_HOME, else
// ~/.local/share, on Linux; the local application data folder on Windows).
QString userFixtureFolder();

// The fixture definitions that come with the program: the system's shared library on Linux, the
// copy shipped beside the driver on Windows.
QString installedFixtureFolder(const QString& programFolder);

// A name for the current user that is safe in a file name (the user id on Linux), for files that
// must be per user in a folder all users share.
QString userKey();

// Whether path is a folder of the current user's alone (created, mode 0700, when missing): on
// Linux a real folder, no link, owned by the user and closed to everyone else, so that no other
// user can put files in it; on Windows, whose temporary folder is the user's own, any folder.
bool ownPrivateFolder(const QString& path);

// Whether the file at path belongs to another user (false where the system cannot tell).
bool ownedByAnotherUser(const QString& path);

// Calls onSignal on the program's thread when the program is asked to end, for as long as the
// returned object lives: by a signal (SIGTERM, SIGINT, SIGHUP) on Linux; on Windows, where there
// are no such signals, by the event named endRequestEventName(its process id) being set, as the
// installer and the uninstaller do. Null when nothing can be listened to.
std::unique_ptr<QObject> onTerminationRequest(std::function<void()> onSignal);

// A write to a socket its peer has closed fails instead of ending the program (SIGPIPE on Linux;
// Windows has no such signal).
void ignoreBrokenPipes();

// Windows: the name of the event that asks the process processId to end (see above).
QString endRequestEventName(quint32 processId);

// Asks the driver processId to end, as the installer does: SIGTERM on Linux, its end request
// event on Windows. False when the request could not be made.
bool requestEnd(qint64 processId);
// Ends processId without asking, as the installer does with a driver that would not end.
bool forceEnd(qint64 processId);

// Calls onRequest on the program's thread when another program asks this one to bring its
// windows forward (requestRaise), for as long as the returned object lives: SIGUSR1 on Linux, an
// event named after the process id on Windows. Null when nothing can be listened to.
std::unique_ptr<QObject> onRaiseRequest(std::function<void()> onRequest);
// Asks processId, which must listen as above, to bring its windows forward, and lets it take
// the foreground where the system restricts who may.
bool requestRaise(qint64 processId);
// Windows: the name of the event that asks the process processId to come forward.
QString raiseRequestEventName(quint32 processId);

// Whether two paths name the same folder: followed through links, compared as the system
// compares names (without regard to case on Windows). A folder that is missing is compared by
// its cleaned absolute path.
bool sameFolder(const QString& a, const QString& b);

// When a key of the current user's registry was last written (Windows; null elsewhere or when
// the key cannot be opened).
QDateTime userRegistryKeyWrittenAt(const QString& key);

// Tells the user of a program with no window and no console: a message box on Windows; elsewhere
// nothing, where stderr and the log reach them.
void showErrorBox(const QString& title, const QString& text);

// What a program file's name ends in: ".exe" under Windows conventions, nothing elsewhere.
QString executableSuffix(bool windows);

// The platform plugins to try, in order, for a window that wants to be seen, ending in
// "offscreen" so that a display that is set but cannot be opened costs the window, never the
// frames. Empty: leave the choice to Qt.
QByteArray windowPlatforms();

// Calls onChange on the program's thread each time a value under a key of the current user's
// registry changes (key: "HKEY_CURRENT_USER\\Software\\..."), for as long as the returned object
// lives. Only Windows has the registry: elsewhere nothing is watched and the result is null.
std::unique_ptr<QObject> watchUserRegistryKey(const QString& key, std::function<void()> onChange);

// The folder of the path the program was started by, known before any QCoreApplication exists.
// A program started through a symbolic link works from the link's folder, as the launchers and
// a linked driver must; the resolved program file is the fallback when argv0 does not name it.
QString programFolder(const char* argv0);

}  // namespace luvrin::platform
