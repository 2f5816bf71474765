#pragma once

#include <QString>
#include <QStringView>
#include <compare>
#include <cstdint>
#include <optional>

namespace luvrin::rdm {

// A device's unique id: a 16-bit manufacturer and a 32-bit device number, sent most significant
// byte first. Written as "7a70:00000001", the form people read off a fixture's menu.
struct Uid {
  std::uint16_t manufacturer = 0;
  std::uint32_t device = 0;

  static constexpr std::uint64_t kMax = 0xFFFFFFFFFFFFull;
  static Uid fromValue(std::uint64_t v) {
    return {static_cast<std::uint16_t>(v >> 32), static_cast<std::uint32_t>(v)};
  }
  static Uid broadcast() { return {0xFFFF, 0xFFFFFFFF}; }
  // Every device of one maker.
  static Uid allOf(std::uint16_t manufacturer) { return {manufacturer, 0xFFFFFFFF}; }

  std::uint64_t value() const { return std::uint64_t{manufacturer} << 32 | device; }
  bool isBroadcast() const { return device == 0xFFFFFFFF; }
  QString toString() const;
  // The printed form back; anything else (other lengths, signs, spaces) is refused.
  static std::optional<Uid> parse(QStringView text);

  auto operator<=>(const Uid&) const = default;
};

}  // namespace luvrin::rdm
