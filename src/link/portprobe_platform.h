#pragma once
// What portprobe.cpp asks of the platform file (portprobe_posix.cpp or portprobe_other.cpp).
#include <string>

#include "link/portprobe.h"

namespace meterlink::probe {

/// The /dev/serial/by-id link that leads to `path`; "" when none does (or no such folder).
std::string byIdLinkFor(const std::string& path, const ProbeHost& host);

/// True when the kernel writes its console to this port (Linux: /sys/class/tty/X/console).
bool isKernelConsole(const std::string& path, const ProbeHost& host);

}  // namespace meterlink::probe
