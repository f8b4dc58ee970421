#pragma once
// How every `maru` command reads its command line with CLI11: the same help, version and
// error handling, and exit status 2 for bad arguments.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "acquire/feeds.h"
#include "acquire/journal.h"
#include "measure/boundedfile.h"
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
/// stdout, 2 after printing the error and a hint to --help to stderr (as errors, when
/// `journal`: stderr is the systemd journal). std::nullopt: go on.
inline std::optional<int> parseCommandLine(CLI::App& app, int argc, char** argv, bool journal = false) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    return 0;
  } catch (const CLI::CallForVersion& e) {
    std::printf("%s\n", e.what());
    return 0;
  } catch (const CLI::ParseError& e) {
    std::fputs(acquire::withPriority(journal, acquire::Priority::Error, badArgumentText(app.get_name(), e.what())).c_str(),
               stderr);
    return 2;
  }
  return std::nullopt;
}

/// `text` in quotes for a refusal; a long one only by its start (a refusal is one line).
inline std::string quotedStart(const std::string& text) {
  constexpr size_t kShown = 60;
  return "'" + (text.size() <= kShown ? text : text.substr(0, kShown) + "...") + "'";
}

/// The most bytes a name on the command line may have (a topic level, a login, a host).
constexpr size_t kMaxNameBytes = 256;

/// At most kMaxNameBytes bytes.
inline CLI::Validator nameLengthValidator() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        return text.size() <= kMaxNameBytes ? std::string()
                                            : quotedStart(text) + " is longer than " + std::to_string(kMaxNameBytes) +
                                                  " bytes (" + std::to_string(text.size()) + ")";
      },
      "");
}

/// HOST:PORT of a broker or a receiver; `defaultPort` 0: the port must be given. `shape`
/// names the form in the message ("'x:0' is not HOST:PORT").
inline CLI::Validator hostPortValidator(int defaultPort, const std::string& shape) {
  return CLI::Validator(
      [defaultPort, shape](std::string& text) -> std::string {
        std::string host;
        int port = 0;
        return acquire::splitHostPort(text, host, port, defaultPort) ? std::string() : quotedStart(text) + " is not " + shape;
      },
      "");
}

/// An MQTT topic prefix: one or more levels, none empty, no wildcard.
inline CLI::Validator topicPrefixValidator() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        if (text.empty() || text.find_first_of("+#") != std::string::npos || text.front() == '/' ||
            text.back() == '/' || text.find("//") != std::string::npos)
          return quotedStart(text) + " is not a topic prefix (no '+', '#' or empty level)";
        return {};
      },
      "");
}

/// Not empty.
inline CLI::Validator nonEmptyValidator() {
  return CLI::Validator([](std::string& text) -> std::string { return text.empty() ? "must not be empty" : ""; }, "");
}

/// A file this user can read, e.g. "cannot read '/etc/ca.pem': Permission denied".
inline CLI::Validator readableFileValidator() {
  return CLI::Validator(
      [](std::string& path) -> std::string {
        std::FILE* file = std::fopen(path.c_str(), "rb");
        if (!file) return "cannot read '" + path + "': " + std::strerror(errno);
        const bool read = std::fgetc(file) != EOF || !std::ferror(file);
        const int why = errno;
        std::fclose(file);
        return read ? std::string() : "cannot read '" + path + "': " + std::strerror(why);
      },
      "");
}

/// The MQTT queue's options `maru log` and `maruview` share: where each data message waits
/// for the broker's acknowledgement (`defaultDir` in the help when not given), and its limits.
struct FeedQueueOptions {
  double megabytes = 200, days = 7;
  /// Sets the limits (and `defaultDir` when no folder was given) in `mqtt`.
  void apply(acquire::MqttOptions& mqtt, const std::string& defaultDir) const {
    if (mqtt.queueDir.empty()) mqtt.queueDir = defaultDir;
    mqtt.queueLimits.maxBytes = static_cast<std::uint64_t>(megabytes * 1e6);
    mqtt.queueLimits.maxAgeSeconds = static_cast<std::int64_t>(days * 86400);
  }
};
inline void addFeedQueueOptions(CLI::App& app, acquire::MqttOptions& mqtt, FeedQueueOptions& queue,
                                const std::string& defaultDir) {
  app.add_option("--mqtt-queue", mqtt.queueDir,
                 "keep each MQTT data message in DIR until the broker acknowledged it, through\n"
                 "outages and restarts (default: " + defaultDir + ")")
      ->type_name("DIR");
  app.add_option("--mqtt-queue-size", queue.megabytes,
                 "at most this many MB kept; past it the oldest messages are dropped (default: 200)")
      ->check(unlisted(CLI::Range(1.0, 1e6)))
      ->type_name("MB");
  app.add_option("--mqtt-queue-days", queue.days, "messages older than this are dropped from the queue (default: 7)")
      ->check(unlisted(CLI::Range(0.001, 3650.0)))
      ->type_name("DAYS");
}

/// The live-feed options `maru log` and `maruview` share: the MQTT broker with its topics,
/// login and TLS, and UDP. Which option needs which is checked in the app's final
/// callback (so the help stays free of "Needs:" lists), which this takes.
inline void addFeedOptions(CLI::App& app, acquire::MqttOptions& mqtt, std::string& udp) {
  CLI::Option* broker = app.add_option("--mqtt", mqtt.broker,
                                       "publish every data line to this MQTT broker (port 8883 with\n"
                                       "--mqtt-cafile, else 1883, when not given)")
                            ->check(nameLengthValidator())
                            ->check(hostPortValidator(1883, "HOST[:PORT]"))
                            ->type_name("HOST[:PORT]");
  CLI::Option* topic = app.add_option("--topic", mqtt.prefix,
                                      "the first topic level(s) (default: maru); the topics are\n"
                                      "PREFIX/PLATFORM/METER/{state,status,metadata,data}")
                           ->check(nameLengthValidator())
                           ->check(topicPrefixValidator())
                           ->type_name("PREFIX");
  CLI::Option* platform =
      app.add_option("--platform", mqtt.platform, "where the meter is: the second topic level (default: the\nhost name)")
          ->check(nonEmptyValidator())
          ->check(nameLengthValidator())
          ->type_name("NAME");
  CLI::Option* meterId = app.add_option("--meter-id", mqtt.meterId,
                                        "the third topic level (default: the serial number after \"S/N\"\n"
                                        "in the device file's title; a title without one is used\n"
                                        "whole, made topic-safe)")
                             ->check(nonEmptyValidator())
                             ->check(nameLengthValidator())
                             ->type_name("ID");
  CLI::Option* user =
      app.add_option("--mqtt-user", mqtt.user, "log in to the broker as NAME")
          ->check(nonEmptyValidator())
          ->check(nameLengthValidator())
          ->type_name("NAME");
  CLI::Option* password = app.add_option("--mqtt-password-file", mqtt.passwordFile,
                                         "the password for --mqtt-user: the first line of FILE (1 MiB\n"
                                         "at most), read at each connection (only the feed waits while\n"
                                         "it cannot be read)")
                              ->type_name("FILE");
  CLI::Option* ca = app.add_option("--mqtt-cafile", mqtt.cafile,
                                   "use TLS and accept only a broker whose certificate this CA\n"
                                   "(PEM) signed for the broker's name")
                        ->check(readableFileValidator())
                        ->type_name("FILE");
  CLI::Option* cert = app.add_option("--mqtt-cert", mqtt.cert,
                                     "a client certificate (PEM) for the broker, with --mqtt-cafile\n"
                                     "and --mqtt-key")
                          ->check(readableFileValidator())
                          ->type_name("FILE");
  CLI::Option* key = app.add_option("--mqtt-key", mqtt.key, "the client certificate's key (PEM, not encrypted)")
                         ->check(readableFileValidator())
                         ->type_name("FILE");
  app.add_option("--udp", udp, "send one datagram per data line to HOST:PORT")
      ->check(nameLengthValidator())
      ->check(hostPortValidator(0, "HOST:PORT"))
      ->type_name("HOST:PORT");
  app.final_callback([=] {
    const auto needs = [](const CLI::Option* option, const CLI::Option* needed) {
      if (option->count() > 0 && needed->count() == 0) throw CLI::RequiresError(option->get_name(), needed->get_name());
    };
    for (const CLI::Option* option : {topic, platform, meterId, user, ca}) needs(option, broker);
    needs(password, user);
    needs(cert, ca);
    needs(cert, key);
    needs(key, cert);
  });
}

}  // namespace cli
