#pragma once

#include <QString>
#include <vector>

#include "controls.h"

namespace luvrin::testing {

// Every text a box took, in order, from the moment of subscribing.
class TextHistory {
 public:
  explicit TextHistory(TextBox& box) : box_(box), last_(box.text()) {
    id_ = box_.changed().subscribe([this] {
      if (box_.text() == last_) return;
      last_ = box_.text();
      texts.push_back(last_);
    });
  }
  ~TextHistory() { box_.changed().unsubscribe(id_); }
  TextHistory(const TextHistory&) = delete;
  TextHistory& operator=(const TextHistory&) = delete;

  std::vector<QString> texts;

 private:
  TextBox& box_;
  QString last_;
  Notifier::Id id_ = 0;
};

}  // namespace luvrin::testing
