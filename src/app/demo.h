#pragma once
// What `maruview --demo` sets up on the virtual meter.
#include <string>

#include "app/mainform.h"

namespace app {

/// Loads `deviceFile` as the operator would through the menu and opens host-port item 1
/// (bound to the virtual meter) at 19200 baud. Meant for MainFormOptions::onStarted, so
/// that it runs after the start-up defaults and the restored settings.
void StartDemo(MainForm& form, const std::string& deviceFile);

}  // namespace app
