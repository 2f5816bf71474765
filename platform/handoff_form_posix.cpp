#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "handoff_form.h"

namespace luvrin::handoff {

namespace {

bool fail(std::string* error, const std::string& path, const std::string& why) {
  if (error != nullptr) *error = "无法写入 " + path + ": " + why;
  return false;
}

std::string systemError(int number) { return std::strerror(number); }

// Every folder on the way, as QDir::mkpath makes them.
bool makeFolders(const std::string& folder) {
  for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (!part.empty() && ::mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat st {};
  return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A name of the writer's own beside the file; O_EXCL makes it the writer's, whoever else writes.
std::string temporaryName(const std::string& folder, const std::string& file, unsigned attempt) {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  const unsigned long long mix = (static_cast<unsigned long long>(now.tv_nsec) << 20) ^
                                 (static_cast<unsigned long long>(::getpid()) << 4) ^ attempt ^
                                 static_cast<unsigned long long>(now.tv_sec);
  char suffix[24];
  std::snprintf(suffix, sizeof suffix, "%016llx", mix);
  return folder + "/." + file + "." + suffix;
}

}  // namespace

bool writeFileAtomically(const std::string& path, std::string_view bytes, std::string* error) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
  if (!folder.empty() && !makeFolders(folder)) return fail(error, path, "无法创建文件夹");

  std::string temporary;
  int fd = -1;
  for (unsigned attempt = 0; fd < 0 && attempt < 16; ++attempt) {
    temporary = temporaryName(folder.empty() ? "" : folder, file, attempt);
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0 && errno != EEXIST) return fail(error, path, systemError(errno));
  }
  if (fd < 0) return fail(error, path, systemError(EEXIST));

  std::size_t done = 0;
  int why = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      why = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (why == 0 && ::fsync(fd) != 0) why = errno;
  if (::close(fd) != 0 && why == 0) why = errno;
  if (why != 0) {
    ::unlink(temporary.c_str());
    return fail(error, path, systemError(why));
  }
  // rename() replaces the name itself, never what a link at that name points to.
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    why = errno;
    ::unlink(temporary.c_str());
    return fail(error, path, "无法替换文件 (" + systemError(why) + ")");
  }
  return true;
}

bool write(const std::string& path, const Handoff& handoff, std::string* error) {
  const std::string bytes = encode(handoff.scene, handoff.show);
  if (bytes.size() > kMaxFileBytes) return fail(error, path, "名称太长");
  return writeFileAtomically(path, bytes, error);
}

}  // namespace luvrin::handoff
