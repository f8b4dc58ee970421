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

}  // namespace sim
