#include "sim/sim_bay.h"


#include <cctype>
#include <filesystem>

#include "sim/bay_store.h"
#include "sim/media.h"

namespace zorv::sim {

namespace {

bool validSlot(int slot, std::string& error) {
  if (slot >= 0 && slot < kBaySlots) return true;
  error = "slot " + std::to_string(slot) + ": the bay has slots 0 to 7";
  return false;
}

std::string slotText(int slot) { return "slot " + std::to_string(slot); }

// Unplugging and power cycling need a drive in the slot.
bool requireDrive(int slot, const SlotRecord& s, std::string& error) {
  if (s.present()) return true;
  error = slotText(slot) + ": no drive is plugged in";
  return false;
}

// Deletes what a previous drive left in the slot's directory.
void clearSlotFiles(const BayStore& store, int slot) {
  std::error_code ec;
  std::filesystem::remove(store.mediaPath(slot), ec);
  std::filesystem::remove(store.spiPath(slot), ec);
}

}  // namespace

SimBay::SimBay(std::unique_ptr<BayStore> store, Clock* clock, std::unique_ptr<Clock> ownClock)
    : ownClock_(std::move(ownClock)), clock_(clock ? clock : ownClock_.get()), store_(std::move(store)) {}

SimBay::~SimBay() {
  std::string error;
  flush(error);
}

const std::string& SimBay::dir() const { return store_->dir(); }

bool SimBay::create(const std::string& dir, std::string& error) {
  return BayStore::create(dir, defaultBay(), error);
}

std::shared_ptr<SimBay> SimBay::open(const std::string& dir, std::string& error, BayOptions options) {
  if (options.create && BayStore::isNew(dir)) {
    // Another process may make the same new bay at the same moment: its bay
    // is as good as ours.
    std::string createError;
    if (!create(dir, createError) && BayStore::isNew(dir)) {
      error = createError;
      return nullptr;
    }
  }
  std::unique_ptr<BayStore> store = BayStore::open(dir, error);
  if (!store) return nullptr;
  std::unique_ptr<Clock> own;
  if (!options.clock) own = std::make_unique<SystemClock>();
  std::shared_ptr<SimBay> bay(new SimBay(std::move(store), options.clock, std::move(own)));
  if (!bay->load(options.requireDrives, error)) return nullptr;
  return bay;
}

std::shared_ptr<SimController> SimBay::openDrive(int slot, uint64_t seq, const SlotRecord& s, std::string& error) {
  const DriveRecord& d = *s.drive;
  std::unique_ptr<SimMedia> media;
  if (d.media.kind == MediaKind::Sparse) {
    std::error_code ec;
    std::filesystem::create_directories(store_->slotDir(slot), ec);
    media = openSparseMedia(store_->mediaPath(slot), d.identity.capacity, error);
  } else {
    uint64_t sectors = d.identity.capacity;
    media = openFileMedia(d.media.path, sectors, error);
  }
  if (!media) return nullptr;
  SpiFlashFile spi;
  if (d.identity.family) {
    std::error_code ec;
    std::filesystem::create_directories(store_->slotDir(slot), ec);
    std::optional<SpiFlashFile> f = SpiFlashFile::open(store_->spiPath(slot), error);
    if (!f) return nullptr;
    spi = std::move(*f);
  }
  auto drive = std::make_unique<SimDrive>(*store_, slot, s.generation, seq, d, std::move(media), std::move(spi), *clock_);
  auto controller = std::make_shared<SimController>(std::move(drive));
  controller->powerOn();
  return controller;
}

bool SimBay::load(bool requireDrives, std::string& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  BayRecord bay;
  uint64_t seq = 0;
  if (!store_->read(bay, seq, error)) return false;
  for (int i = 0; i < kBaySlots; ++i) {
    const SlotRecord& s = bay.slots[static_cast<size_t>(i)];
    if (!s.present()) continue;
    std::string slotError;
    slots_[static_cast<size_t>(i)] = openDrive(i, seq, s, slotError);
    if (!slots_[static_cast<size_t>(i)]) {
      slotErrors_[static_cast<size_t>(i)] = slotText(i) + ": " + slotError;
      if (requireDrives) {
        error = slotErrors_[static_cast<size_t>(i)];
        return false;
      }
    }
  }
  seenSeq_.store(seq, std::memory_order_release);
  return true;
}

void SimBay::reloadLocked() {
  BayRecord bay;
  uint64_t seq = 0;
  std::string error;
  if (!store_->read(bay, seq, error)) {
    lastError_ = error;
    seenSeq_.store(store_->sequence(), std::memory_order_release);  // until the next change
    return;
  }
  for (int i = 0; i < kBaySlots; ++i) {
    const SlotRecord& s = bay.slots[static_cast<size_t>(i)];
    std::shared_ptr<SimController>& current = slots_[static_cast<size_t>(i)];
    bool same = current && s.present() && current->driveId() == s.drive->id && current->generation() == s.generation;
    if (same) continue;
    if (current) current->flushCounters();
    current.reset();
    slotErrors_[static_cast<size_t>(i)].clear();
    if (!s.present()) continue;
    current = openDrive(i, seq, s, error);
    if (!current) lastError_ = slotErrors_[static_cast<size_t>(i)] = slotText(i) + ": " + error;
  }
  seenSeq_.store(seq, std::memory_order_release);
}

std::shared_ptr<SimController> SimBay::controller(int slot) {
  if (slot < 0 || slot >= kBaySlots) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  if (store_->sequence() != seenSeq_.load(std::memory_order_acquire)) reloadLocked();
  return slots_[static_cast<size_t>(slot)];
}

bool SimBay::snapshot(BayRecord& out, std::string& error) {
  uint64_t seq = 0;
  return store_->read(out, seq, error);
}

std::string SimBay::lastError() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastError_;
}

std::string SimBay::slotError(int slot) {
  if (slot < 0 || slot >= kBaySlots) return {};
  std::lock_guard<std::mutex> lock(mutex_);
  if (store_->sequence() != seenSeq_.load(std::memory_order_acquire)) reloadLocked();
  return slotErrors_[static_cast<size_t>(slot)];
}

bool SimBay::mutateSlot(int slot, const std::function<bool(BayRecord&, SlotRecord&, std::string&)>& fn,
                        std::string& error) {
  if (!validSlot(slot, error)) return false;
  bool ok = store_->mutate(
      [&](BayRecord& bay, std::string& e) { return fn(bay, bay.slots[static_cast<size_t>(slot)], e); }, error);
  if (ok) {
    // Make the change visible to this process's commands at once.
    std::lock_guard<std::mutex> lock(mutex_);
    reloadLocked();
  }
  return ok;
}

bool SimBay::plug(int slot, std::string& error) {
  return mutateSlot(
      slot,
      [slot](BayRecord&, SlotRecord& s, std::string& e) {
        if (!s.drive) {
          e = slotText(slot) + ": empty; name the drive to plug in";
          return false;
        }
        if (s.plugged) {
          e = slotText(slot) + ": a drive is already plugged in";
          return false;
        }
        s.plugged = true;
        ++s.generation;
        ++s.drive->counters.powerCycles;
        s.drive->writeCacheEnabled = true;  // a power-on default
        return true;
      },
      error);
}

bool SimBay::plug(int slot, DriveRecord drive, std::string& error) {
  std::string bad = validateIdentity(drive.identity);
  if (drive.identity.capacity == 0 && drive.media.kind == MediaKind::File) bad.clear();  // taken from the file
  if (!bad.empty()) {
    error = bad;
    return false;
  }
  if (drive.media.kind == MediaKind::File) {
    std::string mediaError;
    uint64_t bytes = mediaFileBytes(drive.media.path, mediaError);
    if (!mediaError.empty()) {
      error = mediaError;
      return false;
    }
    uint64_t available = bytes / 512;
    if (drive.identity.capacity == 0) drive.identity.capacity = std::min(available, kMaxCapacity);
    if (drive.identity.capacity == 0 || drive.identity.capacity > available) {
      error = drive.media.path + ": holds " + std::to_string(available) + " sectors, the drive has " +
              std::to_string(drive.identity.capacity);
      return false;
    }
  }
  if (drive.accessibleMax > drive.identity.capacity) drive.accessibleMax = 0;
  const BayStore& store = *store_;
  return mutateSlot(
      slot,
      [&](BayRecord& bay, SlotRecord& s, std::string& e) {
        if (s.plugged && s.drive) {
          e = slotText(slot) + ": a drive is already plugged in; unplug it first";
          return false;
        }
        clearSlotFiles(store, slot);
        drive.id = bay.nextDriveId++;
        drive.faults.clear();
        drive.nextFaultId = 1;
        s.drive = std::move(drive);
        s.plugged = true;
        ++s.generation;
        return true;
      },
      error);
}

bool SimBay::unplug(int slot, std::string& error) {
  return mutateSlot(
      slot,
      [slot](BayRecord&, SlotRecord& s, std::string& e) {
        if (!requireDrive(slot, s, e)) return false;
        s.plugged = false;
        ++s.generation;
        return true;
      },
      error);
}

bool SimBay::powerCycle(int slot, std::string& error) {
  return mutateSlot(
      slot,
      [slot](BayRecord&, SlotRecord& s, std::string& e) {
        if (!requireDrive(slot, s, e)) return false;
        ++s.generation;
        ++s.drive->counters.powerCycles;
        s.drive->writeCacheEnabled = true;  // a power-on default
        return true;
      },
      error);
}

bool SimBay::addFault(int slot, Fault fault, std::string& error, uint32_t* id) {
  if (fault.opcode < kAnyOpcode || fault.opcode > 255) {
    error = "opcode: must be 00 to FF";
    return false;
  }
  if (fault.count == 0) {
    error = "count: must be at least 1";
    return false;
  }
  bool ranged = fault.kind == FaultKind::Corrupt || fault.kind == FaultKind::ReadError || fault.kind == FaultKind::Damage;
  if (ranged && fault.blocks == 0) {
    error = "blocks: must be at least 1";
    return false;
  }
  if (fault.senseKey > 0x0F) {
    error = "sense key: must be 0 to F";
    return false;
  }
  fault.startedMs.reset();
  uint32_t given = 0;
  bool ok = mutateSlot(
      slot,
      [&](BayRecord&, SlotRecord& s, std::string& e) {
        if (!s.drive) {
          e = slotText(slot) + ": empty";
          return false;
        }
        if (ranged && fault.lba >= s.drive->identity.capacity) {
          e = "lba: beyond the drive's capacity";
          return false;
        }
        fault.id = given = s.drive->nextFaultId++;
        s.drive->faults.push_back(fault);
        return true;
      },
      error);
  if (ok && id) *id = given;
  return ok;
}

bool SimBay::clearFaults(int slot, std::string& error) {
  return mutateSlot(
      slot,
      [slot](BayRecord&, SlotRecord& s, std::string& e) {
        if (!s.drive) {
          e = slotText(slot) + ": empty";
          return false;
        }
        s.drive->faults.clear();
        return true;
      },
      error);
}

bool SimBay::setTemperature(int slot, int celsius, std::string& error) {
  if (celsius < -60 || celsius > 200) {
    error = "temperature: must be -60 to 200 degrees";
    return false;
  }
  return mutateSlot(
      slot,
      [&](BayRecord&, SlotRecord& s, std::string& e) {
        if (!s.drive) {
          e = slotText(slot) + ": empty";
          return false;
        }
        s.drive->temperature = celsius;
        return true;
      },
      error);
}

bool SimBay::setLatency(int slot, LatencyModel latency, std::string& error) {
  return mutateSlot(
      slot,
      [&](BayRecord&, SlotRecord& s, std::string& e) {
        if (!s.drive) {
          e = slotText(slot) + ": empty";
          return false;
        }
        s.drive->latency = latency;
        return true;
      },
      error);
}

bool SimBay::flush(std::string& error) {
  std::array<std::shared_ptr<SimController>, kBaySlots> slots;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    slots = slots_;
  }
  bool ok = true;
  for (auto& c : slots)
    if (c && !c->flushCounters(&error)) ok = false;
  return ok;
}

namespace {

// Upper-case letters, digits and '_' survive; anything that would break the
// name's '#' and '&' structure does not.
std::string nameField(std::string_view text) {
  std::string out;
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    if (std::isalnum(u) || c == '.' || c == '-' || c == '_') {
      out.push_back(static_cast<char>(std::toupper(u)));
    } else {
      out.push_back('_');
    }
  }
  while (!out.empty() && out.back() == '_') out.pop_back();
  return out;
}

}  // namespace

std::string SimBay::interfaceName(int slot, const DriveRecord& drive) {
  const SimIdentity& id = drive.identity;
  std::string_view model = id.model;
  size_t space = model.find(' ');
  std::string vendor = nameField(space == std::string_view::npos ? model : model.substr(0, space));
  std::string product = space == std::string_view::npos ? std::string() : nameField(model.substr(space + 1));
  std::string serial = nameField(id.serial);
  static const char kDiskClass[] = "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
  if (id.bus == SimBus::Usb) {
    std::string_view fw = id.firmware;
    std::string rev = nameField(fw.size() > 4 ? fw.substr(fw.size() - 4) : fw);
    return "\\\\?\\USBSTOR#DISK&VEN_" + vendor + "&PROD_" + product + "&REV_" + rev + "#" + serial + "&" +
           std::to_string(slot) + "#" + kDiskClass;
  }
  return "\\\\?\\SCSI#DISK&VEN_" + vendor + "&PROD_" + product + "#SIM&" + std::to_string(slot) + "&" + serial + "#" +
         kDiskClass;
}

}  // namespace zorv::sim
