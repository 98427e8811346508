#include "platform/windows/windows_port.h"

#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>

#include <algorithm>
#include <array>

#include "platform/windows/ata_pass_through.h"
#include "platform/windows/device_io.h"
#include "platform/windows/device_names.h"
#include "platform/windows/device_notifications.h"
#include "platform/windows/mounted_volumes.h"
#include "platform/windows/overlapped_queue.h"
#include "platform/windows/scsi_pass_through.h"
#include "platform/windows/storage_query.h"
#include "platform/windows/windows_error.h"

namespace zorv::platform {

namespace {

constexpr DWORD kShared = FILE_SHARE_READ | FILE_SHARE_WRITE;

// A device handle for one call: every command opens the drive and closes it
// again, so that nothing holds a drive that is unplugged between commands.
class OneCallHandle {
 public:
  explicit OneCallHandle(DeviceIo& io) : io_(io) {}
  ~OneCallHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) io_.close(handle_);
  }
  OneCallHandle(const OneCallHandle&) = delete;
  OneCallHandle& operator=(const OneCallHandle&) = delete;

  IoOutcome open(const std::string& path, DWORD share = kShared) {
    if (path.empty()) return IoOutcome::failure(IoError::NoDevice, ERROR_FILE_NOT_FOUND, "no device path");
    const HANDLE h = io_.open(path, share, 0);
    if (h == INVALID_HANDLE_VALUE || h == nullptr) return outcomeFromWindowsError(GetLastError(), "open " + path);
    handle_ = h;
    return IoOutcome::success();
  }
  HANDLE get() const { return handle_; }

 private:
  DeviceIo& io_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

class WindowsPort final : public DevicePort {
 public:
  explicit WindowsPort(std::shared_ptr<DeviceIo> io) : io_(std::move(io)), queue_(*io_) {}

  std::string_view name() const override { return "windows"; }

  std::string physicalDrivePath(int n) const override { return physicalDriveName(n); }

  IoOutcome queryBusType(const std::string& path, uint8_t& busType) override {
    busType = 0;
    OneCallHandle device(*io_);
    if (IoOutcome o = device.open(path); !o.ok()) return o;
    STORAGE_PROPERTY_QUERY query = deviceDescriptorQuery();
    alignas(8) std::array<unsigned char, 512> reply{};
    DWORD returned = 0;
    // A device that does not answer the query is still there; its bus is
    // one the tool does not name.
    if (io_->control(device.get(), IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, reply.data(),
                     static_cast<DWORD>(reply.size()), &returned, nullptr))
      busType = busTypeFromDescriptor(reply.data(), std::min<size_t>(returned, reply.size())).value_or(0);
    return IoOutcome::success();
  }

  IoOutcome probeExclusive(const std::string& path) override {
    std::vector<MountedVolume> volumes;
    if (IoOutcome o = volumesOn(path, volumes); !o.ok()) return o;
    if (!volumes.empty()) return IoOutcome::failure(IoError::Busy, 0, path + ": " + mountedVolumesAdvice(volumes));
    // Mounted volumes do not hold the disk itself; another program that has
    // it open does, and refuses an open without sharing.
    OneCallHandle exclusive(*io_);
    IoOutcome o = exclusive.open(path, 0);
    if (o.error == IoError::Busy)
      o.detail += " (another program has the drive open: close the disk, backup, monitoring or partitioning "
                  "programs that use it and try again)";
    return o;
  }

  std::vector<std::string> mountedVolumes(int n) const override {
    std::vector<MountedVolume> volumes;
    std::vector<std::string> out;
    if (n < 0 || n > 7 || !volumesOn(physicalDriveName(n), volumes).ok()) return out;
    for (const MountedVolume& v : volumes) out.push_back(std::string(1, v.letter) + ":\\");
    return out;
  }

  IoOutcome ataPassThrough(const std::string& path, AtaPassThroughRequest& request) override {
    if (request.dataTransferLength > 0 && request.dataBuffer == nullptr)
      return IoOutcome::failure(IoError::NotSupported, 0,
                                "ATA pass-through: " + std::to_string(request.dataTransferLength) +
                                    " data bytes without a buffer");
    ATA_PASS_THROUGH_DIRECT header;
    buildAtaPassThroughDirect(request, header);
    OneCallHandle device(*io_);
    if (IoOutcome o = device.open(path); !o.ok()) return o;
    DWORD returned = 0;
    if (!io_->control(device.get(), IOCTL_ATA_PASS_THROUGH_DIRECT, &header, sizeof header, &header, sizeof header,
                      &returned, nullptr))
      return outcomeFromWindowsError(GetLastError(), "ATA pass-through on " + path);
    // The drive's write cache is flushed after every ATA command, as the
    // tool has always done; a drive that cannot flush still answered.
    (void)io_->flush(device.get());
    readAtaPassThroughDirect(header, request);
    return IoOutcome::success();
  }

  IoOutcome scsiPassThrough(const std::string& path, ScsiRequest& request) override {
    ScsiPassThroughRecord record;
    std::string refusal;
    if (!buildScsiPassThroughDirect(request, record, refusal))
      return IoOutcome::failure(IoError::NotSupported, 0, refusal);
    OneCallHandle device(*io_);
    if (IoOutcome o = device.open(path); !o.ok()) return o;
    DWORD returned = 0;
    // The header goes in; header and sense area come back.
    if (!io_->control(device.get(), IOCTL_SCSI_PASS_THROUGH_DIRECT, &record, sizeof record.header, &record,
                      sizeof record, &returned, nullptr))
      return outcomeFromWindowsError(GetLastError(), "SCSI pass-through on " + path);
    readScsiPassThroughDirect(record, request);
    return IoOutcome::success();
  }

  IoOutcome submitQueued(const std::string& path, int slot, ScsiRequest& request) override {
    return queue_.submit(path, slot, request);
  }
  SlotState pollSlot(int slot) override { return queue_.poll(slot); }
  void waitQueued(std::chrono::milliseconds timeout) override { queue_.wait(timeout); }
  void drainQueue() override { queue_.drain(); }
  void abandonQueue() override { queue_.abandon(); }

  std::unique_ptr<DeviceEventSource> watchDevices() override {
    std::string error;
    return DeviceNotificationSource::open(error);
  }

 private:
  // The lettered volumes with a file system on the disk at path, found by its
  // disk number; none when the disk does not tell its number.
  IoOutcome volumesOn(const std::string& path, std::vector<MountedVolume>& volumes) const {
    volumes.clear();
    OneCallHandle device(*io_);
    if (IoOutcome o = device.open(path); !o.ok()) return o;
    STORAGE_DEVICE_NUMBER number{};
    DWORD returned = 0;
    if (io_->control(device.get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number, &returned,
                     nullptr)) {
      if (std::optional<DWORD> disk = diskNumberFromReply(&number, std::min<size_t>(returned, sizeof number)))
        volumes = mountedVolumesOnDisk(*disk);
    }
    return IoOutcome::success();
  }

  std::shared_ptr<DeviceIo> io_;
  OverlappedQueue queue_;  // after io_: it ends (waiting for its transfers) first
};

}  // namespace

std::unique_ptr<DevicePort> makeWindowsPort(std::shared_ptr<DeviceIo> io) {
  return std::make_unique<WindowsPort>(std::move(io));
}

std::unique_ptr<DevicePort> makeWindowsPort(std::string& error) {
  error.clear();
  return makeWindowsPort(std::make_shared<SystemDeviceIo>());
}

}  // namespace zorv::platform
