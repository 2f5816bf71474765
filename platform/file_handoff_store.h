#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "handoff_store.h"
#include "regular_file.h"

class QFileSystemWatcher;

namespace luvrin {

// The hand-off value as a small UTF-8 INI file ([LUVRIN], 场景=name, 演出=the launcher's driver
// folder; a file without 演出 names no show, as older launchers wrote it). Written whole into a new
// file renamed over the old, so a reader sees the old or the new value, never half of one, and
// a link put in its place is replaced, never written through; only the file itself is read
// (no symbolic link, no file that other names share), from the disk
// at every read(), because two launchers may write names of equal length within one
// modification-time tick (a settings cache keyed on size and time would miss the second).
class FileHandoffStore final : public HandoffStore {
 public:
  // A launcher's file name fits many times over. A larger file, or anything but a regular
  // file there (a FIFO, a device), reads as no value and is warned of once on luvrin.handoff;
  // a value that would not fit is not written.
  static constexpr qint64 kMaxFileBytes = 4 * 1024;

  explicit FileHandoffStore(QString path);
  ~FileHandoffStore() override;
  using HandoffStore::write;
  Handoff readHandoff() override;
  bool write(const Handoff& value) override;
  QString writeError() const override { return writeError_; }
  // Watches the file and its folder: a launcher's write replaces the file, which ends a watch
  // on the file alone.
  void watch(std::function<void()> onChange) override;
  // The file's modification time: a launcher's write replaces the file.
  QDateTime writtenAt() override;
  const QString& path() const { return path_; }

  // The file's bytes for a value, and the value in given bytes (empty when there is none).
  // Backslash, CR and LF in a name are escaped, so that any file name survives the round trip.
  static QByteArray encode(const Handoff& value);
  static QByteArray encode(const QString& scene) { return encode(Handoff{scene, {}}); }
  static Handoff decodeHandoff(const QByteArray& bytes);
  static QString decode(const QByteArray& bytes) { return decodeHandoff(bytes).scene; }

  // $XDG_CONFIG_HOME/TALVEN/LUVRIN.ini (~/.config when unset).
  static QString defaultPath();

 private:
  QString path_;
  std::unique_ptr<QFileSystemWatcher> watcher_;
  QString writeError_;
  platform::FileRefusal lastRefusal_ = platform::FileRefusal::None;
};

// The hand-off value in the Windows registry, under
// HKEY_CURRENT_USER\Software\VB and VBA Program Settings\TALVEN\LUVRIN, value 场景: where
// Windows programs of this kind have always kept it. The show goes in value 演出 as
// "<show>|<scene>", written before 场景: it names the show of 场景 only while its scene part is
// the scene 场景 holds, so that an older launcher's 场景 alone is never taken for the show of the
// launcher before it. Opened afresh at every call.
class RegistryHandoffStore final : public HandoffStore {
 public:
  static const QString kDefaultKey;
  // key: the registry key, "HKEY_CURRENT_USER\\..."; tests use one of their own.
  explicit RegistryHandoffStore(QString key = kDefaultKey);
  using HandoffStore::write;
  Handoff readHandoff() override;
  bool write(const Handoff& value) override;
  QString writeError() const override { return writeError_; }
  // Told when a launcher writes: the registry says so as soon as the value changes.
  void watch(std::function<void()> onChange) override;
  // The key's last write time.
  QDateTime writtenAt() override;

  // The show in 演出's text when its scene part is scene, else empty.
  static QString showOf(const QString& showValue, const QString& scene);

 private:
  QString key_;
  QString writeError_;
  std::unique_ptr<QObject> watch_;
};

// The store of this system for the current user.
std::unique_ptr<HandoffStore> makeUserHandoffStore();

}  // namespace luvrin
