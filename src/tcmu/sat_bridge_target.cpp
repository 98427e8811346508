#include "tcmu/sat_bridge_target.h"

#include <algorithm>
#include <cstring>

#include "transport/byte_order.h"
#include "transport/sat_cdb.h"
#include "transport/scsi_opcodes.h"

namespace zorv::tcmu {

namespace {

using sim::DataDir;

constexpr uint8_t kCheckCondition = 0x02;
constexpr uint8_t kModeSelect6 = 0x15;
constexpr uint8_t kModeSense6 = 0x1A;
constexpr uint8_t kControlPage = 0x0A;
constexpr uint8_t kCachingPage = 0x08;
constexpr uint8_t kAllPages = 0x3F;
constexpr uint8_t kDSense = 0x04;  // control page byte 2

void checkCondition(TcmuResponse& r, uint8_t key, uint8_t asc, uint8_t ascq = 0) {
  r.scsiStatus = kCheckCondition;
  r.sense.fill(0);
  r.sense[0] = 0x70;
  r.sense[2] = key;
  r.sense[7] = 10;
  r.sense[12] = asc;
  r.sense[13] = ascq;
}

// Copies `bytes` into the command's data segments; returns what fitted.
size_t scatter(const TcmuCommand& c, const uint8_t* bytes, size_t size) {
  size_t done = 0;
  for (const auto& s : c.data) {
    if (done == size) break;
    const size_t n = std::min(s.size(), size - done);
    std::memcpy(s.data(), bytes + done, n);
    done += n;
  }
  return done;
}

size_t gather(const TcmuCommand& c, uint8_t* out, size_t size) {
  size_t done = 0;
  for (const auto& s : c.data) {
    if (done == size) break;
    const size_t n = std::min(s.size(), size - done);
    std::memcpy(out + done, s.data(), n);
    done += n;
  }
  return done;
}

void putAtaDescriptor(uint8_t* d, bool extend, uint8_t error, uint8_t status, const sim::AtaRegisters& g) {
  d[0] = 0x09;
  d[1] = 0x0C;
  d[2] = extend ? 0x01 : 0x00;
  d[3] = error;
  d[4] = g.countExt;
  d[5] = g.count;
  d[6] = g.lbaLowExt;
  d[7] = g.lbaLow;
  d[8] = g.lbaMidExt;
  d[9] = g.lbaMid;
  d[10] = g.lbaHighExt;
  d[11] = g.lbaHigh;
  d[12] = g.device;
  d[13] = status;
}

}  // namespace

DataDir dataDirectionOf(std::span<const uint8_t> cdb) {
  if (cdb.empty()) return DataDir::None;
  const uint8_t op = cdb[0];
  if ((op == scsi::kAtaPassThrough16 && cdb.size() >= 16) || (op == scsi::kAtaPassThrough12 && cdb.size() >= 12)) {
    if ((cdb[2] & 0x03) == sat::kTLengthNone) return DataDir::None;
    return (cdb[2] & sat::kTDirFromDevice) ? DataDir::In : DataDir::Out;
  }
  switch (op) {
    case 0x08: case 0x28: case 0xA8: case 0x88:  // READ(6/10/12/16)
    case 0x12: case 0x1A: case 0x5A:             // INQUIRY, MODE SENSE(6/10)
    case 0x25: case 0x9E: case 0x03:             // READ CAPACITY(10/16), REQUEST SENSE
    case 0x3C: case 0xA0: case 0x4D:             // READ BUFFER, REPORT LUNS, LOG SENSE
    case 0x1C: case 0xA3: case 0x37:             // RECEIVE DIAGNOSTIC, MAINTENANCE IN, READ DEFECT DATA
      return DataDir::In;
    case 0x0A: case 0x2A: case 0xAA: case 0x8A:  // WRITE(6/10/12/16)
    case 0x2E: case 0x8E:                        // WRITE AND VERIFY(10/16)
    case 0x15: case 0x55: case 0x3B:             // MODE SELECT(6/10), WRITE BUFFER
    case 0x1D: case 0x41: case 0x93:             // SEND DIAGNOSTIC, WRITE SAME(10/16)
    case 0x42: case 0x4C:                        // UNMAP, LOG SELECT
      return DataDir::Out;
    default:
      return DataDir::None;
  }
}

void toDescriptorSense(const sim::ScsiReply& reply, const sim::SimController::PassThroughTrace& trace,
                       std::array<uint8_t, kTcmuSenseBytes>& out) {
  const sim::SenseBytes& f = reply.sense;
  out.fill(0);
  out[0] = (f[0] & 0x7F) == 0x71 ? 0x73 : 0x72;
  out[1] = f[2] & 0x0F;
  out[2] = f[12];
  out[3] = f[13];
  uint8_t* d = out.data() + 8;
  if (trace.ran) {
    const sim::AtaReply& a = trace.reply;
    const bool registers = a.fate == sim::Fate::Completed && ((a.status & sim::kStatusErr) || trace.request.ckCond);
    if (registers) {
      putAtaDescriptor(d, trace.request.command.ext, a.error, a.status, a.regs);
      out[7] = 14;
    }
    return;
  }
  if (f[12] == 0x00 && f[13] == 0x1D) {
    // Registers without a drive reply (a reset's signature): SAT's fixed
    // layout, whose high-order bytes are zero here.
    sim::AtaRegisters g;
    g.device = f[5];
    g.count = f[6];
    g.lbaLow = f[9];
    g.lbaMid = f[10];
    g.lbaHigh = f[11];
    putAtaDescriptor(d, f[8] & 0x80, f[3], f[4], g);
    out[7] = 14;
    return;
  }
  if (f[0] & 0x80) {
    // INFORMATION (the failing LBA): an Information descriptor.
    d[0] = 0x00;
    d[1] = 0x0A;
    d[2] = 0x80;
    std::memcpy(d + 8, &f[3], 4);
    out[7] = 12;
  }
}

SatBridgeTarget::SatBridgeTarget(std::shared_ptr<sim::SimController> controller, BridgeOptions options)
    : controller_(std::move(controller)), options_(options) {}

void SatBridgeTarget::execute(const TcmuCommand& command, TcmuResponse& response) {
  response = TcmuResponse{};
  const auto cdb = command.cdb;
  if (cdb.empty()) return checkCondition(response, 0x05, 0x20);
  if (cdb[0] == kModeSense6 || cdb[0] == scsi::kModeSense10) return modeSense(command, response);
  if (cdb[0] == kModeSelect6 || cdb[0] == scsi::kModeSelect10) return modeSelect(command, response);

  const DataDir dir = dataDirectionOf(cdb);
  const size_t n = command.dataBytes();
  buffer_.resize(n);
  if (dir == DataDir::Out)
    gather(command, buffer_.data(), n);
  else
    std::fill(buffer_.begin(), buffer_.end(), 0);

  sim::SimController::PassThroughTrace trace;
  const sim::ScsiReply reply =
      controller_->executeScsi(cdb, n ? dir : DataDir::None, std::span<uint8_t>(buffer_.data(), n), trace);
  switch (reply.fate) {
    case sim::Fate::Completed: break;
    case sim::Fate::TimedOut:
      // The drive never answered: the bridge gives up, as a host would.
      return checkCondition(response, 0x0B, 0x3E, 0x02);  // TIMEOUT ON LOGICAL UNIT
    case sim::Fate::Gone:
      return checkCondition(response, 0x02, 0x3A);  // MEDIUM NOT PRESENT: the bridge's drive is gone
  }
  if (dir == DataDir::In) {
    const size_t moved = std::min<size_t>(reply.bytes, n);
    scatter(command, buffer_.data(), moved);
    if (moved < n) {
      response.shortRead = true;
      response.readLength = static_cast<uint32_t>(moved);
    }
  }
  response.scsiStatus = reply.status;
  if (reply.status != kCheckCondition) return;
  if (descriptorSense_)
    toDescriptorSense(reply, trace, response.sense);
  else
    std::copy(reply.sense.begin(), reply.sense.end(), response.sense.begin());
}

void SatBridgeTarget::modeSense(const TcmuCommand& command, TcmuResponse& response) {
  const auto c = command.cdb;
  const bool ten = c[0] == scsi::kModeSense10;
  if (c.size() < (ten ? 10u : 6u)) return checkCondition(response, 0x05, 0x24);
  const uint8_t pageControl = c[2] >> 6;
  const uint8_t page = c[2] & 0x3F;
  if (pageControl == 3) return checkCondition(response, 0x05, 0x39);  // SAVING PARAMETERS NOT SUPPORTED
  if (page != kControlPage && page != kCachingPage && page != kAllPages)
    return checkCondition(response, 0x05, 0x24);

  std::vector<uint8_t> data(ten ? 8 : 4, 0);
  if (page == kCachingPage || page == kAllPages) {
    uint8_t caching[20] = {kCachingPage, 0x12};
    if (pageControl != 1) caching[2] = 0x04;  // WCE: the drive's write cache is on
    data.insert(data.end(), std::begin(caching), std::end(caching));
  }
  if (page == kControlPage || page == kAllPages) {
    uint8_t control[12] = {kControlPage, 0x0A};
    if (pageControl == 0)
      control[2] = descriptorSense_ ? kDSense : 0;
    else if (pageControl == 1)
      control[2] = options_.refuseModeSelect ? 0 : kDSense;  // changeable
    control[8] = 0xFF;  // BUSY TIMEOUT PERIOD: unlimited
    control[9] = 0xFF;
    data.insert(data.end(), std::begin(control), std::end(control));
  }
  if (ten)
    putBe16(data.data(), static_cast<uint16_t>(data.size() - 2));
  else
    data[0] = static_cast<uint8_t>(data.size() - 1);
  const size_t allocation = ten ? be16(&c[7]) : c[4];
  const size_t wanted = std::min(data.size(), allocation);
  const size_t moved = scatter(command, data.data(), wanted);
  if (moved < command.dataBytes()) {
    response.shortRead = true;
    response.readLength = static_cast<uint32_t>(moved);
  }
}

void SatBridgeTarget::modeSelect(const TcmuCommand& command, TcmuResponse& response) {
  if (options_.refuseModeSelect) return checkCondition(response, 0x05, 0x20);  // INVALID COMMAND OPERATION CODE
  const auto c = command.cdb;
  const bool ten = c[0] == scsi::kModeSelect10;
  if (c.size() < (ten ? 10u : 6u)) return checkCondition(response, 0x05, 0x24);
  const size_t length = std::min(ten ? size_t{be16(&c[7])} : size_t{c[4]}, command.dataBytes());
  std::vector<uint8_t> p(length);
  gather(command, p.data(), length);
  const size_t header = ten ? 8 : 4;
  if (length < header) return length == 0 ? void() : checkCondition(response, 0x05, 0x1A);  // PARAMETER LIST LENGTH ERROR
  const size_t blockDescriptors = ten ? be16(&p[6]) : p[3];
  size_t at = header + blockDescriptors;
  bool dSense = descriptorSense_;
  while (at < length) {
    if (length - at < 2 || length - at < size_t{2} + p[at + 1]) return checkCondition(response, 0x05, 0x1A);
    const uint8_t code = p[at] & 0x3F;
    const size_t pageLength = p[at + 1];
    if (code == kControlPage && pageLength >= 0x0A)
      dSense = p[at + 2] & kDSense;
    else if (code != kCachingPage)
      return checkCondition(response, 0x05, 0x26);  // INVALID FIELD IN PARAMETER LIST
    at += 2 + pageLength;
  }
  descriptorSense_ = dSense;
}

}  // namespace zorv::tcmu
