#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QWinEventNotifier>
#include <iterator>
#include <string>

#include "platform.h"

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

bool windowsConventions() { return true; }

QString userLogFolder() {
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/TALVEN");
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
bool ownedByAnotherUser(const QString&) { return false; }

// A GUI program is ended by its window's close or the session's end, not by signals.
std::unique_ptr<QObject> onTerminationRequest(std::function<void()>) { return nullptr; }

void showErrorBox(const QString& title, const QString& text) {
  MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(text.utf16()),
              reinterpret_cast<const wchar_t*>(title.utf16()), MB_OK | MB_ICONERROR);
}

QByteArray windowPlatforms() { return {}; }

QString programFolder(const char* argv0) {
  wchar_t path[32768];
  const DWORD n = GetModuleFileNameW(nullptr, path, DWORD(std::size(path)));
  if (n > 0 && n < std::size(path))
    return QFileInfo(QString::fromWCharArray(path, int(n))).absolutePath();
  return QFileInfo(QString::fromLocal8Bit(argv0)).absolutePath();
}

}  // namespace luvrin::platform
