// maru: headless commands over the same core as the program.
#include <cstdio>
#include <cstring>
#include <string>

#include "version.h"

int simMain(int argc, char** argv);
int convertMain(int argc, char** argv);
int portsMain(int argc, char** argv);
int logMain(int argc, char** argv);

static void usage(std::FILE* out) {
  std::fputs(
      "usage: maru <command> [options]\n"
      "\n"
      "commands:\n"
      "  sim       play a virtual meter on a new pseudo-terminal (prints its path first)\n"
      "  convert   turn a raw recording into an engineering-units file with a device file\n"
      "  ports     list the serial adapters and whether this user can open them\n"
      "  log       log a meter unattended into daily files, with MQTT and UDP feeds\n"
      "\n"
      "'maru <command> --help' tells more about each; 'maru --version' prints the version.\n",
      out);
}

int main(int argc, char** argv) {
  if (argc < 2) {
    usage(stderr);
    return 2;
  }
  const std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    usage(stdout);
    return 0;
  }
  if (command == "--version") {
    std::printf("maru %s\n", MARU_VERSION_STRING);
    return 0;
  }
  if (command == "sim") return simMain(argc - 1, argv + 1);
  if (command == "convert") return convertMain(argc - 1, argv + 1);
  if (command == "ports") return portsMain(argc - 1, argv + 1);
  if (command == "log") return logMain(argc - 1, argv + 1);
  std::fprintf(stderr, "maru: unknown command '%s'\n", command.c_str());
  usage(stderr);
  return 2;
}
