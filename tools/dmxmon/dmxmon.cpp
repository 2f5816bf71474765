// dmxmon: a stand-in for the serial-to-DMX interface. It opens a pseudo-terminal, prints the
// device path on its first line (give it to the driver as 端口), decodes the frames the driver
// sends and prints once a second: frames per second, level bytes per frame, the first 16 levels.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "frame_decoder.h"

namespace {

using Clock = std::chrono::steady_clock;

volatile sig_atomic_t stopRequested = 0;
void onSignal(int) { stopRequested = 1; }

struct Options {
  std::string link;
  std::optional<std::size_t> dataBytes;
  long baud = 0;
  double seconds = 0;
  std::string raw;
};

[[noreturn]] void usage(const char* self) {
  std::fprintf(stderr,
               "usage: %s [--link PATH] [--length N] [--baud B] [--seconds S] [--raw FILE]\n"
               "  --link PATH   also make PATH a symbolic link to the pseudo-terminal\n"
               "  --length N    frames carry N+1 level bytes (N = 发送数据长度); default: up to\n"
               "                the \".\" before the next header\n"
               "  --baud B      read no faster than a serial line of B baud (10 bits a byte)\n"
               "  --seconds S   end after S seconds\n"
               "  --raw FILE    keep every byte read in FILE\n",
               self);
  std::exit(2);
}

bool parseNumber(const char* text, double& out) {
  char* end = nullptr;
  errno = 0;
  out = std::strtod(text, &end);
  return errno == 0 && end != text && *end == '\0' && out >= 0;
}

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) usage(argv[0]);
    const char* value = argv[++i];
    double number = 0;
    if (arg == "--link") {
      o.link = value;
    } else if (arg == "--raw") {
      o.raw = value;
    } else if (arg == "--length" && parseNumber(value, number) && number <= 65535) {
      o.dataBytes = static_cast<std::size_t>(number) + 1;
    } else if (arg == "--baud" && parseNumber(value, number) && number >= 10) {
      o.baud = static_cast<long>(number);
    } else if (arg == "--seconds" && parseNumber(value, number)) {
      o.seconds = number;
    } else {
      usage(argv[0]);
    }
  }
  return o;
}

void makeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return;
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parse(argc, argv);

  int master = -1;
  int slave = -1;
  char name[256] = {};
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    std::perror("openpty");
    return 1;
  }
  // The slave stays open here too, so the terminal lives on while the driver closes and reopens it.
  makeRaw(slave);
  makeRaw(master);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

  if (!options.link.empty()) {
    struct stat st {};
    if (lstat(options.link.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) unlink(options.link.c_str());
    if (symlink(name, options.link.c_str()) != 0) {
      std::perror("symlink");
      return 1;
    }
  }

  std::printf("%s\n", name);
  std::fflush(stdout);

  FILE* raw = nullptr;
  if (!options.raw.empty()) {
    raw = std::fopen(options.raw.c_str(), "wb");
    if (!raw) {
      std::perror("raw file");
      return 1;
    }
  }

  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  dmxmon::FrameDecoder decoder(options.dataBytes);
  std::vector<std::uint8_t> last;
  std::uint64_t framesThisSecond = 0;
  std::uint64_t bytesThisSecond = 0;
  std::uint64_t bytesRead = 0;
  std::vector<std::uint8_t> chunk(65536);

  const auto start = Clock::now();
  auto nextReport = start + std::chrono::seconds(1);
  const double bytesPerSecond = options.baud > 0 ? options.baud / 10.0 : 0.0;

  auto report = [&] {
    std::printf("fps %llu len %zu bytes/s %llu bad %llu levels",
                static_cast<unsigned long long>(framesThisSecond), last.size(),
                static_cast<unsigned long long>(bytesThisSecond),
                static_cast<unsigned long long>(decoder.malformedFrames()));
    for (std::size_t i = 0; i < last.size() && i < 16; ++i) std::printf(" %03u", last[i]);
    std::printf("\n");
    std::fflush(stdout);
    framesThisSecond = 0;
    bytesThisSecond = 0;
  };

  while (!stopRequested) {
    const auto now = Clock::now();
    const double elapsed = std::chrono::duration<double>(now - start).count();
    if (options.seconds > 0 && elapsed >= options.seconds) break;
    if (now >= nextReport) {
      report();
      nextReport += std::chrono::seconds(1);
      if (nextReport <= now) nextReport = now + std::chrono::seconds(1);
      continue;
    }

    std::size_t allowance = chunk.size();
    if (bytesPerSecond > 0) {
      // The line delivers bytes at its own pace, whatever the sender does.
      const double due = elapsed * bytesPerSecond - static_cast<double>(bytesRead);
      if (due < 1.0) {
        const double wait = (1.0 - due) / bytesPerSecond;
        std::this_thread::sleep_for(std::chrono::duration<double>(std::min(wait, 0.05)));
        continue;
      }
      allowance = std::min<std::size_t>(allowance, static_cast<std::size_t>(due));
    }

    pollfd p{master, POLLIN, 0};
    const auto untilReport =
        std::chrono::duration_cast<std::chrono::milliseconds>(nextReport - now).count();
    const int ready = poll(&p, 1, static_cast<int>(std::max<long long>(1, untilReport)));
    if (ready < 0) {
      if (errno == EINTR) continue;
      std::perror("poll");
      break;
    }
    if (ready == 0) continue;
    const ssize_t n = read(master, chunk.data(), allowance);
    if (n < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      // EIO: nobody holds the terminal; cannot happen while we keep the slave, but do not spin.
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    if (n == 0) continue;
    bytesRead += static_cast<std::uint64_t>(n);
    bytesThisSecond += static_cast<std::uint64_t>(n);
    if (raw) std::fwrite(chunk.data(), 1, static_cast<std::size_t>(n), raw);
    decoder.feed(std::span<const std::uint8_t>(chunk.data(), static_cast<std::size_t>(n)),
                 [&](std::span<const std::uint8_t> levels) {
                   ++framesThisSecond;
                   last.assign(levels.begin(), levels.end());
                 });
  }

  if (raw) std::fclose(raw);
  if (!options.link.empty()) {
    char target[256] = {};
    const ssize_t len = readlink(options.link.c_str(), target, sizeof(target) - 1);
    if (len > 0 && std::strcmp(target, name) == 0) unlink(options.link.c_str());
  }
  close(slave);
  close(master);
  return 0;
}
