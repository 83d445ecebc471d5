// rlvexa-tracker-sim: runs the simulated tracker on a pseudo-terminal (as the
// tracker's USB serial port) or as a TCP client (as the tracker's GPRS link).

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
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
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "TrackerSim.h"
#include "Version.h"
#include "link/Codepage.h"

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

// How the TCP link misbehaves, to test the configurator's side of the tunnel.
struct NetFaults {
  size_t split = 0;                // answers leave in pieces of at most this many bytes
  bool merge = false;              // answers leave two by two in one segment
  bool stray = false;              // noise bytes before every answer
  unsigned bad_crc_every = 0;      // every Nth answer has a broken CRC
  unsigned hold_acks_ms = 0;       // acknowledgements of remote firmware blocks wait this long
  unsigned drop_ack = 0;           // the Nth acknowledgement of a remote firmware block is never sent
  unsigned drop_after_blocks = 0;  // the connection drops once after this many remote firmware blocks
  bool reset = false;              // a drop is a reset, not an orderly close
};

struct Options {
  NetFaults net;
  bool use_pty = true;
  std::string host;
  std::string port;
  bool verbose = false;
  rlv::sim::BootloaderFaults faults;
  bool gnss_silent = false;
  std::string dump_flash;   // where the flashed body is written at the end
  std::string dump_remote;  // where the file received by remote firmware blocks is written at the end
  int fault_records = 0;
  bool bt_devices_set = false;
  std::vector<std::string> bt_devices;  // Windows-1251 names
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
               "                          [--gnss-silent] [--dump-flash FILE] [--dump-remote FILE]\n"
               "                          [--imei TEXT] [--gnss-version N] [--input-types A,B]\n"
               "                          [--event N]... [--fault-records N] [--static] [--no-delay]\n"
               "                          [--verbose]\n"
               "                          [--split N] [--merge] [--stray] [--bad-crc-every N]\n"
               "                          [--hold-acks MS] [--drop-ack N] [--drop-after-blocks N]\n"
               "                          [--reset] [--bt-devices NAMES] [--help] [--version]\n"
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
               "  --dump-remote FILE    at the end, write the file taken by remote firmware blocks\n"
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
               "  --no-delay            answer everything at once: the fault-log blocks are not\n"
               "                        paced 100 ms apart (every other answer already leaves\n"
               "                        as soon as its request is complete)\n"
               "  --verbose             trace every request and answer on stderr\n"
               "  --bt-devices NAMES    the Bluetooth devices a scan finds, comma-separated, in the\n"
               "                        order found (each 1..248 bytes, at most 255; \"\" = none;\n"
               "                        default: RL Headset,Fuel Sensor BT,Driver Phone)\n"
               "TCP link faults (with --connect):\n"
               "  --split N             send every answer in pieces of at most N bytes, 30 ms apart\n"
               "  --merge               send answers two by two in one segment\n"
               "  --stray               send noise bytes before every answer\n"
               "  --bad-crc-every N     break the CRC of every Nth answer\n"
               "  --hold-acks MS        hold acknowledgements of remote firmware blocks MS ms\n"
               "  --drop-ack N          never send the Nth acknowledgement of a remote firmware block\n"
               "  --drop-after-blocks N drop the connection once, after N remote firmware blocks;\n"
               "                        the device record then offers the resume\n"
               "  --reset               drop connections with a reset instead of an orderly close\n"
               "  --help                this text\n"
               "  --version             the version\n"
               "Exit status: 0 stopped by a signal; 1 the pseudo-terminal, the connection or a dump\n"
               "file failed; 2 bad command line.\n");
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

// Comma-separated device names as the tracker holds them (Windows-1251); an
// empty text is an empty list.
bool ParseDeviceNames(const std::string& text, std::vector<std::string>* names) {
  names->clear();
  if (text.empty()) return true;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    const std::string name = rlv::link::Utf8ToCp1251(
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (name.empty() || name.size() > 248 || names->size() >= 255) return false;
    names->push_back(name);
    if (comma == std::string::npos) return true;
    start = comma + 1;
  }
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
    } else if (arg == "--dump-remote") {
      if (value == nullptr || *value == '\0') {
        std::fprintf(stderr, "rlvexa-tracker-sim: --dump-remote needs a file name\n");
        return 2;
      }
      options->dump_remote = value;
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
    } else if (arg == "--no-delay") {
      // The fault-log blocks go out at once, one after the other, instead of
      // one per 100 ms.
      options->sim.fault_block_pace_ms = 0;
    } else if (arg == "--verbose") {
      options->verbose = true;
    } else if (arg == "--split") {
      if (!need_number(4096)) return 2;
      options->net.split = number;
    } else if (arg == "--merge") {
      options->net.merge = true;
    } else if (arg == "--stray") {
      options->net.stray = true;
    } else if (arg == "--bad-crc-every") {
      if (!need_number(1000000)) return 2;
      options->net.bad_crc_every = static_cast<unsigned>(number);
    } else if (arg == "--hold-acks") {
      if (!need_number(600000)) return 2;
      options->net.hold_acks_ms = static_cast<unsigned>(number);
    } else if (arg == "--drop-ack") {
      if (!need_number(1000000)) return 2;
      options->net.drop_ack = static_cast<unsigned>(number);
    } else if (arg == "--drop-after-blocks") {
      if (!need_number(1000000)) return 2;
      options->net.drop_after_blocks = static_cast<unsigned>(number);
    } else if (arg == "--reset") {
      options->net.reset = true;
    } else if (arg == "--bt-devices") {
      if (value == nullptr || !ParseDeviceNames(value, &options->bt_devices)) {
        std::fprintf(stderr,
                     "rlvexa-tracker-sim: --bt-devices needs names of 1 to 248 bytes separated by commas,\n"
                     "at most 255 of them\n");
        return 2;
      }
      options->bt_devices_set = true;
      ++i;
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

// The answers on their way over TCP, shaped by the link faults asked for:
// each queued segment leaves in its own send once it is due.
class Shaper {
 public:
  explicit Shaper(const NetFaults& faults) : faults_(faults) {}

  void Add(std::vector<uint8_t> frame, Clock::time_point now) {
    ++answers_;
    const bool ack = frame.size() >= 8 && frame[7] == rlv::sim::cmd::kRemoteFirmwareBlock;
    if (ack && faults_.drop_ack != 0 && ++acks_ == faults_.drop_ack) {
      std::fprintf(stderr, "acknowledgement %u dropped\n", acks_);
      return;
    }
    if (faults_.bad_crc_every != 0 && answers_ % faults_.bad_crc_every == 0 && !frame.empty())
      frame.back() ^= 0x5A;
    if (faults_.stray) frame.insert(frame.begin(), {'S', 0x00, 'S', 'L', 0x7F});
    Clock::time_point due = now;
    if (ack && faults_.hold_acks_ms != 0) due += std::chrono::milliseconds(faults_.hold_acks_ms);
    if (faults_.merge) {
      if (held_.empty()) {
        held_ = std::move(frame);
        held_due_ = due + std::chrono::milliseconds(100);
        return;
      }
      held_.insert(held_.end(), frame.begin(), frame.end());
      frame = std::move(held_);
      held_.clear();
    }
    Push(frame, due);
  }

  // Sends what is due; false on a hard error.
  bool Pump(Channel& channel, Clock::time_point now) {
    if (!held_.empty() && now >= held_due_) {
      Push(held_, now);
      held_.clear();
    }
    while (!queue_.empty() && queue_.front().due <= now) {
      channel.Queue(queue_.front().bytes);
      queue_.pop_front();
      if (!channel.Flush()) return false;
    }
    return true;
  }

  // Milliseconds until the next segment is due; -1 when none waits.
  int Timeout(Clock::time_point now) const {
    Clock::time_point due = Clock::time_point::max();
    if (!queue_.empty()) due = queue_.front().due;
    if (!held_.empty()) due = std::min(due, held_due_);
    if (due == Clock::time_point::max()) return -1;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(due - now).count();
    return ms <= 0 ? 0 : static_cast<int>(ms) + 1;
  }

  void Clear() {
    queue_.clear();
    held_.clear();
  }

 private:
  struct Segment {
    Clock::time_point due;
    std::vector<uint8_t> bytes;
  };

  void Push(const std::vector<uint8_t>& bytes, Clock::time_point due) {
    // Segments never overtake each other.
    if (!queue_.empty()) due = std::max(due, queue_.back().due);
    const size_t piece = faults_.split == 0 ? bytes.size() : faults_.split;
    for (size_t at = 0; at < bytes.size(); at += piece) {
      const size_t n = std::min(piece, bytes.size() - at);
      queue_.push_back({due, std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                                  bytes.begin() + static_cast<std::ptrdiff_t>(at + n))});
      due += std::chrono::milliseconds(30);
    }
  }

  const NetFaults& faults_;
  unsigned answers_ = 0;
  unsigned acks_ = 0;
  std::deque<Segment> queue_;
  std::vector<uint8_t> held_;
  Clock::time_point held_due_{};
};

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
      // Segments leave as they are written, not gathered by the system.
      const int one = 1;
      setsockopt(channel_.fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
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

  // Ends the connection from this side: with a reset (RST) or in order (FIN).
  void Hangup(Clock::time_point now, bool reset) {
    if (reset && channel_.open()) {
      const linger hard{1, 0};
      setsockopt(channel_.fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    std::fprintf(stderr, "connection to %s:%s dropped on purpose (%s)\n", host_.c_str(), port_.c_str(),
                 reset ? "reset" : "close");
    channel_.Close();
    connecting_ = false;
    Retry(now);
  }

  bool connected() const { return channel_.open() && !connecting_; }

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
  Shaper shaper(options.net);
  // Answers go through the shaper; it sends them when they are due.
  sim.SetOutput([&](const std::vector<uint8_t>& frame) {
    if (client.connected()) shaper.Add(frame, Clock::now());
  });
  unsigned blocks = 0;
  bool dropped_once = false;
  bool drop_now = false;
  sim.SetRequestHook([&](uint8_t command, size_t payload_size) {
    if (options.verbose)
      std::fprintf(stderr, "rx cmd=%u len=%zu\n", static_cast<unsigned>(command), payload_size);
    if (command != rlv::sim::cmd::kRemoteFirmwareBlock || options.net.drop_after_blocks == 0 || dropped_once)
      return;
    if (++blocks == options.net.drop_after_blocks) drop_now = true;
  });
  Clock::time_point last = Clock::now();
  while (!g_stop) {
    AdvanceSim(sim, &last);
    Clock::time_point now = Clock::now();
    client.CheckTimeout(now);
    client.Tick(now);
    if (client.connected() && !shaper.Pump(channel, now)) client.Drop(now);
    pollfd fds[2] = {{g_wake_pipe[0], POLLIN, 0}, {channel.fd(), 0, 0}};
    nfds_t count = 1;
    if (channel.open()) {
      fds[1].events =
          client.connecting() ? POLLOUT : static_cast<short>(POLLIN | (channel.HasPending() ? POLLOUT : 0));
      count = 2;
    }
    int timeout = kTickMs;
    for (const int t : {client.PollTimeout(now), shaper.Timeout(now)}) {
      if (t >= 0) timeout = std::min(timeout, t);
    }
    if (poll(fds, count, timeout) < 0) {
      if (errno == EINTR) continue;
      std::perror("rlvexa-tracker-sim: poll");
      return 1;
    }
    if (g_stop) break;
    if (count == 2) client.OnEvents(fds[1].revents, sim, Clock::now());
    if (drop_now) {
      // The block that came last is kept, its acknowledgement is lost with the
      // connection, and the device record tells where to resume.
      drop_now = false;
      dropped_once = true;
      shaper.Clear();
      sim.InterruptRemoteTransfer(1);
      client.Hangup(Clock::now(), options.net.reset);
    }
    if (!client.connected()) shaper.Clear();
  }
  channel.Close();
  return 0;
}

// Writes `bytes` to `path` (nothing when `path` is empty); false on failure, said on stderr.
bool DumpFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  if (path.empty()) return true;
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() ||
      std::fclose(out) != 0) {
    std::fprintf(stderr, "rlvexa-tracker-sim: cannot write %s\n", path.c_str());
    return false;
  }
  return true;
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
  if (options.bt_devices_set) sim.Bluetooth().Devices = options.bt_devices;
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
  if (!DumpFile(options.dump_flash, sim.BootloaderPart().Body())) result = 1;
  if (!DumpFile(options.dump_remote, sim.RemoteFile())) result = 1;
  close(g_wake_pipe[0]);
  close(g_wake_pipe[1]);
  return result;
}
