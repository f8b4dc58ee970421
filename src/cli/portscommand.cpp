// `maru ports`: the serial adapters on this machine and whether this user can open them.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <filesystem>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commandline.h"
#include "link/portprobe.h"

namespace {

const char* accessName(meterlink::PortAccess access) {
  switch (access) {
    case meterlink::PortAccess::Ok: return "ok";
    case meterlink::PortAccess::NotFound: return "not-found";
    case meterlink::PortAccess::PermissionDenied: return "permission-denied";
    case meterlink::PortAccess::Busy: return "busy";
    case meterlink::PortAccess::Failed: return "failed";
    case meterlink::PortAccess::Unknown: break;
  }
  return "unknown";
}

QString qs(const std::string& s) { return QString::fromStdString(s); }

void printJson(const std::vector<meterlink::SerialAdapter>& adapters) {
  QJsonArray array;
  for (const meterlink::SerialAdapter& a : adapters) {
    const std::string vidPid = meterlink::vidPidText(a);
    array.append(QJsonObject{
        {"path", qs(a.path)},
        {"by_id_link", qs(a.byIdLink)},
        {"description", qs(a.description)},
        {"manufacturer", qs(a.manufacturer)},
        {"serial_number", qs(a.serialNumber)},
        {"vid_pid", vidPid.empty() ? QJsonValue(QJsonValue::Null) : QJsonValue(qs(vidPid))},
        {"given", a.given},
        {"can_open", a.access == meterlink::PortAccess::Ok},
        {"access", accessName(a.access)},
        {"reason", qs(a.reason)},
    });
  }
  const QByteArray text = QJsonDocument(array).toJson(QJsonDocument::Indented);
  std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
}

void printText(const std::vector<meterlink::SerialAdapter>& adapters) {
  if (adapters.empty()) {
    std::puts("No serial adapters were found.");
    return;
  }
  const auto field = [](const char* name, const std::string& value) {
    std::printf("  %-15s%s\n", name, value.empty() ? "-" : value.c_str());
  };
  for (size_t i = 0; i < adapters.size(); ++i) {
    const meterlink::SerialAdapter& a = adapters[i];
    if (i > 0) std::puts("");
    std::printf("%s%s\n", a.path.c_str(), a.given ? " (given)" : "");
    field("by-id:", a.byIdLink);
    field("description:", a.description);
    field("manufacturer:", a.manufacturer);
    field("serial number:", a.serialNumber);
    field("VID:PID:", meterlink::vidPidText(a));
    const bool ok = a.access == meterlink::PortAccess::Ok;
    field("can open:", ok ? "yes" : a.access == meterlink::PortAccess::Unknown ? "unknown" : "no");
    // The reason, one sentence a line, beneath.
    size_t from = 0;
    while (from < a.reason.size()) {
      size_t end = a.reason.find('\n', from);
      if (end == std::string::npos) end = a.reason.size();
      std::printf("  %-15s%s\n", "", a.reason.substr(from, end - from).c_str());
      from = end + 1;
    }
  }
}

}  // namespace

int portsMain(int argc, char** argv) {
  CLI::App app{
      "Lists the serial adapters on this machine: device path, /dev/serial/by-id link,\n"
      "description, manufacturer, serial number, USB VID:PID, and whether this user can open\n"
      "it read/write (if not, why: a group to join, a process or lock file holding it, a\n"
      "program that grabs serial adapters). Each port is tried with a short non-blocking\n"
      "open that is closed at once.",
      "maru ports"};
  cli::setUpHelp(app);
  bool json = false;
  std::vector<std::string> given;
  app.add_option("--port", given, "list this device too (e.g. a pseudo-terminal); may be repeated")
      ->type_name("PATH")
      ->allow_extra_args(false)
      ->check([](const std::string& path) { return path.empty() ? std::string("needs a device path") : std::string(); });
  app.add_flag("--json", json,
               "a JSON array of objects with the fields path, by_id_link,\n"
               "description, manufacturer, serial_number, vid_pid (null without\n"
               "one), given, can_open, access (ok, not-found, permission-denied,\n"
               "busy, failed, unknown), reason")
      ->disable_flag_override();
  app.footer("Exit status: 0 listed (also when there are none); 1 a --port PATH that does not\n"
             "exist (the rest is listed); 2 bad arguments.");
  if (const auto status = cli::parseCommandLine(app, argc, argv)) return *status;

  const std::vector<meterlink::SerialAdapter> adapters = meterlink::listSerialAdapters(given);
  if (json)
    printJson(adapters);
  else
    printText(adapters);
  std::fflush(stdout);
  // A device asked for by name that is not there is an error a script must see.
  int status = 0;
  for (const std::string& path : given) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
      std::fprintf(stderr, "maru ports: %s does not exist\n", path.c_str());
      status = 1;
    }
  }
  return status;
}
