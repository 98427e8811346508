#include "sim/sim_port.h"

// Queued transfers of file media go to the kernel through io_uring on Linux;
// elsewhere (and when the ring cannot be set up) they run at once through the
// media's own read and write.
#ifdef __linux__
#define ZORV_SIM_IO_URING 1
#include <fcntl.h>
#include <liburing.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <optional>

#include "sim/media.h"
#include "sim/sim_bay.h"
#include "transport/context.h"

namespace zorv::sim {

namespace {

constexpr unsigned kRingEntries = 32;

IoOutcome noDrive(int slot) {
  return IoOutcome::failure(IoError::NoDevice, ENODEV,
                            slot < 0 ? "not a simulated drive" : "no drive in slot " + std::to_string(slot));
}

AtaCommand ataCommandOf(const AtaPassThroughRequest& r) {
  AtaCommand c;
  const auto& cur = r.currentTaskFile;
  const auto& prev = r.previousTaskFile;
  c.regs.features = cur[0];
  c.regs.count = cur[1];
  c.regs.lbaLow = cur[2];
  c.regs.lbaMid = cur[3];
  c.regs.lbaHigh = cur[4];
  c.regs.device = cur[5];
  c.regs.command = cur[6];
  c.regs.dataByte = cur[7];
  c.ext = (r.ataFlags & kAtaFlags48Bit) != 0;
  if (c.ext) {  // without the 48-bit flag the previous image is not sent
    c.regs.featuresExt = prev[0];
    c.regs.countExt = prev[1];
    c.regs.lbaLowExt = prev[2];
    c.regs.lbaMidExt = prev[3];
    c.regs.lbaHighExt = prev[4];
  }
  if (r.ataFlags & kAtaFlagsDataOut) {
    c.dir = DataDir::Out;
  } else if (r.ataFlags & kAtaFlagsDataIn) {
    c.dir = DataDir::In;
  }
  c.dma = (r.ataFlags & kAtaFlagsUseDma) != 0;
  return c;
}

DataDir scsiDirOf(const ScsiRequest& r) {
  if (r.dataIn == kScsiDataIn) return DataDir::In;
  return r.dataTransferLength ? DataDir::Out : DataDir::None;
}

std::span<uint8_t> dataOf(uint8_t* buffer, uint32_t length) {
  return buffer ? std::span<uint8_t>(buffer, length) : std::span<uint8_t>();
}

std::span<const uint8_t> cdbOf(const ScsiRequest& r) {
  return {r.cdb.data(), std::min<size_t>(r.cdbLength ? r.cdbLength : 16, r.cdb.size())};
}

void deliver(const ScsiReply& reply, ScsiRequest& r) {
  r.scsiStatus = reply.status;
  r.sense = reply.status != kScsiGood ? reply.sense : SenseBytes{};
  r.bytesTransferred = reply.bytes;
}

class SimPort : public DevicePort {
 public:
  explicit SimPort(std::shared_ptr<SimBay> bay) : bay_(std::move(bay)) {}

  ~SimPort() override {
    drainQueue();
#ifdef ZORV_SIM_IO_URING
    if (ringReady_) io_uring_queue_exit(&ring_);
#endif
  }

  std::string_view name() const override { return "sim"; }
  std::string physicalDrivePath(int n) const override { return "sim:" + std::to_string(n); }

  // A drive whose media is a block device (a loop device) can carry a file
  // system that the system mounts; such mounts lie on this drive.
  std::string blockDevicePath(const std::string& path) const override {
    int slot = simSlotOfPath(path);
    BayRecord record;
    std::string error;
    if (slot < 0 || !bay_->snapshot(record, error)) return {};
    const SlotRecord& s = record.slots[static_cast<size_t>(slot)];
    if (!s.present() || s.drive->media.kind != MediaKind::File) return {};
#ifdef ZORV_SIM_IO_URING
    struct stat st {};
    if (::stat(s.drive->media.path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return {};
    return s.drive->media.path;
#else
    return {};  // media on a block device is a Linux bay's (a loop device)
#endif
  }

  // Media on a block device is claimed as the OS backend claims a disk: busy
  // while the system has a file system on it mounted, so raw writes refuse it.
  IoOutcome probeExclusive(const std::string& path) override {
    const std::string device = blockDevicePath(path);
    if (device.empty()) return IoOutcome::success();
#ifdef ZORV_SIM_IO_URING
    const int fd = ::open(device.c_str(), O_RDONLY | O_EXCL | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      const int err = errno;
      if (err == EBUSY)
        return IoOutcome::failure(IoError::Busy, err, "media " + device + " in use by the system (a mounted file system)");
      return IoOutcome::success();
    }
    ::close(fd);
#endif
    return IoOutcome::success();
  }

  IoOutcome queryBusType(const std::string& path, uint8_t& busType) override {
    int slot = simSlotOfPath(path);
    auto c = slot >= 0 ? bay_->controller(slot) : nullptr;
    if (!c) return noDrive(slot);
    busType = storageBusType(c->bus());
    return IoOutcome::success();
  }

  IoOutcome ataPassThrough(const std::string& path, AtaPassThroughRequest& request) override {
    int slot = simSlotOfPath(path);
    auto c = slot >= 0 ? bay_->controller(slot) : nullptr;
    if (!c) return noDrive(slot);
    if (c->bus() == SimBus::Usb)
      return IoOutcome::failure(IoError::NotSupported, EINVAL, "USB storage takes no ATA pass-through request");
    AtaReply reply = c->executeAta(ataCommandOf(request), dataOf(request.dataBuffer, request.dataTransferLength));
    if (reply.fate == Fate::Gone) return noDrive(slot);
    if (reply.fate == Fate::TimedOut) return timedOut(reply.waitMs, request.timeOutValue);
    spend(reply.latencyUs);
    auto& cur = request.currentTaskFile;
    auto& prev = request.previousTaskFile;
    const AtaRegisters& g = reply.regs;
    cur = {reply.error, g.count, g.lbaLow, g.lbaMid, g.lbaHigh, g.device, reply.status, 0};
    prev = {0, g.countExt, g.lbaLowExt, g.lbaMidExt, g.lbaHighExt, 0, 0, 0};
    request.bytesTransferred = reply.bytes;
    return IoOutcome::success();
  }

  IoOutcome scsiPassThrough(const std::string& path, ScsiRequest& request) override {
    int slot = simSlotOfPath(path);
    auto c = slot >= 0 ? bay_->controller(slot) : nullptr;
    if (!c) return noDrive(slot);
    ScsiReply reply =
        c->executeScsi(cdbOf(request), scsiDirOf(request), dataOf(request.dataBuffer, request.dataTransferLength));
    if (reply.fate == Fate::Gone) return noDrive(slot);
    if (reply.fate == Fate::TimedOut) {
      request.scsiStatus = 0;
      request.sense = {};
      request.bytesTransferred = 0;
      return timedOut(reply.waitMs, request.timeOutValue);
    }
    spend(reply.latencyUs);
    deliver(reply, request);
    return IoOutcome::success();
  }

  IoOutcome submitQueued(const std::string& path, int slot, ScsiRequest& request) override {
    if (slot < 0 || slot >= kQueueSlots) return IoOutcome::failure(IoError::NotSupported, EINVAL, "no such queue slot");
    int drive = simSlotOfPath(path);
    auto c = drive >= 0 ? bay_->controller(drive) : nullptr;
    if (!c) return noDrive(drive);
    std::lock_guard<std::mutex> lock(queueMutex_);
    Entry& e = queue_[static_cast<size_t>(slot)];
    if (e.state != State::Idle) return IoOutcome::failure(IoError::Busy, EBUSY, "queue slot in use");
    e.request = &request;
    e.submitted = bay_->clock().now();
    std::span<uint8_t> data = dataOf(request.dataBuffer, request.dataTransferLength);
    if (c->startQueued(cdbOf(request), scsiDirOf(request), data, e.reply, e.io)) {
      e.controller = std::move(c);
      if (prepareIo(slot, e)) {
        e.state = State::InIo;
        // Into the kernel at once: a transfer held back until the host next
        // waits leaves the drive short of work while the host handles a batch
        // of completions (about a tenth of the 4 KiB random rate).
        submitPrepared();
        return IoOutcome::success();
      }
      // No ring: the transfer runs here, the completion still waits its turn.
      runHere(e);
    } else if (e.reply.fate == Fate::Gone) {
      e.request = nullptr;
      return noDrive(drive);
    } else if (e.reply.fate == Fate::TimedOut) {
      // Lost in the device: the slot comes back aborted once the host gives
      // up, after the fault's wait or else the request's own time-out.
      uint64_t waitMs = e.reply.waitMs ? e.reply.waitMs : uint64_t{request.timeOutValue} * 1000;
      e.reply = ScsiReply{};
      e.reply.status = kScsiTaskAborted;
      e.reply.sense = fixedSense(kSenseAbortedCommand, 0x3E, 0x02);  // TIMEOUT ON LOGICAL UNIT
      e.due = e.submitted + std::chrono::milliseconds(waitMs);
      e.state = State::Waiting;
      return IoOutcome::success();
    }
    e.due = e.submitted + std::chrono::microseconds(e.reply.latencyUs);
    e.state = State::Waiting;
    return IoOutcome::success();
  }

  SlotState pollSlot(int slot) override {
    if (slot < 0 || slot >= kQueueSlots) return SlotState::Idle;
    std::lock_guard<std::mutex> lock(queueMutex_);
    reap(false);
    Entry& e = queue_[static_cast<size_t>(slot)];
    switch (e.state) {
      case State::Idle: return SlotState::Idle;
      case State::InIo:
        return SlotState::InFlight;
      case State::Waiting:
        // Due at submission (no modelled latency): done without asking the clock.
        if (e.due != e.submitted && bay_->clock().now() < e.due) return SlotState::InFlight;
        complete(e);
        return SlotState::Complete;
    }
    return SlotState::Idle;
  }

  void waitQueued(std::chrono::milliseconds timeout) override {
    if (timeout.count() <= 0) return;
    std::unique_lock<std::mutex> lock(queueMutex_);
    reap(false);
    const Clock::TimePoint now = bay_->clock().now();
    std::optional<Clock::TimePoint> earliest;
    bool inIo = false;
    for (const Entry& e : queue_) {
      if (e.state == State::InIo) inIo = true;
      if (e.state != State::Waiting) continue;
      if (e.due <= now) return;  // one is ready to collect
      if (!earliest || e.due < *earliest) earliest = e.due;
    }
    std::chrono::milliseconds wait = timeout;
    if (earliest)
      wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(*earliest - now));
    if (inIo) {
      // Media transfers in the kernel: wait for the ring, in real time.
      reap(true, wait);
      return;
    }
    if (!earliest) return;  // nothing in flight
    // Latencies and time-outs run on the bay's clock (a ManualClock in
    // tests moves at once); the lock is not held while the time passes.
    lock.unlock();
    bay_->clock().sleepFor(wait);
  }

  void drainQueue() override {
    std::lock_guard<std::mutex> lock(queueMutex_);
    while (std::any_of(queue_.begin(), queue_.end(), [](const Entry& e) { return e.state == State::InIo; })) reap(true);
    for (Entry& e : queue_)
      if (e.state == State::Waiting) complete(e);
  }

  std::unique_ptr<DeviceEventSource> watchDevices() override { return bay_->watch(); }

 private:
  enum class State : uint8_t { Idle, Waiting, InIo };
  struct Entry {
    State state = State::Idle;
    ScsiRequest* request = nullptr;
    std::shared_ptr<SimController> controller;
    SimController::QueuedIo io;
    ScsiReply reply;
    Clock::TimePoint submitted{};
    Clock::TimePoint due{};
  };

  IoOutcome timedOut(uint32_t waitMs, uint32_t timeoutSeconds) {
    bay_->clock().sleepFor(std::chrono::milliseconds(waitMs ? waitMs : uint64_t{timeoutSeconds} * 1000));
    return IoOutcome::failure(IoError::Timeout, ETIMEDOUT, "the drive did not answer");
  }

  void spend(uint32_t latencyUs) {
    if (latencyUs >= 1000) bay_->clock().sleepFor(std::chrono::milliseconds(latencyUs / 1000));
  }

  bool ring() {
#ifndef ZORV_SIM_IO_URING
    return false;
#else
    if (ringFailed_) return false;
    if (ringReady_) return true;
    ringReady_ = io_uring_queue_init(kRingEntries, &ring_, 0) == 0;
    ringFailed_ = !ringReady_;
    return ringReady_;
#endif
  }

  // Puts the transfer on the submission ring; submitPrepared hands it over.
  bool prepareIo(int slot, Entry& e) {
    if (!ring()) return false;
#ifdef ZORV_SIM_IO_URING
    io_uring_sqe* sqe = io_uring_get_sqe(&ring_);
    if (!sqe) return false;  // never with at most 16 transfers on a ring of 32
    if (e.io.write) {
      io_uring_prep_write(sqe, e.io.fd, e.request->dataBuffer, e.io.bytes, e.io.offset);
    } else {
      io_uring_prep_read(sqe, e.io.fd, e.request->dataBuffer, e.io.bytes, e.io.offset);
    }
    io_uring_sqe_set_data64(sqe, static_cast<uint64_t>(slot));
    prepared_[preparedCount_++] = slot;
#else
    (void)slot;
    (void)e;
#endif
    return true;
  }

  // Hands the prepared transfers to the kernel. A ring that refuses them for
  // good is not used again: what it did not take runs here instead (its
  // entries are never submitted, as nothing enters the ring with work to
  // submit any more).
  void submitPrepared() {
    size_t taken = 0;
#ifdef ZORV_SIM_IO_URING
    for (int tries = 0; taken < preparedCount_ && !ringFailed_;) {
      int n = io_uring_submit(&ring_);
      if (n > 0) {
        taken += static_cast<size_t>(n);
        continue;
      }
      // Busy for a moment (a full completion ring, a signal): collect and retry.
      if ((n == -EAGAIN || n == -EBUSY || n == -EINTR || n == 0) && ++tries < 100) {
        reap(false);
        continue;
      }
      ringFailed_ = true;
    }
#endif
    for (size_t i = taken; i < preparedCount_; ++i) runHere(queue_[static_cast<size_t>(prepared_[i])]);
    preparedCount_ = 0;
  }

  // The transfer through the media's own read or write, at once.
  void runHere(Entry& e) {
    std::span<uint8_t> data = dataOf(e.request->dataBuffer, e.request->dataTransferLength);
    int err = e.controller->withDrive([&](SimDrive& d) {
      return e.io.write ? d.media().write(e.io.lba, e.io.count, data.data())
                        : d.media().read(e.io.lba, e.io.count, data.data());
    });
    e.controller->finishQueued(e.io, err, data, e.reply);
    e.due = e.submitted + std::chrono::microseconds(e.reply.latencyUs);
    e.state = State::Waiting;
  }

  // Collects finished transfers; wait: block for at least one, at most
  // `limit` when one is given.
  void reap(bool wait, std::optional<std::chrono::milliseconds> limit = std::nullopt) {
    if (!ringReady_) return;
#ifdef ZORV_SIM_IO_URING
    io_uring_cqe* cqe = nullptr;
    bool first = true;
    auto next = [&] {
      if (!(wait && first)) {
        // Nothing there: settled without a call into the library (a poll
        // comes here once or twice per transfer).
        if (io_uring_cq_ready(&ring_) == 0 && !io_uring_cq_has_overflow(&ring_)) return -EAGAIN;
        return io_uring_peek_cqe(&ring_, &cqe);
      }
      if (!limit) return io_uring_wait_cqe(&ring_, &cqe);
      const auto ms = limit->count();
      __kernel_timespec ts{ms / 1000, (ms % 1000) * 1000000};
      return io_uring_wait_cqe_timeout(&ring_, &cqe, &ts);
    };
    while (next() == 0 && cqe) {
      first = false;
      uint64_t slot = io_uring_cqe_get_data64(cqe);
      int res = cqe->res;
      io_uring_cqe_seen(&ring_, cqe);
      if (slot >= queue_.size()) continue;
      Entry& e = queue_[slot];
      if (e.state != State::InIo) continue;
      std::span<uint8_t> data = dataOf(e.request->dataBuffer, e.request->dataTransferLength);
      int err = res < 0 ? -res : (static_cast<uint32_t>(res) == e.io.bytes ? 0 : EIO);
      if (err == EINVAL) err = retryBuffered(e, data);
      e.controller->finishQueued(e.io, err, data, e.reply);
      e.due = e.submitted + std::chrono::microseconds(e.reply.latencyUs);
      e.state = State::Waiting;
    }
#else
    (void)wait;
    (void)limit;
#endif
  }

  // O_DIRECT refused the transfer (alignment the file system wants): the
  // media falls back to its buffered descriptor from now on.
  int retryBuffered(Entry& e, std::span<uint8_t> data) {
    return e.controller->withDrive([&](SimDrive& d) {
      d.media().directRefused();
      return e.io.write ? d.media().write(e.io.lba, e.io.count, data.data())
                        : d.media().read(e.io.lba, e.io.count, data.data());
    });
  }

  void complete(Entry& e) {
    if (e.request) deliver(e.reply, *e.request);
    e.request = nullptr;
    e.controller.reset();
    e.state = State::Idle;
  }

  std::shared_ptr<SimBay> bay_;
  std::mutex queueMutex_;
  std::array<Entry, kQueueSlots> queue_{};
#ifdef ZORV_SIM_IO_URING
  io_uring ring_{};
#endif
  std::array<int, kQueueSlots> prepared_{};  // slots on the ring not yet submitted, in order
  size_t preparedCount_ = 0;
  bool ringReady_ = false;
  bool ringFailed_ = false;
};

}  // namespace

int simSlotOfPath(const std::string& path) {
  if (path.size() != 5 || path.compare(0, 4, "sim:") != 0) return -1;
  char c = path[4];
  return c >= '0' && c < '0' + kBaySlots ? c - '0' : -1;
}

std::unique_ptr<DevicePort> makeSimPort(std::shared_ptr<SimBay> bay) { return std::make_unique<SimPort>(std::move(bay)); }

std::unique_ptr<DevicePort> openSimPort(const std::string& dir, std::string& error) {
  std::shared_ptr<SimBay> bay = SimBay::open(dir, error);
  if (!bay) return nullptr;
  return makeSimPort(std::move(bay));
}

}  // namespace zorv::sim
