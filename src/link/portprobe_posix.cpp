// Port probes on POSIX systems: stat and the user database for permissions, /proc for
// who holds a device and which known grabbers run, UUCP lock folders, /dev/serial/by-id
// for stable names and /sys/class/tty for the kernel console. Every path read is
// prefixed with ProbeHost::root.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <utility>
#ifdef __linux__
#include <sys/vfs.h>
#endif

#include "link/portprobe.h"
#include "link/portprobe_platform.h"

namespace meterlink {

namespace {

// Folders where programs leave UUCP-style "LCK..name" files, most common first.
constexpr const char* kLockDirs[] = {"/var/lock", "/run/lock", "/var/spool/locks", "/tmp"};
// Programs that take serial adapters for themselves (names as /proc/<pid>/comm shows them).
constexpr const char* kGrabbers[] = {"brltty", "ModemManager"};

std::vector<std::string> listDir(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return names;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

// The first `max` bytes of a small file; "" when unreadable.
std::string readSmall(const std::string& path, size_t max = 256) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return {};
  std::string text(max, '\0');
  const ssize_t n = ::read(fd, text.data(), max);
  ::close(fd);
  text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return text;
}

std::string firstLine(std::string text) {
  const size_t end = text.find_first_of("\r\n");
  if (end != std::string::npos) text.resize(end);
  return text;
}

bool isNumber(const std::string& s) {
  return !s.empty() && s.size() < 10 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// `fsPath` resolved through symbolic links, with the root taken off again: the name a
// /proc fd link shows. `fallback` when it does not resolve.
std::string resolve(const std::string& fsPath, const std::string& root, const std::string& fallback) {
  char buffer[PATH_MAX];
  if (!::realpath(fsPath.c_str(), buffer)) return fallback;
  std::string real = buffer;
  if (root.empty()) return real;
  char rootBuffer[PATH_MAX];
  const std::string realRoot = ::realpath(root.c_str(), rootBuffer) ? rootBuffer : root;
  if (real.compare(0, realRoot.size(), realRoot) == 0 && real.size() > realRoot.size() && real[realRoot.size()] == '/')
    return real.substr(realRoot.size());
  return fallback;
}

int trialOpen(const std::string& fsPath) {
  // Non-blocking: no wait for carrier; no controlling terminal for this process.
  const int fd = ::open(fsPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  // A program that locks the device itself (this one does) holds it under every name.
  const int result = ::flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK ? 0 : EBUSY;
  ::close(fd);
  return result;
}

std::string systemGroupName(unsigned gid) {
  const group* g = ::getgrgid(static_cast<gid_t>(gid));
  return g && g->gr_name ? g->gr_name : "";
}

std::string systemUserName(unsigned uid) {
  const passwd* p = ::getpwuid(static_cast<uid_t>(uid));
  return p && p->pw_name ? p->pw_name : "";
}

bool systemUserListedInGroup(unsigned gid) {
  const passwd* p = ::getpwuid(::geteuid());
  if (!p) return false;
  if (p->pw_gid == static_cast<gid_t>(gid)) return true;
  const std::string user = p->pw_name ? p->pw_name : "";
  const group* g = ::getgrgid(static_cast<gid_t>(gid));
  if (!g || user.empty()) return false;
  for (char** member = g->gr_mem; member && *member; ++member)
    if (user == *member) return true;
  return false;
}

bool systemProcessInGroup(unsigned gid) {
  if (::getegid() == static_cast<gid_t>(gid)) return true;
  const int count = ::getgroups(0, nullptr);
  if (count <= 0) return false;
  std::vector<gid_t> groups(static_cast<size_t>(count));
  const int n = ::getgroups(count, groups.data());
  return n > 0 && std::find(groups.begin(), groups.begin() + n, static_cast<gid_t>(gid)) != groups.begin() + n;
}

std::string modeText(mode_t mode) {
  std::string text = S_ISCHR(mode) ? "c" : S_ISDIR(mode) ? "d" : S_ISLNK(mode) ? "l" : "-";
  const mode_t bits[] = {S_IRUSR, S_IWUSR, S_IXUSR, S_IRGRP, S_IWGRP, S_IXGRP, S_IROTH, S_IWOTH, S_IXOTH};
  for (int i = 0; i < 9; ++i) text += (mode & bits[i]) ? "rwx"[i % 3] : '-';
  return text;
}

bool processAlive(long pid, const std::string& root) {
  if (pid <= 0) return false;
  struct stat st {};
  if (::stat((root + "/proc").c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    return ::stat((root + "/proc/" + std::to_string(pid)).c_str(), &st) == 0;
  // No /proc (macOS, BSD): ask the kernel, on this machine only.
  return root.empty() && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

// The lock file name a program derives from a device path: "/dev/ttyUSB0" gives
// "LCK..ttyUSB0", "/dev/pts/3" gives "LCK..pts_3".
std::string lockName(const std::string& path) {
  std::string name = path.compare(0, 5, "/dev/") == 0 ? path.substr(5) : path;
  std::replace(name.begin(), name.end(), '/', '_');
  return "LCK.." + name;
}

long lockFilePid(const std::string& fsPath) {
  const std::string text = readSmall(fsPath, 128);
  // Text form: the pid, maybe padded with blanks, then a line end (and more lines).
  size_t i = text.find_first_not_of(" \t");
  long pid = 0;
  bool digits = false;
  for (; i != std::string::npos && i < text.size() && text[i] >= '0' && text[i] <= '9' && pid < 100'000'000; ++i) {
    pid = pid * 10 + (text[i] - '0');
    digits = true;
  }
  if (digits) return pid;
  // The old binary form: the pid as a native int of exactly four bytes.
  if (text.size() == 4) {
    int raw = 0;
    std::copy(text.begin(), text.end(), reinterpret_cast<char*>(&raw));
    return raw;
  }
  return 0;
}

void findLock(PortDiagnosis& d, const std::string& root) {
  std::set<std::pair<dev_t, ino_t>> seen;  // /var/lock is often a link to /run/lock
  for (const char* dir : kLockDirs) {
    for (const std::string& name : {lockName(d.path), lockName(d.devicePath)}) {
      const std::string file = std::string(dir) + "/" + name;
      struct stat st {};
      if (::stat((root + file).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
      if (!seen.insert({st.st_dev, st.st_ino}).second) continue;
      d.lockFile = file;
      d.lockPid = lockFilePid(root + file);
      d.lockLive = processAlive(d.lockPid, root);
      if (d.lockLive) d.lockOwner = firstLine(readSmall(root + "/proc/" + std::to_string(d.lockPid) + "/comm"));
      return;
    }
  }
}

// The device a path opens, to know it again behind a process's open file: its number,
// and for a pseudo-terminal the devpts instance too (each instance numbers its own, so a
// container's /dev/pts/3 is not this machine's /dev/pts/3, though /proc shows both so).
struct DeviceIdentity {
  bool known = false;  // a character device; else paths are compared (a test's fake tree)
  dev_t rdev = 0, fileSystem = 0;
  bool perInstance = false;

  explicit DeviceIdentity(const std::string& fsPath) {
    struct stat st {};
    if (::stat(fsPath.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) return;
    known = true;
    rdev = st.st_rdev;
    fileSystem = st.st_dev;
#ifdef __linux__
    constexpr long kDevptsMagic = 0x1cd1;
    struct statfs fs {};
    perInstance = ::statfs(fsPath.c_str(), &fs) == 0 && static_cast<long>(fs.f_type) == kDevptsMagic;
#else
    perInstance = true;
#endif
  }

  /// Whether the open file behind `fdLink` (a /proc/PID/fd entry) is this device.
  bool isOpenAs(const std::string& fdLink) const {
    struct stat st {};
    return ::stat(fdLink.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == rdev &&
           (!perInstance || st.st_dev == fileSystem);
  }
};

// One pass over /proc: the processes holding the port open (when asked) and the known
// grabbers. Processes of other users hide their fd folders; they are skipped.
void scanProcesses(PortDiagnosis& d, const std::string& root, bool wantHolders) {
  const std::string proc = root + "/proc";
  const DeviceIdentity device(wantHolders ? root + d.devicePath : std::string());
  for (const std::string& pid : listDir(proc)) {
    if (!isNumber(pid)) continue;
    const std::string comm = firstLine(readSmall(proc + "/" + pid + "/comm"));
    for (const char* grabber : kGrabbers)
      if (comm == grabber) d.grabbers.push_back({std::stol(pid), comm});
    if (!wantHolders) continue;
    const std::string fdDir = proc + "/" + pid + "/fd";
    for (const std::string& fd : listDir(fdDir)) {
      if (device.known) {
        if (!device.isOpenAs(fdDir + "/" + fd)) continue;
      } else {
        char target[PATH_MAX];
        const ssize_t n = ::readlink((fdDir + "/" + fd).c_str(), target, sizeof target - 1);
        if (n <= 0 || std::string(target, static_cast<size_t>(n)) != d.devicePath) continue;
      }
      d.holders.push_back({std::stol(pid), comm});
      break;
    }
  }
}

// The devices the by-id links lead to, each with its first link.
std::vector<std::pair<std::string, std::string>> byIdTargets(const ProbeHost& host) {
  std::vector<std::pair<std::string, std::string>> targets;
  const std::string dir = "/dev/serial/by-id";
  for (const std::string& name : listDir(host.root + dir)) {
    const std::string link = dir + "/" + name;
    const std::string target = resolve(host.root + link, host.root, "");
    if (!target.empty()) targets.emplace_back(target, link);
  }
  return targets;
}

}  // namespace

namespace probe {

std::string byIdLinkFor(const std::string& path, const ProbeHost& host) {
  const std::string device = resolve(host.root + path, host.root, path);
  for (const auto& [target, link] : byIdTargets(host))
    if (target == device) return link;
  return {};
}

bool isKernelConsole(const std::string& path, const ProbeHost& host) {
  const std::string device = resolve(host.root + path, host.root, path);
  if (device.compare(0, 5, "/dev/") != 0 || device.find('/', 5) != std::string::npos) return false;
  return firstLine(readSmall(host.root + "/sys/class/tty/" + device.substr(5) + "/console")) == "Y";
}

}  // namespace probe

PortDiagnosis diagnosePort(const std::string& path, const ProbeHost& host) {
  PortDiagnosis d;
  d.path = path;
  const std::string fsPath = host.root + path;
  d.devicePath = resolve(fsPath, host.root, path);

  struct stat st {};
  if (path.empty() || ::stat(fsPath.c_str(), &st) != 0) {
    d.error = path.empty() ? ENOENT : errno;
  } else {
    d.owner = host.userName ? host.userName(st.st_uid) : systemUserName(st.st_uid);
    d.group = host.groupName ? host.groupName(st.st_gid) : systemGroupName(st.st_gid);
    if (d.owner.empty()) d.owner = "uid " + std::to_string(st.st_uid);
    if (d.group.empty()) d.group = std::to_string(st.st_gid);
    d.mode = modeText(st.st_mode);
    d.groupHasAccess = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
    d.userListedInGroup =
        host.userListedInGroup ? host.userListedInGroup(st.st_gid) : systemUserListedInGroup(st.st_gid);
    d.processInGroup = host.processInGroup ? host.processInGroup(st.st_gid) : systemProcessInGroup(st.st_gid);
    d.error = host.tryOpen ? host.tryOpen(fsPath) : trialOpen(fsPath);
    findLock(d, host.root);
  }

  switch (d.error) {
    case 0:
      // Programs that honour UUCP locks (this one among them) keep off a locked port.
      d.access = d.lockLive ? PortAccess::Busy : PortAccess::Ok;
      break;
    case EACCES:
    case EPERM:
      d.access = PortAccess::PermissionDenied;
      break;
    case EBUSY:
      d.access = PortAccess::Busy;
      break;
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
      d.access = PortAccess::NotFound;
      break;
    default:
      d.access = PortAccess::Failed;
      break;
  }

  const bool wantHolders = d.access == PortAccess::Busy || d.access == PortAccess::Failed;
  scanProcesses(d, host.root, wantHolders);
  if (d.access == PortAccess::NotFound)
    for (const auto& [target, link] : byIdTargets(host))
      if (std::find(d.presentAdapters.begin(), d.presentAdapters.end(), target) == d.presentAdapters.end())
        d.presentAdapters.push_back(target);
  return d;
}

}  // namespace meterlink
