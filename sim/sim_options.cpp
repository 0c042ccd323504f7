#include "sim/sim_options.h"

#include <CLI/CLI.hpp>

#include <charconv>

#include "sim/text_escape.h"

namespace fennwick::sim {
namespace {

constexpr std::size_t kLastBlock = kBlockCount - 1;

struct UsageError {
  std::string message;
};

Bytes DecodeOption(const std::string& name, const std::string& text) {
  std::string error;
  auto bytes = DecodeEscapes(text, error);
  if (!bytes) throw UsageError{name + ": " + error};
  return std::move(*bytes);
}

bool ParseNumber(std::string_view text, unsigned long& value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc() && ptr == end && !text.empty();
}

// "N:MS" for --delay-reply.
std::pair<std::size_t, Millis> ParseDelay(const std::string& text) {
  const auto colon = text.find(':');
  unsigned long block = 0;
  unsigned long ms = 0;
  if (colon == std::string::npos || !ParseNumber(std::string_view(text).substr(0, colon), block) ||
      !ParseNumber(std::string_view(text).substr(colon + 1), ms)) {
    throw UsageError{"--delay-reply: expected BLOCK:MS, got \"" + text + "\""};
  }
  if (block > kLastBlock) {
    throw UsageError{"--delay-reply: block " + std::to_string(block) + " is not in 0.." +
                     std::to_string(kLastBlock)};
  }
  if (ms > 3'600'000) throw UsageError{"--delay-reply: " + std::to_string(ms) + " ms is over an hour"};
  return {block, Millis(ms)};
}

}  // namespace

ParsedOptions ParseSimOptions(int argc, const char* const argv[], std::ostream& out,
                              std::ostream& err) {
  CLI::App app{
      "Plays the Fennwick MCU on a pseudo-terminal. Prints the terminal's path as the first "
      "line on stdout, then answers the host's queries and IAP blocks on it until a signal "
      "(SIGINT/SIGTERM exit 0). Reply texts take the escapes \\r \\n \\t \\\\ \\xHH.",
      "fennwick-mcu-sim"};

  std::string version, description, iapReply, blockReply;
  bool noDescription = false;
  std::vector<std::size_t> dropReply, hangAfter, hangupAfter;
  std::vector<std::string> delayReply;
  unsigned flashMs = 4;
  SimOptions options;

  app.set_version_flag("--version", std::string("fennwick-mcu-sim ") + FENNWICK_VERSION);
  app.add_option("--version-reply", version,
                 "Version reply line instead of \"$R:01FNW-107 Fennwick simulated MCU\" "
                 "(\\r\\n added unless it ends in \\n)")
      ->type_name("TEXT");
  auto* desc = app.add_option("--description", description,
                              "Description reply line instead of \"$e:Fennwick MCU simulator, "
                              "128 KiB flash at 0x8000\" (\\r\\n added unless it ends in \\n)");
  app.add_flag("--no-description", noDescription, "Answer the description query with \"$#\"")
      ->excludes(desc);
  app.add_flag("--silent", options.mcu.silent, "Answer nothing at all, neither queries nor IAP");
  app.add_option("--iap-reply", iapReply,
                 "Reply to the IAP request instead of \"$wIAP OK\" (\\r\\n added unless it ends "
                 "in \\n; must not start with '#')");
  app.add_flag("--refuse-iap", options.mcu.refuseIap,
               "Answer the IAP request with \"#IAP not supported\" and stay in query mode");
  app.add_option("--block-reply", blockReply,
                 "Reply to each IAP block instead of \".\" (sent as given; the host waits for a "
                 "final '.')")
      ->type_name("TEXT");
  app.add_option("--flash-ms", flashMs, "Emulated flash time per block in ms")
      ->type_name("MS")
      ->capture_default_str()
      ->check(CLI::Range(0u, 60'000u));
  app.add_option("--drop-reply", dropReply, "Send no reply to block N (may repeat)")
      ->type_name("N")
      ->take_all()
      ->expected(1)
      ->check(CLI::Range(std::size_t{0}, kLastBlock));
  app.add_option("--delay-reply", delayReply,
                 "Reply to block N MS milliseconds later than usual (may repeat)")
      ->type_name("N:MS")
      ->take_all()
      ->expected(1);
  app.add_flag("--noise", options.mcu.noise, "Put a few stray bytes before every block reply");
  app.add_option("--hang-after", hangAfter,
                 "After replying to block N, answer nothing more until the process ends")
      ->type_name("N")
      ->take_all()
      ->expected(1)
      ->check(CLI::Range(std::size_t{0}, kLastBlock));
  app.add_option("--hangup-after", hangupAfter,
                 "After replying to block N, close the line, remove --link and exit 0")
      ->type_name("N")
      ->take_all()
      ->expected(1)
      ->check(CLI::Range(std::size_t{0}, kLastBlock));
  app.add_option("--baud", options.baud,
                 "Emulated line speed (8N1, 10 bit times a byte each way); 0: as fast as possible")
      ->type_name("B")
      ->capture_default_str()
      ->check(CLI::Range(0u, 4'000'000u));
  unsigned replyLatencyMs = 0;
  app.add_option("--reply-latency-ms", replyLatencyMs,
                 "Hold every reply this long before the host gets it, as a USB serial adapter's "
                 "latency timer does")
      ->type_name("MS")
      ->capture_default_str()
      ->check(CLI::Range(0u, 60'000u));
  app.add_flag("--verbose", options.verbose,
               "Log every byte received and sent (hex, ms time stamps) and mode changes on stderr");
  app.add_option("--link", options.linkPath,
                 "Make PATH a symbolic link to the terminal (an existing symlink is replaced), "
                 "removed at exit")
      ->type_name("PATH");
  app.add_option("--dump", options.dumpPath,
                 "At each IAP end record, write the 128 KiB flash image to FILE (replaced whole)")
      ->type_name("FILE");
  app.add_flag("--once", options.once, "Exit 0 when the first peer hangs up");
  app.add_option("--stm8", options.stm8Image,
                 "Run FILE (S19 or Intel HEX) on the STM8 instruction-set simulator sstm8 "
                 "(STM8S208) with its UART1 on the terminal, instead of the model; --dump then "
                 "writes its flash when the simulator is stopped")
      ->type_name("FILE");

  app.footer(
      "Blocks are numbered from 0 in order of arrival in each IAP session. The end record gets "
      "no reply: the flash is written to --dump, a summary goes to stderr and the simulator is "
      "back in query mode. A peer hanging up also returns it to query mode. Bad options exit 2.");

  ParsedOptions result;
  try {
    app.parse(argc, argv);
    if (app.count("--version-reply")) {
      options.mcu.versionReply = TerminatedLine(DecodeOption("--version-reply", version));
    }
    if (noDescription) {
      options.mcu.descriptionReply = ToBytes("$#\r\n");
    } else if (app.count("--description")) {
      options.mcu.descriptionReply = TerminatedLine(DecodeOption("--description", description));
    }
    if (app.count("--iap-reply")) {
      options.mcu.iapReply = TerminatedLine(DecodeOption("--iap-reply", iapReply));
      if (options.mcu.iapReply.front() == '#') {
        throw UsageError{"--iap-reply must not start with '#': the host takes that as a refusal "
                         "(use --refuse-iap for that)"};
      }
    }
    if (app.count("--block-reply")) {
      options.mcu.blockReply = DecodeOption("--block-reply", blockReply);
      if (options.mcu.blockReply.empty() || options.mcu.blockReply.back() != '.') {
        err << "fennwick-mcu-sim: warning: --block-reply does not end in '.'; the host will "
               "wait for its reply\n";
      }
    }
    options.mcu.flashTime = Millis(flashMs);
    options.replyLatency = Millis(replyLatencyMs);
    options.mcu.dropReply.insert(dropReply.begin(), dropReply.end());
    options.mcu.hangAfter.insert(hangAfter.begin(), hangAfter.end());
    options.mcu.hangupAfter.insert(hangupAfter.begin(), hangupAfter.end());
    for (const auto& text : delayReply) {
      const auto [block, ms] = ParseDelay(text);
      options.mcu.delayReply[block] += ms;
    }
    if (app.count("--link") && options.linkPath.empty()) throw UsageError{"--link: empty path"};
    if (app.count("--dump") && options.dumpPath.empty()) throw UsageError{"--dump: empty path"};
    if (app.count("--stm8") && options.stm8Image.empty()) throw UsageError{"--stm8: empty path"};
    // The model's replies, faults, timing and peer handling mean nothing to firmware that runs.
    for (const char* name : {"--version-reply", "--description", "--no-description", "--silent",
                             "--iap-reply", "--refuse-iap", "--block-reply", "--flash-ms",
                             "--drop-reply", "--delay-reply", "--noise", "--hang-after",
                             "--hangup-after", "--baud", "--reply-latency-ms", "--once"}) {
      if (app.count("--stm8") && app.count(name)) {
        throw UsageError{std::string(name) + " is the model's and does not apply with --stm8"};
      }
    }
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) {
      app.exit(e, out, err);
      result.exitCode = 0;
    } else {
      err << "fennwick-mcu-sim: " << e.what() << "\nRun with --help for more information.\n";
      result.exitCode = 2;
    }
    return result;
  } catch (const UsageError& e) {
    err << "fennwick-mcu-sim: " << e.message << "\n";
    result.exitCode = 2;
    return result;
  }
  result.options = std::move(options);
  return result;
}

}  // namespace fennwick::sim
