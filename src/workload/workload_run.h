#pragma once
// One drive window's run (CMutiRunSub): its own device handle, context,
// 16-slot queue, random data and stamps, running the plan of its workload
// block on a worker thread, with the state text the window shows once a
// second and, for the capacity workload, the speed report.
//
// Commands are queued writes of stamped sectors. With read back (always for
// the mixed workload), the written commands are kept in an outstanding list;
// when it holds 100, or a phase ends, they are read back and every sector
// must carry its own LBA. A random command is drawn again while it would
// overlap an outstanding one. The first error ends this run only.
//
//   WorkloadRun run(parent, job);
//   std::thread worker([&] { run.run(); });   // the window's worker
//   ... once a second: box.setText(run.stateText());
//   worker.join();  run.result().passed

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "mediatest/raw_write_guard.h"
#include "mediatest/test_random.h"
#include "transport/context.h"
#include "workload/workload_plan.h"

namespace zorv {

// Opens the window's own handle on the backend (the simulated port's own
// queue, or the OS device); nullptr with error set when it cannot.
using WorkloadPortOpener = std::function<std::unique_ptr<DevicePort>(std::string& error)>;

struct WorkloadJob {
  WorkloadPlan plan;
  DriveEntry drive;  // the row's drive, as enumeration found it
  WorkloadPortOpener openPort;
  std::atomic<uint8_t>* stop = nullptr;  // nullptr: the parent context's fgStopRequest
  MessageSink* messages = nullptr;       // the window's message box; nullptr: the parent's pane
  std::string title = "Multi-Run SubWindow";
  std::string reportDir;                 // where the speed report goes; empty: the current directory
  std::optional<uint32_t> seed;          // default: the current time in seconds
};

struct WorkloadResult {
  bool started = false;   // false: refused before any command (refusal says why)
  std::string refusal;
  bool passed = false;    // ran to its end without an error
  bool stopped = false;
  std::string reportPath;  // the speed report written, if any
  uint64_t sectorsWritten = 0;
  uint64_t sectorsRead = 0;
  uint32_t batches = 0;   // read-back batches checked
};

// Why the plan may not run on drive (range beyond the drive or beyond what
// 10-byte commands address, a client workload group without LBAs, ...);
// empty when it may. The raw-write gate (raw_write_guard.h) is asked
// separately by whoever starts the windows.
std::string workloadPlanRefusal(const WorkloadPlan& plan, const DriveEntry& drive);

class WorkloadRun {
 public:
  WorkloadRun(Context& parent, WorkloadJob job);
  ~WorkloadRun();
  WorkloadRun(const WorkloadRun&) = delete;
  WorkloadRun& operator=(const WorkloadRun&) = delete;

  // The worker body: runs the plan to its end, an error or the stop flag,
  // and writes the final verdict line. Call once.
  const WorkloadResult& run();
  const WorkloadResult& result() const { return result_; }
  bool finished() const { return finished_.load(); }
  // The window's title followed by " Done" or " Error".
  std::string verdictText() const;
  // The state the window shows once a second (safe from another thread);
  // the per-second rates count from the previous call.
  std::string stateText();
  const WorkloadJob& job() const { return job_; }

 private:
  class Engine;

  Context& parent_;
  WorkloadJob job_;
  WorkloadResult result_;
  std::atomic<bool> finished_{false};
  std::unique_ptr<Engine> engine_;
  std::mutex stateMutex_;
  uint64_t lastRead_ = 0;
  uint64_t lastWritten_ = 0;
};

}  // namespace zorv
