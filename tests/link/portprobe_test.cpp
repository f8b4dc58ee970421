// Port diagnosis over a small fake system tree (proc/, dev/, sys/, lock folders under a
// temp root), then over this machine's real pseudo-terminals and lock files.
#include "link/portprobe.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "link/serialport.h"
#include "support/ptypeer.h"

namespace {

namespace fs = std::filesystem;
using meterlink::PortAccess;

// A system tree under a temp folder, and the identity answers a test chooses.
class FakeSystem {
 public:
  const std::string& root() const { return m_dir.path(); }

  void device(const std::string& path, mode_t mode) {
    testsupport::writeFile(parent(path), "");
    ::chmod((root() + path).c_str(), mode);
  }
  void process(long pid, const std::string& comm, const std::vector<std::string>& openPaths = {}) {
    const std::string dir = "/proc/" + std::to_string(pid);
    testsupport::writeFile(parent(dir + "/comm"), comm + "\n");
    fs::create_directories(root() + dir + "/fd");
    int fd = 3;
    for (const std::string& path : openPaths) fs::create_symlink(path, root() + dir + "/fd/" + std::to_string(fd++));
  }
  void file(const std::string& path, const std::string& bytes) { testsupport::writeFile(parent(path), bytes); }
  void byId(const std::string& name, const std::string& device) {
    fs::create_directories(root() + "/dev/serial/by-id");
    fs::create_symlink("../.." + device.substr(4), root() + "/dev/serial/by-id/" + name);  // as udev makes them
  }
  void link(const std::string& path, const std::string& target) {
    fs::create_directories(fs::path(root() + path).parent_path());
    fs::create_symlink(target, root() + path);
  }

  /// The device's group (whatever gid the test's files get) is "dialout", its owner "root".
  meterlink::ProbeHost host(int openErrno, bool listedInGroup, bool processInGroup) const {
    meterlink::ProbeHost h;
    h.root = root();
    h.tryOpen = [openErrno](const std::string&) { return openErrno; };
    h.groupName = [](unsigned) { return std::string("dialout"); };
    h.userName = [](unsigned) { return std::string("root"); };
    h.userListedInGroup = [listedInGroup](unsigned) { return listedInGroup; };
    h.processInGroup = [processInGroup](unsigned) { return processInGroup; };
    h.systemPorts = [] { return std::vector<meterlink::SerialAdapter>{}; };
    return h;
  }

 private:
  std::string parent(const std::string& path) {
    fs::create_directories(fs::path(root() + path).parent_path());
    return root() + path;
  }
  testsupport::TempDir m_dir;
};

struct ExplainCase {
  const char* name;
  std::function<void(FakeSystem&)> build;
  std::string path;
  int openErrno;
  bool listedInGroup, processInGroup;
  PortAccess reported;
  PortAccess expected;
  std::vector<std::string> says;
  std::vector<std::string> never;
};

void PrintTo(const ExplainCase& c, std::ostream* os) { *os << c.name; }

const std::string kUsb0 = "/dev/ttyUSB0";

class ExplainOpenFailure : public ::testing::TestWithParam<ExplainCase> {};

TEST_P(ExplainOpenFailure, NamesTheCause) {
  const ExplainCase& c = GetParam();
  FakeSystem system;
  c.build(system);
  const meterlink::ProbeHost host = system.host(c.openErrno, c.listedInGroup, c.processInGroup);
  const meterlink::PortDiagnosis d = meterlink::diagnosePort(c.path, host);
  EXPECT_EQ(d.access, c.expected);
  const std::string text = meterlink::explainOpenFailure(c.path, c.reported, host);
  for (const std::string& s : c.says) EXPECT_NE(text.find(s), std::string::npos) << "missing: " << s << "\n" << text;
  for (const std::string& s : c.never) EXPECT_EQ(text.find(s), std::string::npos) << "unwanted: " << s << "\n" << text;
}

const ExplainCase kExplainCases[] = {
    {"NotPluggedInNamesThePresentAdapters",
     [](FakeSystem& s) {
       s.device("/dev/ttyUSB1", 0660);
       s.byId("usb-FTDI_FT232R_USB_UART_A10K-if00-port0", "/dev/ttyUSB1");
     },
     kUsb0, ENOENT, false, false, PortAccess::NotFound, PortAccess::NotFound,
     {"/dev/ttyUSB0 does not exist: the adapter is not plugged in, or it has another name now.",
      "Serial adapters present now: /dev/ttyUSB1."},
     {"permission", "Lock"}},
    {"ByIdLinkOfAnUnpluggedAdapterDangles",
     [](FakeSystem& s) { s.link("/dev/serial/by-id/usb-X-if00", "../../ttyUSB0"); },
     "/dev/serial/by-id/usb-X-if00", ENOENT, false, false, PortAccess::NotFound, PortAccess::NotFound,
     {"/dev/serial/by-id/usb-X-if00 does not exist"}, {"present now"}},
    {"NodeWithoutDevice",
     [](FakeSystem& s) { s.device("/dev/ttyS3", 0660); },
     "/dev/ttyS3", ENXIO, false, false, PortAccess::Failed, PortAccess::NotFound,
     {"/dev/ttyS3 exists, but no device answers behind it"}, {}},
    {"PermissionNamesTheGroupToJoin",
     [](FakeSystem& s) { s.device(kUsb0, 0660); },
     kUsb0, EACCES, false, false, PortAccess::PermissionDenied, PortAccess::PermissionDenied,
     {"No permission to use /dev/ttyUSB0: it belongs to group 'dialout'. Add your user to that group "
      "(sudo usermod -aG dialout $USER) and log in again."},
     {"log out"}},
    {"PermissionAfterJoiningNeedsANewLogin",
     [](FakeSystem& s) { s.device(kUsb0, 0660); },
     kUsb0, EACCES, true, false, PortAccess::PermissionDenied, PortAccess::PermissionDenied,
     {"it belongs to group 'dialout'", "in that group, but this login started before it was added", "log out and in"},
     {"usermod"}},
    {"PermissionOwnerOnly",
     [](FakeSystem& s) { s.device(kUsb0, 0600); },
     kUsb0, EACCES, false, false, PortAccess::PermissionDenied, PortAccess::PermissionDenied,
     {"only its owner 'root' may use it (-rw-------, group 'dialout')"}, {"usermod"}},
    {"PermissionInTheGroupAlready",
     [](FakeSystem& s) { s.device(kUsb0, 0660); },
     kUsb0, EPERM, true, true, PortAccess::PermissionDenied, PortAccess::PermissionDenied,
     {"although this program runs in its group 'dialout'"}, {"usermod", "log out"}},
    {"PermissionIgnoresGrabbers",
     [](FakeSystem& s) {
       s.device(kUsb0, 0660);
       s.process(700, "ModemManager");
     },
     kUsb0, EACCES, false, false, PortAccess::PermissionDenied, PortAccess::PermissionDenied,
     {"usermod"}, {"ModemManager"}},
    {"BusyNamesTheHolders",
     [](FakeSystem& s) {
       s.device(kUsb0, 0660);
       s.process(1, "init");
       s.process(4242, "minicom", {"/dev/null", kUsb0});
       s.process(4300, "screen", {kUsb0});
       s.process(4400, "bash", {"/dev/ttyUSB1"});
     },
     kUsb0, EBUSY, false, true, PortAccess::PermissionDenied, PortAccess::Busy,
     {"/dev/ttyUSB0 is in use by processes 4242 (minicom), 4300 (screen)."}, {"bash", "init", "permission"}},
    {"BusyThroughTheByIdName",
     [](FakeSystem& s) {
       s.device(kUsb0, 0660);
       s.byId("usb-FTDI_A10K-if00-port0", kUsb0);
       s.process(4242, "minicom", {kUsb0});
     },
     "/dev/serial/by-id/usb-FTDI_A10K-if00-port0", EBUSY, false, true, PortAccess::Failed, PortAccess::Busy,
     {"is in use by process 4242 (minicom)."}, {}},
    {"BusyHolderHidden",
     [](FakeSystem& s) { s.device(kUsb0, 0660); },
     kUsb0, EBUSY, false, true, PortAccess::PermissionDenied, PortAccess::Busy,
     {"/dev/ttyUSB0 is in use by another program; which one cannot be seen from this user."}, {"Lock"}},
    {"LiveLockFileMakesItBusy",
     [](FakeSystem& s) {
       s.device(kUsb0, 0660);
       s.process(4242, "minicom");  // its fd folder is not readable to us: only the lock tells
       s.file("/var/lock/LCK..ttyUSB0", "      4242\n");
     },
     kUsb0, 0, false, true, PortAccess::Failed, PortAccess::Busy,
     {"/dev/ttyUSB0 is in use by process 4242 (minicom).", "Lock file /var/lock/LCK..ttyUSB0 names process 4242."},
     {"stale"}},
    {"LockFileOfAPseudoTerminalInLockFileFormat",
     [](FakeSystem& s) {
       s.device("/dev/pts/3", 0620);
       s.process(4242, "maruview", {"/dev/pts/3"});
       s.file("/run/lock/LCK..pts_3", "4242\nmaruview\nhost\n");
     },
     "/dev/pts/3", 0, false, true, PortAccess::Failed, PortAccess::Busy,
     {"/dev/pts/3 is in use by process 4242 (maruview).", "Lock file /run/lock/LCK..pts_3 names process 4242."}, {}},
    {"StaleLockIsNamedAndTheRetryAdvised",
     [](FakeSystem& s) {
       s.device(kUsb0, 0660);
       s.process(1, "init");
       s.file("/var/lock/LCK..ttyUSB0", "      9999\n");
     },
     kUsb0, 0, false, true, PortAccess::Failed, PortAccess::Ok,
     {"/dev/ttyUSB0 opens now", "Lock file /var/lock/LCK..ttyUSB0 names process 9999, which has ended: the lock "
                                "is stale and may be removed."},
     {"in use"}},
    {"BrlttyTookTheAdapter",
     [](FakeSystem& s) { s.process(812, "brltty"); },
     kUsb0, ENOENT, false, false, PortAccess::NotFound, PortAccess::NotFound,
     {"does not exist", "brltty (process 812) is running", "sudo systemctl mask --now brltty-udev.service"},
     {"ModemManager"}},
    {"ModemManagerHoldsANewAdapter",
     [](FakeSystem& s) {
       s.device("/dev/ttyACM0", 0660);
       s.process(700, "ModemManager", {"/dev/ttyACM0"});
     },
     "/dev/ttyACM0", EBUSY, false, true, PortAccess::PermissionDenied, PortAccess::Busy,
     {"in use by process 700 (ModemManager).", "sudo systemctl disable --now ModemManager"}, {"brltty"}},
    {"OtherErrorsSayWhat",
     [](FakeSystem& s) { s.device(kUsb0, 0660); },
     kUsb0, EIO, false, true, PortAccess::Failed, PortAccess::Failed,
     {"Cannot open /dev/ttyUSB0: Input/output error."}, {}},
};

INSTANTIATE_TEST_SUITE_P(Causes, ExplainOpenFailure, ::testing::ValuesIn(kExplainCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ExplainOpenFailure, NothingToSayForAnOpenPort) {
  EXPECT_EQ(meterlink::explainOpenFailure("/dev/ttyUSB0", meterlink::SerialPort::OpenResult::Ok), "");
  EXPECT_EQ(meterlink::explainOpenFailure("/dev/ttyUSB0", PortAccess::Ok), "");
}

TEST(ListSerialAdapters, SystemPortsSortedWithByIdLinksThenTheGivenOnes) {
  FakeSystem system;
  system.device("/dev/ttyUSB0", 0660);
  system.device("/dev/ttyUSB1", 0660);
  system.device("/dev/ttyS0", 0600);
  system.byId("usb-FTDI_FT232R_USB_UART_A10K-if00-port0", "/dev/ttyUSB1");
  system.file("/sys/class/tty/ttyS0/console", "Y\n");
  system.file("/sys/class/tty/ttyUSB0/console", "N\n");
  meterlink::ProbeHost host = system.host(0, false, true);
  host.systemPorts = [] {
    meterlink::SerialAdapter ftdi;
    ftdi.path = "/dev/ttyUSB1";
    ftdi.description = "FT232R USB UART";
    ftdi.manufacturer = "FTDI";
    ftdi.serialNumber = "A10K";
    ftdi.vendorId = 0x0403;
    ftdi.productId = 0x6001;
    meterlink::SerialAdapter console, other;
    console.path = "/dev/ttyS0";
    other.path = "/dev/ttyUSB0";
    return std::vector<meterlink::SerialAdapter>{ftdi, console, other};
  };

  const auto list = meterlink::listSerialAdapters({"/dev/pts/5", "/dev/ttyUSB0"}, host);
  ASSERT_EQ(list.size(), 3u);  // the kernel console is left out
  EXPECT_EQ(list[0].path, "/dev/ttyUSB0");
  EXPECT_TRUE(list[0].given);  // named again: marked, not repeated
  EXPECT_EQ(list[0].byIdLink, "");
  EXPECT_EQ(meterlink::vidPidText(list[0]), "");
  EXPECT_EQ(list[1].path, "/dev/ttyUSB1");
  EXPECT_FALSE(list[1].given);
  EXPECT_EQ(list[1].byIdLink, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K-if00-port0");
  EXPECT_EQ(meterlink::vidPidText(list[1]), "0403:6001");
  EXPECT_EQ(list[1].access, PortAccess::Ok);
  EXPECT_EQ(list[1].reason, "");
  EXPECT_EQ(list[2].path, "/dev/pts/5");
  EXPECT_TRUE(list[2].given);
  EXPECT_EQ(list[2].access, PortAccess::NotFound);
  EXPECT_NE(list[2].reason.find("/dev/pts/5 does not exist"), std::string::npos) << list[2].reason;
}

// ---- this machine: real pseudo-terminals, the serial layer's own lock file ----

TEST(PortProbeOnThisMachine, APortOpenHereIsBusyAndNamesThisProcessAndItsLock) {
  testsupport::PtyPeer peer;
  meterlink::SerialPort first, second;
  ASSERT_EQ(first.open(peer.slavePath(), 19200), meterlink::SerialPort::OpenResult::Ok);
  const auto result = second.open(peer.slavePath(), 19200);
  ASSERT_NE(result, meterlink::SerialPort::OpenResult::Ok);

  const meterlink::PortDiagnosis d = meterlink::diagnosePort(peer.slavePath());
  EXPECT_EQ(d.access, PortAccess::Busy);
  EXPECT_EQ(d.lockPid, static_cast<long>(::getpid()));
  EXPECT_TRUE(d.lockLive);
  bool selfSeen = false;
  for (const meterlink::PortHolder& h : d.holders) selfSeen |= h.pid == ::getpid();
  EXPECT_TRUE(selfSeen);

  const std::string text = meterlink::explainOpenFailure(peer.slavePath(), result);
  EXPECT_NE(text.find(peer.slavePath() + " is in use by process " + std::to_string(::getpid()) + " ("),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("Lock file " + d.lockFile + " names process " + std::to_string(::getpid()) + "."),
            std::string::npos)
      << text;

  // Closed again, the same port opens and the probe agrees.
  first.close();
  EXPECT_EQ(meterlink::diagnosePort(peer.slavePath()).access, PortAccess::Ok);
  EXPECT_EQ(meterlink::listSerialAdapters({peer.slavePath()}).back().access, PortAccess::Ok);
}

TEST(PortProbeOnThisMachine, AMissingDeviceIsNotPluggedIn) {
  const std::string path = "/dev/ttyUSB-maru-test-absent";
  meterlink::SerialPort port;
  const auto result = port.open(path, 19200);
  ASSERT_NE(result, meterlink::SerialPort::OpenResult::Ok);
  const std::string text = meterlink::explainOpenFailure(path, result);
  EXPECT_EQ(text.rfind(path + " does not exist: the adapter is not plugged in, or it has another name now.", 0), 0u)
      << text;
}

// A container's console is a pseudo-terminal of its own devpts instance, which /proc shows
// under the same name as one of this machine's: its holder is not this port's holder.
TEST(PortProbeOnThisMachine, APseudoTerminalOfAnotherDevptsInstanceIsNotHeldByItsHolder) {
  testsupport::PtyPeer peer;
  const std::string& path = peer.slavePath();
  ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
  const int index = std::stoi(path.substr(9));
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  // The child: a mount namespace with a new devpts instance on /dev/pts, where it opens
  // pseudo-terminals until it holds the one numbered as ours (system calls only: it forked
  // from a threaded process).
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    ::close(peer.slaveFd());  // ours, inherited: the child holds only the other instance's
    char answer = 'n';
    int slave = -1;
    if (::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
        ::mount("devpts", "/dev/pts", "devpts", 0, "newinstance,ptmxmode=0666") == 0) {
      for (int i = 0; i <= index; ++i) {
        const int master = ::open("/dev/pts/ptmx", O_RDWR | O_NOCTTY);
        int unlock = 0, number = -1;
        if (master < 0 || ::ioctl(master, TIOCSPTLCK, &unlock) != 0 || ::ioctl(master, TIOCGPTN, &number) != 0) break;
        if (number == index) slave = ::ioctl(master, TIOCGPTPEER, O_RDWR | O_NOCTTY);
      }
      if (slave >= 0) answer = 'y';
    }
    [[maybe_unused]] const ssize_t n = ::write(ready[1], &answer, 1);
    ::pause();
    ::_exit(0);
  }
  ::close(ready[1]);
  char answer = 'n';
  [[maybe_unused]] const ssize_t n = ::read(ready[0], &answer, 1);
  ::close(ready[0]);
  const auto endChild = [child] {
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
  };
  if (answer != 'y') {
    endChild();
    GTEST_SKIP() << "needs a mount namespace and a devpts instance of its own (root)";
  }
  // Busy: this process holds our port (with its lock).
  meterlink::SerialPort first;
  ASSERT_EQ(first.open(path, 19200), meterlink::SerialPort::OpenResult::Ok);
  const meterlink::PortDiagnosis d = meterlink::diagnosePort(path);
  endChild();
  EXPECT_EQ(d.access, PortAccess::Busy);
  bool selfSeen = false, childSeen = false;
  for (const meterlink::PortHolder& h : d.holders) {
    selfSeen |= h.pid == ::getpid();
    childSeen |= h.pid == child;
  }
  EXPECT_TRUE(selfSeen);
  EXPECT_FALSE(childSeen) << "the holder of the other instance's " << path << " was named";
}

}  // namespace
