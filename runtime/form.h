#pragma once

#include <QString>

#include "controls.h"

namespace luvrin {

// What a window model shares with its view: whether it is loaded and shown, and its caption.
// Views follow `changed()`; the model never touches widgets.
class FormState {
 public:
  bool loaded() const { return loaded_; }
  bool visible() const { return visible_; }
  const QString& caption() const { return caption_; }
  void setCaption(const QString& c) {
    if (c == caption_) return;
    caption_ = c;
    changed_.notify();
  }
  Notifier& changed() { return changed_; }

 protected:
  void setLoaded(bool v) {
    if (v == loaded_) return;
    loaded_ = v;
    changed_.notify();
  }
  void setVisible(bool v) {
    if (v == visible_) return;
    visible_ = v;
    changed_.notify();
  }

 private:
  bool loaded_ = false;
  bool visible_ = false;
  QString caption_;
  Notifier changed_;
};

}  // namespace luvrin
