#pragma once
// The state of one simulated drive: its entry of the bay description (a
// copy, kept in step with the file), its media, its SPI flash, the plain
// 512-byte buffer of READ/WRITE BUFFER and what it holds only while powered.
//
// A SimDrive lives from one power-on to the next power cycle (plug, power
// cycle or replacement make a new one), so volatile state is simply state of
// the object. Its controller (sim_controller.h) serialises commands: every
// method here is called with the drive's command lock held, that is from a
// command handler or a vendor hook (vendor_hooks.h), or through
// SimController::withDrive().
//
// Persistent changes (firmware version, identity, vendor state) are written
// to bay.json at once, under the bay lock and atomically, so another process
// sees them and the next run starts from them. Media and SPI flash are files
// of their own and persist as they are written.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/drive_record.h"
#include "transport/clock.h"

namespace zorv::sim {

class BayStore;
class SimMedia;

// The 512 KiB SPI flash image of a family drive, mapped from slotN/spi.bin.
class SpiFlashFile {
 public:
  SpiFlashFile() = default;
  ~SpiFlashFile();
  SpiFlashFile(SpiFlashFile&& other) noexcept { *this = std::move(other); }
  SpiFlashFile& operator=(SpiFlashFile&& other) noexcept;
  // Opens path (creating an erased image, all 0xFF, when missing); a file of
  // another size is an error and is left alone.
  static std::optional<SpiFlashFile> open(const std::string& path, std::string& error);
  std::span<uint8_t> bytes() { return {data_, data_ ? kSpiFlashSize : 0}; }

 private:
  uint8_t* data_ = nullptr;
};

class SimDrive {
 public:
  SimDrive(BayStore& store, int slot, uint64_t generation, uint64_t recordSeq, DriveRecord record,
           std::unique_ptr<SimMedia> media, SpiFlashFile spi, Clock& clock);
  ~SimDrive();
  SimDrive(const SimDrive&) = delete;
  SimDrive& operator=(const SimDrive&) = delete;

  int slot() const { return slot_; }
  uint64_t generation() const { return generation_; }
  const SimIdentity& identity() const { return record_.identity; }
  const DriveRecord& record() const { return record_; }
  Clock& clock() { return clock_; }
  // Milliseconds on the drive's clock (steady; comparable between processes
  // on one machine when the system clock is used).
  int64_t nowMs() const;

  // ---- Media, raw: no fault takes effect here. 0 or an errno value.
  uint64_t capacity() const { return record_.identity.capacity; }
  // What the host may address: the accessible max address when one is set
  // (persistent), else the whole capacity. Block commands check against it.
  uint64_t userCapacity() const {
    return record_.accessibleMax ? record_.accessibleMax : record_.identity.capacity;
  }
  bool setAccessibleMax(uint64_t sectors, std::string* error = nullptr);
  // The volatile write cache (SET FEATURES 02h / 82h), shown in IDENTIFY
  // word 85 bit 5; kept in the bay so that every process sees it.
  bool setWriteCache(bool enabled, std::string* error = nullptr);
  int readSectors(uint64_t lba, uint32_t count, uint8_t* out);
  int writeSectors(uint64_t lba, uint32_t count, const uint8_t* in);
  SimMedia& media() { return *media_; }

  // ---- SPI flash: 512 KiB, persistent; empty for a foreign drive.
  std::span<uint8_t> spiFlash() { return spi_.bytes(); }

  // ---- The plain buffer of READ BUFFER / WRITE BUFFER (volatile).
  std::array<uint8_t, 512>& plainBuffer() { return buffer_; }

  // ---- Persistent state.
  int temperature() const { return record_.temperature; }
  // Counters as saved plus what this process has not saved yet.
  Counters counters() const;
  // State of the vendor command families, each under its own member:
  // vendorState()["smart"], ["microcode"], ... A change is saved to bay.json
  // when the command (or withDrive call) ends; saveVendorState() saves at once.
  nlohmann::json& vendorState();
  bool saveVendorState(std::string* error = nullptr);
  // Identity changes (a firmware update, a rewritten hardware ID).
  bool setFirmware(std::string_view version, std::string* error = nullptr);
  bool setIdentity(const SimIdentity& identity, std::string* error = nullptr);

  // ---- Readiness. A restart (after a firmware download, a power cycle the
  // drive does by itself) makes it NOT READY (2/04/01) until then.
  void beginNotReady(std::chrono::milliseconds duration);
  bool restarting() const;

  // ---- Volatile state of one command family, made on first use and gone
  // at the next power cycle or hardware reset: drive.runtime<VendorSession>().
  template <class T>
  T& runtime() {
    static const char key = 0;
    for (auto& entry : runtime_)
      if (entry.first == &key) return *static_cast<T*>(entry.second.get());
    auto object = std::make_shared<T>();
    runtime_.emplace_back(&key, object);
    return *object;
  }

  // A hardware reset (what a USB bridge does for SAT protocol 0): the drive
  // drops the volatile state of every command family (a download in
  // progress, a staged sector, a pending reply) and comes back ready.
  void hardwareReset() { runtime_.clear(); }

  // The drive loses its power: its slot becomes unplugged in bay.json (a new
  // generation, as an unplug makes it), with the fault faultId that caused it
  // used up in the same change; everything volatile is gone and the drive
  // answers nothing until it is plugged in again.
  bool losePower(uint32_t faultId, std::string* error = nullptr);

  // ---- Used by the controller and the bay.
  // Applies fn to this drive's entry in bay.json and to the copy here; false
  // when the file cannot be changed or the slot now holds another drive.
  bool mutate(const std::function<void(DriveRecord&)>& fn, std::string* error = nullptr);
  // Catches up with changes other processes made to bay.json. False when the
  // drive has left its slot (unplugged, power-cycled or replaced).
  bool refresh();
  bool gone() const { return gone_; }
  void countCommand() { ++pending_.commands; }
  void countRead(uint64_t sectors) { pending_.sectorsRead += sectors; }
  void countWritten(uint64_t sectors) { pending_.sectorsWritten += sectors; }
  // Adds this process's counts to bay.json.
  bool flushCounters(std::string* error = nullptr);
  // End of a command: saves vendor state that was changed.
  void settle();

 private:
  BayStore& store_;
  int slot_;
  uint64_t generation_;
  uint64_t recordSeq_;
  DriveRecord record_;
  std::unique_ptr<SimMedia> media_;
  SpiFlashFile spi_;
  Clock& clock_;
  std::array<uint8_t, 512> buffer_{};
  Counters pending_{};
  std::optional<Clock::TimePoint> readyAt_;
  bool gone_ = false;
  bool vendorTouched_ = false;       // vendorState() was handed out since the last save
  nlohmann::json vendorBefore_;      // its value then
  std::vector<std::pair<const void*, std::shared_ptr<void>>> runtime_;
};

}  // namespace zorv::sim
