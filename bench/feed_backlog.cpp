// A day's MQTT backlog: a meter at 10 lines/s with the broker away for a day, 864,000
// data messages kept in the feed's queue; then a local mosquitto comes back and the feed
// drains the queue (QoS 1, every message acknowledged).
//   bench_feed_backlog [--messages N] [--keep]
// Prints the queue's size on disk, the peak resident memory while filling and while
// draining, the time the drain took and how much faster than the meter filled it (N / 10
// lines a second). Exits 1 when the drain did not finish, or a message went missing.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "acquire/feedformat.h"
#include "acquire/mqttfeed.h"
#include "benchutil.h"
#include "files/feedqueue.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

std::uint64_t folderBytes(const std::string& dir) {
  std::uint64_t total = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    if (entry.is_regular_file()) total += entry.file_size();
  return total;
}

int freePort() {
  // A port unlikely to be taken; the broker says so when it is.
  return 20000 + static_cast<int>(::getpid() % 20000);
}

}  // namespace

int main(int argc, char** argv) {
  const long count = benchutil::argValue(argc, argv, "--messages", 864000);
  const std::string dir = std::filesystem::temp_directory_path() / ("maru-backlog-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);

  // A FLCD's data messages, as the feed makes them: five values, the raw line, the times.
  acquire::MqttTopics topics{"maru", "rv-tangaroa", "FLCD-1123"};
  const std::vector<std::string> names = {"chl_ug_per_l", "cdom_ppb", "itemp_degc", "xtemp_degc", "pres_dbar"};
  const std::string topic = topics.base() + "/data";
  std::mt19937 random(7);
  std::normal_distribution<double> noise(0.0, 1.0);
  files::FeedQueue queue;
  std::string error;
  if (!queue.open(dir, {}, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const std::int64_t start = 1796000000000;  // ms
  const auto filling = Clock::now();
  for (long i = 0; i < count; ++i) {
    const std::int64_t ms = start + i * 100;
    const int seconds = static_cast<int>((ms / 1000) % 86400);
    char raw[96], time[40];
    const int chl = 700 + static_cast<int>(20 * noise(random)), cdom = 2250 + static_cast<int>(15 * noise(random));
    std::snprintf(raw, sizeof raw, "12/08/26\t%02d:%02d:%02d\t%d\t%d\t%d\t%d\t%d", seconds / 3600, seconds / 60 % 60,
                  seconds % 60, chl, cdom, 551, 3419 + static_cast<int>(noise(random)), 2461);
    std::snprintf(time, sizeof time, "2026-12-08T%02d:%02d:%02d.%03dZ", seconds / 3600, seconds / 60 % 60,
                  seconds % 60, static_cast<int>(ms % 1000));
    acquire::DataMessage message{time, std::string(time, 19) + ".000Z", i + 1, queue.nextSeq(topic),
                                 {chl * 0.0068125, cdom * 0.0887, 18.875 + 0.01 * noise(random),
                                  14.19 + 0.001 * noise(random), 14.6 + 0.01 * noise(random)},
                                 raw, {}};
    if (!queue.append(topic, acquire::dataJson(topics, names, message), message.seq, ms, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
  }
  const double fillSeconds = std::chrono::duration<double>(Clock::now() - filling).count();
  const std::uint64_t disk = folderBytes(dir);
  const std::uint64_t kept = queue.backlog();
  queue.close();
  const double fillRss = benchutil::peakRssMb();
  std::printf("messages            %ld (a day at 10 lines/s is 864000)\n", count);
  std::printf("queue on disk       %.1f MB (%.0f bytes a message)\n", disk / 1e6, double(disk) / double(count));
  std::printf("filling             %.1f s of processor and disk (the meter takes %.0f s)\n", fillSeconds,
              count / 10.0);
  std::printf("peak memory filling %.1f MB\n", fillRss);

  // The broker comes back.
  const int port = freePort();
  const std::string portText = std::to_string(port);
  char* brokerArgs[] = {const_cast<char*>("mosquitto"), const_cast<char*>("-p"), const_cast<char*>(portText.c_str()),
                        nullptr};
  pid_t broker = 0;
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
  const int spawned = posix_spawnp(&broker, "mosquitto", &quiet, nullptr, brokerArgs, environ);
  posix_spawn_file_actions_destroy(&quiet);
  if (spawned != 0) {
    std::fprintf(stderr, "cannot start mosquitto\n");
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  acquire::MqttFeed::Settings settings;
  settings.host = "127.0.0.1";
  settings.port = port;
  settings.topics = topics;
  settings.metadata = "{}";
  settings.queueDir = dir;
  acquire::MqttFeed feed(settings, [](const std::string& caption, const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  });
  const auto draining = Clock::now();
  if (!feed.start(error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  bool drained = false;
  while (Clock::now() - draining < std::chrono::hours(1)) {
    if (feed.backlog() == 0 && feed.published() >= static_cast<long long>(kept)) {
      drained = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const double drainSeconds = std::chrono::duration<double>(Clock::now() - draining).count();
  feed.stop();
  ::kill(broker, SIGTERM);
  ::waitpid(broker, nullptr, 0);
  std::printf("draining            %.1f s, %.0f messages a second: %.0fx the meter's rate\n", drainSeconds,
              feed.published() / drainSeconds, count / 10.0 / drainSeconds);
  std::printf("peak memory         %.1f MB\n", benchutil::peakRssMb());
  std::printf("published           %lld of %llu\n", feed.published(), static_cast<unsigned long long>(kept));
  if (!benchutil::hasFlag(argc, argv, "--keep")) std::filesystem::remove_all(dir);
  return drained ? 0 : 1;
}
