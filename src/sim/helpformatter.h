#pragma once
// The help layout every command line of the program uses (CLI11): the usage line first
// (help2man makes it the manual's SYNOPSIS), then what the command does, the options by
// group, and the footer. It lives here, the lowest folder with a command line of its own.
#include <CLI/CLI.hpp>
#include <string>

namespace sim {

class HelpFormatter : public CLI::Formatter {
 public:
  std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override {
    std::string text = make_usage(app, name) + "\n" + make_description(app) + make_groups(app, mode);
    // One blank line between parts, one newline at the end.
    if (!app->get_footer().empty()) text += "\n" + make_footer(app);
    for (size_t at = 0; (at = text.find("\n\n\n")) != std::string::npos;) text.erase(at, 1);
    while (text.size() >= 2 && text.ends_with("\n\n")) text.pop_back();
    return text;
  }
};

/// What a command prints on stderr for a bad argument: one line saying what is wrong, and
/// where to read more ("maru log: --baud: 1200 not in {9600,19200,38400,57600}\nRun 'maru
/// log --help' for the options.\n"). The whole help would bury the one line that matters.
inline std::string badArgumentText(const std::string& command, const std::string& what) {
  std::string line = what;
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  return command + ": " + line + "\nRun '" + command + " --help' for the options.\n";
}

/// A check whose description stays out of the help: the option's type name (HOST[:PORT],
/// SECONDS) says what it takes, and the option's text says the rest.
inline CLI::Validator unlisted(CLI::Validator check) {
  check.description("");
  return check;
}

}  // namespace sim
