// Identities of the drives a new bay holds and that `zorvctl sim plug` makes
// when it is not told otherwise.

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "sim/sim_bay.h"

namespace zorv::sim {

namespace {

struct ModelChoice {
  const char* fragment;
  uint64_t sectors;
};

// Family products by generation, with their usual user capacities (IDEMA).
const ModelChoice kClass0[] = {{"PA256", 500118192},  {"PA512", 1000215216}, {"PA128", 250069680},
                               {"PA1T", 2000409264},  {"PM240", 468862128},  {"PM480", 937703088},
                               {"PALLO", 250069680}};
const ModelChoice kClass1[] = {{"TA512", 1000215216}, {"TA256", 500118192},  {"TA1T", 2000409264},
                               {"TA2T", 4000797360},  {"TM500", 976773168},  {"TM1T", 2000409264},
                               {"TM2T", 4000797360},  {"TARN", 1000215216},  {"TX4T", 7814037168}};

constexpr uint64_t kFamilyOui = 0x0C8A7E;
constexpr uint64_t kForeignOui = 0x3B41D2;

uint64_t naa5(uint64_t oui, uint64_t unit) { return (uint64_t{5} << 60) | (oui << 36) | (unit & 0xFFFFFFFFFULL); }

std::string format(const char* fmt, unsigned a, unsigned b = 0) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, a, b);
  return buf;
}

}  // namespace

DriveRecord familyDrive(uint16_t modelClass, SimBus bus, uint32_t seed) {
  DriveRecord d;
  SimIdentity& id = d.identity;
  bool newer = modelClass == 1;
  const ModelChoice& m = newer ? kClass1[seed % std::size(kClass1)] : kClass0[seed % std::size(kClass0)];
  unsigned unit = 417 + seed * 1536;
  id.model = std::string("ORBENNE ") + m.fragment + " SSD";
  id.serial = format(newer ? "OB2402B%05u" : "OB2310A%05u", unit % 100000);
  id.firmware = newer ? "T1208B1A" : "S1107A0C";
  id.family = true;
  id.modelClass = modelClass;
  id.bus = bus;
  id.capacity = m.sectors;
  id.wwn = naa5(kFamilyOui, (uint64_t{modelClass} << 32) | unit);
  id.hwid = newer ? std::vector<uint8_t>{0x5A, 0x0D, 0x21, 0x07} : std::vector<uint8_t>{0x5A, 0x0C, 0x1F, 0x03};
  id.pcba = std::string(m.fragment) + (newer ? "-2280-B11" : "-2280-A03");
  id.word135 = "GB";
  d.temperature = newer ? 41 : 36;
  d.counters.powerOnHours = 1200 + seed * 37;
  d.counters.powerCycles = 310 + seed;
  return d;
}

DriveRecord foreignDrive(SimBus bus, uint32_t seed) {
  DriveRecord d;
  SimIdentity& id = d.identity;
  unsigned unit = 90311 + seed * 211;
  id.model = "VELDRANE VS240 SSD";
  id.serial = format("VD%08u", unit);
  id.firmware = "V21R0B04";
  id.family = false;
  id.modelClass = 0;
  id.bus = bus;
  id.capacity = 468862128;
  id.wwn = naa5(kForeignOui, unit);
  id.word135.clear();
  d.temperature = 33;
  d.counters.powerOnHours = 8700 + seed;
  d.counters.powerCycles = 1520 + seed;
  return d;
}

DriveRecord driveForModel(const std::string& model, SimBus bus, uint32_t seed) {
  static const char* const kBrands[] = {"VXA", "VXATEK", "ORBENNE", "KALDRIX", "MERIDO"};
  std::string first = model.substr(0, model.find(' '));
  for (char& c : first) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  bool family = std::find(std::begin(kBrands), std::end(kBrands), first) != std::end(kBrands);
  std::string compact;
  for (char c : model)
    if (c != ' ') compact.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  const ModelChoice* known = nullptr;
  uint16_t modelClass = 0;
  for (const ModelChoice& m : kClass0)
    if (compact.find(m.fragment) != std::string::npos) known = &m;
  for (const ModelChoice& m : kClass1) {
    if (compact.find(m.fragment) != std::string::npos) {
      known = &m;
      modelClass = 1;
    }
  }
  DriveRecord d = family ? familyDrive(modelClass, bus, seed) : foreignDrive(bus, seed);
  d.identity.model = model;
  if (known) {
    d.identity.capacity = known->sectors;
    if (family) d.identity.pcba = std::string(known->fragment) + (modelClass ? "-2280-B11" : "-2280-A03");
  }
  return d;
}

BayRecord SimBay::defaultBay() {
  BayRecord bay;
  DriveRecord drives[] = {familyDrive(0, SimBus::Sata), familyDrive(1, SimBus::Usb), foreignDrive(SimBus::Sata)};
  for (size_t i = 0; i < std::size(drives); ++i) {
    drives[i].id = bay.nextDriveId++;
    SlotRecord& s = bay.slots[i];
    s.plugged = true;
    s.generation = 1;
    s.drive = std::move(drives[i]);
  }
  return bay;
}

}  // namespace zorv::sim
