// The read media tests at full speed: the sequential read (0x100 blocks per
// command) and the random access test (4 KiB reads on 4 KiB boundaries), both
// with the 16-slot queue, run by MediaTestWorker on a simulated drive whose
// media is a real file (O_DIRECT + io_uring), next to fio with the same
// workload on the same file. Each workload runs several rounds, ours and
// fio's alternating; the best round of each is compared, so that a moment of
// load from elsewhere on the machine spoils one round, not the figure.
// Beside the rates, the CPU time (user + system) each spends per command,
// which a busy machine disturbs less than the rates.
//
//   bench_media_test_read [--file-mib N] [--rounds N] [--seq-laps N] [--rnd-reads N] [--fio 0|1]
//
// --seq-laps 0 or --rnd-reads 0 leaves that workload out; --fio 0 runs ours
// only (for a profile under callgrind).

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "mediatest/media_test_worker.h"
#include "sim/bay_store.h"
#include "sim/sim_bay.h"
#include "sim/sim_port.h"
#include "support/sim_fixture.h"
#include "transport/context.h"
#include "transport/message.h"
#include "transport/user_interface.h"

namespace {

using namespace zorv;

struct Settings {
  int fileMiB = 256;
  int rounds = 3;
  // About fio's two seconds each on a SATA-class file system, so that the
  // run's start and end weigh no more on ours than on fio's.
  uint32_t seqLaps = 12;
  uint32_t rndReads = 150000;
  bool fio = true;
};

// A bay whose family SATA drive (slot 0) keeps its media in `mediaFile`,
// with no modelled latency (the file's own I/O is the service time), on the
// system clock as in a real run.
struct FileDrive {
  FileDrive(const std::string& mediaFile, uint64_t sectors) {
    if (dir.path().empty()) {
      error = "no temporary directory";
      return;
    }
    sim::BayRecord record = sim::SimBay::defaultBay();
    sim::DriveRecord& d = *record.slots[0].drive;
    d.media.kind = sim::MediaKind::File;
    d.media.path = mediaFile;
    d.identity.capacity = sectors;
    d.latency = sim::LatencyModel{};
    if (!sim::BayStore::create(dir.path(), record, error)) return;
    bay = sim::SimBay::open(dir.path(), error, {&clock});
    if (!bay) return;
    port = sim::makeSimPort(bay);
    ctx = std::make_unique<Context>(*port, ui, clock, pane);
    if (!test::describeSimDrive(*bay, 0, ctx->DriveTable[0])) {
      error = "no drive in slot 0";
      return;
    }
    ctx->ucDriveCount = 1;
    ctx->ucSelDrive = 0;
    ctx->fgFamilyDrive = 1;
  }
  bool ok() const { return ctx != nullptr && error.empty(); }

  test::TempDir dir;
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
  double iops = 0;
  double cpuUs = 0;  // CPU time per command, user + system, in microseconds
};

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto secs = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return secs(u.ru_utime) + secs(u.ru_stime);
}

// One media test run; its figures from the wall time of the whole run.
Figure runOurs(FileDrive& drive, const MediaTestParams& params, std::string& error) {
  MediaTestJob job;
  job.params = params;
  job.drive = drive.ctx->selectedDrive();
  job.seed = 12345;
  drive.ctx->fgBusy = 1;
  double cpu0 = cpuSeconds();
  auto t0 = std::chrono::steady_clock::now();
  MediaTestResult r = MediaTestWorker(*drive.ctx, job);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  double cpu = cpuSeconds() - cpu0;
  if (!r.passed()) {
    error = r.refusal.empty() ? "the test failed" : r.refusal;
    return {};
  }
  double commands = static_cast<double>(r.stats.reads);
  return {static_cast<double>(r.stats.blocksRead) * 512 / seconds / 1e6, commands / seconds, cpu * 1e6 / commands};
}

// fio's read bandwidth, IOPS and CPU share (terse v3: fields 7, 8, 88 and 89).
Figure runFio(const std::string& file, const std::string& rw, int kib) {
  std::string cmd = "fio --name=zorv --filename=" + file + " --rw=" + rw +
                    " --direct=1 --ioengine=io_uring --iodepth=16 --time_based --runtime=2 --norandommap"
                    " --bs=" + std::to_string(kib) + "k --output-format=terse --terse-version=3 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return {};
  char line[8192];
  std::string out;
  while (fgets(line, sizeof line, p)) out += line;
  pclose(p);
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t pos; (pos = out.find(';', start)) != std::string::npos && fields.size() < 89; start = pos + 1)
    fields.push_back(out.substr(start, pos - start));
  if (fields.size() < 89) return {};
  double iops = std::atof(fields[7].c_str());
  double cpuShare = (std::atof(fields[87].c_str()) + std::atof(fields[88].c_str())) / 100;
  return {std::atof(fields[6].c_str()) * 1024 / 1e6, iops, iops > 0 ? cpuShare * 1e6 / iops : 0.0};
}

bool createMediaFile(std::string& path, int mib) {
  char tmpl[] = "/var/tmp/zorv-bench-media-XXXXXX";
  int fd = mkstemp(tmpl);
  if (fd < 0) return false;
  path = tmpl;
  // Real blocks, not holes, so both readers touch the same allocated data.
  std::vector<char> chunk(1 << 20, 0x5A);
  bool ok = true;
  for (int i = 0; i < mib && ok; ++i) ok = write(fd, chunk.data(), chunk.size()) == static_cast<ssize_t>(chunk.size());
  ok = ok && fsync(fd) == 0;
  close(fd);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  Settings s;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    long v = std::atol(argv[i + 1]);
    if (v < 0 || (v == 0 && (a == "--file-mib" || a == "--rounds"))) {
      std::fprintf(stderr, "%s: a positive number\n", a.c_str());
      return 2;
    }
    if (a == "--file-mib") s.fileMiB = static_cast<int>(std::min(v, 4095L));
    else if (a == "--rounds") s.rounds = static_cast<int>(v);
    else if (a == "--seq-laps") s.seqLaps = static_cast<uint32_t>(v);
    else if (a == "--rnd-reads") s.rndReads = static_cast<uint32_t>(v);
    else if (a == "--fio") s.fio = v != 0;
    else {
      std::fprintf(stderr, "usage: %s [--file-mib N] [--rounds N] [--seq-laps N] [--rnd-reads N] [--fio 0|1]\n", argv[0]);
      return 2;
    }
  }
  std::string file;
  if (!createMediaFile(file, s.fileMiB)) {
    std::fprintf(stderr, "cannot create the media file\n");
    if (!file.empty()) unlink(file.c_str());
    return 1;
  }
  const uint64_t sectors = uint64_t(s.fileMiB) * 2048;
  FileDrive drive(file, sectors);
  if (!drive.ok()) {
    std::fprintf(stderr, "simulated drive: %s\n", drive.error.c_str());
    unlink(file.c_str());
    return 1;
  }

  MediaTestParams seq;
  seq.usOpCode = kOpSeqRead;
  seq.ulStartLba = 0;
  seq.ulEndLba = static_cast<uint32_t>(sectors);
  seq.ulBlks = 0x100;
  seq.ulLoop = s.seqLaps;
  seq.ulLength = 0x40;
  seq._fgNCQEnable = 1;

  MediaTestParams rnd;
  rnd.usOpCode = kOpRandomAccess;
  rnd.ulStartLba = 0;
  rnd.ulEndLba = static_cast<uint32_t>(sectors);
  rnd.ulBlks = 8;
  rnd.ulAlign = 8;  // 4 KiB boundaries, as fio's random offsets
  rnd.ulLoop = s.rndReads;
  rnd._fgNCQEnable = 1;

  struct Workload {
    const char* name;
    const MediaTestParams& params;
    const char* fioRw;
    int kib;
    Figure ours, fio;
  };
  std::vector<Workload> workloads = {{"seq-read 0x100 blocks qd16", seq, "read", 128, {}, {}},
                                     {"rnd-access 4 KiB qd16", rnd, "randread", 4, {}, {}}};
  int status = 0;
  for (Workload& w : workloads) {
    if (w.params.ulLoop == 0) continue;
    for (int round = 0; round < s.rounds; ++round) {
      std::string error;
      Figure ours = runOurs(drive, w.params, error);
      if (!error.empty()) {
        std::fprintf(stderr, "%s: %s\n", w.name, error.c_str());
        status = 1;
        break;
      }
      Figure fio = s.fio ? runFio(file, w.fioRw, w.kib) : Figure{};
      std::printf("%-28s round %d: ours %7.1f MB/s %7.0f IOPS %5.1f us CPU, fio %7.1f MB/s %7.0f IOPS %5.1f us CPU\n",
                  w.name, round + 1, ours.mbps, ours.iops, ours.cpuUs, fio.mbps, fio.iops, fio.cpuUs);
      if (ours.mbps > w.ours.mbps) w.ours = ours;
      if (fio.mbps > w.fio.mbps) w.fio = fio;
    }
  }

  std::printf("\nMedia tests vs fio (io_uring, O_DIRECT, depth 16, same file, best of %d rounds):\n", s.rounds);
  std::printf("%-28s %10s %10s %10s %10s %7s %11s %11s\n", "workload", "ours MB/s", "fio MB/s", "ours IOPS",
              "fio IOPS", "ratio", "ours us CPU", "fio us CPU");
  for (const Workload& w : workloads)
    std::printf("%-28s %10.1f %10.1f %10.0f %10.0f %7.2f %11.1f %11.1f\n", w.name, w.ours.mbps, w.fio.mbps, w.ours.iops,
                w.fio.iops, w.fio.mbps > 0 ? w.ours.mbps / w.fio.mbps : 0.0, w.ours.cpuUs, w.fio.cpuUs);
  unlink(file.c_str());
  return status;
}
