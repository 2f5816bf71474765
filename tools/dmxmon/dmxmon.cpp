// dmxmon: a stand-in for the serial-to-DMX interface. It opens a pseudo-terminal, prints the
// device path on its first line (give it to the driver as 端口), decodes the frames the driver
// sends and prints once a second: frames per second, level bytes per frame, the first 16 levels.
// With --sacn U or --artnet U it is a network node instead: it listens on the loopback address
// for that universe's packets and prints the same line, a packet counting as a frame; with
// --universes K it watches U to U+K-1 and prints a line for each, led by "universe U:".

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
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

#include "artnet_packet.h"
#include "e131_packet.h"
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
  enum class Protocol { None, Sacn, ArtNet } protocol = Protocol::None;
  unsigned universe = 0;
  unsigned universes = 1;
  unsigned udpPort = 0;
};

[[noreturn]] void usage(const char* self) {
  std::fprintf(stderr,
               "usage: %s [--link PATH] [--length N] [--baud B] [--seconds S] [--raw FILE]\n"
               "       %s --sacn U | --artnet U [--universes K] [--udp-port P] [--seconds S]\n"
               "  --link PATH   also make PATH a symbolic link to the pseudo-terminal\n"
               "  --length N    frames carry N+1 level bytes (N = 发送数据长度); default: up to\n"
               "                the \".\" before the next header\n"
               "  --baud B      read no faster than a serial line of B baud (10 bits a byte)\n"
               "  --seconds S   end after S seconds\n"
               "  --raw FILE    keep every byte read in FILE\n"
               "  --sacn U      listen on 127.0.0.1 for E1.31 universe U (port 5568)\n"
               "  --artnet U    listen on 127.0.0.1 for Art-Net port-address U (port 6454)\n"
               "  --universes K watch universes U to U+K-1 (1 to 128; default 1), a line for each\n"
               "                led by \"universe U:\"\n"
               "  --udp-port P  listen on port P instead\n",
               self, self);
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
    } else if (arg == "--sacn" && parseNumber(value, number) && number >= 1 && number <= 63999) {
      o.protocol = Options::Protocol::Sacn;
      o.universe = static_cast<unsigned>(number);
    } else if (arg == "--artnet" && parseNumber(value, number) && number <= 32767) {
      o.protocol = Options::Protocol::ArtNet;
      o.universe = static_cast<unsigned>(number);
    } else if (arg == "--universes" && parseNumber(value, number) && number >= 1 && number <= 128 &&
               number == static_cast<unsigned>(number)) {
      o.universes = static_cast<unsigned>(number);
    } else if (arg == "--udp-port" && parseNumber(value, number) && number >= 1 &&
               number <= 65535) {
      o.udpPort = static_cast<unsigned>(number);
    } else if (arg == "--seconds" && parseNumber(value, number)) {
      o.seconds = number;
    } else {
      usage(argv[0]);
    }
  }
  const unsigned last = o.protocol == Options::Protocol::Sacn ? 63999 : 32767;
  if (o.protocol != Options::Protocol::None && o.universe + o.universes - 1 > last) usage(argv[0]);
  return o;
}

void makeRaw(int fd) {
  termios t{};
  if (tcgetattr(fd, &t) != 0) return;
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
}

void printReport(std::uint64_t frames, const std::vector<std::uint8_t>& last, std::uint64_t bytes,
                 std::uint64_t bad) {
  std::printf("fps %llu len %zu bytes/s %llu bad %llu levels",
              static_cast<unsigned long long>(frames), last.size(),
              static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(bad));
  for (std::size_t i = 0; i < last.size() && i < 16; ++i) std::printf(" %03u", last[i]);
  std::printf("\n");
  std::fflush(stdout);
}

// A network node on the loopback address: packets of the universe asked for count as frames;
// packets of other universes are let pass, anything unreadable counts as bad.
int listenUdp(const Options& options) {
  const bool sacn = options.protocol == Options::Protocol::Sacn;
  const unsigned port =
      options.udpPort ? options.udpPort : (sacn ? luvrin::e131::kPort : luvrin::artnet::kPort);
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  if (fd < 0) {
    std::perror("socket");
    return 1;
  }
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    std::perror("bind");
    return 1;
  }
  std::printf("%s %u", sacn ? "sacn" : "artnet", options.universe);
  if (options.universes > 1) std::printf("-%u", options.universe + options.universes - 1);
  std::printf(" on 127.0.0.1:%u\n", port);
  std::fflush(stdout);

  struct Universe {
    std::vector<std::uint8_t> last;
    std::uint64_t frames = 0;
    std::uint64_t bytes = 0;
  };
  std::vector<Universe> universes(options.universes);
  std::vector<std::uint8_t> datagram(65536);
  std::uint64_t bad = 0;
  const auto start = Clock::now();
  auto nextReport = start + std::chrono::seconds(1);
  while (!stopRequested) {
    const auto now = Clock::now();
    if (options.seconds > 0 &&
        std::chrono::duration<double>(now - start).count() >= options.seconds)
      break;
    if (now >= nextReport) {
      for (std::size_t i = 0; i < universes.size(); ++i) {
        Universe& u = universes[i];
        if (universes.size() > 1)
          std::printf("universe %u: ", options.universe + static_cast<unsigned>(i));
        printReport(u.frames, u.last, u.bytes, bad);
        u.frames = u.bytes = 0;
      }
      bad = 0;
      nextReport += std::chrono::seconds(1);
      if (nextReport <= now) nextReport = now + std::chrono::seconds(1);
      continue;
    }
    pollfd p{fd, POLLIN, 0};
    const auto wait =
        std::chrono::duration_cast<std::chrono::milliseconds>(nextReport - now).count();
    const int ready = poll(&p, 1, static_cast<int>(std::max<long long>(1, wait)));
    if (ready <= 0) continue;
    const ssize_t n = recv(fd, datagram.data(), datagram.size(), 0);
    if (n <= 0) continue;
    const std::span<const std::uint8_t> packet(datagram.data(), static_cast<std::size_t>(n));
    unsigned universe = 0;
    std::vector<std::uint8_t> levels;
    if (sacn) {
      auto d = luvrin::e131::parseDataPacket(packet);
      if (!d) {
        ++bad;
        continue;
      }
      if (d->startCode != 0) continue;
      universe = d->universe;
      levels = std::move(d->levels);
    } else {
      auto d = luvrin::artnet::parseDmxPacket(packet);
      if (!d) {
        ++bad;
        continue;
      }
      universe = d->portAddress;
      levels = std::move(d->levels);
    }
    if (universe < options.universe || universe - options.universe >= universes.size()) continue;
    Universe& u = universes[universe - options.universe];
    u.last = std::move(levels);
    ++u.frames;
    u.bytes += static_cast<std::uint64_t>(n);
  }
  close(fd);
  return 0;
}

void onStopSignals() {
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = parse(argc, argv);
  if (options.protocol != Options::Protocol::None) {
    onStopSignals();
    return listenUdp(options);
  }

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

  onStopSignals();

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
    printReport(framesThisSecond, last, bytesThisSecond, decoder.malformedFrames());
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
