#include "platform/linux/linux_port.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <memory>

#include "fake_tree.h"
#include "support/test_support.h"
#include "transport/ata_command.h"
#include "transport/ncq_queue.h"
#include "transport/scsi_command.h"

namespace zorv::platform {
namespace {

using test::FakeTree;

constexpr const char* kSataDisk = "pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0";
constexpr const char* kUsbDisk = "pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host4/target4:0:0/4:0:0:0";

std::unique_ptr<DevicePort> portOn(const FakeTree& tree) {
  std::string error;
  auto port = makeLinuxPort(LinuxPortOptions{tree.sys(), tree.dev()}, error);
  EXPECT_TRUE(port) << error;
  return port;
}

AtaPassThroughRequest identify(uint8_t* buffer) {
  AtaPassThroughRequest r;
  r.ataFlags = kAtaFlagsDrdyRequired | kAtaFlagsDataIn;
  r.dataTransferLength = 512;
  r.dataBuffer = buffer;
  r.timeOutValue = 30;
  r.currentTaskFile = {0x00, 0x01, 0x00, 0x00, 0x00, 0x40, 0xEC, 0x00};
  return r;
}

ScsiRequest testUnitReady() {
  ScsiRequest r;
  r.cdbLength = 12;
  r.timeOutValue = 7;
  return r;
}

TEST(LinuxPort, PhysicalDrivesAreTheFirstEightScsiDisks) {
  std::string error;
  auto port = makeLinuxPort(error);
  ASSERT_TRUE(port);
  EXPECT_TRUE(error.empty());
  EXPECT_EQ(port->name(), "linux");
  EXPECT_EQ(port->physicalDrivePath(0), "/dev/sda");
  EXPECT_EQ(port->physicalDrivePath(1), "/dev/sdb");
  EXPECT_EQ(port->physicalDrivePath(7), "/dev/sdh");
  EXPECT_EQ(port->physicalDrivePath(8), "");
  EXPECT_EQ(port->physicalDrivePath(-1), "");
}

TEST(LinuxPort, MissingDriveIsNoDeviceOnEveryPath) {
  FakeTree tree;
  auto port = portOn(tree);
  const std::string path = port->physicalDrivePath(2);
  EXPECT_EQ(path, tree.dev() + "/sdc");

  uint8_t busType = 0xEE;
  IoOutcome bus = port->queryBusType(path, busType);
  EXPECT_EQ(bus.error, IoError::NoDevice);
  EXPECT_EQ(bus.osErrno, ENOENT);
  EXPECT_EQ(busType, 0);

  uint8_t buffer[512];
  AtaPassThroughRequest ata = identify(buffer);
  EXPECT_EQ(port->ataPassThrough(path, ata).error, IoError::NoDevice);
  EXPECT_EQ(ata.currentTaskFile[6], 0xEC);  // untouched

  ScsiRequest tur = testUnitReady();
  EXPECT_EQ(port->scsiPassThrough(path, tur).error, IoError::NoDevice);
  EXPECT_EQ(port->submitQueued(path, 3, tur).error, IoError::NoDevice);
  EXPECT_EQ(port->pollSlot(3), SlotState::Idle);
  EXPECT_EQ(port->scsiPassThrough("", tur).error, IoError::NoDevice);
  port->drainQueue();
}

TEST(LinuxPort, RefusedTaskFileIsRefusedBeforeTheDeviceIsOpened) {
  FakeTree tree;
  auto port = portOn(tree);
  uint8_t buffer[512];
  AtaPassThroughRequest bad = identify(buffer);
  bad.dataTransferLength = 100;
  // The drive is missing: NotSupported (not NoDevice) proves nothing was opened.
  IoOutcome o = port->ataPassThrough(port->physicalDrivePath(0), bad);
  EXPECT_EQ(o.error, IoError::NotSupported);
  EXPECT_NE(o.detail.find("512-byte"), std::string::npos) << o.detail;
  EXPECT_EQ(bad.currentTaskFile[6], 0xEC);

  ScsiRequest longCdb = testUnitReady();
  longCdb.cdbLength = 20;
  EXPECT_EQ(port->scsiPassThrough(port->physicalDrivePath(0), longCdb).error, IoError::NotSupported);
  EXPECT_EQ(port->submitQueued(port->physicalDrivePath(0), 0, longCdb).error, IoError::NotSupported);
}

TEST(LinuxPort, SomethingThatIsNotAScsiDeviceFailsCleanly) {
  FakeTree tree;
  const std::string path = tree.addNode("sda");
  auto port = portOn(tree);
  uint8_t buffer[512] = {};
  AtaPassThroughRequest ata = identify(buffer);
  IoOutcome o = port->ataPassThrough(path, ata);
  EXPECT_EQ(o.error, IoError::NotSupported);
  EXPECT_EQ(o.osErrno, ENOTTY);
  EXPECT_EQ(ata.currentTaskFile[6], 0xEC);

  ScsiRequest tur = testUnitReady();
  o = port->scsiPassThrough(path, tur);
  EXPECT_EQ(o.error, IoError::NotSupported);
  EXPECT_EQ(tur.scsiStatus, 0);
}

TEST(LinuxPort, DeviceThatVanishedAfterUseIsNoDevice) {
  FakeTree tree;
  const std::string path = tree.addNode("sda");
  auto port = portOn(tree);
  ScsiRequest tur = testUnitReady();
  EXPECT_EQ(port->scsiPassThrough(path, tur).error, IoError::NotSupported);  // opened and kept
  std::filesystem::remove(path);
  EXPECT_EQ(port->scsiPassThrough(path, tur).error, IoError::NoDevice);  // not the kept descriptor
  tree.addNode("sda");
  EXPECT_EQ(port->scsiPassThrough(path, tur).error, IoError::NotSupported);  // opened afresh
}

TEST(LinuxPort, BusTypeComesFromSysfs) {
  FakeTree tree;
  tree.addDisk("sda", kSataDisk);
  tree.addDisk("sdb", kUsbDisk);
  const std::string sda = tree.addNode("sda");
  const std::string sdb = tree.addNode("sdb");
  const std::string sdc = tree.addNode("sdc");  // opens, but sysfs does not know it
  auto port = portOn(tree);
  uint8_t bus = 0xEE;
  EXPECT_TRUE(port->queryBusType(sda, bus).ok());
  EXPECT_EQ(bus, kBusSata);
  EXPECT_TRUE(port->queryBusType(sdb, bus).ok());
  EXPECT_EQ(bus, kBusUsb);
  EXPECT_TRUE(port->queryBusType(sdc, bus).ok());
  EXPECT_EQ(bus, 0);
}

// A loop device on a file in a fresh directory, detached at the end; needs
// root (loop-control). path is empty when none can be made here.
class LoopDevice {
 public:
  explicit LoopDevice(const std::string& backing) {
    const int file = ::open(backing.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    if (file < 0) return;
    const int control = ::open("/dev/loop-control", O_RDWR | O_CLOEXEC);
    const int number = control >= 0 && ::ftruncate(file, 1 << 20) == 0 ? ::ioctl(control, LOOP_CTL_GET_FREE) : -1;
    if (control >= 0) ::close(control);
    const std::string device = "/dev/loop" + std::to_string(number);
    fd_ = number >= 0 ? ::open(device.c_str(), O_RDWR | O_CLOEXEC) : -1;
    if (fd_ >= 0 && ::ioctl(fd_, LOOP_SET_FD, file) == 0) path = device;
    ::close(file);
  }
  ~LoopDevice() {
    if (!path.empty()) ::ioctl(fd_, LOOP_CLR_FD, 0);
    if (fd_ >= 0) ::close(fd_);
  }
  LoopDevice(const LoopDevice&) = delete;
  LoopDevice& operator=(const LoopDevice&) = delete;

  std::string path;

 private:
  int fd_ = -1;
};

// A drive the system holds (here: claimed exclusively, as a mount claims
// the disk under a mounted partition) is opened for discovery and every
// command, and only the probe for raw media writes reports it in use.
TEST(LinuxPort, ADriveTheSystemHoldsIsOpenedButReportedInUse) {
  FakeTree tree;
  LoopDevice loop(tree.dev() + "/backing.img");
  if (loop.path.empty()) GTEST_SKIP() << "no loop device here (needs root and loop-control)";
  auto port = portOn(tree);
  EXPECT_TRUE(port->probeExclusive(loop.path).ok());

  const int holder = ::open(loop.path.c_str(), O_RDONLY | O_EXCL | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  uint8_t bus = 0xEE;
  IoOutcome opened = port->queryBusType(loop.path, bus);
  EXPECT_TRUE(opened.ok()) << opened.detail;
  IoOutcome probe = port->probeExclusive(loop.path);
  EXPECT_EQ(probe.error, IoError::Busy);
  EXPECT_NE(probe.detail.find("in use"), std::string::npos) << probe.detail;
  ::close(holder);
  EXPECT_TRUE(port->probeExclusive(loop.path).ok()) << "the probe keeps no claim";
  EXPECT_EQ(port->probeExclusive(tree.dev() + "/sdq").error, IoError::NoDevice);
}

// Descriptors kept for a disk are closed when its removal is reported, so
// the kernel can give its name to the drive when it comes back.
TEST(LinuxPort, RemovalEventClosesTheDescriptorsKeptForTheDisk) {
  FakeTree tree;
  const std::string sda = tree.addNode("sda");
  const std::string sdb = tree.addNode("sdb");
  struct FakeEvents : DeviceEventSource {
    RemovalHook hook;
    bool poll(std::vector<DeviceEvent>& out, int) override {
      hook("sda");
      out.push_back({DeviceEventKind::Removal, "removed"});
      return true;
    }
  };
  LinuxPortOptions options{tree.sys(), tree.dev()};
  options.openEvents = [](RemovalHook hook) {
    auto source = std::make_unique<FakeEvents>();
    source->hook = std::move(hook);
    return source;
  };
  std::string error;
  auto port = makeLinuxPort(options, error);
  auto openCount = [](const std::string& path) {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
      std::error_code ec;
      if (std::filesystem::read_symlink(e.path(), ec) == path) ++n;
    }
    return n;
  };
  ScsiRequest tur = testUnitReady();
  (void)port->scsiPassThrough(sda, tur);  // not a SCSI device, but opened and kept
  (void)port->scsiPassThrough(sdb, tur);
  ASSERT_EQ(openCount(sda), 1);
  ASSERT_EQ(openCount(sdb), 1);

  auto events = port->watchDevices();
  ASSERT_TRUE(events);
  std::vector<DeviceEvent> out;
  EXPECT_TRUE(events->poll(out, 0));
  EXPECT_EQ(out.size(), 1u);
  EXPECT_EQ(openCount(sda), 0);
  EXPECT_EQ(openCount(sdb), 1) << "other disks keep theirs";

  port.reset();  // the source may outlive the port
  EXPECT_TRUE(events->poll(out, 0));
  EXPECT_EQ(openCount(sdb), 0);
}

TEST(LinuxPort, QueueSlotsOutsideTheRangeAreRefused) {
  FakeTree tree;
  auto port = portOn(tree);
  ScsiRequest tur = testUnitReady();
  EXPECT_EQ(port->submitQueued(port->physicalDrivePath(0), -1, tur).error, IoError::NotSupported);
  EXPECT_EQ(port->submitQueued(port->physicalDrivePath(0), kQueueSlots, tur).error, IoError::NotSupported);
  EXPECT_EQ(port->pollSlot(-1), SlotState::Idle);
  EXPECT_EQ(port->pollSlot(kQueueSlots), SlotState::Idle);
  for (int slot = 0; slot < kQueueSlots; ++slot) EXPECT_EQ(port->pollSlot(slot), SlotState::Idle);
  port->drainQueue();
}

TEST(LinuxPort, QueuedTransferWithoutAUsableSgNodeRunsSynchronously) {
  FakeTree tree;
  tree.addDisk("sda", kSataDisk, "sg0");
  const std::string sda = tree.addNode("sda");
  auto port = portOn(tree);
  ScsiRequest tur = testUnitReady();
  // No /dev/sg0 at all, then one that is not an sg device: both fall back to
  // SG_IO on the disk, whose failure comes back at once; the slot stays free.
  EXPECT_EQ(port->submitQueued(sda, 5, tur).error, IoError::NotSupported);
  EXPECT_EQ(port->pollSlot(5), SlotState::Idle);
  tree.addNode("sg0");
  EXPECT_EQ(port->submitQueued(sda, 5, tur).error, IoError::NotSupported);
  EXPECT_EQ(port->pollSlot(5), SlotState::Idle);
}

TEST(LinuxPort, WatchDevicesNeverBlocksWhenAskedNotToWait) {
  std::string error;
  auto port = makeLinuxPort(error);
  auto source = port->watchDevices();
  if (!source) GTEST_SKIP() << "no udev monitor in this environment";
  std::vector<DeviceEvent> events;
  EXPECT_TRUE(source->poll(events, 0));
}

// The transport over this backend with a drive that is not there: clean
// failures, no message, nothing kept in LastSense.
TEST(LinuxPortTransport, MissingDriveFailsCommandsCleanly) {
  FakeTree tree;
  auto port = portOn(tree);
  for (uint8_t bus : {kBusSata, kBusUsb}) {
    zorv::test::TestContext t(*port, bus);
    AtaTaskFile tf;
    tf.ucCommand = 0xEC;
    tf.ucCount = 1;
    tf.ucDevice = 0x40;
    EXPECT_FALSE(SendAtaCommand(t.ctx, false, tf, false, 512));
    EXPECT_EQ(t.ctx.lastOutcome.failure, CommandFailure::Io) << "the reason is kept";
    EXPECT_EQ(t.ctx.lastOutcome.io.error, IoError::NoDevice);
    // ATA PASS-THROUGH(16) has no field for the console's data byte.
    EXPECT_FALSE(ataDataByteTravels(t.ctx));
    EXPECT_FALSE(ReadBlocks(t.ctx, 0, 8, false));
    EXPECT_FALSE(TestUnitReady(t.ctx));
    EXPECT_EQ(t.ctx.LastSense, (std::array<uint8_t, kSenseLength>{}));
    EXPECT_TRUE(t.ui.boxes.empty());

    t.ctx._fgNCQEnable = 1;
    ASSERT_TRUE(InitQueue(t.ctx));
    int slot = AcquireSlot(t.ctx);
    EXPECT_EQ(slot, 0);
    EXPECT_FALSE(QueueRead(t.ctx, slot, 0, 8));
    CloseQueue(t.ctx);
  }
}

}  // namespace
}  // namespace zorv::platform
