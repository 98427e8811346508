// zorvctl workload run: the multi-drive workloads of the multi-run tab, one
// drive window per drive, all at once.
//
//   zorvctl [--sim DIR] workload run --drive N[,N...]
//       (--rdnsq [--seq P] [--rnd P] [--rsv-fill] [--loop N | --time HH:MM]
//        | --sc1 FILE | --sc2 FILE | --jesd FILE)
//       [--report-dir DIR] [--seed N] [--confirm-data-loss]
//
// Each drive runs on its own device handle and queue. Once a second every
// drive's state is printed, each line prefixed "[drive N] ", as are its error
// reports and its verdict ("Multi-Run SubWindow Done" / " Error"). Exit 0
// when every drive passed, 1 when any failed or Ctrl-C stopped them (all of
// them), 2 for refused input: a script or option the tab refuses, a drive
// that is not of the family or must not be written, a range beyond a drive,
// writes on a real device without --confirm-data-loss. Nothing is written
// then.

#include <chrono>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "cli/command_registry.h"
#include "cli/interrupt_stop.h"
#include "cli/session.h"
#include "discovery/device_backend.h"
#include "discovery/volumes.h"
#include "workload/multi_run.h"
#include "workload/workload_run.h"

namespace zorv::cli {

namespace {

struct WorkloadOptions {
  std::string drives;
  bool rdnsq = false;
  std::optional<int> seq, rnd;
  bool rsvFill = false;
  std::optional<std::string> loop, time;
  std::optional<std::string> sc1, sc2, jesd;
  std::string reportDir;
  std::optional<uint32_t> seed;
  bool confirmDataLoss = false;
};

bool usage(Session& session, const std::string& text) {
  session.err() << "zorvctl: " << text << '\n';
  session.fail(kExitUsage);
  return false;
}

// Complete lines to the shared output, each prefixed with its drive; the
// windows write from their own threads.
class DriveLines : public MessageSink {
 public:
  DriveLines(std::ostream& out, std::mutex& mutex, int drive)
      : out_(out), mutex_(mutex), prefix_("[drive " + std::to_string(drive) + "] ") {}
  void append(std::string_view text, MessageKind) override {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.append(text);
    size_t nl;
    while ((nl = pending_.find('\n')) != std::string::npos) {
      out_ << prefix_ << pending_.substr(0, nl + 1);
      pending_.erase(0, nl + 1);
    }
    out_.flush();
  }
  void clear() override {}
  // Each line of a state text, prefixed.
  void state(const std::string& text) { append(text, MessageKind::Normal); }

 private:
  std::ostream& out_;
  std::mutex& mutex_;
  std::string prefix_;
  std::string pending_;
};

std::optional<std::set<int>> driveNumbers(const std::string& text) {
  std::set<int> drives;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ',')) {
    if (item.empty() || item.size() > 1 || item[0] < '0' || item[0] > '7') return std::nullopt;
    drives.insert(item[0] - '0');
  }
  if (drives.empty()) return std::nullopt;
  return drives;
}

// The tab's workload from the options; false (usage reported) when refused.
bool chooseWorkload(Session& session, const WorkloadOptions& o, MultiRunTab& tab) {
  int kinds = (o.rdnsq ? 1 : 0) + (o.sc1 ? 1 : 0) + (o.sc2 ? 1 : 0) + (o.jesd ? 1 : 0);
  if (kinds != 1) return usage(session, "choose one workload: --rdnsq, --sc1 FILE, --sc2 FILE or --jesd FILE");
  if (!o.rdnsq && (o.seq || o.rnd || o.rsvFill || o.loop || o.time))
    return usage(session, "--seq, --rnd, --rsv-fill, --loop and --time belong to --rdnsq");
  std::string error;
  if (o.rdnsq) {
    if (o.seq && !tab.setSequentialPercent(*o.seq)) return usage(session, "--seq lies between 0 and 99");
    if (o.rnd && !tab.setRandomPercent(*o.rnd))
      return usage(session, "--rnd lies between 0 and " + std::to_string(100 - tab.sequentialPercent()) +
                                " (the shares sum to at most 100)");
    tab.reserveFill = o.rsvFill;
    if (o.loop && o.time) return usage(session, "--loop and --time exclude each other");
    if (o.loop && (!tab.setLoopText(*o.loop) || tab.loops == 0))
      return usage(session, "--loop takes a number of at least 1: " + *o.loop);
    if (o.time) {
      unsigned h = 0, m = 0;
      char tail = 0;
      if (std::sscanf(o.time->c_str(), "%u:%u%c", &h, &m, &tail) != 2 || h > 99 || m > 99 || (h == 0 && m == 0))
        return usage(session, "--time takes HH:MM, hours and minutes 0..99, at least one minute: " + *o.time);
      tab.byTime = true;
      tab.hours = h;
      tab.minutes = m;
    }
    return true;
  }
  const std::string& path = o.sc1 ? *o.sc1 : o.sc2 ? *o.sc2 : *o.jesd;
  auto text = readScriptFile(path, error);
  if (!text) return usage(session, error);
  bool ok = o.sc1   ? tab.openDefineScript(*text, error)
            : o.sc2 ? tab.openCapacityScript(*text, error)
                    : tab.openJesdScript(*text, error);
  return ok || usage(session, path + ": " + error);
}

void runWorkload(Session& session, const WorkloadOptions& o) {
  auto drives = driveNumbers(o.drives);
  if (!drives) return (void)usage(session, "--drive takes drive numbers 0..7 separated by commas: " + o.drives);
  Context* ctx = session.enumeratedContext();
  if (!ctx) return;
  MultiRunTab tab;
  tab.getDrives(*ctx);
  std::set<int> found;
  for (MultiRunRow& row : tab.rows()) {
    row.checked = drives->count(row.physicalDrive) != 0;
    if (row.checked) found.insert(row.physicalDrive);
  }
  for (int n : *drives)
    if (!found.count(n)) return (void)usage(session, "Physical Drive " + std::to_string(n) + " is not a drive of the family");
  if (!chooseWorkload(session, o, tab)) return;

  RawWritePermission permission;
  permission.userConsent = o.confirmDataLoss;
  permission.volumes = readVolumeMap(mountInfoPathFor(*ctx->port, session.simDir));
  std::string error;
  auto blocks = tab.buildBlocks(*ctx, permission, error);
  if (!blocks) {
    if (error.find("consent") != std::string::npos) error += ": give --confirm-data-loss";
    return (void)usage(session, error);
  }

  std::atomic<uint8_t> stop{0};
  std::mutex outMutex;
  std::vector<std::unique_ptr<DriveLines>> sinks;
  std::vector<std::unique_ptr<WorkloadRun>> runs;
  const std::string simDir = session.simDir;
  for (const std::string& block : *blocks) {
    auto plan = parseWorkloadBlock(block, error);
    if (!plan) return (void)usage(session, error);
    const MultiRunRow& row = tab.rows()[static_cast<size_t>(plan->rowIndex)];
    sinks.push_back(std::make_unique<DriveLines>(session.out(), outMutex, row.physicalDrive));
    WorkloadJob job;
    job.plan = *plan;
    job.drive = row.drive;
    job.openPort = [simDir](std::string& e) { return openDeviceBackend(simDir, e); };
    job.stop = &stop;
    job.messages = sinks.back().get();
    job.reportDir = o.reportDir;
    job.seed = o.seed;
    runs.push_back(std::make_unique<WorkloadRun>(*ctx, std::move(job)));
  }

  {
    InterruptIsStop interrupt(stop);
    std::vector<std::thread> workers;
    for (auto& run : runs) workers.emplace_back([r = run.get()] { r->run(); });
    // Once a second, every drive's state.
    for (;;) {
      bool all = true;
      for (int slice = 0; slice < 10; ++slice) {
        all = true;
        for (auto& run : runs) all = all && run->finished();
        if (all) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      if (all) break;
      for (size_t i = 0; i < runs.size(); ++i)
        if (!runs[i]->finished()) sinks[i]->state(runs[i]->stateText());
    }
    for (std::thread& w : workers) w.join();
  }
  for (size_t i = 0; i < runs.size(); ++i) {
    const WorkloadResult& r = runs[i]->result();
    if (!r.reportPath.empty()) sinks[i]->state("Speed report: " + r.reportPath + "\n");
    if (!r.passed) session.fail(kExitFailed);
  }
}

void install(CLI::App& app, Session& session) {
  auto o = std::make_shared<WorkloadOptions>();
  CLI::App* workload = app.add_subcommand("workload", "Multi-drive scripted workloads (the multi-run tab)");
  workload->require_subcommand(1);
  CLI::App* run = workload->add_subcommand("run", "Run one workload on several drives at once");
  run->add_option("--drive", o->drives, "Physical drives, e.g. 0,1,3")->required();
  run->add_flag("--rdnsq", o->rdnsq, "RdnSqLoop: reserve / sequential / random areas by percentage");
  run->add_option("--seq", o->seq, "Sequential Access % (0..99, default 40)");
  run->add_option("--rnd", o->rnd, "Random Access % (0..100-seq, default 40)");
  run->add_flag("--rsv-fill", o->rsvFill, "Reserve Fill: write the reserve area first");
  run->add_option("--loop", o->loop, "Loop: passes (default 1)");
  run->add_option("--time", o->time, "Time: run for HH:MM");
  run->add_option("--sc1", o->sc1, "DefineLop: a .sc1 script");
  run->add_option("--sc2", o->sc2, "CapasLoop: a .sc2 script (writes the speed report)");
  run->add_option("--jesd", o->jesd, "Jesd219a: a client workload .txt script");
  run->add_option("--report-dir", o->reportDir, "Where the speed reports go (default: the current directory)");
  run->add_option("--seed", o->seed, "Random seed (default: the current time in seconds)");
  run->add_flag("--confirm-data-loss", o->confirmDataLoss, "Let the workload destroy the data of real drives");
  run->callback([&session, o] { runWorkload(session, *o); });
}

CommandRegistrar reg{"workload", &install};

}  // namespace

}  // namespace zorv::cli
