// The capacity workload at full speed on four drives at once: CapasLoop,
// sequential 128 KiB commands without read-back, one window (its own port,
// queue of 16 and worker thread) per simulated drive whose media is a real
// file (O_DIRECT + io_uring), beside fio with four jobs writing the same
// four files (depth 16, 128 KiB). The rounds alternate, ours and fio's; the
// best round of each is compared. Then the CPU cost of the stamps a command
// of 256 sectors carries, and of checking them after its read-back.
//
//   bench_workload [--file-mib N] [--rounds N] [--laps N] [--fio 0|1]

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/bay_store.h"
#include "sim/sim_bay.h"
#include "sim/sim_port.h"
#include "support/sim_fixture.h"
#include "transport/context.h"
#include "workload/workload_run.h"
#include "workload/workload_stamp.h"

namespace {

using namespace zorv;

constexpr int kDrives = 4;

struct Settings {
  int fileMiB = 256;
  int rounds = 2;
  uint32_t laps = 8;
  bool fio = true;
};

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto secs = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return secs(u.ru_utime) + secs(u.ru_stime);
}

bool createMediaFile(std::string& path, int mib) {
  char tmpl[] = "/var/tmp/zorv-bench-workload-XXXXXX";
  int fd = mkstemp(tmpl);
  if (fd < 0) return false;
  path = tmpl;
  std::vector<char> chunk(1 << 20, 0x5A);
  bool ok = true;
  for (int i = 0; i < mib && ok; ++i) ok = write(fd, chunk.data(), chunk.size()) == static_cast<ssize_t>(chunk.size());
  ok = ok && fsync(fd) == 0;
  close(fd);
  return ok;
}

// A bay of four family drives, each keeping its media in one of the files,
// with no modelled latency, on the system clock.
struct FileBay {
  FileBay(const std::vector<std::string>& files, uint64_t sectors) {
    sim::BayRecord record = sim::SimBay::defaultBay();
    for (int i = 0; i < kDrives; ++i) {
      sim::SlotRecord& slot = record.slots[static_cast<size_t>(i)];
      slot = record.slots[0];
      slot.drive->identity.serial = "BENCH" + std::to_string(i);
      slot.drive->media.kind = sim::MediaKind::File;
      slot.drive->media.path = files[static_cast<size_t>(i)];
      slot.drive->identity.capacity = sectors;
      slot.drive->latency = sim::LatencyModel{};
    }
    if (!sim::BayStore::create(dir.path(), record, error)) return;
    bay = sim::SimBay::open(dir.path(), error, {&clock});
    if (!bay) return;
    port = sim::makeSimPort(bay);
    ctx = std::make_unique<Context>(*port, ui, clock, pane);
    ctx->ucDriveCount = kDrives;
    for (int i = 0; i < kDrives; ++i)
      if (!test::describeSimDrive(*bay, i, ctx->DriveTable[static_cast<size_t>(i)])) error = "no drive in a slot";
  }
  bool ok() const { return ctx && error.empty(); }

  test::TempDir dir;
  test::TempDir reports;
  std::string error;
  SystemClock clock;
  SilentUserInterface ui;
  NullSink pane;
  std::shared_ptr<sim::SimBay> bay;
  std::unique_ptr<DevicePort> port;
  std::unique_ptr<Context> ctx;
};

struct Figure {
  double mbps = 0;
  double cpuUs = 0;  // CPU per command, user + system
};

Figure runOurs(FileBay& b, uint64_t sectors, uint32_t laps, std::string& error) {
  std::vector<std::unique_ptr<WorkloadRun>> runs;
  std::vector<NullSink> boxes(kDrives);
  for (int i = 0; i < kDrives; ++i) {
    WorkloadJob job;
    job.drive = b.ctx->DriveTable[static_cast<size_t>(i)];
    job.plan.kind = WorkloadKind::CapasLoop;
    job.plan.devicePath = job.drive.strDevicePath;
    job.plan.serial = job.drive.strSerial;
    job.plan.rangeEnd = sectors;
    job.plan.totalSectors = sectors * laps;
    job.plan.kb = 128;
    job.plan.sequential = true;
    job.openPort = [&b](std::string&) { return sim::makeSimPort(b.bay); };
    job.messages = &boxes[static_cast<size_t>(i)];
    job.reportDir = b.reports.path();
    job.seed = 1;
    runs.push_back(std::make_unique<WorkloadRun>(*b.ctx, std::move(job)));
  }
  double cpu0 = cpuSeconds();
  auto t0 = std::chrono::steady_clock::now();
  std::vector<std::thread> workers;
  for (auto& r : runs) workers.emplace_back([p = r.get()] { p->run(); });
  for (auto& w : workers) w.join();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  double cpu = cpuSeconds() - cpu0;
  double bytes = 0;
  for (auto& r : runs) {
    if (!r->result().passed) error = "a drive failed: " + r->result().refusal;
    bytes += static_cast<double>(r->result().sectorsWritten) * 512;
  }
  double commands = bytes / (128 * 1024);
  return {bytes / seconds / 1e6, commands > 0 ? cpu * 1e6 / commands : 0};
}

// fio's aggregate write bandwidth and CPU per command (terse v3: write
// bandwidth and IOPS are fields 48 and 49, CPU 88 and 89).
Figure runFio(const std::vector<std::string>& files) {
  std::string cmd = "fio --direct=1 --ioengine=io_uring --iodepth=16 --bs=128k --rw=write --time_based --runtime=3"
                    " --group_reporting --output-format=terse --terse-version=3";
  for (size_t i = 0; i < files.size(); ++i) cmd += " --name=j" + std::to_string(i) + " --filename=" + files[i];
  cmd += " 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return {};
  char line[16384];
  std::string out;
  while (fgets(line, sizeof line, p)) out += line;
  pclose(p);
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t pos; (pos = out.find(';', start)) != std::string::npos && fields.size() < 89; start = pos + 1)
    fields.push_back(out.substr(start, pos - start));
  if (fields.size() < 89) return {};
  double iops = std::atof(fields[48].c_str());
  double cpuShare = (std::atof(fields[87].c_str()) + std::atof(fields[88].c_str())) / 100;
  return {std::atof(fields[47].c_str()) * 1024 / 1e6, iops > 0 ? cpuShare * 1e6 / iops : 0.0};
}

// Nanoseconds per 256-sector command for stamping and for checking.
std::pair<double, double> stampCost() {
  std::vector<uint8_t> buffer(256 * 512, 0xA5);
  constexpr int kCommands = 200000;
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < kCommands; ++i) stampWorkloadSectors(buffer.data(), uint64_t(i) * 256, 256, i / 100);
  auto t1 = std::chrono::steady_clock::now();
  int bad = 0;
  stampWorkloadSectors(buffer.data(), 7 * 256, 256, 0);
  for (int i = 0; i < kCommands; ++i) bad += checkWorkloadStamps(buffer.data(), 7 * 256, 256).has_value() ? 1 : 0;
  auto t2 = std::chrono::steady_clock::now();
  if (bad) std::fprintf(stderr, "stamp check failed %d times\n", bad);
  return {std::chrono::duration<double, std::nano>(t1 - t0).count() / kCommands,
          std::chrono::duration<double, std::nano>(t2 - t1).count() / kCommands};
}

}  // namespace

int main(int argc, char** argv) {
  Settings s;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    long v = std::atol(argv[i + 1]);
    if (v < 0 || (v == 0 && a != "--fio")) {
      std::fprintf(stderr, "%s: a positive number\n", a.c_str());
      return 2;
    }
    if (a == "--file-mib") s.fileMiB = static_cast<int>(std::min(v, 4095L));
    else if (a == "--rounds") s.rounds = static_cast<int>(v);
    else if (a == "--laps") s.laps = static_cast<uint32_t>(v);
    else if (a == "--fio") s.fio = v != 0;
    else {
      std::fprintf(stderr, "usage: %s [--file-mib N] [--rounds N] [--laps N] [--fio 0|1]\n", argv[0]);
      return 2;
    }
  }
  std::vector<std::string> files(kDrives);
  auto removeFiles = [&] {
    for (const std::string& f : files)
      if (!f.empty()) unlink(f.c_str());
  };
  for (std::string& f : files) {
    if (!createMediaFile(f, s.fileMiB)) {
      std::fprintf(stderr, "cannot create the media files\n");
      removeFiles();
      return 1;
    }
  }
  const uint64_t sectors = uint64_t(s.fileMiB) * 2048;
  FileBay bay(files, sectors);
  if (!bay.ok()) {
    std::fprintf(stderr, "simulated bay: %s\n", bay.error.c_str());
    removeFiles();
    return 1;
  }
  Figure bestOurs, bestFio;
  for (int round = 0; round < s.rounds; ++round) {
    std::string error;
    Figure ours = runOurs(bay, sectors, s.laps, error);
    if (!error.empty()) {
      std::fprintf(stderr, "%s\n", error.c_str());
      removeFiles();
      return 1;
    }
    Figure fio = s.fio ? runFio(files) : Figure{};
    std::printf("round %d: ours %7.1f MB/s %5.1f us CPU/cmd, fio %7.1f MB/s %5.1f us CPU/cmd\n", round + 1, ours.mbps,
                ours.cpuUs, fio.mbps, fio.cpuUs);
    if (ours.mbps > bestOurs.mbps) bestOurs = ours;
    if (fio.mbps > bestFio.mbps) bestFio = fio;
  }
  auto [stampNs, checkNs] = stampCost();
  std::printf("\nCapasLoop, 4 drives, sequential 128 KiB, queue of 16 each, vs fio 4 jobs (io_uring, O_DIRECT, depth 16),"
              " best of %d rounds:\n",
              s.rounds);
  std::printf("ours %.1f MB/s, fio %.1f MB/s, ratio %.2f; CPU per command ours %.1f us, fio %.1f us\n", bestOurs.mbps,
              bestFio.mbps, bestFio.mbps > 0 ? bestOurs.mbps / bestFio.mbps : 0.0, bestOurs.cpuUs, bestFio.cpuUs);
  std::printf("stamps of a 256-sector command: %.0f ns to write, %.0f ns to check\n", stampNs, checkNs);
  removeFiles();
  return 0;
}
