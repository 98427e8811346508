#include "sim/sim_drive.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include "sim/bay_store.h"
#include "sim/media.h"
#include "transport/host_file.h"

namespace zorv::sim {

SpiFlashFile::~SpiFlashFile() { HostFile::unmap(data_, kSpiFlashSize); }

SpiFlashFile& SpiFlashFile::operator=(SpiFlashFile&& other) noexcept {
  if (this != &other) {
    HostFile::unmap(data_, kSpiFlashSize);
    data_ = std::exchange(other.data_, nullptr);
  }
  return *this;
}

std::optional<SpiFlashFile> SpiFlashFile::open(const std::string& path, std::string& error) {
  HostFile::OpenError openError;
  std::optional<HostFile> file = HostFile::open(path, HostFile::Open::ReadWrite, openError);
  if (!file && openError.notFound) {
    // Written out whole (not a hole-y file) so that later stores through the
    // mapping never need new disk blocks.
    std::vector<uint8_t> erased(kSpiFlashSize, 0xFF);
    std::string tmp = path + ".new." + std::to_string(hostProcessId());
    std::string failed;
    {
      std::optional<HostFile> w = HostFile::open(tmp, HostFile::Open::Truncate, openError);
      failed = w ? w->writeAt(erased.data(), erased.size(), 0) : openError.text;
    }
    // An image another process made meanwhile is kept.
    if (failed.empty()) failed = publishNewFile(tmp, path);
    std::error_code ec;
    std::filesystem::remove(tmp, ec);
    if (!failed.empty()) {
      error = path + ": cannot be created (" + failed + ")";
      return std::nullopt;
    }
    file = HostFile::open(path, HostFile::Open::ReadWrite, openError);
  }
  if (!file) {
    error = path + ": cannot be opened (" + openError.text + ")";
    return std::nullopt;
  }
  uint64_t bytes = 0;
  if (!file->size(bytes).empty() || bytes != kSpiFlashSize) {
    error = path + ": holds " + std::to_string(bytes) + " bytes, an SPI flash image has 524288";
    return std::nullopt;
  }
  void* map = file->map(kSpiFlashSize, true);
  if (!map) {
    error = path + ": cannot be mapped";
    return std::nullopt;
  }
  SpiFlashFile f;
  f.data_ = static_cast<uint8_t*>(map);
  return f;
}

SimDrive::SimDrive(BayStore& store, int slot, uint64_t generation, uint64_t recordSeq, DriveRecord record,
                   std::unique_ptr<SimMedia> media, SpiFlashFile spi, Clock& clock)
    : store_(store),
      slot_(slot),
      generation_(generation),
      recordSeq_(recordSeq),
      record_(std::move(record)),
      media_(std::move(media)),
      spi_(std::move(spi)),
      clock_(clock) {}

SimDrive::~SimDrive() = default;

int64_t SimDrive::nowMs() const {
  return std::chrono::duration_cast<std::chrono::milliseconds>(clock_.now().time_since_epoch()).count();
}

int SimDrive::readSectors(uint64_t lba, uint32_t count, uint8_t* out) {
  if (lba > capacity() || count > capacity() - lba) return ERANGE;
  return media_->read(lba, count, out);
}

int SimDrive::writeSectors(uint64_t lba, uint32_t count, const uint8_t* in) {
  if (lba > capacity() || count > capacity() - lba) return ERANGE;
  return media_->write(lba, count, in);
}

Counters SimDrive::counters() const {
  Counters c = record_.counters;
  c.commands += pending_.commands;
  c.sectorsRead += pending_.sectorsRead;
  c.sectorsWritten += pending_.sectorsWritten;
  return c;
}

bool SimDrive::mutate(const std::function<void(DriveRecord&)>& fn, std::string* error) {
  std::string err;
  BayRecord after;
  uint64_t seq = 0;
  uint64_t id = record_.id;
  int slot = slot_;
  // Vendor state changed in this command travels with any change written,
  // so that taking the file's record back never loses it.
  const nlohmann::json* vendor = vendorTouched_ ? &record_.vendor : nullptr;
  bool ok = store_.mutate(
      [&](BayRecord& bay, std::string& e) {
        SlotRecord& s = bay.slots[static_cast<size_t>(slot)];
        if (!s.drive || s.drive->id != id) {
          e = "slot " + std::to_string(slot) + " now holds another drive";
          return false;
        }
        if (vendor) s.drive->vendor = *vendor;
        fn(*s.drive);
        return true;
      },
      err, &after, &seq);
  if (!ok) {
    if (error) *error = err;
    return false;
  }
  const SlotRecord& s = after.slots[static_cast<size_t>(slot_)];
  record_ = *s.drive;
  recordSeq_ = seq;
  gone_ = !s.plugged || s.generation != generation_;
  vendorTouched_ = false;
  return true;
}

bool SimDrive::losePower(uint32_t faultId, std::string* error) {
  std::string err;
  const uint64_t id = record_.id;
  const uint64_t generation = generation_;
  const int slot = slot_;
  bool ok = store_.mutate(
      [&](BayRecord& bay, std::string& e) {
        SlotRecord& s = bay.slots[static_cast<size_t>(slot)];
        if (!s.drive || s.drive->id != id || !s.plugged || s.generation != generation) {
          e = "slot " + std::to_string(slot) + " no longer holds this drive";
          return false;
        }
        std::vector<Fault>& faults = s.drive->faults;
        faults.erase(std::remove_if(faults.begin(), faults.end(), [faultId](const Fault& f) { return f.id == faultId; }),
                     faults.end());
        s.plugged = false;
        ++s.generation;
        return true;
      },
      err);
  // Whatever the file says, this power-on is over: nothing volatile survives
  // and no further command reaches the drive.
  runtime_.clear();
  readyAt_.reset();
  vendorTouched_ = false;
  gone_ = true;
  if (!ok && error) *error = err;
  return ok;
}

nlohmann::json& SimDrive::vendorState() {
  if (!vendorTouched_) {
    vendorBefore_ = record_.vendor;
    vendorTouched_ = true;
  }
  return record_.vendor;
}

void SimDrive::settle() {
  if (!vendorTouched_) return;
  if (record_.vendor == vendorBefore_) {
    vendorTouched_ = false;
    return;
  }
  try {
    saveVendorState();
  } catch (const std::exception&) {
    // Kept in memory; saved with the next change that reaches the file.
  }
}

bool SimDrive::refresh() {
  if (store_.sequence() == recordSeq_) return !gone_;
  BayRecord bay;
  uint64_t seq = 0;
  std::string error;
  // A description that cannot be read (edited by hand mid-run) leaves the
  // drive as it was; the bay reports the error.
  if (!store_.read(bay, seq, error)) return !gone_;
  recordSeq_ = seq;
  const SlotRecord& s = bay.slots[static_cast<size_t>(slot_)];
  if (!s.drive || s.drive->id != record_.id || !s.plugged || s.generation != generation_) {
    gone_ = true;
    return false;
  }
  nlohmann::json unsaved;
  if (vendorTouched_) unsaved = std::move(record_.vendor);
  record_ = *s.drive;
  if (vendorTouched_) record_.vendor = std::move(unsaved);
  return true;
}

bool SimDrive::saveVendorState(std::string* error) {
  vendorTouched_ = true;  // mutate() carries it to the file
  return mutate([](DriveRecord&) {}, error);
}

bool SimDrive::setFirmware(std::string_view version, std::string* error) {
  SimIdentity id = record_.identity;
  id.firmware = std::string(version);
  return setIdentity(id, error);
}

bool SimDrive::setIdentity(const SimIdentity& identity, std::string* error) {
  std::string bad = validateIdentity(identity);
  if (bad.empty() && (identity.capacity != record_.identity.capacity || identity.bus != record_.identity.bus))
    bad = "capacity and bus belong to the drive's hardware and cannot change";
  if (!bad.empty()) {
    if (error) *error = bad;
    return false;
  }
  return mutate([&](DriveRecord& d) { d.identity = identity; }, error);
}

bool SimDrive::setAccessibleMax(uint64_t sectors, std::string* error) {
  if (sectors > capacity()) {
    if (error) *error = "accessible max address beyond the capacity";
    return false;
  }
  return mutate([&](DriveRecord& d) { d.accessibleMax = sectors == d.identity.capacity ? 0 : sectors; }, error);
}

bool SimDrive::setWriteCache(bool enabled, std::string* error) {
  return mutate([&](DriveRecord& d) { d.writeCacheEnabled = enabled; }, error);
}

void SimDrive::beginNotReady(std::chrono::milliseconds duration) { readyAt_ = clock_.now() + duration; }

bool SimDrive::restarting() const { return readyAt_ && clock_.now() < *readyAt_; }

bool SimDrive::flushCounters(std::string* error) {
  if (pending_.commands == 0 && pending_.sectorsRead == 0 && pending_.sectorsWritten == 0) return true;
  Counters add = pending_;
  bool ok = mutate(
      [&](DriveRecord& d) {
        d.counters.commands += add.commands;
        d.counters.sectorsRead += add.sectorsRead;
        d.counters.sectorsWritten += add.sectorsWritten;
      },
      error);
  if (ok) pending_ = Counters{};
  return ok;
}

}  // namespace zorv::sim
