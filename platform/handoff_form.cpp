#include "handoff_form.h"

namespace luvrin::handoff {

namespace {

constexpr std::string_view kSection = "[LUVRIN]";
constexpr std::string_view kSceneKey = "场景";
constexpr std::string_view kShowKey = "演出";

// What QByteArray::trimmed() takes away, so that files written by hand read as they always did.
bool blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool sameAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

}  // namespace

std::string escape(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (const char c : value) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

std::string unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '\\' || i + 1 == text.size()) {
      out += c;
      continue;
    }
    const char next = text[++i];
    if (next == 'r') {
      out += '\r';
    } else if (next == 'n') {
      out += '\n';
    } else {
      out += next;
    }
  }
  return out;
}

std::string encode(std::string_view scene, std::string_view show) {
  std::string out(kSection);
  out += '\n';
  out.append(kSceneKey).append("=").append(escape(scene)) += '\n';
  if (!show.empty()) out.append(kShowKey).append("=").append(escape(show)) += '\n';
  return out;
}

Handoff decode(std::string_view bytes) {
  Handoff found;
  bool scene = false;
  bool show = false;
  bool inSection = false;
  while (!bytes.empty() && !(scene && show)) {
    const std::size_t end = bytes.find('\n');
    std::string_view line = bytes.substr(0, end);
    bytes = end == std::string_view::npos ? std::string_view() : bytes.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string_view bare = trimmed(line);
    if (!bare.empty() && bare.front() == '[') {
      inSection = sameAscii(bare, kSection);
      continue;
    }
    if (!inSection) continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view key = trimmed(line.substr(0, eq));
    if (key == kSceneKey && !scene) {
      found.scene = unescape(line.substr(eq + 1));
      scene = true;
    } else if (key == kShowKey && !show) {
      found.show = unescape(line.substr(eq + 1));
      show = true;
    }
  }
  return found;
}

}  // namespace luvrin::handoff
