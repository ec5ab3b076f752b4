#include "register_options.h"

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>

namespace zelmo::sim {
namespace {

long WholeNumber(const std::string& option, const std::string& text, long least) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || errno != 0 || value < least || value > 1000000000) {
    throw UsageError(option + " wants a whole number of at least " + std::to_string(least) +
                     ", not \"" + text + "\"");
  }
  return value;
}

int CommandNumber(const std::string& option, const std::string& text) {
  return static_cast<int>(WholeNumber(option, text, 1));
}

// "K:X": a command number and what goes with it.
std::pair<int, std::string> NumberAndValue(const std::string& option, const std::string& text) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) throw UsageError(option + " wants K:VALUE, not \"" + text + "\"");
  return {CommandNumber(option, text.substr(0, colon)), text.substr(colon + 1)};
}

char HexByte(const std::string& option, const std::string& text) {
  std::string digits = text;
  if (digits.size() > 2 && (digits.compare(0, 2, "0x") == 0 || digits.compare(0, 2, "0X") == 0)) {
    digits.erase(0, 2);
  }
  char* end = nullptr;
  const long value = std::strtol(digits.c_str(), &end, 16);
  if (digits.empty() || digits.size() > 2 || *end != '\0' || value < 0) {
    throw UsageError(option + " wants a byte in hex (00 to FF), not \"" + text + "\"");
  }
  return static_cast<char>(value);
}

double Seconds(const std::string& option, const std::string& text) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(value > 0) || value > 1e6) {
    throw UsageError(option + " wants a number of seconds, not \"" + text + "\"");
  }
  return value;
}

using ValueSetter = std::function<void(Options&, const std::string& option, const std::string&)>;
using FlagSetter = std::function<void(Options&)>;

const std::map<std::string, ValueSetter>& ValueOptions() {
  static const std::map<std::string, ValueSetter> options = {
      {"--device", [](Options& o, auto&, auto& v) { o.device = v; }},
      {"--socket", [](Options& o, auto&, auto& v) { o.socket = v; }},
      {"--link", [](Options& o, auto&, auto& v) { o.link = v; }},
      {"--record", [](Options& o, auto&, auto& v) { o.record = v; }},
      {"--baud", [](Options& o, auto& n, auto& v) { o.baud = WholeNumber(n, v, 1); }},
      {"--timeout", [](Options& o, auto& n, auto& v) { o.timeoutSeconds = Seconds(n, v); }},
      {"--nak", [](Options& o, auto& n, auto& v) { o.faults.nak.insert(CommandNumber(n, v)); }},
      {"--silent-after",
       [](Options& o, auto& n, auto& v) {
         o.faults.silentAfter = static_cast<int>(WholeNumber(n, v, 0));
       }},
      {"--hangup-after",
       [](Options& o, auto& n, auto& v) { o.faults.hangUpAfter = CommandNumber(n, v); }},
      {"--garbage",
       [](Options& o, auto& n, auto& v) {
         const auto [k, byte] = NumberAndValue(n, v);
         o.faults.garbage[k] = HexByte(n, byte);
       }},
      {"--break-before",
       [](Options& o, auto& n, auto& v) { o.breakBefore.insert(CommandNumber(n, v)); }},
      {"--stop-after", [](Options& o, auto& n, auto& v) { o.stopAfter = CommandNumber(n, v); }},
      {"--burst",
       [](Options& o, auto& n, auto& v) {
         const auto [k, count] = NumberAndValue(n, v);
         o.faults.burst[k] = static_cast<int>(WholeNumber(n, count, 1));
       }},
  };
  return options;
}

const std::map<std::string, FlagSetter>& FlagOptions() {
  static const std::map<std::string, FlagSetter> options = {
      {"--eot-for-ack", [](Options& o) { o.faults.eotForAck = true; }},
      {"--telnet", [](Options& o) { o.telnet = true; }},
      {"--verbose", [](Options& o) { o.verbose = true; }},
      {"-v", [](Options& o) { o.verbose = true; }},
      {"--help", [](Options& o) { o.help = true; }},
      {"-h", [](Options& o) { o.help = true; }},
  };
  return options;
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& args) {
  Options options;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> value;
    if (const size_t equals = name.find('=');
        name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name.erase(equals);
    }
    if (auto flag = FlagOptions().find(name); flag != FlagOptions().end()) {
      if (value) throw UsageError(name + " takes no value");
      flag->second(options);
      continue;
    }
    auto setter = ValueOptions().find(name);
    if (setter == ValueOptions().end()) throw UsageError("unknown option \"" + name + "\"");
    if (!value) {
      if (i + 1 >= args.size()) throw UsageError(name + " wants a value");
      value = args[++i];
    }
    setter->second(options, name, *value);
  }
  if (!options.device.empty() && !options.socket.empty()) {
    throw UsageError("--device and --socket are two different lines: give one of them");
  }
  const bool pseudoTerminal = options.device.empty() && options.socket.empty();
  if (!pseudoTerminal && !options.link.empty()) {
    throw UsageError("--link is for the pseudo-terminal; it does not go with --device or --socket");
  }
  if (options.telnet && options.socket.empty()) throw UsageError("--telnet goes with --socket");
  if (!options.breakBefore.empty() && pseudoTerminal) {
    throw UsageError("--break-before wants --device or --socket: a pseudo-terminal has no break");
  }
  if (!options.breakBefore.empty() && !options.socket.empty() && !options.telnet) {
    throw UsageError("--break-before on a socket wants --telnet, which carries the break");
  }
  if (options.stopAfter > 0 && !pseudoTerminal) {
    throw UsageError("--stop-after is for the pseudo-terminal");
  }
  return options;
}

std::string UsageText() {
  return R"(Usage: zelmo-register [OPTION]...
A fiscal register on a serial line, for trying out and testing the bridge without one.

It opens a new pseudo-terminal and prints the path of its device as the first line of standard
output; point the bridge's port at that path. It answers ACK to ENQ, to every well-formed frame
and to EOT, and NAK to a frame whose layout or check value is wrong. Other bytes between commands
are line noise and get no answer. When the bridge closes the port it prints the receipt it has
been given (and prints it as soon as the exchange with the total ends), then exits.

  --device PATH       use this serial device instead of a new pseudo-terminal; the program then
                      ends once the receipt is complete
  --socket PATH       connect to the Unix socket PATH instead (for example a virtual machine's
                      serial port, served by QEMU with -chardev socket,server=on); it is waited
                      for until it appears, and the program ends once the receipt is complete
  --telnet            the socket speaks Telnet (QEMU's telnet=on): its option negotiation is
                      stripped, a 0xFF byte is sent doubled, and a break goes as IAC BREAK
  --link PATH         also make PATH a symbolic link to the pseudo-terminal (removed at exit)
  --record FILE       write every byte received, raw, to FILE
  --baud RATE         take received bytes no faster than a line at RATE baud carries them
                      (10 bits a byte: about 1.04 ms a byte at 9600), and answer at that pace
  --timeout SECONDS   give up when nothing arrives for SECONDS (exit status 3)
  -v, --verbose       log every command and its answer on standard error
  -h, --help          show this text

Faults. Commands are each ENQ, frame and EOT, counted from 1 as they arrive. A command that is
not answered with ACK (or with EOT in its place) is not taken into the receipt.
  --nak K             answer command K with NAK (may be given again for other commands)
  --eot-for-ack       answer EOT wherever ACK is due
  --silent-after K    answer nothing from command K+1 on (0: nothing at all)
  --garbage K:HH      answer command K with the byte HH (hex) instead (may be repeated)
  --burst K:N         send N noise bytes (never ACK or EOT) before the answer to command K
  --hangup-after K    answer command K, then close the line as soon as anything more arrives
Line faults (not on every line):
  --break-before K    send a break just before the answer to command K (may be repeated); on
                      --device or --socket with --telnet
  --stop-after K      after answering command K, hold the line stopped, as a register holding
                      CTS low does: the bridge's writes wait; on the pseudo-terminal

Exit status: 0 when the bridge has closed the port (or the line was dropped on purpose, or the
receipt on --device or --socket is complete, or the socket was closed); 1 when the line cannot be opened or fails; 2 for a wrong
command line; 3 after --timeout.
)";
}

}  // namespace zelmo::sim
