#include "platform/linux/linux_port.h"

#include <fcntl.h>
#include <poll.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <span>

#include "platform/linux/sat_pass_through.h"
#include "platform/linux/sense.h"
#include "platform/linux/sense_format.h"
#include "platform/linux/sg_io.h"
#include "platform/linux/sysfs.h"
#include "platform/linux/udev_events.h"
#include "transport/context.h"

namespace zorv::platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPhysicalDrives = 8;
constexpr size_t kCachedDevices = 8;
constexpr int kSgMinVersion = 30000;
constexpr unsigned kModeTimeoutMs = 10000;
constexpr uint8_t kStatusTaskAborted = 0x40;

// A completion that the drive never reported on (time-out, device gone,
// host failure) must not read as GOOD: TASK ABORTED with fixed-format sense
// ABORTED COMMAND, and TIMEOUT ON LOGICAL UNIT (3Eh/02h) for a time-out.
void markAborted(ScsiRequest& request, IoError why) {
  request.scsiStatus = kStatusTaskAborted;
  request.sense.fill(0);
  request.sense[0] = 0x70;
  request.sense[2] = 0x0B;
  request.sense[7] = kSenseLength - 8;
  if (why == IoError::Timeout) {
    request.sense[12] = 0x3E;
    request.sense[13] = 0x02;
  }
}

// A path's open descriptor, kept across calls; the node's identity tells
// when the path has come to name another device (unplugged and plugged).
struct OpenDevice {
  std::string path;
  int fd = -1;
  dev_t dev = 0;
  ino_t ino = 0;
  uint64_t lastUse = 0;
  bool senseFormatChecked = false;
  SenseFormatSwitch senseFormat;  // what to write back when the descriptor is closed
};

struct GenericDevice {
  std::string diskPath;
  int fd = -1;
  dev_t diskDev = 0;
  ino_t diskIno = 0;
  int inFlight = 0;
};

enum class QueueState : uint8_t { Idle, InFlight, Complete };

struct QueueSlot {
  QueueState state = QueueState::Idle;
  int generic = -1;  // index into generic_, or -1 when it ran synchronously
  ScsiRequest* request = nullptr;
  sg_io_hdr hdr{};
  SgSenseBuffer sense{};
};

bool sameNode(const struct stat& st, dev_t dev, ino_t ino) { return st.st_dev == dev && st.st_ino == ino; }

class LinuxPort;

// Lets an event source that may outlive the port reach it while it exists.
struct PortLink {
  std::mutex mutex;
  LinuxPort* port = nullptr;
};

class LinuxPort final : public DevicePort {
 public:
  explicit LinuxPort(LinuxPortOptions options)
      : options_(std::move(options)),
        sysfs_(options_.sysfsRoot, options_.hostBusTypes),
        link_(std::make_shared<PortLink>()) {
    link_->port = this;
  }

  ~LinuxPort() override {
    {
      std::lock_guard lock(link_->mutex);
      link_->port = nullptr;
    }
    // Outstanding sg requests are left to the kernel, which drops them when
    // they complete: indirect I/O never touches our buffers outside read().
    for (OpenDevice& d : devices_) closeDevice(d);
    for (GenericDevice& g : generic_) closeGeneric(g);
  }

  // A removal event for disk `name` ("sdb"): the descriptors kept for it are
  // closed at once, so that the kernel can free the name for the drive when
  // it comes back (a USB drive replugged while one was held open would come
  // back as the next free name).
  void releaseRemovedDisk(const std::string& name) {
    const std::string path = options_.devRoot + "/" + name;
    std::lock_guard queueLock(queueMutex_);
    std::lock_guard syncLock(syncMutex_);
    for (OpenDevice& d : devices_)
      if (d.fd >= 0 && d.path == path) closeDevice(d, false);
    for (GenericDevice& g : generic_)
      if (g.fd >= 0 && g.diskPath == path && g.inFlight == 0) closeGeneric(g);
  }

  std::string_view name() const override { return "linux"; }

  std::string physicalDrivePath(int n) const override {
    if (n < 0 || n >= kPhysicalDrives) return {};
    return options_.devRoot + "/sd" + static_cast<char>('a' + n);
  }

  std::string blockDevicePath(const std::string& path) const override { return path; }

  IoOutcome queryBusType(const std::string& path, uint8_t& busType) override {
    busType = 0;
    if (path.empty()) return IoOutcome::failure(IoError::NoDevice, ENOENT, "no device path");
    // Shared, as every command opens it: a disk whose partitions are mounted
    // (the system disk too) is listed, identified, diagnosed and updated.
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return outcomeFromErrno(errno, "open " + path);
    ::close(fd);
    busType = sysfs_.busType(diskNameOf(path));
    return IoOutcome::success();
  }

  IoOutcome probeExclusive(const std::string& path) override {
    if (path.empty()) return IoOutcome::failure(IoError::NoDevice, ENOENT, "no device path");
    // O_EXCL on a block device claims it: EBUSY while a file system on the
    // disk or on one of its partitions is mounted, it or a partition is
    // swap or a RAID or volume-manager member, or another program holds it
    // exclusively. The claim ends with close.
    const int fd = ::open(path.c_str(), O_RDONLY | O_EXCL | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      const int err = errno;
      IoOutcome o = outcomeFromErrno(err, "open " + path);
      if (err == EBUSY) o.detail += " (in use by the system: a mounted file system, swap or a volume)";
      return o;
    }
    ::close(fd);
    return IoOutcome::success();
  }

  IoOutcome ataPassThrough(const std::string& path, AtaPassThroughRequest& request) override {
    SatCommand command;
    std::string refusal;
    if (!buildSatPassThrough16(request, command, refusal))
      return IoOutcome::failure(IoError::NotSupported, 0, refusal);

    std::lock_guard lock(syncMutex_);
    OpenDevice* device = nullptr;
    if (IoOutcome o = acquire(path, device); !o.ok()) return o;
    if (!device->senseFormatChecked) {
      device->senseFormatChecked = true;
      device->senseFormat.preferDescriptorFormat(sendOn(*device));
    }

    sg_io_hdr hdr;
    senseBuffer_.fill(0);
    buildSatHeader(command, request.dataBuffer, senseBuffer_, hdr);
    if (IoOutcome o = sgIo(*device, hdr); !o.ok()) return o;
    return finishAtaRequest(hdr, senseBuffer_, request);
  }

  // ATA PASS-THROUGH(16) has no field for the reserved register byte.
  bool carriesAtaDataByte() const override { return false; }

  IoOutcome scsiPassThrough(const std::string& path, ScsiRequest& request) override {
    std::lock_guard lock(syncMutex_);
    return scsiPassThroughLocked(path, request);
  }

  IoOutcome submitQueued(const std::string& path, int slot, ScsiRequest& request) override {
    if (slot < 0 || slot >= kQueueSlots)
      return IoOutcome::failure(IoError::NotSupported, 0, "queue slot " + std::to_string(slot) + " is outside 0..15");
    std::lock_guard lock(queueMutex_);
    QueueSlot& s = slots_[static_cast<size_t>(slot)];
    if (s.state != QueueState::Idle)
      return IoOutcome::failure(IoError::Busy, 0,
                                "queue slot " + std::to_string(slot) + " has not been collected yet");

    std::string refusal;
    sg_io_hdr hdr;
    if (!buildScsiHeader(request, s.sense, hdr, refusal))
      return IoOutcome::failure(IoError::NotSupported, 0, refusal);

    int generic = -1;
    if (IoOutcome o = genericFor(path, generic); !o.ok()) return o;
    if (generic < 0) {
      // No sg node for this disk (the sg driver is not loaded): run it now;
      // the slot reports Complete on its next poll.
      IoOutcome o;
      {
        std::lock_guard syncLock(syncMutex_);
        o = scsiPassThroughLocked(path, request);
      }
      if (!o.ok()) return o;
      s.state = QueueState::Complete;
      s.generic = -1;
      s.request = &request;
      return o;
    }

    GenericDevice& g = generic_[static_cast<size_t>(generic)];
    hdr.pack_id = slot;
    s.hdr = hdr;
    s.sense.fill(0);
    // sg v3 asynchronous submission: write() queues the command and returns;
    // read() with this pack_id collects it.
    const ssize_t n = ::write(g.fd, &s.hdr, sizeof s.hdr);
    if (n < 0) {
      const int err = errno;
      IoOutcome o = outcomeFromErrno(err, "sg write " + path);
      if (o.error == IoError::NoDevice && g.inFlight == 0) closeGeneric(g);
      return o;
    }
    s.state = QueueState::InFlight;
    s.generic = generic;
    s.request = &request;
    ++g.inFlight;
    return IoOutcome::success();
  }

  SlotState pollSlot(int slot) override {
    if (slot < 0 || slot >= kQueueSlots) return SlotState::Idle;
    std::lock_guard lock(queueMutex_);
    QueueSlot& s = slots_[static_cast<size_t>(slot)];
    switch (s.state) {
      case QueueState::Idle: return SlotState::Idle;
      case QueueState::Complete:
        s.state = QueueState::Idle;
        s.request = nullptr;
        return SlotState::Complete;
      case QueueState::InFlight: break;
    }
    return collect(slot) ? SlotState::Complete : SlotState::InFlight;
  }

  void waitQueued(std::chrono::milliseconds timeout) override {
    std::lock_guard lock(queueMutex_);
    for (const QueueSlot& s : slots_)
      if (s.state == QueueState::Complete) return;
    // poll(2) would wait forever on a negative time-out.
    waitForCompletion(static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 0, INT_MAX)));
  }

  void abandonQueue() override {
    std::lock_guard lock(queueMutex_);
    for (QueueSlot& s : slots_) {
      if (s.state != QueueState::Complete) continue;
      s.state = QueueState::Idle;
      s.request = nullptr;
    }
    abandonInFlight();
  }

  void drainQueue() override {
    std::lock_guard lock(queueMutex_);
    uint32_t longestMs = 0;
    for (QueueSlot& s : slots_)
      if (s.state == QueueState::InFlight && s.hdr.timeout > longestMs) longestMs = s.hdr.timeout;
    // The kernel ends every command by its time-out; the margin covers its
    // error handling. Past that the transfers are abandoned, not waited on.
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(longestMs) + std::chrono::seconds(30);

    for (;;) {
      bool waiting = false;
      bool progressed = false;
      for (int i = 0; i < kQueueSlots; ++i) {
        QueueSlot& s = slots_[static_cast<size_t>(i)];
        if (s.state == QueueState::Complete) {
          s.state = QueueState::Idle;
          s.request = nullptr;
        } else if (s.state == QueueState::InFlight) {
          if (collect(i))
            progressed = true;
          else
            waiting = true;
        }
      }
      if (!waiting) break;
      if (Clock::now() > deadline) {
        abandonInFlight();
        break;
      }
      if (!progressed) waitForCompletion(100);
    }
  }

  std::unique_ptr<DeviceEventSource> watchDevices() override {
    std::weak_ptr<PortLink> weak = link_;
    RemovalHook onRemoval = [weak](const std::string& name) {
      std::shared_ptr<PortLink> link = weak.lock();
      if (!link) return;
      std::lock_guard lock(link->mutex);
      if (link->port) link->port->releaseRemovedDisk(name);
    };
    if (options_.openEvents) return options_.openEvents(std::move(onRemoval));
    std::string error;
    return UdevEventSource::open(error, std::move(onRemoval));
  }

 private:
  IoOutcome scsiPassThroughLocked(const std::string& path, ScsiRequest& request) {
    sg_io_hdr hdr;
    std::string refusal;
    if (!buildScsiHeader(request, senseBuffer_, hdr, refusal))
      return IoOutcome::failure(IoError::NotSupported, 0, refusal);
    OpenDevice* device = nullptr;
    if (IoOutcome o = acquire(path, device); !o.ok()) return o;
    senseBuffer_.fill(0);
    if (IoOutcome o = sgIo(*device, hdr); !o.ok()) return o;
    return finishScsiRequest(hdr, senseBuffer_, request);
  }

  // The open descriptor of `path`, reopened when the node has changed.
  IoOutcome acquire(const std::string& path, OpenDevice*& out) {
    if (path.empty()) return IoOutcome::failure(IoError::NoDevice, ENOENT, "no device path");
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
      const int err = errno;
      for (OpenDevice& d : devices_)
        if (d.fd >= 0 && d.path == path) closeDevice(d);
      return outcomeFromErrno(err, "open " + path);
    }
    ++useCounter_;
    OpenDevice* slot = nullptr;
    for (OpenDevice& d : devices_) {
      if (d.fd >= 0 && d.path == path) {
        if (sameNode(st, d.dev, d.ino)) {
          d.lastUse = useCounter_;
          out = &d;
          return IoOutcome::success();
        }
        closeDevice(d);
        slot = &d;
        break;
      }
    }
    if (!slot) {
      slot = &devices_[0];
      for (OpenDevice& d : devices_) {
        if (d.fd < 0) {
          slot = &d;
          break;
        }
        if (d.lastUse < slot->lastUse) slot = &d;
      }
      closeDevice(*slot);
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return outcomeFromErrno(errno, "open " + path);
    struct stat opened;
    if (::fstat(fd, &opened) != 0) opened = st;
    slot->path = path;
    slot->fd = fd;
    slot->dev = opened.st_dev;
    slot->ino = opened.st_ino;
    slot->lastUse = useCounter_;
    slot->senseFormatChecked = false;
    out = slot;
    return IoOutcome::success();
  }

  // Lets go of a kept descriptor: the sense format goes back to what it was
  // first, unless the drive is gone (restore false, or the path now names
  // another device).
  void closeDevice(OpenDevice& d, bool restore = true) {
    if (d.fd >= 0 && d.senseFormat.changed()) {
      struct stat st;
      if (restore && ::stat(d.path.c_str(), &st) == 0 && sameNode(st, d.dev, d.ino))
        (void)d.senseFormat.restore(sendOn(d));
      else
        d.senseFormat = SenseFormatSwitch{};
    }
    if (d.fd >= 0) ::close(d.fd);
    d.fd = -1;
    d.senseFormatChecked = false;
  }

  void closeGeneric(GenericDevice& g) {
    if (g.fd >= 0) ::close(g.fd);
    g.fd = -1;
    g.inFlight = 0;
  }

  // One synchronous SG_IO. Not repeated on EINTR: the command may already
  // have reached the drive.
  IoOutcome sgIo(OpenDevice& device, sg_io_hdr& hdr) {
    if (::ioctl(device.fd, SG_IO, &hdr) < 0) {
      const int err = errno;
      IoOutcome o = outcomeFromErrno(err, "SG_IO " + device.path);
      if (o.error == IoError::NoDevice) closeDevice(device);
      return o;
    }
    return IoOutcome::success();
  }

  // One SCSI command on a kept descriptor for the sense format switch; its
  // own sense buffer, the mode commands' time-out.
  SenseFormatSwitch::Send sendOn(OpenDevice& device) {
    return [fd = device.fd](std::span<const uint8_t> cdb, std::span<uint8_t> data, bool toDevice, size_t& moved) {
      SgSenseBuffer sense{};
      sg_io_hdr hdr{};
      hdr.interface_id = 'S';
      hdr.dxfer_direction = data.empty() ? SG_DXFER_NONE : toDevice ? SG_DXFER_TO_DEV : SG_DXFER_FROM_DEV;
      hdr.cmd_len = static_cast<unsigned char>(cdb.size());
      hdr.mx_sb_len = static_cast<unsigned char>(sense.size());
      hdr.dxfer_len = static_cast<unsigned>(data.size());
      hdr.dxferp = data.empty() ? nullptr : data.data();
      hdr.cmdp = const_cast<unsigned char*>(cdb.data());
      hdr.sbp = sense.data();
      hdr.timeout = kModeTimeoutMs;
      moved = 0;
      if (::ioctl(fd, SG_IO, &hdr) < 0 || hdr.status != 0 || hdr.host_status != 0) return false;
      moved = hdr.resid > 0 && static_cast<size_t>(hdr.resid) < data.size() ? data.size() - hdr.resid : data.size();
      return true;
    };
  }

  // The sg node of `path`, opened once and kept: `index` is -1 when the disk
  // has none (the caller then runs the transfer synchronously).
  IoOutcome genericFor(const std::string& path, int& index) {
    index = -1;
    if (path.empty()) return IoOutcome::failure(IoError::NoDevice, ENOENT, "no device path");
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return outcomeFromErrno(errno, "open " + path);
    for (size_t i = 0; i < generic_.size(); ++i) {
      GenericDevice& g = generic_[i];
      if (g.fd < 0 || g.diskPath != path) continue;
      if (sameNode(st, g.diskDev, g.diskIno)) {
        index = static_cast<int>(i);
        return IoOutcome::success();
      }
      if (g.inFlight > 0)
        return IoOutcome::failure(IoError::NoDevice, ENODEV, path + " changed while transfers were in flight");
      closeGeneric(g);
    }

    std::optional<std::string> sg = sysfs_.genericName(diskNameOf(path));
    if (!sg) return IoOutcome::success();
    const std::string sgPath = options_.devRoot + "/" + *sg;
    const int fd = ::open(sgPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      const int err = errno;
      // A missing node is the same as no sg driver; anything else is real.
      if (err == ENOENT || err == ENXIO || err == ENODEV) return IoOutcome::success();
      return outcomeFromErrno(err, "open " + sgPath);
    }
    int version = 0;
    int on = 1;
    if (::ioctl(fd, SG_GET_VERSION_NUM, &version) < 0 || version < kSgMinVersion ||
        ::ioctl(fd, SG_SET_FORCE_PACK_ID, &on) < 0 || ::ioctl(fd, SG_SET_COMMAND_Q, &on) < 0) {
      ::close(fd);
      return IoOutcome::success();
    }
    GenericDevice* slot = nullptr;
    for (GenericDevice& g : generic_)
      if (g.fd < 0) {
        slot = &g;
        break;
      }
    if (!slot) {
      for (GenericDevice& g : generic_)
        if (g.inFlight == 0) {
          closeGeneric(g);
          slot = &g;
          break;
        }
    }
    if (!slot) {
      ::close(fd);
      return IoOutcome::failure(IoError::Busy, 0, "too many drives with queued transfers");
    }
    slot->diskPath = path;
    slot->fd = fd;
    slot->diskDev = st.st_dev;
    slot->diskIno = st.st_ino;
    slot->inFlight = 0;
    index = static_cast<int>(slot - generic_.data());
    return IoOutcome::success();
  }

  // Non-blocking read of slot `slot`'s completion (sg v3 with forced pack
  // ids returns EAGAIN while that one is outstanding). True when the slot is
  // done and its request filled in; it is then Idle.
  bool collect(int slot) {
    QueueSlot& s = slots_[static_cast<size_t>(slot)];
    GenericDevice& g = generic_[static_cast<size_t>(s.generic)];
    s.hdr.pack_id = slot;
    const ssize_t n = g.fd >= 0 ? ::read(g.fd, &s.hdr, sizeof s.hdr) : -1;
    const int err = g.fd >= 0 ? errno : ENODEV;
    if (n < 0 && (err == EAGAIN || err == EINTR)) return false;

    if (s.request) {
      if (n == static_cast<ssize_t>(sizeof s.hdr)) {
        IoOutcome o = finishScsiRequest(s.hdr, s.sense, *s.request);
        if (!o.ok() && s.request->scsiStatus == 0) markAborted(*s.request, o.error);
      } else {
        // The device went away or the read failed: the transfer is lost.
        s.request->bytesTransferred = 0;
        markAborted(*s.request, IoError::NoDevice);
      }
    }
    s.state = QueueState::Idle;
    s.request = nullptr;
    if (g.inFlight > 0) --g.inFlight;
    if (n < 0 && g.inFlight == 0) closeGeneric(g);
    return true;
  }

  // Blocks at most timeoutMs until some sg node has a completion ready.
  void waitForCompletion(int timeoutMs) {
    std::array<pollfd, kCachedDevices> fds{};
    nfds_t count = 0;
    for (GenericDevice& g : generic_)
      if (g.fd >= 0 && g.inFlight > 0) fds[count++] = pollfd{g.fd, POLLIN, 0};
    if (count > 0) (void)::poll(fds.data(), count, timeoutMs);
  }

  void abandonInFlight() {
    for (QueueSlot& s : slots_) {
      if (s.state != QueueState::InFlight) continue;
      if (s.request) markAborted(*s.request, IoError::Timeout);
      s.state = QueueState::Idle;
      s.request = nullptr;
    }
    // Closing hands the stragglers to the kernel, which frees them.
    for (GenericDevice& g : generic_)
      if (g.inFlight > 0) closeGeneric(g);
  }

  LinuxPortOptions options_;
  Sysfs sysfs_;
  std::shared_ptr<PortLink> link_;

  std::mutex syncMutex_;  // devices_, senseBuffer_
  std::array<OpenDevice, kCachedDevices> devices_{};
  SgSenseBuffer senseBuffer_{};
  uint64_t useCounter_ = 0;

  std::mutex queueMutex_;  // generic_, slots_ (taken before syncMutex_ when both are needed)
  std::array<GenericDevice, kCachedDevices> generic_{};
  std::array<QueueSlot, kQueueSlots> slots_{};
};

}  // namespace

std::unique_ptr<DevicePort> makeLinuxPort(const LinuxPortOptions& options, std::string& error) {
  error.clear();
  return std::make_unique<LinuxPort>(options);
}

std::unique_ptr<DevicePort> makeLinuxPort(std::string& error) {
  LinuxPortOptions options;
  std::string envError;
  const char* hostBus = std::getenv("ZORV_SCSI_HOST_BUS");
  if (hostBus && !parseHostBusTypes(hostBus, options.hostBusTypes, envError)) {
    std::unique_ptr<DevicePort> port = makeLinuxPort(options, error);
    error = "ZORV_SCSI_HOST_BUS: " + envError;
    return port;
  }
  return makeLinuxPort(options, error);
}

}  // namespace zorv::platform
