// `maru ports` on this machine: the system's own list, pseudo-terminals given with
// --port (free, held by this process, refused to another user), and bad arguments.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSerialPortInfo>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "link/serialport.h"
#include "support/ptypeer.h"

namespace {

struct ToolRun {
  int status = -1;
  std::string out, err;
};

ToolRun runPorts(const QStringList& args) {
  QProcess p;
  p.start(QString(MARU_TOOL), QStringList{"ports"} + args);
  ToolRun r;
  if (!p.waitForFinished(30000)) return r;
  r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = p.readAllStandardOutput().toStdString();
  r.err = p.readAllStandardError().toStdString();
  return r;
}

QJsonArray parseList(const std::string& out) {
  QJsonParseError error{};
  const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(out), &error);
  EXPECT_EQ(error.error, QJsonParseError::NoError) << out;
  EXPECT_TRUE(doc.isArray()) << out;
  return doc.array();
}

QJsonObject entryFor(const QJsonArray& list, const std::string& path) {
  for (const QJsonValue& v : list)
    if (v.toObject().value("path").toString().toStdString() == path) return v.toObject();
  return {};
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(MaruPorts, ListsWhatTheSystemListsExceptTheKernelConsole) {
  std::set<std::string> expected;
  for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
    const std::string console =
        testsupport::readFile("/sys/class/tty/" + info.portName().toStdString() + "/console");
    if (console.rfind("Y", 0) != 0) expected.insert(info.systemLocation().toStdString());
  }
  const ToolRun json = runPorts({"--json"});
  ASSERT_EQ(json.status, 0) << json.err;
  std::set<std::string> listed;
  for (const QJsonValue& v : parseList(json.out)) {
    listed.insert(v.toObject().value("path").toString().toStdString());
    EXPECT_FALSE(v.toObject().value("given").toBool());
  }
  EXPECT_EQ(listed, expected);

  const ToolRun text = runPorts({});
  ASSERT_EQ(text.status, 0) << text.err;
  if (expected.empty())
    EXPECT_EQ(text.out, "No serial adapters were found.\n");
  else
    for (const std::string& path : expected) EXPECT_TRUE(contains(text.out, path + "\n")) << text.out;
}

TEST(MaruPorts, AGivenPseudoTerminalIsListedAsOpenable) {
  testsupport::PtyPeer peer;
  const QString pty = QString::fromStdString(peer.slavePath());
  const ToolRun text = runPorts({"--port", pty});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_TRUE(contains(text.out, peer.slavePath() + " (given)\n")) << text.out;
  const size_t at = text.out.find(peer.slavePath() + " (given)\n");
  EXPECT_TRUE(contains(text.out.substr(at), "  can open:      yes\n")) << text.out;
  EXPECT_FALSE(contains(text.out, "No serial adapters")) << text.out;

  const ToolRun json = runPorts({"--json", "--port=" + pty});
  ASSERT_EQ(json.status, 0) << json.err;
  const QJsonObject entry = entryFor(parseList(json.out), peer.slavePath());
  ASSERT_FALSE(entry.isEmpty()) << json.out;
  for (const char* key : {"path", "by_id_link", "description", "manufacturer", "serial_number", "vid_pid", "given",
                          "can_open", "access", "reason"})
    EXPECT_TRUE(entry.contains(key)) << key;
  EXPECT_TRUE(entry.value("can_open").toBool());
  EXPECT_TRUE(entry.value("given").toBool());
  EXPECT_EQ(entry.value("access").toString(), "ok");
  EXPECT_EQ(entry.value("reason").toString(), "");
  EXPECT_TRUE(entry.value("vid_pid").isNull());
}

TEST(MaruPorts, APortThisProcessHoldsIsBusyWithItsLockFile) {
  testsupport::PtyPeer peer;
  meterlink::SerialPort port;
  ASSERT_EQ(port.open(peer.slavePath(), 19200), meterlink::SerialPort::OpenResult::Ok);
  const ToolRun json = runPorts({"--json", "--port", QString::fromStdString(peer.slavePath())});
  ASSERT_EQ(json.status, 0) << json.err;
  const QJsonObject entry = entryFor(parseList(json.out), peer.slavePath());
  EXPECT_FALSE(entry.value("can_open").toBool());
  EXPECT_EQ(entry.value("access").toString(), "busy");
  const std::string reason = entry.value("reason").toString().toStdString();
  // (maru itself may show up too, through descriptors it inherited from this process.)
  EXPECT_TRUE(contains(reason, peer.slavePath() + " is in use by process")) << reason;
  EXPECT_TRUE(contains(reason, " " + std::to_string(::getpid()) + " (")) << reason;
  EXPECT_TRUE(contains(reason, "Lock file ")) << reason;
}

TEST(MaruPorts, AMissingDeviceSaysItIsNotPluggedInAndFails) {
  const std::string path = "/dev/ttyUSB-maru-test-absent";
  const ToolRun text = runPorts({"--port", QString::fromStdString(path)});
  EXPECT_EQ(text.status, 1) << "a script must see that the port is not there";
  EXPECT_EQ(text.err, "maru ports: " + path + " does not exist\n");
  EXPECT_TRUE(contains(text.out, "  can open:      no\n")) << text.out;
  EXPECT_TRUE(contains(text.out, "                 " + path + " does not exist: the adapter is not plugged in"))
      << text.out;
}

TEST(MaruPorts, BadArgumentsExitTwo) {
  for (const QStringList& args : {QStringList{"--bogus"}, QStringList{"--port"}, QStringList{"--port="},
                                  QStringList{"--json", "extra"}}) {
    const ToolRun r = runPorts(args);
    EXPECT_EQ(r.status, 2) << args.join(' ').toStdString();
    EXPECT_TRUE(contains(r.err, "maru ports: ")) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

// ---- another user: the permission check for real ----

// Runs `maru ports ARGS` as `uid`/`gid` with no supplementary groups; needs root.
ToolRun runPortsAs(uid_t uid, gid_t gid, const std::vector<std::string>& args) {
  std::vector<std::string> all{MARU_TOOL, "ports"};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  int out[2];
  ToolRun r;
  if (::pipe(out) != 0) return r;
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(out[1], 1);
    ::close(out[0]);
    ::close(out[1]);
    if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(126);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  char buffer[4096];
  for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) r.out.append(buffer, static_cast<size_t>(n));
  ::close(out[0]);
  int status = 0;
  if (child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status)) r.status = WEXITSTATUS(status);
  return r;
}

struct ForeignCase {
  const char* name;
  const char* group;  // the device's group
  mode_t mode;
  const char* says;
};

void PrintTo(const ForeignCase& c, std::ostream* os) { *os << c.name; }

class MaruPortsAsAnotherUser : public ::testing::TestWithParam<ForeignCase> {};

TEST_P(MaruPortsAsAnotherUser, NamesWhatStandsInTheWay) {
  const ForeignCase& c = GetParam();
  if (::geteuid() != 0) GTEST_SKIP() << "handing a device to another user needs root; this run is not root";
  const passwd* nobody = ::getpwnam("nobody");
  const group* owner = ::getgrnam(c.group);
  if (!nobody || !owner) GTEST_SKIP() << "no user 'nobody' or no group '" << c.group << "' here";
  const uid_t uid = nobody->pw_uid;
  const gid_t gid = nobody->pw_gid;
  const gid_t deviceGroup = owner->gr_gid;

  testsupport::PtyPeer peer;
  ASSERT_EQ(::chown(peer.slavePath().c_str(), 0, deviceGroup), 0);
  ASSERT_EQ(::chmod(peer.slavePath().c_str(), c.mode), 0);
  const ToolRun r = runPortsAs(uid, gid, {"--json", "--port", peer.slavePath()});
  ASSERT_EQ(r.status, 0) << "maru did not run as nobody (126: no identity change, 127: no exec)\n" << r.out;
  const QJsonObject entry = entryFor(parseList(r.out), peer.slavePath());
  EXPECT_FALSE(entry.value("can_open").toBool()) << r.out;
  EXPECT_EQ(entry.value("access").toString(), "permission-denied") << r.out;
  const std::string reason = entry.value("reason").toString().toStdString();
  EXPECT_TRUE(contains(reason, "No permission to use " + peer.slavePath() + ": " + c.says)) << reason;
}

INSTANTIATE_TEST_SUITE_P(
    Devices, MaruPortsAsAnotherUser,
    ::testing::Values(ForeignCase{"OwnerOnly", "root", 0600, "only its owner 'root' may use it (crw-------"},
                      ForeignCase{"GroupToJoin", "dialout", 0660,
                                  "it belongs to group 'dialout'. Add your user to that group (sudo usermod -aG "
                                  "dialout $USER) and log in again."}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
