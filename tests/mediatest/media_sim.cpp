#include "media_sim.h"

#include "sim/sim_bay.h"
#include "sim/sim_port.h"

namespace zorv::test {

namespace {

sim::BayRecord bayWithCapacity(uint64_t capacity) {
  sim::BayRecord bay = sim::SimBay::defaultBay();
  if (capacity) bay.slots[0].drive->identity.capacity = capacity;
  return bay;
}

}  // namespace

void SpyPort::note(const std::string& path, const ScsiRequest& r, bool queued) {
  uint8_t op = r.cdb[0];
  if (op != 0x28 && op != 0x2A) return;
  MediaCommand c;
  c.path = path;
  c.write = op == 0x2A;
  c.queued = queued;
  c.lba = uint32_t{r.cdb[2]} << 24 | uint32_t{r.cdb[3]} << 16 | uint32_t{r.cdb[4]} << 8 | r.cdb[5];
  c.count = uint32_t{r.cdb[7]} << 8 | r.cdb[8];
  commands.push_back(c);
  if (stop && commands.size() >= stopAfter) *stop = 1;
}

size_t SpyPort::writes() const {
  size_t n = 0;
  for (const MediaCommand& c : commands) n += c.write ? 1 : 0;
  return n;
}

bool SpyPort::allInside(uint64_t first, uint64_t end) const {
  for (const MediaCommand& c : commands)
    if (c.lba < first || uint64_t{c.lba} + c.count > end) return false;
  return true;
}

void LineSink::append(std::string_view text, MessageKind kind) {
  std::lock_guard lock(mutex_);
  parts_.emplace_back(kind, std::string(text));
}

void LineSink::clear() {
  std::lock_guard lock(mutex_);
  parts_.clear();
}

std::string LineSink::text() const {
  std::lock_guard lock(mutex_);
  std::string out;
  for (const auto& p : parts_) out += p.second;
  return out;
}

std::vector<std::string> LineSink::linesOf(MessageKind kind) const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const auto& p : parts_) {
    if (p.first != kind) continue;
    std::string line = p.second;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    out.push_back(line);
  }
  return out;
}

size_t LineSink::count(std::string_view line) const {
  std::lock_guard lock(mutex_);
  size_t n = 0;
  for (const auto& p : parts_) n += p.second == std::string(line) + "\n" ? 1 : 0;
  return n;
}

MessageKind LineSink::kindOf(std::string_view line) const {
  std::lock_guard lock(mutex_);
  for (const auto& p : parts_)
    if (p.second == std::string(line) + "\n") return p.first;
  return MessageKind::Normal;
}

MediaSim::MediaSim(int slot, uint64_t capacity) : sim(bayWithCapacity(capacity), slot) {
  if (!sim.ok()) return;
  spy = std::make_unique<SpyPort>(*sim.port);
  sim.ctx().port = spy.get();
  spy->stop = &sim.ctx().fgStopRequest;
}

int MediaSim::slot() { return sim::simSlotOfPath(sim.ctx().selectedDrive().strDevicePath); }

bool MediaSim::setLatency(sim::LatencyModel model) { return sim.bay->setLatency(slot(), model, sim.error); }

bool MediaSim::addFault(const sim::Fault& fault) { return sim.bay->addFault(slot(), fault, sim.error); }

MediaTestResult MediaSim::run(const MediaTestParams& params, uint32_t seed) {
  MediaTestJob job;
  job.params = params;
  job.drive = sim.ctx().selectedDrive();
  job.messages = &lines;
  job.permission = permission;
  job.seed = seed;
  sim.ctx().fgBusy = 1;
  return MediaTestWorker(sim.ctx(), job);
}

MediaTestParams testParams(uint16_t opCode, uint32_t start, uint32_t end, uint32_t blocks, uint32_t loop) {
  MediaTestParams p;
  p.usOpCode = opCode;
  p.ulStartLba = start;
  p.ulEndLba = end;
  p.ulBlks = blocks;
  p.ulLoop = loop;
  p.ulLength = 1;
  p._fgNCQEnable = 0;
  p.fgReadVerify = 0;
  return p;
}

}  // namespace zorv::test
