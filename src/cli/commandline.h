#pragma once
// How every `maru` command reads its command line with CLI11: the same help, version and
// error handling, and exit status 2 for bad arguments.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "acquire/feeds.h"
#include "sim/helpformatter.h"

namespace cli {

using sim::badArgumentText;
using sim::HelpFormatter;
using sim::unlisted;

/// The shared help layout and "-h,--help".
inline void setUpHelp(CLI::App& app, std::shared_ptr<CLI::Formatter> formatter = std::make_shared<HelpFormatter>()) {
  app.formatter(std::move(formatter));
  app.set_help_flag("-h,--help", "print this help and exit");
}

/// Parses argv[1..argc) (argv[0] is the command's name) into `app`. Returns the exit
/// status when the command is done already: 0 after printing --help or --version to
/// stdout, 2 after printing the error and a hint to --help to stderr. std::nullopt: go on.
inline std::optional<int> parseCommandLine(CLI::App& app, int argc, char** argv) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    return 0;
  } catch (const CLI::CallForVersion& e) {
    std::printf("%s\n", e.what());
    return 0;
  } catch (const CLI::ParseError& e) {
    std::fputs(badArgumentText(app.get_name(), e.what()).c_str(), stderr);
    return 2;
  }
  return std::nullopt;
}

/// HOST:PORT of a broker or a receiver; `defaultPort` 0: the port must be given. `shape`
/// names the form in the message ("'x:0' is not HOST:PORT").
inline CLI::Validator hostPortValidator(int defaultPort, const std::string& shape) {
  return CLI::Validator(
      [defaultPort, shape](std::string& text) -> std::string {
        std::string host;
        int port = 0;
        return acquire::splitHostPort(text, host, port, defaultPort) ? std::string() : "'" + text + "' is not " + shape;
      },
      "");
}

/// An MQTT topic prefix: not empty, no wildcard, no '/' at its end.
inline CLI::Validator topicPrefixValidator() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (text.empty() || text.find_first_of("+#") != std::string::npos || text.back() == '/')
          return "'" + text + "' is not a topic prefix (no '+', '#' or trailing '/')";
        return {};
      },
      "");
}

/// The live-feed options `maru log` and `maruview` share: --mqtt, --topic and --udp.
inline void addFeedOptions(CLI::App& app, std::string& mqtt, std::string& topic, std::string& udp) {
  app.add_option("--mqtt", mqtt, "publish every data line to this MQTT broker (port 1883 when not given)")
      ->check(hostPortValidator(1883, "HOST[:PORT]"))
      ->type_name("HOST[:PORT]");
  app.add_option("--topic", topic, "MQTT topic prefix (default: maru/<device-file title made topic-safe>)")
      ->check(topicPrefixValidator())
      ->type_name("PREFIX");
  app.add_option("--udp", udp, "send one datagram per data line to HOST:PORT")
      ->check(hostPortValidator(0, "HOST:PORT"))
      ->type_name("HOST:PORT");
}

}  // namespace cli
