#include "support/sim_fixture.h"

#include <atomic>
#include <cstdlib>

#include "sim/bay_store.h"
#include "transport/host_file.h"
#include "sim/sim_port.h"

namespace zorv::test {

TempDir::TempDir() {
#ifdef _WIN32
  // No mkdtemp: a name of this process and a counter, taken by the first
  // create_directory that makes it.
  static std::atomic<unsigned> counter{0};
  std::error_code ec;
  for (int tries = 0; tries < 1000 && path_.empty(); ++tries) {
    std::filesystem::path p = std::filesystem::temp_directory_path(ec) /
                              ("zorv-test-" + std::to_string(hostProcessId()) + "-" + std::to_string(counter++));
    if (std::filesystem::create_directory(p, ec)) path_ = p.string();
  }
#else
  std::string base = (std::filesystem::temp_directory_path() / "zorv-test-XXXXXX").string();
  if (char* made = ::mkdtemp(base.data())) path_ = made;
#endif
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

namespace {

// The known-model list: fragment and class code, in list order.
struct KnownModel {
  const char* fragment;
  uint16_t modelClass;
};
const KnownModel kKnownModels[] = {{"PA128", 0}, {"PA256", 0}, {"PA512", 0}, {"PA1T", 0},  {"PALLO", 0}, {"PM240", 0},
                                   {"PM480", 0}, {"TA256", 1}, {"TA512", 1}, {"TA1T", 1},  {"TA2T", 1},  {"TARN", 1},
                                   {"TM500", 1}, {"TM1T", 1},  {"TM2T", 1},  {"TX4T", 1}};

std::string withoutSpaces(const std::string& s) {
  std::string out;
  for (char c : s)
    if (c != ' ') out.push_back(c);
  return out;
}

}  // namespace

bool describeSimDrive(sim::SimBay& bay, int slot, DriveEntry& entry) {
  auto controller = bay.controller(slot);
  if (!controller) return false;
  sim::SimIdentity id = controller->withDrive([](sim::SimDrive& d) { return d.identity(); });
  entry = DriveEntry{};
  entry.ucBusType = sim::storageBusType(id.bus);
  entry.strDevicePath = "sim:" + std::to_string(slot);
  entry.strModel = withoutSpaces(id.model);
  entry.strSerial = id.serial;
  entry.ulSectorsLo = static_cast<uint32_t>(id.capacity);
  entry.ulSectorsHi = static_cast<uint32_t>(id.capacity >> 32);
  for (const KnownModel& k : kKnownModels) {
    if (entry.strModel.find(k.fragment) != std::string::npos) {
      entry.usModelClass = k.modelClass;
      entry.strKnownModel = k.fragment;
    }
  }
  return true;
}

SimFixture::SimFixture(int slot) {
  if (dir.path().empty()) {
    error = "no temporary directory";
    return;
  }
  init(slot);
}

SimFixture::SimFixture(const sim::BayRecord& record, int slot) {
  if (dir.path().empty() || !sim::BayStore::create(dir.path(), record, error)) return;
  init(slot);
}

void SimFixture::init(int slot) {
  bay = sim::SimBay::open(dir.path(), error, {&clock});
  if (!bay) return;
  port = sim::makeSimPort(bay);
  context = std::make_unique<Context>(*port, ui, clock, pane);
  context->fgVendorCdbEnable = 1;
  if (slot >= 0) select(slot);
}

bool SimFixture::select(int slot) {
  context->ucDriveCount = 0;
  context->ucSelDrive = kNoDrive;
  context->fgFamilyDrive = 0;
  return add(slot);
}

bool SimFixture::add(int slot) {
  uint8_t next = context->ucDriveCount == kNoDrive ? 0 : context->ucDriveCount;
  if (next >= kMaxDrives || !describeSimDrive(*bay, slot, context->DriveTable[next])) return false;
  context->ucDriveCount = static_cast<uint8_t>(next + 1);
  context->ucSelDrive = next;
  context->fgFamilyDrive = 1;
  return true;
}

}  // namespace zorv::test
