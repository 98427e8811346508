#pragma once
// What the bay description file holds about each slot and the drive in it.
// These are plain values: the file is the truth, processes keep copies and
// change the file only under the bay lock (bay_store.h).
//
// bay.json:
//   { "format": "zorv-sim-bay", "version": 1, "nextDriveId": 4,
//     "slots": [ { "plugged": true, "generation": 1, "drive": { ... } | null }, x8 ] }
// drive:
//   { "id": 1, "model": "ORBENNE PA256 SSD", "serial": "...", "firmware": "S1107A0B",
//     "family": true, "modelClass": 0, "bus": "sata"|"ata"|"usb", "capacity": 500118192,
//     "wwn": "50C8A7E0012A4F31", "hwid": "5A0C1F03A2", "pcba": "...", "word135": "GB",
//     "media": { "kind": "sparse" } | { "kind": "file", "path": "/dev/loop3" },
//     "latency": { "commandUs": 0, "perMiBUs": 0 }, "accessibleMax": 0,
//     "temperature": 36, "counters": { ... }, "faults": [ ... ], "nextFaultId": 1,
//     "vendor": { ... } }

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace zorv::sim {

constexpr int kBaySlots = 8;
constexpr size_t kSpiFlashSize = 512 * 1024;
constexpr size_t kModelLength = 40;
constexpr size_t kSerialLength = 20;
constexpr size_t kFirmwareLength = 8;
constexpr size_t kMaxHwidBytes = 16;
constexpr uint64_t kMaxCapacity = (uint64_t{1} << 48) - 1;

enum class SimBus : uint8_t { Sata, Ata, Usb };

std::string_view busName(SimBus bus);  // "sata", "ata", "usb"
std::optional<SimBus> parseBus(std::string_view text);
uint8_t storageBusType(SimBus bus);    // kBusSata, kBusAta, kBusUsb

// Who the drive says it is. Everything IDENTIFY DEVICE reports and what the
// vendor command families need (model class, hardware ID, PCBA text).
struct SimIdentity {
  std::string model;     // up to 40 characters
  std::string serial;    // up to 20
  std::string firmware;  // up to 8 (family drives carry exactly 8)
  bool family = true;    // speaks the controller family's vendor protocol
  uint16_t modelClass = 0;
  SimBus bus = SimBus::Sata;
  uint64_t capacity = 0;        // user-addressable 512-byte sectors
  uint64_t wwn = 0;             // 64-bit world wide name (NAA 5)
  std::vector<uint8_t> hwid;    // hardware ID bytes (family drives)
  std::string pcba;             // PCBA part number text, up to 20
  std::string word135 = "GB";   // the two vendor characters of IDENTIFY word 135
};

enum class MediaKind : uint8_t { Sparse, File };

struct MediaSpec {
  MediaKind kind = MediaKind::Sparse;
  std::string path;  // File: a regular file or block device, used with O_DIRECT
};

// Service time of a command: commandUs + perMiBUs per MiB moved. A media
// read pays randomReadUs more when it does not continue where the previous
// read ended (the controller has to look its blocks up), and 0..jitterUs
// more that depends on its LBA, so random reads vary as they do on a real
// drive while the same LBA always costs the same (tests can rely on it).
// "fast" (the default) is all 0.
struct LatencyModel {
  uint32_t commandUs = 0;
  uint32_t perMiBUs = 0;
  uint32_t randomReadUs = 0;
  uint32_t jitterUs = 0;
  uint32_t forBytes(uint64_t bytes) const {
    uint64_t us = commandUs + (bytes * perMiBUs >> 20);
    return us > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(us);
  }
  // A media read of bytes at lba; sequential: it starts where the last one ended.
  uint32_t forRead(uint64_t bytes, uint64_t lba, bool sequential) const;
};
// Named models: "fast", "sata-ssd", "usb-ssd".
std::optional<LatencyModel> namedLatency(std::string_view name);

struct Counters {
  uint64_t powerCycles = 0;
  uint64_t powerOnHours = 0;
  uint64_t commands = 0;
  uint64_t sectorsRead = 0;
  uint64_t sectorsWritten = 0;
};

enum class FaultKind : uint8_t {
  Fail,      // the next `count` matching commands fail with the given status/sense
  Timeout,   // the next `count` matching commands never answer
  Short,     // the next `count` matching data-in commands return only `bytes` bytes
  Corrupt,   // reads of [lba, lba+blocks) return damaged data until cleared
  NotReady,  // NOT READY (2/04/01) for `ms` milliseconds, or for `count` commands
  ReadError, // reads touching [lba, lba+blocks) fail: MEDIUM ERROR 3/11/00 with the LBA, until cleared
  Damage,    // blocks of [lba, lba+blocks) are stored damaged when written (one data byte flipped), until cleared
  // The drive loses its power when the count-th DOWNLOAD MICROCODE segment
  // (92h or 93h; `opcode` may narrow it to one) arrives, before the segment
  // is stored. It stays off, as a bench drive does, until it is plugged in
  // (powered on) again.
  PowerLoss,
};

std::string_view faultKindName(FaultKind kind);  // "fail", "timeout", "short", "corrupt", "not-ready", ..., "power-loss"
std::optional<FaultKind> parseFaultKind(std::string_view text);

constexpr int kAnyOpcode = -1;

struct Fault {
  uint32_t id = 0;  // unique within the drive, given when added
  FaultKind kind = FaultKind::Fail;
  int opcode = kAnyOpcode;  // ATA command or SCSI operation code; -1 any
  uint32_t count = 1;       // commands left (Fail, Timeout, Short, NotReady without ms); PowerLoss: the segment
  // Fail on the ATA side.
  uint8_t ataStatus = 0x51;
  uint8_t ataError = 0x04;
  // Fail on the SCSI side.
  uint8_t senseKey = 0x03;
  uint8_t asc = 0x11;
  uint8_t ascq = 0x00;
  uint32_t bytes = 0;   // Short: bytes returned (0: half the transfer)
  uint32_t waitMs = 0;  // Timeout: how long the host waits (0: the request's own time-out)
  uint64_t lba = 0;     // Corrupt, ReadError, Damage
  uint64_t blocks = 1;  // Corrupt, ReadError, Damage
  uint32_t ms = 0;      // NotReady for a period; 0: for `count` commands
  std::optional<int64_t> startedMs;  // NotReady period: start on the drive's clock (set by the first command)
};

struct DriveRecord {
  uint64_t id = 0;  // unique within the bay; survives power cycles, not replacement
  SimIdentity identity;
  MediaSpec media;
  LatencyModel latency;
  uint64_t accessibleMax = 0;  // sectors the host may address; 0: the whole capacity
  int temperature = 35;        // degrees Celsius
  bool writeCacheEnabled = true;  // SET FEATURES 02h / 82h; on again at every power-on
  Counters counters;
  std::vector<Fault> faults;
  uint32_t nextFaultId = 1;
  nlohmann::json vendor = nlohmann::json::object();  // persistent state of the vendor command families
};

struct SlotRecord {
  bool plugged = false;
  uint64_t generation = 0;  // changes on every plug, unplug, power cycle and replacement
  std::optional<DriveRecord> drive;

  bool present() const { return plugged && drive.has_value(); }
};

struct BayRecord {
  uint64_t nextDriveId = 1;
  std::array<SlotRecord, kBaySlots> slots{};
};

// Checks an identity for what IDENTIFY DEVICE can carry; the empty text when
// it is usable, else "<field>: <reason>".
std::string validateIdentity(const SimIdentity& id);

// Text form of byte strings and WWNs in the file.
std::string toHex(const uint8_t* bytes, size_t n);
std::optional<std::vector<uint8_t>> parseHexBytes(std::string_view text);
std::optional<uint64_t> parseWwn(std::string_view text);
std::string wwnText(uint64_t wwn);

}  // namespace zorv::sim
