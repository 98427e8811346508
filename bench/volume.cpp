// The volume file test at full speed: a type 1 sequential script run by
// VolumeTestWindow on an ext4 file system mounted from a loop device that is
// a simulated family drive's media, then fio with the same file workload on
// the same file system: the first phase's sequential writes that lay the file
// out, the second phase's sequential writes over it, the read back; O_DIRECT,
// io_uring, "File Size" blocks, 16 deep. The figure is all bytes moved over
// the time the phases took, the best of a few alternating rounds (the loop
// device's backing file written in full beforehand, and one untimed run), and
// the ratio ours / fio.
// Needs root and loop devices.
//
//   bench_volume [--volume-mib N] [--range-mib N] [--total-mib N] [--file-kib N] [--rounds N]

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/bay_store.h"
#include "sim/sim_bay.h"
#include "sim/sim_port.h"
#include "support/loop_volume.h"
#include "support/sim_fixture.h"
#include "volume/test_file.h"
#include "volume/volume_list.h"
#include "volume/volume_test.h"

namespace {

using namespace zorv;

struct Settings {
  uint64_t volumeMiB = 768;
  uint64_t rangeMiB = 256;
  uint64_t totalMiB = 256;
  uint64_t fileKiB = 1024;
  int rounds = 2;
};

struct Figure {
  double seconds = 0;
  double bytes = 0;
  double mbps() const { return seconds > 0 ? bytes / seconds / 1e6 : 0; }
};

std::vector<std::string> split(const std::string& line, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t pos; (pos = line.find(sep, start)) != std::string::npos; start = pos + 1)
    out.push_back(line.substr(start, pos - start));
  out.push_back(line.substr(start));
  return out;
}

// fio's three jobs in order (stonewall); terse v3 per job: read KiB and
// runtime in ms are fields 6 and 9, write KiB and runtime 47 and 50.
Figure runFio(const std::string& file, uint64_t area, uint64_t total, uint64_t block) {
  const std::string common = " --filename='" + file + "' --direct=1 --ioengine=io_uring --iodepth=16 --bs=" +
                             std::to_string(block) + " --fallocate=none --size=" + std::to_string(area);
  const std::string cmd = "fio --output-format=terse --terse-version=3" + common +
                          " --name=layout --rw=write" + " --name=rewrite --stonewall --rw=write --io_size=" +
                          std::to_string(total) + " --name=readback --stonewall --rw=read --io_size=" +
                          std::to_string(total) + " 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return {};
  Figure f;
  char line[16384];
  while (fgets(line, sizeof line, p)) {
    std::vector<std::string> x = split(line, ';');
    if (x.size() < 50) continue;
    f.bytes += (std::atof(x[5].c_str()) + std::atof(x[46].c_str())) * 1024;
    f.seconds += (std::atof(x[8].c_str()) + std::atof(x[49].c_str())) / 1000;
  }
  pclose(p);
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  Settings s;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    const uint64_t v = std::strtoull(argv[i + 1], nullptr, 10);
    if (a == "--volume-mib") s.volumeMiB = v;
    else if (a == "--range-mib") s.rangeMiB = v;
    else if (a == "--total-mib") s.totalMiB = v;
    else if (a == "--file-kib") s.fileKiB = v;
    else if (a == "--rounds") s.rounds = static_cast<int>(v);
    else {
      std::fprintf(stderr, "usage: %s [--volume-mib N] [--range-mib N] [--total-mib N] [--file-kib N] [--rounds N]\n", argv[0]);
      return 2;
    }
  }
  test::LoopVolume volume(s.volumeMiB << 20, test::LoopVolume::Backing::Written);
  if (!volume.ok()) {
    std::fprintf(stderr, "bench_volume: %s\n", volume.skipReason.c_str());
    return 2;
  }
  sim::BayRecord record = sim::SimBay::defaultBay();
  sim::DriveRecord& d = *record.slots[0].drive;
  d.media.kind = sim::MediaKind::File;
  d.media.path = volume.device();
  d.identity.capacity = volume.bytes() / 512;
  d.latency = sim::LatencyModel{};
  // The bay on the system clock, as in a real run.
  test::TempDir bayDir;
  std::string error;
  if (!sim::BayStore::create(bayDir.path(), record, error)) {
    std::fprintf(stderr, "bench_volume: %s\n", error.c_str());
    return 1;
  }
  SystemClock clock;
  auto bay = sim::SimBay::open(bayDir.path(), error, {&clock});
  if (!bay) {
    std::fprintf(stderr, "bench_volume: %s\n", error.c_str());
    return 1;
  }
  auto port = sim::makeSimPort(bay);
  SilentUserInterface ui;
  NullSink pane;
  Context ctx(*port, ui, clock, pane);
  test::describeSimDrive(*bay, 0, ctx.DriveTable[0]);
  ctx.ucDriveCount = 1;
  ctx.ucSelDrive = 0;
  ctx.fgFamilyDrive = 1;
  StringSink box;
  std::vector<VolumeRecord> volumes = ParseVolumes(ctx, readVolumes(*port, ""), box);
  if (volumes.size() != 1) {
    std::fprintf(stderr, "bench_volume: the loop volume was not found on the drive\n");
    return 1;
  }

  Sc3Script script;
  const std::string text = "Range Size: " + std::to_string(s.rangeMiB) + " MB\nTotal Write Capacity: " +
                           std::to_string(s.totalMiB) + " MB\nFile Size: " + std::to_string(s.fileKiB) +
                           " KB\nSequence: true\n";
  if (!parseSc3(text, script, error) || !volumeRefusal(volumes[0], script).empty()) {
    std::fprintf(stderr, "bench_volume: %s%s\n", error.c_str(), volumeRefusal(volumes[0], script).c_str());
    return 2;
  }
  // One untimed run first (the file system's first allocations), then ours
  // and fio take turns; the best of each counts.
  auto runOurs = [&](Figure& out) {
    VolumeRunBoard board;
    VolumeTestWindow w(ctx, volumes[0], script, board, box, ui, {.seed = 1});
    if (!w.start()) return false;
    while (!w.finished()) ::usleep(1000);
    w.close();
    if (!w.passed()) {
      std::fprintf(stderr, "bench_volume: the test failed:\n%s", box.text().c_str());
      return false;
    }
    const VolumeTestStats st = w.stats();
    out = {st.seconds, static_cast<double>(st.bytesWritten + st.bytesRead)};
    return true;
  };
  const std::string testFile = testFilePath(volumes[0].mountPoint);
  const std::string fioFile = testFolderPath(volumes[0].mountPoint) + "/fio.bin";
  Figure ours, fio, warm;
  if (!runOurs(warm)) return 1;
  const uint64_t area = std::filesystem::file_size(testFile);
  for (int round = 0; round < s.rounds; ++round) {
    deleteLeftoverTestFile(volumes[0].mountPoint);
    Figure o;
    if (!runOurs(o)) return 1;
    deleteLeftoverTestFile(volumes[0].mountPoint);
    Figure f = runFio(fioFile, area, script.totalWriteCapacity, script.fileSize);
    std::filesystem::remove(fioFile);
    std::printf("round %d: ours %8.1f MB/s, fio %8.1f MB/s\n", round + 1, o.mbps(), f.mbps());
    if (o.mbps() > ours.mbps()) ours = o;
    if (f.mbps() > fio.mbps()) fio = f;
  }

  std::printf("Volume file test vs fio (ext4 on a loop device, O_DIRECT, io_uring, depth 16, %llu KiB blocks,\n"
              "%llu MiB laid out, %llu MiB rewritten and read back; best of %d rounds):\n",
              static_cast<unsigned long long>(s.fileKiB), static_cast<unsigned long long>(area >> 20),
              static_cast<unsigned long long>(s.totalMiB), s.rounds);
  std::printf("  ours %8.1f MB/s (%6.0f MB in %6.2f s)\n", ours.mbps(), ours.bytes / 1e6, ours.seconds);
  std::printf("  fio  %8.1f MB/s (%6.0f MB in %6.2f s)\n", fio.mbps(), fio.bytes / 1e6, fio.seconds);
  std::printf("  ours / fio %.2f\n", fio.mbps() > 0 ? ours.mbps() / fio.mbps() : 0.0);
  return 0;
}
