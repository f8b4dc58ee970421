// maru: headless commands over the same core as the program. The dispatcher reads only
// what comes before the command; each command reads its own arguments.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commandline.h"
#include "version.h"

int simMain(int argc, char** argv);
int convertMain(int argc, char** argv);
int portsMain(int argc, char** argv);
int logMain(int argc, char** argv);

namespace {

struct Command {
  const char* name;
  const char* summary;
  int (*run)(int argc, char** argv);  // argv[0] is the command's name
};

const Command kCommands[] = {
    {"sim", "play a virtual meter on a new pseudo-terminal (prints its path first)", simMain},
    {"convert", "turn a raw recording into an engineering-units file with a device file", convertMain},
    {"ports", "list the serial adapters and whether this user can open them", portsMain},
    {"log", "log a meter unattended into daily files, with MQTT and UDP feeds", logMain},
};

// "Usage: maru [OPTIONS] COMMAND [ARGS]...": the command and its arguments are not
// options of the dispatcher, so CLI11's own usage line would not show them.
class DispatchFormatter : public cli::HelpFormatter {
 public:
  std::string make_usage(const CLI::App*, std::string name) const override {
    return get_label("Usage") + ": " + name + " [OPTIONS] COMMAND [ARGS]...\n";
  }
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Runs the headless parts of MARU View: a virtual meter, conversion of raw\n"
               "recordings, the list of serial adapters, and unattended logging.",
               "maru"};
  cli::setUpHelp(app, std::make_shared<DispatchFormatter>());
  app.set_version_flag("--version", std::string("maru ") + MARU_VERSION_STRING, "print the version and exit");
  std::string command;
  app.add_option("command", command)->group("");  // shown by the usage line and the footer
  std::string footer = "Commands:\n";
  for (const Command& c : kCommands) {
    footer += "  ";
    footer += c.name;
    footer.append(std::max<size_t>(2, 10 - std::strlen(c.name)), ' ');
    footer += c.summary;
    footer += '\n';
  }
  footer += "\n'maru COMMAND --help' (or 'maru help COMMAND') tells more about each.\n"
            "Exit status: 2 for bad arguments; otherwise as the command says.";
  app.footer(footer);

  // The dispatcher's part ends at the first argument that is not an option.
  int end = 1;
  while (end < argc && argv[end][0] == '-') ++end;
  const int commandAt = end;
  if (end < argc) ++end;
  if (const auto status = cli::parseCommandLine(app, end, argv)) return *status;
  if (command == "help") {
    // "maru help COMMAND" is "maru COMMAND --help".
    if (commandAt + 1 < argc) {
      const std::string topic = argv[commandAt + 1];
      for (const Command& c : kCommands)
        if (topic == c.name) {
          char help[] = "--help";
          char* args[] = {argv[commandAt + 1], help, nullptr};
          return c.run(2, args);
        }
      std::fputs(cli::badArgumentText("maru", "no command '" + topic + "' to tell of").c_str(), stderr);
      return 2;
    }
    std::fputs(app.help().c_str(), stdout);
    return 0;
  }
  for (const Command& c : kCommands)
    if (command == c.name) return c.run(argc - commandAt, argv + commandAt);
  std::fputs(cli::badArgumentText("maru", command.empty() ? "a command is needed" : "unknown command '" + command + "'")
                 .c_str(),
             stderr);
  return 2;
}
