#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The hand-off file's form in the standard library alone (UTF-8 bytes in std::string), for
// programs that must start without Qt: the Linux launcher writes it, FileHandoffStore reads the
// same bytes. The file:
//   [LUVRIN]
//   场景=<scene>
//   演出=<show>
// with backslash, CR and LF escaped as \\, \r and \n, so that any file name survives the round
// trip. The show is the driver folder of the launcher that wrote it; a file written without one
// (an older launcher) has no 演出 line and stays valid.
namespace luvrin::handoff {

struct Handoff {
  std::string scene;
  std::string show;  // empty: the file names no show
};

std::string escape(std::string_view value);
std::string unescape(std::string_view text);

// The file's bytes; no 演出 line when show is empty.
std::string encode(std::string_view scene, std::string_view show);
// The values in the [LUVRIN] section (the first of each key; "" for a missing one).
Handoff decode(std::string_view bytes);

// A launcher's file name fits many times over; a larger file is not the hand-off's (the driver
// reads it as no value), so a value that would not fit is not written.
constexpr std::size_t kMaxFileBytes = 4 * 1024;

#ifndef _WIN32
// Writes bytes to path as a new file of its own name in the same folder (made there, written,
// synced and closed), renamed over path: a reader sees the old file or the new one, never half
// of one, and a link at path is replaced, never written through. Makes the missing folders.
// On failure returns false and says why in *error (in the user's language), leaving no
// temporary file behind.
bool writeFileAtomically(const std::string& path, std::string_view bytes, std::string* error);

// The hand-off file at path says scene and show (written as writeFileAtomically does); a file
// that would exceed kMaxFileBytes is not written.
bool write(const std::string& path, const Handoff& handoff, std::string* error);
#endif

}  // namespace luvrin::handoff
