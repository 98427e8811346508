// zorv-tcmu: serves one drive of a simulated bay as a SCSI disk through the
// kernel's user-space target (target_core_user), behind a SAT bridge.
//
//   zorv-tcmu --bay DIR --slot N [--fixed-sense-only] /dev/uioN
//
// The TCMU device is made in configfs first (core/user_N/NAME, enabled);
// its uio node is the argument. The program serves until the device goes
// away (the configfs directory is removed) or it is stopped by a signal.

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "sim/sim_bay.h"
#include "tcmu/sat_bridge_target.h"
#include "tcmu/tcmu_ring.h"

namespace {

// The size of the uio device's first mapping, from sysfs (hexadecimal).
bool mapSize(const std::string& device, size_t& size) {
  const std::string name = device.substr(device.find_last_of('/') + 1);
  std::ifstream in("/sys/class/uio/" + name + "/maps/map0/size");
  unsigned long long value = 0;
  if (!(in >> std::hex >> value) || value == 0) return false;
  size = static_cast<size_t>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"zorv-tcmu: a simulated drive as a SCSI disk behind a SAT bridge (target_core_user)"};
  std::string bayDir;
  int slot = 0;
  bool fixedOnly = false;
  bool trace = false;
  std::string device;
  app.add_option("--bay", bayDir, "The simulated bay's directory")->required();
  app.add_option("--slot", slot, "The slot of the drive to serve (0-7)")->check(CLI::Range(0, 7));
  app.add_flag("--fixed-sense-only", fixedOnly, "A bridge that refuses MODE SELECT: sense data stays fixed format");
  app.add_flag("--trace", trace, "Print every CDB and its SCSI status on stderr");
  app.add_option("uio", device, "The TCMU device's uio node, e.g. /dev/uio0")->required();
  CLI11_PARSE(app, argc, argv);

  std::string error;
  std::shared_ptr<zorv::sim::SimBay> bay = zorv::sim::SimBay::open(bayDir, error);
  if (!bay) {
    std::cerr << "zorv-tcmu: " << error << '\n';
    return 2;
  }
  std::shared_ptr<zorv::sim::SimController> controller = bay->controller(slot);
  if (!controller) {
    std::cerr << "zorv-tcmu: slot " << slot << " holds no usable drive\n";
    return 2;
  }
  size_t size = 0;
  if (!mapSize(device, size)) {
    std::cerr << "zorv-tcmu: cannot read the map size of " << device << '\n';
    return 2;
  }
  const int fd = ::open(device.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    std::cerr << "zorv-tcmu: open " << device << ": " << std::strerror(errno) << '\n';
    return 1;
  }
  void* map = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) {
    std::cerr << "zorv-tcmu: mmap " << device << ": " << std::strerror(errno) << '\n';
    return 1;
  }
  zorv::tcmu::TcmuRing ring(static_cast<uint8_t*>(map), size);
  if (!ring.check(error)) {
    std::cerr << "zorv-tcmu: " << device << ": " << error << '\n';
    return 1;
  }
  zorv::tcmu::SatBridgeTarget target(controller, {fixedOnly});
  const zorv::tcmu::CommandHandler handler = [&](const zorv::tcmu::TcmuCommand& c, zorv::tcmu::TcmuResponse& r) {
    target.execute(c, r);
    if (!trace) return;
    std::fprintf(stderr, "zorv-tcmu:");
    for (uint8_t b : c.cdb) std::fprintf(stderr, " %02X", b);
    std::fprintf(stderr, " | %zu bytes -> status %02X", c.dataBytes(), r.scsiStatus);
    if (r.scsiStatus) std::fprintf(stderr, " sense %02X %02X/%02X", r.sense[2] & 0x0F, r.sense[12], r.sense[13]);
    std::fprintf(stderr, "\n");
  };
  std::cerr << "zorv-tcmu: serving slot " << slot << " of " << bayDir << " on " << device << '\n';
  // Commands may already wait in the ring: the kernel signalled them before
  // the device was opened, and an open starts counting events afresh. So the
  // ring is served first, and then after every event; a write tells the
  // kernel that replies are there.
  for (;;) {
    const int served = ring.serve(handler);
    if (served < 0) {
      std::cerr << "zorv-tcmu: an entry of the command ring lies outside it\n";
      break;
    }
    uint32_t events = 0;
    if (served > 0 && ::write(fd, &events, sizeof events) < 0 && errno != EINTR) break;
    if (::read(fd, &events, sizeof events) != static_cast<ssize_t>(sizeof events)) {
      if (errno == EINTR) continue;
      std::cerr << "zorv-tcmu: " << device << " is gone\n";
      break;
    }
    if (trace) std::fprintf(stderr, "zorv-tcmu: event %u\n", events);
  }
  ::munmap(map, size);
  ::close(fd);
  bay->flush(error);
  return 0;
}
