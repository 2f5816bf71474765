#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QWinEventNotifier>
#include <iterator>
#include <string>

#include "platform.h"
#include "regular_file.h"

namespace luvrin::platform {

namespace {

// RegNotifyChangeKeyValue signals its event once per request: each notice asks again before it
// is passed on, so a change that comes while the handler runs is not missed.
class RegistryWatch final : public QObject {
 public:
  RegistryWatch(HKEY key, HANDLE event, std::function<void()> onChange)
      : key_(key), event_(event), notifier_(event), onChange_(std::move(onChange)) {
    QObject::connect(&notifier_, &QWinEventNotifier::activated, this, [this] {
      arm();
      if (onChange_) onChange_();
    });
  }
  ~RegistryWatch() override {
    notifier_.setEnabled(false);
    RegCloseKey(key_);
    CloseHandle(event_);
  }
  bool arm() {
    return RegNotifyChangeKeyValue(key_, FALSE, REG_NOTIFY_CHANGE_LAST_SET, event_, TRUE) ==
           ERROR_SUCCESS;
  }

 private:
  HKEY key_;
  HANDLE event_;
  QWinEventNotifier notifier_;
  std::function<void()> onChange_;
};

}  // namespace

std::unique_ptr<QObject> watchUserRegistryKey(const QString& key, std::function<void()> onChange) {
  const QString root = QStringLiteral("HKEY_CURRENT_USER\\");
  if (!key.startsWith(root, Qt::CaseInsensitive)) return nullptr;
  const std::wstring subKey = key.mid(root.size()).toStdWString();
  // Created if no launcher has written yet, so the first one is seen too.
  HKEY handle = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, 0,
                      KEY_NOTIFY | KEY_QUERY_VALUE, nullptr, &handle, nullptr) != ERROR_SUCCESS)
    return nullptr;
  const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (event == nullptr) {
    RegCloseKey(handle);
    return nullptr;
  }
  auto watch = std::make_unique<RegistryWatch>(handle, event, std::move(onChange));
  if (!watch->arm()) return nullptr;
  return watch;
}

qint64 pendingOutputBytes(qintptr handle) {
  const HANDLE port = reinterpret_cast<HANDLE>(handle);
  if (port == nullptr || port == INVALID_HANDLE_VALUE) return 0;
  // Clearing the line's error flags on the way loses nothing: input is only ever displayed.
  DWORD errors = 0;
  COMSTAT status{};
  if (!ClearCommError(port, &errors, &status)) return 0;
  return status.cbOutQue;
}

qint64 timerWakeSlackNs() { return 1'000'000; }

bool windowsConventions() { return true; }

QString userLogFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/TALVEN");
}

QString userFixtureFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/TALVEN/灯库");
}

// Not 灯库 itself: that folder beside the driver is the show's own, which the user edits.
QString installedFixtureFolder(const QString& programFolder) {
  return programFolder + QStringLiteral("/内置灯库");
}

QString userKey() {
  // The temporary folder is the user's own on Windows; the name only keeps the file apart.
  wchar_t name[256];
  DWORD size = static_cast<DWORD>(std::size(name));
  if (!GetUserNameW(name, &size)) return QStringLiteral("user");
  return QString::fromWCharArray(name).toLower().remove(
      QRegularExpression(QStringLiteral("[^a-z0-9_]")));
}

// Files of other users do not get into a user's own folders there.
bool ownPrivateFolder(const QString& path) { return QDir().mkpath(path); }

bool ownedByAnotherUser(const QString&) { return false; }

namespace {

// An event object in the session's namespace under a name another program can derive from the
// process id alone: the installer finds a driver by its program file and asks it to end this way,
// since a driver without a window has nothing to close.
class EndRequestListener final : public QObject {
 public:
  EndRequestListener(HANDLE event, std::function<void()> onRequest)
      : event_(event), notifier_(event), onRequest_(std::move(onRequest)) {
    QObject::connect(&notifier_, &QWinEventNotifier::activated, this, [this] {
      if (onRequest_) onRequest_();
    });
  }
  ~EndRequestListener() override {
    notifier_.setEnabled(false);
    CloseHandle(event_);
  }

 private:
  HANDLE event_;
  QWinEventNotifier notifier_;
  std::function<void()> onRequest_;
};

}  // namespace

void ignoreBrokenPipes() {}

std::unique_ptr<QObject> onTerminationRequest(std::function<void()> onSignal) {
  const std::wstring name = endRequestEventName(GetCurrentProcessId()).toStdWString();
  const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, name.c_str());
  if (event == nullptr) return nullptr;
  return std::make_unique<EndRequestListener>(event, std::move(onSignal));
}

std::unique_ptr<QObject> onRaiseRequest(std::function<void()> onRequest) {
  const std::wstring name = raiseRequestEventName(GetCurrentProcessId()).toStdWString();
  const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, name.c_str());
  if (event == nullptr) return nullptr;
  return std::make_unique<EndRequestListener>(event, std::move(onRequest));
}

namespace {

bool setNamedEvent(const QString& name) {
  const std::wstring wide = name.toStdWString();
  const HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, wide.c_str());
  if (event == nullptr) return false;
  const bool set = SetEvent(event) != 0;
  CloseHandle(event);
  return set;
}

}  // namespace

bool requestEnd(qint64 processId) {
  return processId > 0 && setNamedEvent(endRequestEventName(quint32(processId)));
}

bool forceEnd(qint64 processId) {
  if (processId <= 0) return false;
  const HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, DWORD(processId));
  if (process == nullptr) return false;
  const bool ended = TerminateProcess(process, 1) != 0;
  CloseHandle(process);
  return ended;
}

bool requestRaise(qint64 processId) {
  if (processId <= 0) return false;
  // Only the program the user is working with may hand the foreground on.
  AllowSetForegroundWindow(DWORD(processId));
  return setNamedEvent(raiseRequestEventName(quint32(processId)));
}

QDateTime userRegistryKeyWrittenAt(const QString& key) {
  const QString root = QStringLiteral("HKEY_CURRENT_USER\\");
  if (!key.startsWith(root, Qt::CaseInsensitive)) return {};
  const std::wstring subKey = key.mid(root.size()).toStdWString();
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, subKey.c_str(), 0, KEY_QUERY_VALUE, &handle) !=
      ERROR_SUCCESS)
    return {};
  FILETIME written{};
  const LONG result = RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, nullptr, nullptr, nullptr, &written);
  RegCloseKey(handle);
  if (result != ERROR_SUCCESS) return {};
  const qint64 ticks = (qint64(written.dwHighDateTime) << 32) | written.dwLowDateTime;
  return QDateTime::fromMSecsSinceEpoch((ticks - 116444736000000000LL) / 10000, Qt::UTC);
}

void showErrorBox(const QString& title, const QString& text) {
  MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text.utf16()),
              reinterpret_cast<const wchar_t*>(title.utf16()), MB_OK | MB_ICONERROR);
}

QByteArray windowPlatforms() { return {}; }

namespace {

// FILETIME counts 100 ns from 1601.
qint64 unixNanoseconds(const FILETIME& t) {
  const qint64 ticks = (qint64(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  return (ticks - 116444736000000000LL) * 100;
}

FileStamp stampOf(const BY_HANDLE_FILE_INFORMATION& info) {
  FileStamp stamp;
  stamp.volume = info.dwVolumeSerialNumber;
  stamp.index = (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  stamp.size = (qint64(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  stamp.modifiedNs = unixNanoseconds(info.ftLastWriteTime);
  return stamp;
}

bool isLink(const QFileInfo& info) { return info.isSymLink() || info.isJunction(); }

HANDLE openForReading(const QString& path, bool followLinks) {
  const std::wstring native = QDir::toNativeSeparators(path).toStdWString();
  DWORD flags = FILE_ATTRIBUTE_NORMAL;
  if (!followLinks) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  return CreateFileW(native.c_str(), GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     flags, nullptr);
}

// A file on a disk that is neither a folder nor, where links are refused, a reparse point.
bool isRegular(HANDLE handle, bool followLinks, BY_HANDLE_FILE_INFORMATION* info) {
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, info))
    return false;
  if ((info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
  return followLinks || (info->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

}  // namespace

OpenedFile openRegularFile(const QString& path, QFile& file, Links links) {
  OpenedFile result;
  const bool follow = links == Links::Follow;
  // The type first: a device name (COM1, CON) or a pipe is never opened.
  const QFileInfo info(path);
  if (!follow && isLink(info)) {
    result.refusal = FileRefusal::NotRegular;
    return result;
  }
  if (!info.exists()) {
    result.refusal = FileRefusal::Missing;
    result.error = qt_error_string(ERROR_FILE_NOT_FOUND);
    return result;
  }
  if (!info.isFile()) {
    result.refusal = FileRefusal::NotRegular;
    return result;
  }
  const HANDLE handle = openForReading(path, follow);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    result.refusal = (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
                         ? FileRefusal::Missing
                         : FileRefusal::Unreadable;
    result.error = qt_error_string(int(error));
    return result;
  }
  BY_HANDLE_FILE_INFORMATION handleInfo{};
  if (!isRegular(handle, follow, &handleInfo) ||
      (links == Links::RefuseShared && handleInfo.nNumberOfLinks != 1)) {
    CloseHandle(handle);
    result.refusal = FileRefusal::NotRegular;
    return result;
  }
  // Binary: the C library must not turn CR LF into LF.
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    result.refusal = FileRefusal::Unreadable;
    result.error = qt_error_string();
    return result;
  }
  if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
    _close(fd);
    result.refusal = FileRefusal::Unreadable;
    result.error = file.errorString();
    return result;
  }
  result.stamp = stampOf(handleInfo);
  result.permissions = QFile::permissions(path);
  return result;
}

bool replaceFile(const QString& from, const QString& to) {
  const std::wstring source = QDir::toNativeSeparators(from).toStdWString();
  const std::wstring target = QDir::toNativeSeparators(to).toStdWString();
  return MoveFileExW(source.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

std::optional<FileStamp> regularFileStamp(const QString& path) {
  const QFileInfo info(path);
  if (!info.isFile()) return std::nullopt;
  // No access asked for: the stamp of a file another program holds open is still had.
  const std::wstring native = QDir::toNativeSeparators(path).toStdWString();
  const HANDLE handle =
      CreateFileW(native.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION handleInfo{};
  const bool regular = isRegular(handle, true, &handleInfo);
  CloseHandle(handle);
  if (!regular) return std::nullopt;
  return stampOf(handleInfo);
}

QString programFolder(const char* argv0) {
  wchar_t path[32768];
  const DWORD n = GetModuleFileNameW(nullptr, path, DWORD(std::size(path)));
  if (n > 0 && n < std::size(path))
    return QFileInfo(QString::fromWCharArray(path, int(n))).absolutePath();
  return QFileInfo(QString::fromLocal8Bit(argv0)).absolutePath();
}

}  // namespace luvrin::platform
