#pragma once
// Finds the serial adapters on this machine and tells why a port cannot be opened:
// permissions and groups, another process holding it, lock files, programs known to
// grab serial adapters, a device that is not there. Plain C++; what needs /proc, stat
// and the user database lives in the platform file (portprobe_posix.cpp, or the
// stub portprobe_other.cpp where none of that exists).
#include <functional>
#include <string>
#include <vector>

namespace meterlink {

/// Whether this process can open a port read/write, and if not, the broad reason.
enum class PortAccess { Ok, NotFound, PermissionDenied, Busy, Failed, Unknown };

/// One serial port as listed by `listSerialAdapters`. Text fields are "" when unknown.
struct SerialAdapter {
  std::string path;          ///< device path, e.g. /dev/ttyUSB0 (or a path given by the caller)
  std::string byIdLink;      ///< e.g. /dev/serial/by-id/usb-…-if00-port0; "" when none points here
  std::string description;
  std::string manufacturer;
  std::string serialNumber;
  int vendorId = -1;         ///< USB vendor id, -1 when not a USB device
  int productId = -1;
  bool given = false;        ///< named by the caller rather than found on the system
  PortAccess access = PortAccess::Unknown;
  std::string reason;        ///< why it cannot be opened (one or more lines); "" when it can
};

/// "0403:6001", or "" without a vendor id.
std::string vidPidText(const SerialAdapter& adapter);

/// Where the probes look. A default-constructed host is this machine; tests point `root`
/// at a folder holding a small proc/, dev/, sys/ and lock tree and answer the identity
/// questions themselves. Each empty function means "ask this machine".
struct ProbeHost {
  std::string root;  ///< prefix of every path read: /proc, /dev, /sys, the lock folders
  /// Tries a read/write open of `fsPath` (root already applied) and closes it: 0 or errno.
  std::function<int(const std::string& fsPath)> tryOpen;
  std::function<std::string(unsigned gid)> groupName;    ///< "" when the group has no name
  std::function<std::string(unsigned uid)> userName;     ///< "" when the user has no name
  /// Whether this process's user is a member of the group in the group database
  /// (its primary group counts), whatever the running process was started with.
  std::function<bool(unsigned gid)> userListedInGroup;
  /// Whether the group is among this process's own groups now.
  std::function<bool(unsigned gid)> processInGroup;
  /// The ports the system lists with their descriptive fields (QSerialPortInfo).
  std::function<std::vector<SerialAdapter>()> systemPorts;
};

/// A process that has a device open.
struct PortHolder {
  long pid = 0;
  std::string name;  ///< its command name from /proc/<pid>/comm; "" when unreadable
};

/// What could be found out about one port.
struct PortDiagnosis {
  std::string path;              ///< as given
  std::string devicePath;        ///< with symbolic links resolved (the name /proc shows)
  PortAccess access = PortAccess::Unknown;
  int error = 0;                 ///< errno of the trial open, 0 when it opened
  bool groupHasAccess = false;   ///< the device's group may read and write it
  std::string owner;             ///< owner and group names of the device node
  std::string group;
  std::string mode;              ///< e.g. "crw-rw----"
  bool userListedInGroup = false;
  bool processInGroup = false;
  std::vector<PortHolder> holders;   ///< processes that have it open, where /proc shows them
  std::string lockFile;              ///< a UUCP lock file for it ("" when none)
  long lockPid = 0;
  std::string lockOwner;             ///< command name of that process, where /proc shows it
  bool lockLive = false;             ///< the process named in the lock file still runs
  std::vector<PortHolder> grabbers;  ///< brltty or ModemManager running
  std::vector<std::string> presentAdapters;  ///< USB serial devices that do exist now
};

/// Looks at `path` now: exists? opens read/write? who holds it? The trial open is
/// non-blocking, without a controlling terminal, and closed at once. A live lock file
/// makes a port Busy even where the trial open succeeds, since the program honours locks.
PortDiagnosis diagnosePort(const std::string& path, const ProbeHost& host = {});

/// The lines that explain why opening `path` failed, to show beneath "Could Not Open Comm
/// Port n"; `reported` is what the failed open said. The port is examined again now, so
/// the text names the real cause even where the serial layer reports a lock or a busy
/// device as a permission error. Never empty for a failure; "" for PortAccess::Ok.
std::string explainOpenFailure(const std::string& path, PortAccess reported, const ProbeHost& host = {});
/// The same text for a diagnosis already made.
std::string explainDiagnosis(const PortDiagnosis& diagnosis, PortAccess reported);

/// The serial adapters on this machine, sorted by path (the kernel's console excluded,
/// it is no free port), then `givenPaths` not already among them, in order. Each has its
/// by-id link and whether this user can open it (trial open; see diagnosePort).
std::vector<SerialAdapter> listSerialAdapters(const std::vector<std::string>& givenPaths = {},
                                              const ProbeHost& host = {});

}  // namespace meterlink
