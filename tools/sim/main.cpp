// rlvexa-tracker-sim: runs the simulated tracker on a pseudo-terminal (as the
// tracker's USB serial port) or as a TCP client (as the tracker's GPRS link).

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "TrackerSim.h"
#include "Version.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kReconnectDelay = std::chrono::seconds(3);
constexpr auto kConnectTimeout = std::chrono::seconds(10);
constexpr size_t kMaxPendingOutput = 1 << 20;  // answers nobody reads are dropped beyond this

volatile std::sig_atomic_t g_stop = 0;
int g_wake_pipe[2] = {-1, -1};

void OnSignal(int) {
  g_stop = 1;
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t ignored = write(g_wake_pipe[1], &byte, 1);
  errno = saved;
}

struct Options {
  bool use_pty = true;
  std::string host;
  std::string port;
  bool verbose = false;
  rlv::sim::BootloaderFaults faults;
  bool gnss_silent = false;
  std::string dump_flash;  // where the flashed body is written at the end
  int fault_records = 0;
  rlv::sim::SimConfig sim = [] {
    rlv::sim::SimConfig config;
    config.living = true;
    config.fault_block_pace_ms = 100;  // each block read on its own by the receive quiet time
    return config;
  }();
};

constexpr int kTickMs = 50;  // the living tracker's clock step

// Moves the simulated tracker's clock on by the real time since the last call.
void AdvanceSim(rlv::sim::TrackerSim& sim, Clock::time_point* last) {
  const Clock::time_point now = Clock::now();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - *last).count();
  if (ms <= 0) return;
  *last += std::chrono::milliseconds(ms);
  sim.Advance(static_cast<uint32_t>(ms));
}

void PrintUsage(std::FILE* to) {
  std::fprintf(to,
               "usage: rlvexa-tracker-sim [--pty | --connect HOST:PORT] [--type N] [--options N]\n"
               "                          [--bootloader] [--bootloader-version N] [--password N]\n"
               "                          [--refuse-block K:STATUS] [--silent-from-block K]\n"
               "                          [--gnss-silent] [--dump-flash FILE]\n"
               "                          [--imei TEXT] [--gnss-version N] [--input-types A,B]\n"
               "                          [--event N]... [--fault-records N] [--static] [--verbose]\n"
               "                          [--help] [--version]\n"
               "  --pty                 serve on a new pseudo-terminal; its path is the first line\n"
               "                        on stdout (default)\n"
               "  --connect HOST:PORT   connect to the configurator's remote port over TCP,\n"
               "                        reconnecting every 3 s\n"
               "  --type N              device type answered to identify (default 8)\n"
               "  --options N           options byte answered to identify (default 0)\n"
               "  --bootloader          start in the bootloader\n"
               "  --bootloader-version N  bootloader version answered in the bootloader (default 1)\n"
               "  --password N          configuration password, 1..65535 (default none)\n"
               "  --refuse-block K:STATUS  the bootloader answers block K (0 = first) with STATUS\n"
               "  --silent-from-block K the bootloader answers nothing from block K on\n"
               "  --gnss-silent         the GNSS receiver behind command 52 answers nothing\n"
               "  --dump-flash FILE     at the end, write the body the bootloader took to FILE\n"
               "  --imei TEXT           IMEI in the device record, at most 16 characters\n"
               "                        (default 866000000000001)\n"
               "  --gnss-version N      GNSS receiver firmware, version x 100 + revision\n"
               "                        (default 118; 0 = not reported)\n"
               "  --input-types A,B     types of inputs 1 and 2 (0 analogue, 1 frequency,\n"
               "                        2 and 3 counting; default 0,1)\n"
               "  --event N             queue event code N (1..255) for the event log; repeatable\n"
               "  --fault-records N     N processor fault records in the fault log (0..195)\n"
               "  --static              keep the status records still (default: a living\n"
               "                        tracker that drives, counts and reports events)\n"
               "  --verbose             trace every request and answer on stderr\n"
               "  --help                this text\n"
               "  --version             the version\n");
}

bool ParseNumber(const char* text, unsigned long max, unsigned long* out) {
  if (text == nullptr || *text == '\0' || *text == '-') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 0);
  if (errno != 0 || end == nullptr || *end != '\0' || value > max) return false;
  *out = value;
  return true;
}

// HOST:PORT, with the host optionally in brackets for IPv6 ("[::1]:12500").
bool ParseHostPort(const std::string& text, std::string* host, std::string* port) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
  std::string h = text.substr(0, colon);
  if (h.size() >= 2 && h.front() == '[' && h.back() == ']') h = h.substr(1, h.size() - 2);
  unsigned long number = 0;
  if (h.empty() || !ParseNumber(text.c_str() + colon + 1, 65535, &number) || number == 0) return false;
  *host = h;
  *port = text.substr(colon + 1);
  return true;
}

// Returns 0 to run, 1 to exit successfully (help), 2 on a usage error.
int ParseOptions(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    unsigned long number = 0;
    auto need_number = [&](unsigned long max) {
      if (!ParseNumber(value, max, &number)) {
        std::fprintf(stderr, "rlvexa-tracker-sim: %s needs a number from 0 to %lu\n", argv[i], max);
        return false;
      }
      ++i;
      return true;
    };
    if (arg == "--pty") {
      options->use_pty = true;
    } else if (arg == "--connect") {
      if (value == nullptr || !ParseHostPort(value, &options->host, &options->port)) {
        std::fprintf(stderr, "rlvexa-tracker-sim: --connect needs HOST:PORT\n");
        return 2;
      }
      options->use_pty = false;
      ++i;
    } else if (arg == "--type") {
      if (!need_number(255)) return 2;
      options->sim.device_type = static_cast<uint8_t>(number);
    } else if (arg == "--options") {
      if (!need_number(255)) return 2;
      options->sim.device_options = static_cast<uint8_t>(number);
    } else if (arg == "--bootloader") {
      options->sim.bootloader = true;
    } else if (arg == "--bootloader-version") {
      if (!need_number(255)) return 2;
      options->sim.bootloader_version = static_cast<uint8_t>(number);
    } else if (arg == "--password") {
      if (!need_number(65535)) return 2;
      options->sim.password = static_cast<uint16_t>(number);
    } else if (arg == "--refuse-block") {
      unsigned block = 0;
      unsigned status = 0;
      char extra = 0;
      if (value == nullptr || std::sscanf(value, "%u:%u%c", &block, &status, &extra) != 2 ||
          block > 1000000 || status == 0 || status > 255) {
        std::fprintf(stderr, "rlvexa-tracker-sim: --refuse-block needs K:STATUS with STATUS 1..255\n");
        return 2;
      }
      options->faults.refuse_block = static_cast<int>(block);
      options->faults.refuse_status = static_cast<uint8_t>(status);
      ++i;
    } else if (arg == "--silent-from-block") {
      if (!need_number(1000000)) return 2;
      options->faults.silent_from_block = static_cast<int>(number);
    } else if (arg == "--gnss-silent") {
      options->gnss_silent = true;
    } else if (arg == "--dump-flash") {
      if (value == nullptr || *value == '\0') {
        std::fprintf(stderr, "rlvexa-tracker-sim: --dump-flash needs a file name\n");
        return 2;
      }
      options->dump_flash = value;
      ++i;
    } else if (arg == "--imei") {
      if (value == nullptr || std::strlen(value) > 16) {
        std::fprintf(stderr, "rlvexa-tracker-sim: --imei needs a text of at most 16 characters\n");
        return 2;
      }
      options->sim.imei = value;
      ++i;
    } else if (arg == "--gnss-version") {
      if (!need_number(65535)) return 2;
      options->sim.gnss_version = static_cast<uint16_t>(number);
    } else if (arg == "--input-types") {
      unsigned a = 0;
      unsigned b = 0;
      char extra = 0;
      if (value == nullptr || std::sscanf(value, "%u,%u%c", &a, &b, &extra) != 2 || a > 255 || b > 255) {
        std::fprintf(stderr, "rlvexa-tracker-sim: --input-types needs two numbers A,B\n");
        return 2;
      }
      options->sim.input_types[0] = static_cast<uint8_t>(a);
      options->sim.input_types[1] = static_cast<uint8_t>(b);
      ++i;
    } else if (arg == "--event") {
      if (!need_number(255)) return 2;
      if (number == 0) {
        std::fprintf(stderr, "rlvexa-tracker-sim: --event needs a code from 1 to 255\n");
        return 2;
      }
      options->sim.events.push_back(static_cast<uint8_t>(number));
    } else if (arg == "--fault-records") {
      if (!need_number(195)) return 2;
      options->fault_records = static_cast<int>(number);
    } else if (arg == "--static") {
      options->sim.living = false;
    } else if (arg == "--verbose") {
      options->verbose = true;
    } else if (arg == "--help" || arg == "-h") {
      PrintUsage(stdout);
      return 1;
    } else if (arg == "--version") {
      std::printf("rlvexa-tracker-sim %s\n", RLVEXA_VERSION);
      return 1;
    } else {
      std::fprintf(stderr, "rlvexa-tracker-sim: unknown option %s\n", argv[i]);
      PrintUsage(stderr);
      return 2;
    }
  }
  return 0;
}

bool SetNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL, 0);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// One file descriptor with the answers not yet written to it.
class Channel {
 public:
  int fd() const { return fd_; }
  bool open() const { return fd_ >= 0; }
  bool HasPending() const { return !pending_.empty(); }

  void Attach(int fd, bool is_socket) {
    Close();
    fd_ = fd;
    socket_ = is_socket;
  }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    pending_.clear();
  }
  void Queue(const std::vector<uint8_t>& bytes) {
    if (fd_ < 0) return;
    if (pending_.size() + bytes.size() > kMaxPendingOutput) {
      std::fprintf(stderr, "output backlog full; answer dropped\n");
      return;
    }
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
  }
  // Writes what it can without blocking. False on a hard error.
  bool Flush() {
    while (fd_ >= 0 && !pending_.empty()) {
      const ssize_t n = socket_ ? send(fd_, pending_.data(), pending_.size(), MSG_NOSIGNAL)
                                : write(fd_, pending_.data(), pending_.size());
      if (n > 0) {
        pending_.erase(pending_.begin(), pending_.begin() + n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return true;
      } else {
        return false;
      }
    }
    return true;
  }

 private:
  int fd_ = -1;
  bool socket_ = false;
  std::vector<uint8_t> pending_;
};

enum class ReadResult { kOk, kClosed };

// Feeds everything readable now into the simulator.
ReadResult Drain(Channel& channel, rlv::sim::TrackerSim& sim) {
  uint8_t buffer[4096];
  for (;;) {
    const ssize_t n = read(channel.fd(), buffer, sizeof buffer);
    if (n > 0) {
      // The speed the configurator set on its side of the line.
      termios tio{};
      if (tcgetattr(channel.fd(), &tio) == 0) sim.SetLineSpeed(cfgetospeed(&tio) == B115200 ? 115200 : 9600);
      sim.Feed(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return ReadResult::kOk;
    return ReadResult::kClosed;  // end of stream or error
  }
}

int RunPty(rlv::sim::TrackerSim& sim, Channel& channel) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("rlvexa-tracker-sim: pseudo-terminal");
    return 1;
  }
  const char* name = ptsname(master);
  if (name == nullptr) {
    std::perror("rlvexa-tracker-sim: ptsname");
    close(master);
    return 1;
  }
  const std::string slave_path = name;
  // Our own handle on the slave side stays open for the whole run: the master
  // then never sees a hang-up when the configurator closes the port, and the
  // line discipline stays raw between the configurator's sessions.
  const int slave = open(slave_path.c_str(), O_RDWR | O_NOCTTY);
  termios tio{};
  if (slave < 0 || tcgetattr(slave, &tio) != 0) {
    std::perror("rlvexa-tracker-sim: slave side");
    close(master);
    return 1;
  }
  cfmakeraw(&tio);
  if (tcsetattr(slave, TCSANOW, &tio) != 0 || !SetNonBlocking(master)) {
    std::perror("rlvexa-tracker-sim: terminal setup");
    close(slave);
    close(master);
    return 1;
  }
  channel.Attach(master, false);
  std::printf("%s\n", slave_path.c_str());
  std::fflush(stdout);

  int result = 0;
  Clock::time_point last = Clock::now();
  while (!g_stop) {
    AdvanceSim(sim, &last);
    pollfd fds[2] = {{g_wake_pipe[0], POLLIN, 0}, {master, POLLIN, 0}};
    if (channel.HasPending()) fds[1].events |= POLLOUT;
    if (poll(fds, 2, kTickMs) < 0) {
      if (errno == EINTR) continue;
      std::perror("rlvexa-tracker-sim: poll");
      result = 1;
      break;
    }
    if (g_stop) break;
    if ((fds[1].revents & POLLIN) != 0) Drain(channel, sim);
    if ((fds[1].revents & POLLOUT) != 0 && !channel.Flush()) {
      std::perror("rlvexa-tracker-sim: write");
      result = 1;
      break;
    }
    if ((fds[1].revents & (POLLHUP | POLLERR)) != 0 && (fds[1].revents & POLLIN) == 0) {
      // Not expected while we hold the slave open; avoid spinning if it happens.
      poll(fds, 1, 100);
    }
  }
  channel.Close();
  close(slave);
  return result;
}

// TCP client with reconnection: idle -> connecting -> connected -> idle.
class TcpClient {
 public:
  TcpClient(std::string host, std::string port, Channel& channel)
      : host_(std::move(host)), port_(std::move(port)), channel_(channel) {}

  // Starts a connection attempt when it is due.
  void Tick(Clock::time_point now) {
    if (channel_.open() || now < next_attempt_) return;
    addresses_.clear();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int rc = getaddrinfo(host_.c_str(), port_.c_str(), &hints, &list);
    if (rc != 0) {
      std::fprintf(stderr, "cannot resolve %s: %s\n", host_.c_str(), gai_strerror(rc));
      Retry(now);
      return;
    }
    for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
      Address address;
      std::memcpy(&address.storage, a->ai_addr, a->ai_addrlen);
      address.length = a->ai_addrlen;
      address.family = a->ai_family;
      addresses_.push_back(address);
    }
    freeaddrinfo(list);
    next_address_ = 0;
    TryNextAddress(now);
  }

  // Handles poll results on the channel.
  void OnEvents(short revents, rlv::sim::TrackerSim& sim, Clock::time_point now) {
    if (!channel_.open()) return;
    if (connecting_) {
      if ((revents & (POLLOUT | POLLERR | POLLHUP)) == 0) return;
      int error = 0;
      socklen_t length = sizeof error;
      if (getsockopt(channel_.fd(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
      if (error != 0) {
        channel_.Close();
        connecting_ = false;
        TryNextAddress(now);
        return;
      }
      connecting_ = false;
      sim.DiscardPartialInput();
      std::fprintf(stderr, "connected to %s:%s\n", host_.c_str(), port_.c_str());
      return;
    }
    bool lost = false;
    if ((revents & POLLIN) != 0) lost = Drain(channel_, sim) == ReadResult::kClosed;
    if (!lost && (revents & (POLLERR | POLLHUP)) != 0) lost = true;
    if (!lost && (revents & POLLOUT) != 0) lost = !channel_.Flush();
    if (lost) Drop(now);
  }

  // A connection that takes too long is abandoned.
  void CheckTimeout(Clock::time_point now) {
    if (connecting_ && now - attempt_started_ > kConnectTimeout) {
      channel_.Close();
      connecting_ = false;
      TryNextAddress(now);
    }
  }

  void Drop(Clock::time_point now) {
    std::fprintf(stderr, "connection to %s:%s lost\n", host_.c_str(), port_.c_str());
    channel_.Close();
    connecting_ = false;
    Retry(now);
  }

  bool connecting() const { return connecting_; }

  // Milliseconds poll may sleep before this client needs attention.
  int PollTimeout(Clock::time_point now) const {
    Clock::time_point due;
    if (connecting_) {
      due = attempt_started_ + kConnectTimeout;
    } else if (!channel_.open()) {
      due = next_attempt_;
    } else {
      return -1;
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count();
    return ms <= 0 ? 0 : static_cast<int>(ms) + 1;
  }

 private:
  struct Address {
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family = 0;
  };

  void Retry(Clock::time_point now) { next_attempt_ = now + kReconnectDelay; }

  void TryNextAddress(Clock::time_point now) {
    while (next_address_ < addresses_.size()) {
      const Address& address = addresses_[next_address_++];
      const int fd = socket(address.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      if (fd < 0) continue;
      if (connect(fd, reinterpret_cast<const sockaddr*>(&address.storage), address.length) == 0 ||
          errno == EINPROGRESS) {
        // Completion (or an immediate success) is reported as writable.
        channel_.Attach(fd, true);
        connecting_ = true;
        attempt_started_ = now;
        return;
      }
      close(fd);
    }
    Retry(now);
  }

  std::string host_;
  std::string port_;
  Channel& channel_;
  std::vector<Address> addresses_;
  size_t next_address_ = 0;
  bool connecting_ = false;
  Clock::time_point attempt_started_{};
  Clock::time_point next_attempt_{};
};

int RunTcp(rlv::sim::TrackerSim& sim, Channel& channel, const Options& options) {
  TcpClient client(options.host, options.port, channel);
  Clock::time_point last = Clock::now();
  while (!g_stop) {
    AdvanceSim(sim, &last);
    Clock::time_point now = Clock::now();
    client.CheckTimeout(now);
    client.Tick(now);
    pollfd fds[2] = {{g_wake_pipe[0], POLLIN, 0}, {channel.fd(), 0, 0}};
    nfds_t count = 1;
    if (channel.open()) {
      fds[1].events =
          client.connecting() ? POLLOUT : static_cast<short>(POLLIN | (channel.HasPending() ? POLLOUT : 0));
      count = 2;
    }
    const int client_timeout = client.PollTimeout(now);
    const int timeout = client_timeout < 0 ? kTickMs : std::min(client_timeout, kTickMs);
    if (poll(fds, count, timeout) < 0) {
      if (errno == EINTR) continue;
      std::perror("rlvexa-tracker-sim: poll");
      return 1;
    }
    if (g_stop) break;
    if (count == 2) client.OnEvents(fds[1].revents, sim, Clock::now());
  }
  channel.Close();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const int rc = ParseOptions(argc, argv, &options); rc != 0) return rc == 1 ? 0 : rc;

  if (pipe(g_wake_pipe) != 0 || !SetNonBlocking(g_wake_pipe[0]) || !SetNonBlocking(g_wake_pipe[1])) {
    std::perror("rlvexa-tracker-sim: pipe");
    return 1;
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  rlv::sim::TrackerSim sim(options.sim);
  sim.BootloaderPart().faults = options.faults;
  sim.Receiver().silent = options.gnss_silent;
  for (int i = 0; i < options.fault_records; ++i) {
    rlv::sim::FaultRecord record;
    record.time = 1767225600u + static_cast<uint32_t>(i) * 3600u;
    record.cfsr = 0x00020000u >> (i % 3);
    record.hfsr = 0x40000000u;
    record.mmfar = 0xE000ED34u;
    record.bfar = 0x20000000u + static_cast<uint32_t>(i) * 4u;
    sim.AddFaultRecord(record);
  }
  Channel channel;
  const bool verbose = options.verbose;
  sim.SetRequestHook([verbose](uint8_t command, size_t payload_size) {
    if (verbose) std::fprintf(stderr, "rx cmd=%u len=%zu\n", static_cast<unsigned>(command), payload_size);
  });
  // Answers go out as soon as the request that caused them is complete.
  sim.SetOutput([verbose, &channel](const std::vector<uint8_t>& frame) {
    if (verbose && frame.size() >= rlv::sim::kFrameOverhead) {
      std::fprintf(stderr, "tx cmd=%u len=%zu\n", static_cast<unsigned>(frame[7]),
                   frame.size() - rlv::sim::kFrameOverhead);
    }
    channel.Queue(frame);
    if (!channel.Flush()) std::fprintf(stderr, "write failed: %s\n", std::strerror(errno));
  });

  int result = options.use_pty ? RunPty(sim, channel) : RunTcp(sim, channel, options);
  if (!options.dump_flash.empty()) {
    const std::vector<uint8_t>& body = sim.BootloaderPart().Body();
    std::FILE* out = std::fopen(options.dump_flash.c_str(), "wb");
    if (out == nullptr || std::fwrite(body.data(), 1, body.size(), out) != body.size() ||
        std::fclose(out) != 0) {
      std::fprintf(stderr, "rlvexa-tracker-sim: cannot write %s\n", options.dump_flash.c_str());
      result = 1;
    }
  }
  close(g_wake_pipe[0]);
  close(g_wake_pipe[1]);
  return result;
}
