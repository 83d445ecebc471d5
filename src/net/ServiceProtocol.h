#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Network.h"

namespace rlv::net {

// What the configurator and its servers say to each other over the
// configuration store's and the update service's plain TCP connections, and
// the checks every text and number from the other side goes through.

// The largest file a store may announce (a configuration file is 1046 bytes)
// and the largest build the update service may announce.
constexpr uint64_t kMaxStoreFile = uint64_t{64} << 10;
constexpr uint64_t kMaxUpdateFile = uint64_t{64} << 20;
// A header ("file#" name "#" size "#") longer than this is not a header.
constexpr size_t kMaxHeader = 1024;
// Seconds without a byte after which a transfer is given up.
constexpr int kTransferTimeout = 10;

// A size field: 1 to 20 ASCII digits and nothing else, from 1 up to `max`.
std::optional<uint64_t> ParseSize(std::string_view text, uint64_t max);

// A text that may stand as one field of a request: not empty, without "#" and
// without control characters (CR and LF among them).
bool IsSafeField(std::string_view text);

// The name under which a file announced by a server is saved: the last
// component of `path` on both "/" and "\". nullopt for "", "." and "..", and
// for a name with control characters.
std::optional<std::string> SafeFileName(std::string_view path);

// A tracker firmware build named in a file name as "fw" V "_" B1 "." B2 "." B3
// (B1 and B2 four digits each, one separator character after each).
struct FirmwareBuild {
  uint64_t version = 0;
  uint64_t build1 = 0;
  uint64_t build2 = 0;
  uint64_t build3 = 0;
};
// The build named in `name`; nullopt when it names none (no "fw").
std::optional<FirmwareBuild> ParseFirmwareName(std::string_view name);
// Whether `offered` is newer than the tracker's `running` build: the same last
// build part, and a greater (version, first part, second part), the version
// compared as an 8-bit value.
bool IsNewerFirmware(const FirmwareBuild& offered, const FirmwareBuild& running);
// Orders builds for a server choosing the newest: version, then the three parts.
bool FirmwareBuildLess(const FirmwareBuild& a, const FirmwareBuild& b);

// A dotted version "1.4.10.0" as its numbers; nullopt unless it is one to
// eight decimal numbers of at most nine digits separated by single dots.
std::optional<std::vector<uint32_t>> ParseVersion(std::string_view text);
// Compares number by number, a missing number counting as 0: <0, 0 or >0.
int CompareVersions(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b);
// The version in a configurator build's file name: what follows the first
// "_v", up to ".exe" (or the end); nullopt when there is none that parses.
std::optional<std::vector<uint32_t>> ConfiguratorNameVersion(std::string_view name);
// Whether the build named `name` is newer than the version `own`.
bool IsNewerConfigurator(std::string_view name, std::string_view own);

// Receives one file announced by a header "file#" field "#" size "#" and
// followed by exactly that many bytes. The header may arrive in pieces and
// may share a read with the first bytes of the file; bytes beyond the
// announced size are counted and dropped. A server may instead answer with
// `not_exists` (a text its protocol gives for a missing file).
class FileReceiver {
 public:
  enum class Error {
    kNone,
    kBadHeader,  // not a header of this protocol, or too long
    kBadSize,    // the size is not digits only, is 0 or is over the limit
  };
  struct Result {
    bool header = false;      // the header was completed by this piece
    bool progress = false;    // body bytes were taken from this piece
    bool complete = false;    // the whole file has arrived
    bool not_exists = false;  // the server has no such file
    Error error = Error::kNone;
  };

  FileReceiver(uint64_t max_size, std::string not_exists);

  // Starts over for a new transfer.
  void Reset();
  Result Feed(const uint8_t* data, size_t count);

  bool ReceivingBody() const { return state_ == State::kBody; }
  bool Complete() const { return state_ == State::kDone; }
  // The second field of the header (the name or path of the file).
  const std::string& Name() const { return name_; }
  uint64_t Expected() const { return expected_; }
  uint64_t Received() const { return body_.size(); }
  // Bytes the server sent beyond the announced size.
  uint64_t Surplus() const { return surplus_; }
  // Percent of the file received, 0 to 100, in 64-bit arithmetic.
  int Percent() const;
  const std::vector<uint8_t>& Body() const { return body_; }
  // Hands the received file over and starts over.
  std::vector<uint8_t> TakeBody();

 private:
  enum class State { kHeader, kBody, kDone, kFailed };
  Result ParseHeader(Result result);

  uint64_t max_size_;
  std::string not_exists_;
  State state_ = State::kHeader;
  std::string header_;
  std::string name_;
  uint64_t expected_ = 0;
  uint64_t surplus_ = 0;
  std::vector<uint8_t> body_;
};

// A socket failure as messages show it: its code, then the reason in words,
// "10061 (connection refused)". `text(key, russian)` gives the reason's text
// from the language file's [Cloud] section; for a failure without a code of
// its own the system's description is used.
std::string SocketFailureText(
    platform::SocketError error, const std::string& system_text,
    const std::function<std::string(const char* key, const std::string& def)>& text);

}  // namespace rlv::net
