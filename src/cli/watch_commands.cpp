// zorvctl watch: the drive list as the window keeps it while drives come and
// go. Enumerates and prints the drive-list lines, then follows the backend's
// device arrival and removal events; for each it prints the change
// ("Adding <device ID>" / "Removing <device ID>") and, when the change
// concerns a drive of the brand, enumerates again as the window does and
// prints the new lines. Ends after --changes events or --seconds.

#include <chrono>
#include <memory>

#include "cli/command_registry.h"
#include "cli/session.h"
#include "discovery/drive_list.h"
#include "discovery/enumerate.h"

namespace zorv::cli {

namespace {

struct WatchOptions {
  int changes = 0;   // 0: no limit
  int seconds = 0;   // 0: no limit
};

void printLines(Session& session, const DriveListModel& list) {
  for (const std::string& line : list.lines()) session.out() << line << '\n';
  session.out() << "--\n";
  session.out().flush();
}

void runWatch(Session& session, const WatchOptions& o) {
  if (o.changes == 0 && o.seconds == 0) {
    session.err() << "zorvctl: watch needs --changes or --seconds\n";
    session.fail(kExitUsage);
    return;
  }
  Context* ctx = session.context();
  if (!ctx) return;
  ctx->fgSkipModelCheck = session.skipModelCheck ? 1 : 0;
  DriveListModel list;
  DriveListAttachment attach(*ctx, list);
  // Watching starts first, so that nothing between the pass and the
  // first wait is missed.
  std::unique_ptr<DeviceEventSource> events = ctx->port->watchDevices();
  EnumerateDrives(*ctx, list);
  printLines(session, list);
  if (!events) {
    session.err() << "zorvctl: device arrival and removal cannot be watched here\n";
    session.fail(kExitFailed);
    return;
  }
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::seconds(o.seconds);
  int seen = 0;
  while ((o.changes == 0 || seen < o.changes) && (o.seconds == 0 || Clock::now() < end)) {
    std::vector<DeviceEvent> fresh;
    if (!events->poll(fresh, 200)) {
      session.err() << "zorvctl: the device event source failed\n";
      session.fail(kExitFailed);
      return;
    }
    for (const DeviceEvent& e : fresh) {
      ++seen;
      session.out() << deviceChangeText(e);
      if (OnDeviceChange(*ctx, e, list) > 0) printLines(session, list);
      session.out().flush();
    }
  }
}

void install(CLI::App& app, Session& session) {
  auto options = std::make_shared<WatchOptions>();
  CLI::App* watch = app.add_subcommand(
      "watch", "Print the drive list, then follow drives arriving and leaving as the window does");
  watch->add_option("--changes", options->changes, "End after N arrivals or removals")->check(CLI::NonNegativeNumber);
  watch->add_option("--seconds", options->seconds, "End after N seconds")->check(CLI::NonNegativeNumber);
  watch->add_flag("--skip-model-check", session.skipModelCheck, "Accept every drive that answers IDENTIFY DEVICE");
  watch->callback([&session, options] { runWatch(session, *options); });
}

static CommandRegistrar reg{"watch", &install};

}  // namespace

}  // namespace zorv::cli
