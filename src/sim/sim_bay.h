#pragma once
// The simulated drive bay: eight slots stored in a directory (bay_store.h),
// each empty, holding a drive of the family (model class 0 or 1, on SATA,
// parallel ATA or behind a USB bridge) or a foreign drive.
//
// Several SimBay objects, in one process or in several, may use one
// directory at once: every change goes through bay.json under the bay lock,
// and each object notices the others' changes with one atomic load per
// command. Plugging, unplugging and power cycles show up as device arrival
// and removal events (watch()).
//
//   auto bay = SimBay::open(dir, error, {&manualClock});
//   bay->addFault(0, Fault{.kind = FaultKind::Fail, .opcode = 0x28}, error);
//   auto port = makeSimPort(bay);     // the DevicePort the transport uses
//   bay->controller(0)->withDrive([](SimDrive& d) { ... });

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "sim/drive_record.h"
#include "sim/sim_controller.h"
#include "transport/clock.h"
#include "transport/device_events.h"

namespace zorv::sim {

class BayStore;

struct BayOptions {
  Clock* clock = nullptr;      // the drives' clock; nullptr: the system clock
  bool create = true;          // make the default bay when dir does not exist or is empty
  bool requireDrives = true;   // a plugged drive whose files cannot be opened fails the open;
                               // false: the slot stays unusable (slotError) and the rest works
};

class SimBay : public std::enable_shared_from_this<SimBay> {
 public:
  ~SimBay();
  SimBay(const SimBay&) = delete;
  SimBay& operator=(const SimBay&) = delete;

  // Opens the bay in dir; nullptr with error (naming the file and field)
  // when it cannot be used. Nothing of a bad bay is rewritten.
  static std::shared_ptr<SimBay> open(const std::string& dir, std::string& error, BayOptions options = {});
  // Writes the default bay into dir (made when missing); fails when dir
  // already holds a bay.
  static bool create(const std::string& dir, std::string& error);
  // The default bay: a class 0 family drive on SATA (slot 0), a class 1
  // family drive behind USB (slot 1), a foreign SATA drive (slot 2).
  static BayRecord defaultBay();

  const std::string& dir() const;
  Clock& clock() { return *clock_; }
  BayStore& store() { return *store_; }

  // The controller of the drive plugged into slot (0-7); nullptr for an empty
  // or unplugged slot or one whose drive files cannot be opened.
  std::shared_ptr<SimController> controller(int slot);

  // The description as it is now in the file.
  bool snapshot(BayRecord& out, std::string& error);
  // The last error met while following another process's changes (empty
  // when none).
  std::string lastError();
  // Why the drive plugged into slot cannot be used (its media or SPI flash
  // file); empty when it can.
  std::string slotError(int slot);

  // Re-inserts the drive that was unplugged from slot (a power-on).
  bool plug(int slot, std::string& error);
  // Inserts a new drive (id, generation and counters are the bay's); the
  // slot must not hold a plugged drive. An unplugged drive there is replaced
  // and its data files are deleted. File media with capacity 0 takes the
  // whole file.
  bool plug(int slot, DriveRecord drive, std::string& error);
  bool unplug(int slot, std::string& error);
  // Unplug and plug: removal and arrival, the drive's volatile state is lost.
  bool powerCycle(int slot, std::string& error);
  // Adds a fault to the drive in slot; its id is returned in id.
  bool addFault(int slot, Fault fault, std::string& error, uint32_t* id = nullptr);
  bool clearFaults(int slot, std::string& error);
  bool setTemperature(int slot, int celsius, std::string& error);
  bool setLatency(int slot, LatencyModel latency, std::string& error);

  // Adds this process's command and sector counts to bay.json (also done
  // when the bay is closed).
  bool flush(std::string& error);

  // Arrival and removal of drives, by this or any other process, from now on.
  std::unique_ptr<DeviceEventSource> watch();

  // The device interface name of a drive in the form a device notification
  // carries it, with the model text inside (device_events.h):
  //   "\\?\USBSTOR#DISK&VEN_ORBENNE&PROD_TA512_SSD&REV_208A#OB1C2A01953&1#{53f56307-...}"
  //   "\\?\SCSI#DISK&VEN_ORBENNE&PROD_PA256_SSD#SIM&0&OB2310A00417#{53f56307-...}"
  static std::string interfaceName(int slot, const DriveRecord& drive);

 private:
  SimBay(std::unique_ptr<BayStore> store, Clock* clock, std::unique_ptr<Clock> ownClock);
  bool load(bool requireDrives, std::string& error);
  bool mutateSlot(int slot, const std::function<bool(BayRecord&, SlotRecord&, std::string&)>& fn,
                  std::string& error);
  void reloadLocked();
  std::shared_ptr<SimController> openDrive(int slot, uint64_t seq, const SlotRecord& s, std::string& error);

  std::unique_ptr<Clock> ownClock_;
  Clock* clock_;
  std::unique_ptr<BayStore> store_;
  std::mutex mutex_;
  std::atomic<uint64_t> seenSeq_{~uint64_t{0}};
  std::array<std::shared_ptr<SimController>, kBaySlots> slots_{};
  std::array<std::string, kBaySlots> slotErrors_{};
  std::string lastError_;
};

// Drives for plugging: realistic identities, different for each seed.
DriveRecord familyDrive(uint16_t modelClass, SimBus bus, uint32_t seed = 0);
DriveRecord foreignDrive(SimBus bus, uint32_t seed = 0);
// A drive whose model number is `model`: of the family when its first word
// is one of the family's brands ("VXA", "VXATEK", "ORBENNE", "KALDRIX",
// "MERIDO"), else foreign. A known model fragment in it (the last that
// occurs, PA256 ... TX4T) gives the model class and the usual capacity.
DriveRecord driveForModel(const std::string& model, SimBus bus, uint32_t seed = 0);

}  // namespace zorv::sim
