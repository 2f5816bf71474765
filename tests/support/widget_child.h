#pragma once

#include <gtest/gtest.h>

#include <QString>
#include <QWidget>

namespace luvrin::testing {

// A view's widget by its object name (the control's name); a missing one fails the test.
template <typename W>
W* child(QWidget& parent, const QString& name) {
  W* w = parent.findChild<W*>(name);
  EXPECT_NE(w, nullptr) << name.toStdString();
  return w;
}

}  // namespace luvrin::testing
