#include "file_handoff_store.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QSettings>

#include "handoff_form.h"
#include "log_categories.h"
#include "platform.h"

namespace luvrin {

namespace {

// The registry's value names, the same words as the file's keys.
const QString kKey = QStringLiteral("场景");
const QString kShowKey = QStringLiteral("演出");

}  // namespace

FileHandoffStore::FileHandoffStore(QString path) : path_(std::move(path)) {}

FileHandoffStore::~FileHandoffStore() = default;

void FileHandoffStore::watch(std::function<void()> onChange) {
  watcher_.reset();
  if (!onChange) return;
  const QString folder = QFileInfo(path_).absolutePath();
  // The folder is where launchers write; it must exist to be watched before the first one.
  QDir().mkpath(folder);
  watcher_ = std::make_unique<QFileSystemWatcher>();
  watcher_->addPath(folder);
  if (QFileInfo::exists(path_)) watcher_->addPath(path_);
  const auto changed = [this, onChange = std::move(onChange)] {
    if (!watcher_->files().contains(path_) && QFileInfo::exists(path_)) watcher_->addPath(path_);
    onChange();
  };
  QObject::connect(watcher_.get(), &QFileSystemWatcher::directoryChanged, watcher_.get(), changed);
  QObject::connect(watcher_.get(), &QFileSystemWatcher::fileChanged, watcher_.get(), changed);
}

QString FileHandoffStore::defaultPath() {
  return platform::userSettingsFolder() + QStringLiteral("/LUVRIN.ini");
}

// One form for both sides: the launcher without Qt writes it, the driver reads it here.
QByteArray FileHandoffStore::encode(const Handoff& value) {
  return QByteArray::fromStdString(
      handoff::encode(value.scene.toStdString(), value.show.toStdString()));
}

Handoff FileHandoffStore::decodeHandoff(const QByteArray& bytes) {
  const handoff::Handoff value = handoff::decode(std::string_view(bytes.data(), bytes.size()));
  return {QString::fromStdString(value.scene), QString::fromStdString(value.show)};
}

QDateTime FileHandoffStore::writtenAt() {
  const auto stamp = platform::regularFileStamp(path_);
  if (!stamp) return {};
  return QDateTime::fromMSecsSinceEpoch(stamp->modifiedNs / 1'000'000, Qt::UTC);
}

Handoff FileHandoffStore::readHandoff() {
  // Only the file itself: through a link of any kind the driver would play whatever another
  // file says.
  const platform::RegularFileRead file =
      platform::readRegularFile(path_, kMaxFileBytes, platform::Links::RefuseShared);
  // Read at every poll: a refusal is told once, and again only after it ended or changed.
  if (file.refusal != lastRefusal_) {
    lastRefusal_ = file.refusal;
    const QString why = platform::refusalMessage(path_, file.refusal, kMaxFileBytes, file.error);
    if (!why.isEmpty()) qCWarning(lcHandoff).noquote() << why;
  }
  return file ? decodeHandoff(file.bytes) : Handoff{};
}

bool FileHandoffStore::write(const Handoff& value) {
  const auto fail = [this](const QString& why) {
    writeError_ = QStringLiteral("无法写入 %1: %2").arg(QDir::toNativeSeparators(path_), why);
    return false;
  };
  const QString folder = QFileInfo(path_).absolutePath();
  if (!QDir().mkpath(folder)) return fail(QStringLiteral("无法创建文件夹"));
  const QByteArray bytes = encode(value);
  if (bytes.size() > kMaxFileBytes) return fail(QStringLiteral("名称太长"));
  // A new file renamed over the name: a link there (symbolic or hard) is replaced itself, and
  // whatever it stood for keeps its contents. QSaveFile would write through a symbolic link.
  // A name of its own in the same folder, made here and closed before the rename: a temporary
  // file object may still hold its file where the system will not rename an open file.
  QFile file(folder + QStringLiteral("/.LUVRIN.ini.%1")
                          .arg(QRandomGenerator::global()->generate64(), 16, 16, QChar(u'0')));
  if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) return fail(file.errorString());
  const bool written = file.write(bytes) == bytes.size() && file.flush();
  const QString why = file.errorString();
  file.close();
  if (!written) {
    file.remove();
    return fail(why);
  }
  if (!platform::replaceFile(file.fileName(), path_)) {
    file.remove();
    return fail(QStringLiteral("无法替换文件"));
  }
  return true;
}

const QString RegistryHandoffStore::kDefaultKey =
    QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\TALVEN\\LUVRIN");

RegistryHandoffStore::RegistryHandoffStore(QString key) : key_(std::move(key)) {}

void RegistryHandoffStore::watch(std::function<void()> onChange) {
  watch_.reset();
  if (onChange) watch_ = platform::watchUserRegistryKey(key_, std::move(onChange));
}

QString RegistryHandoffStore::showOf(const QString& showValue, const QString& scene) {
  // No folder name holds '|' on Windows, so the first one ends the show.
  const qsizetype bar = showValue.indexOf(u'|');
  if (bar <= 0 || QStringView(showValue).sliced(bar + 1) != scene) return {};
  return showValue.first(bar);
}

Handoff RegistryHandoffStore::readHandoff() {
  // A new QSettings each time: the registry is read directly, with no cache in between.
  QSettings key(key_, QSettings::NativeFormat);
  // 场景 first: a launcher writes 演出 before it, so a 演出 read after it is at least as new.
  const QString scene = key.value(kKey).toString();
  return {scene, showOf(key.value(kShowKey).toString(), scene)};
}

QDateTime RegistryHandoffStore::writtenAt() { return platform::userRegistryKeyWrittenAt(key_); }

bool RegistryHandoffStore::write(const Handoff& value) {
  QSettings key(key_, QSettings::NativeFormat);
  if (value.show.isEmpty()) {
    key.remove(kShowKey);
  } else {
    key.setValue(kShowKey, value.show + u'|' + value.scene);
  }
  key.setValue(kKey, value.scene);
  key.sync();
  if (key.status() == QSettings::NoError) return true;
  writeError_ = QStringLiteral("无法写入注册表 %1").arg(key_);
  return false;
}

std::unique_ptr<HandoffStore> makeUserHandoffStore() {
  if (platform::windowsConventions()) return std::make_unique<RegistryHandoffStore>();
  return std::make_unique<FileHandoffStore>(FileHandoffStore::defaultPath());
}

}  // namespace luvrin
