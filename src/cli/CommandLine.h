#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Texts.h"

namespace rlv::cli {

// Exit statuses of the command line.
enum Exit : int {
  kExitOk = 0,
  kExitDiffer = 1,     // diff: the configurations differ
  kExitUsage = 2,      // bad command line
  kExitNoTracker = 3,  // no tracker answered on the port within 10 s, or the port cannot be opened
  kExitPassword = 4,   // the tracker refused the password (or asked for one not given)
  kExitTransfer = 5,   // a transfer failed or timed out
  kExitBadFile = 6,    // a file is unreadable or not what it should be
  kExitFirmware = 7,   // the firmware update failed
  kExitOutput = 8,     // the standard output could not be written (full disk, closed pipe)
};

// One command line: "rlvexa-configurator COMMAND [options] [files]".
struct Invocation {
  std::string command;
  std::vector<std::string> ports;  // in the order given; "all" alone for every tracker present
  std::string out;
  std::vector<std::string> files;
  std::optional<uint16_t> password;
  std::optional<std::string> dir;
  bool json = false;
  bool fast = false;  // --fast: the fast link
  bool help = false;
  Language language = Language::kEnglish;  // --lang en|ru
};

// True when `word` names a command of the command line.
bool IsCommand(std::string_view word);
// True for the commands that talk to a tracker.
bool NeedsTracker(const std::string& command);
// The commands, in the order the help lists them.
std::vector<std::string> Commands();
// The arguments after the program name; nullopt with `error` set on a usage
// error (the text alone: ErrorLine adds the program and the command). The
// language of the texts is taken from --lang before anything else is read.
std::optional<Invocation> Parse(const std::vector<std::string>& args, std::string* error);
// The help of one command: its options and the exit statuses it can give; of
// every command when `command` names none.
std::string Help(const std::string& command);
// The exit statuses `command` can give, in increasing order.
std::vector<int> ExitStatuses(const std::string& command);
// One line of standard error: "rlvexa-configurator COMMAND: text", or
// "rlvexa-configurator: text" without a command.
std::string ErrorLine(const std::string& command, const std::string& text);
// A usage error's line, with where to find the command's options.
std::string UsageErrorLine(const std::vector<std::string>& args, const std::string& error);

// The name of a command's output file for one of several trackers: `tag` (the
// IMEI, else PortTag of the port) joined to the file's stem with "-", before
// the extension: "out/a.fcg" and 866000000000001 give "out/a-866000000000001.fcg".
std::string PerTrackerPath(const std::string& path, const std::string& tag);
// A port as a file-name part: "/dev/ttyACM0" gives "ttyACM0", "/dev/pts/3" "pts-3".
std::string PortTag(const std::string& port);

// export, import and diff: files only. Results on `out`, failures (one line) on `err`.
int RunFileCommand(const Invocation& inv, std::ostream& out, std::ostream& err);

// `status` of `command` once its results on `out` are flushed; kExitOutput,
// with one line on `err`, when `out` could not take them.
int FinishOutput(const std::string& command, int status, std::ostream& out, std::ostream& err);

// Reads a whole file; nullopt with `why` set when it cannot be read.
std::optional<std::vector<uint8_t>> ReadWholeFile(const std::string& path, std::string* why);
// Writes a file through a temporary file beside it and a rename: an existing
// file is replaced only by a complete new one.
bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string* why);

}  // namespace rlv::cli
