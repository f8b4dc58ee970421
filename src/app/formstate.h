#pragma once
// What the window is made with (MainFormOptions) and the state its handlers, pages, ticks
// and status refresh share (FormState).
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "acquire/feedformat.h"
#include "app/plotpage.h"
#include "link/linedispatch.h"
#include "link/meterprotocol.h"
#include "link/portslots.h"
#include "measure/statistics.h"

namespace meterlink {
class WireLog;
}

namespace app {

class MainForm;

struct MainFormOptions {
  meterlink::PortSlots ports;                  ///< which device each "Host Port - COM n" item means
  std::string workingDir = ".";           ///< where "last.rbs" and saved device-file names live
  measure::HostClock hostClock = measure::LocalHostTime;
  /// The host's UTC time now: the receive time of the CSV recording's rows and of the
  /// plot's time axis. Tests fix it.
  std::function<std::chrono::system_clock::time_point()> utcClock = [] { return std::chrono::system_clock::now(); };
  /// What the window times itself by: the meter's silence, a recording's elapsed time.
  /// Tests drive it.
  std::function<std::chrono::steady_clock::time_point()> steadyClock = [] { return std::chrono::steady_clock::now(); };
  std::function<void(int)> quit;          ///< ends the program (exit status); tests record it
  /// Runs once when start-up is over: after the first receive tick set its defaults and
  /// the first 1-second tick restored the last run's settings.
  std::function<void(MainForm&)> onStarted;
  /// The serial adapters present now; empty means this machine's (tests give their own).
  std::function<std::vector<meterlink::SerialAdapter>()> listAdapters;
  /// Live feeds of every sample, as `maru log` publishes them: MQTT (broker "" for none), UDP.
  struct Feeds {
    acquire::MqttOptions mqtt;
    std::string udp;      ///< "HOST:PORT"; "" for none
    std::string version;  ///< the program's, for the MQTT metadata
  } feeds;
  std::string qcPath;  ///< a QC configuration to load once start-up is over ("": none)
  /// Every byte to and from the meter also goes here (not owned; outlives the form).
  meterlink::WireLog* wireLog = nullptr;
};

/// The shared state of the window as the operator's handlers, the ticks and the status
/// refresh use it. Start values are the program's at start.
struct FormState {
  /// What the meter's lines tell; Config … Meter below name its parts.
  meterlink::MeterState State;
  measure::DeviceConfig& Config = State.config;
  measure::SampleState& Sample = State.sample;
  measure::MeterClock& Clock = State.clock;
  measure::EngValues& Eng = State.eng;
  meterlink::MeterSetup& Meter = State.meter;
  measure::Statistics Stats;

  int OpenPortNumber = 0;
  int BaudIndex = 2;
  int SetupRequestTicks = meterlink::kSetupRequestTicks;
  int TickCount = 0;
  unsigned long TotalBytesRead = 0;
  bool ChannelSetupPending = false;
  bool SampleClockDirty = false;
  bool PowerUser = false;
  PlotChoices Plot;  ///< PlotType, BBPlotChoice, StdDevWindow and the three plot switches
  bool RefCorrectionOn = false, TempCorrectionOn = false;
  std::string DeviceFilePath;
  int MessageBoxDepth = 0;
};

}  // namespace app
