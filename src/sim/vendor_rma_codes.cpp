// Vendor codes of the repair station (see vendor_rma.h): the RMA
// limits, saving SMART to SPI flash, the thermal sensor, merging the
// table bad blocks, Preb2, the RMA flag and the OBB list check.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "sim/flash_geometry.h"
#include "sim/sim_drive.h"
#include "sim/vendor_model.h"
#include "sim/vendor_protocol.h"
#include "sim/vendor_rma.h"

namespace zorv::sim {

namespace {

constexpr size_t kLimitValues = 7;
// FBh while the RMA flag is clear: the check only runs in RMA mode.
constexpr std::array<uint8_t, 4> kObbNotInRmaMode = {0xFB, 0x00, 0x00, 0x01};

nlohmann::json& rmaState(SimDrive& drive) {
  nlohmann::json& v = drive.vendorState();
  if (!v.contains("rma") || !v["rma"].is_object()) v["rma"] = nlohmann::json::object();
  return v["rma"];
}

void count(nlohmann::json& state, const char* name) {
  uint64_t n = state.contains(name) && state[name].is_number_unsigned() ? state[name].get<uint64_t>() : 0;
  state[name] = n + 1;
}

void putText(std::span<uint8_t> spi, size_t offset, const char* text) {
  for (size_t i = 0; text[i] && offset + i < spi.size(); ++i) spi[offset + i] = static_cast<uint8_t>(text[i]);
}

void putBe(std::span<uint8_t> spi, size_t offset, uint64_t value, size_t width) {
  for (size_t i = 0; i < width && offset + i < spi.size(); ++i)
    spi[offset + i] = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
}

std::optional<std::array<uint8_t, 4>> obbError(const nlohmann::json& state) {
  if (!state.contains("obbError") || !state["obbError"].is_string()) return std::nullopt;
  auto bytes = parseHexBytes(state["obbError"].get<std::string>());
  if (!bytes || bytes->size() != 4) return std::nullopt;
  return std::array<uint8_t, 4>{(*bytes)[0], (*bytes)[1], (*bytes)[2], (*bytes)[3]};
}

bool writeLimits(SimDrive& drive, const VendorSector& sector) {
  nlohmann::json limits = nlohmann::json::array();
  for (size_t i = 0; i < kLimitValues; ++i) limits.push_back(sector.be16(16 + 2 * i));
  rmaState(drive)["limits"] = limits;
  return true;
}

bool saveSmartToSpi(SimDrive& drive) {
  nlohmann::json& state = rmaState(drive);
  std::span<uint8_t> spi = drive.spiFlash();
  if (!state.contains("limits") || !state["limits"].is_array() || state["limits"].size() != kLimitValues ||
      spi.size() < kSpiRmaArea + 0x300)
    return false;
  std::fill(spi.begin() + kSpiRmaArea, spi.begin() + kSpiRmaArea + 0x300, uint8_t{0xFF});
  putText(spi, kSpiRmaArea, "ZVRMASMT");
  for (size_t i = 0; i < kLimitValues; ++i) {
    const nlohmann::json& v = state["limits"][i];
    putBe(spi, kSpiRmaArea + 16 + 2 * i, v.is_number_unsigned() ? v.get<uint64_t>() : 0, 2);
  }
  SectorBytes smart = smartDataSector(drive);
  std::copy(smart.begin(), smart.end(), spi.begin() + kSpiRmaArea + 0x100);
  count(rmaState(drive), "smartSaves");  // smartDataSector may have replaced the state
  return true;
}

bool mergeTableBadBlocks(SimDrive& drive) {
  std::span<uint8_t> spi = drive.spiFlash();
  if (spi.size() < kSpiObbListArea + 16) return false;
  uint32_t laterBad = FlashModel(drive).totalLaterBad();
  nlohmann::json& state = rmaState(drive);
  count(state, "merges");
  putText(spi, kSpiObbListArea, "ZVOBBLST");
  putBe(spi, kSpiObbListArea + 8, state["merges"].get<uint64_t>(), 4);
  putBe(spi, kSpiObbListArea + 12, laterBad, 4);
  return true;
}

void temperatureReply(SimDrive& drive, VendorReply& reply) {
  // Tenths of a degree; the sensor reads half a degree above the whole one.
  int tenths = drive.temperature() * 10 + (drive.temperature() >= 0 ? 5 : -5);
  auto raw = static_cast<uint16_t>(static_cast<int16_t>(std::clamp(tenths, -32768, 32767)));
  std::array<uint8_t, 512> s{};
  s[0] = static_cast<uint8_t>(raw);
  s[1] = static_cast<uint8_t>(raw >> 8);
  reply.append(s);
}

bool command(SimDrive& drive, const VendorSector& sector, VendorReply& reply) {
  const uint8_t p = sector.parameter();
  switch (sector.code()) {
    case 0x61: return writeLimits(drive, sector);
    case 0x62: reply.reject = !saveSmartToSpi(drive); return true;
    case 0xF3: temperatureReply(drive, reply); return true;
    case 0xB1: reply.reject = p != 0x01 || !mergeTableBadBlocks(drive); return true;
    case 0x03:
      if (p == 0x02) {
        count(rmaState(drive), "preb2");
      } else {
        reply.reject = true;
      }
      return true;
    case 0xB0:
      if (p > 1) {
        reply.reject = true;
      } else {
        rmaState(drive)["flag"] = p == 1;
      }
      return true;
    case 0xFB: {
      std::optional<std::array<uint8_t, 4>> error = obbError(rmaState(drive));
      if (!rmaFlag(drive)) error = kObbNotInRmaMode;
      std::array<uint8_t, 512> s{};
      if (error) std::copy(error->begin(), error->end(), s.begin());
      reply.append(s);
      reply.reject = error.has_value();
      return true;
    }
    default: return false;
  }
}

}  // namespace

void setObbError(SimDrive& drive, std::optional<std::array<uint8_t, 4>> bytes) {
  nlohmann::json& state = rmaState(drive);
  if (bytes) {
    state["obbError"] = toHex(bytes->data(), bytes->size());
  } else {
    state.erase("obbError");
  }
  drive.saveVendorState();
}

void rejectVendorCode(SimDrive& drive, uint8_t code, uint32_t n) {
  nlohmann::json& state = rmaState(drive);
  if (!state.contains("rejects") || !state["rejects"].is_array()) state["rejects"] = nlohmann::json::array();
  state["rejects"].push_back({{"code", code}, {"count", n}});
  drive.saveVendorState();
}

void clearVendorFaults(SimDrive& drive) {
  nlohmann::json& state = rmaState(drive);
  state.erase("rejects");
  state.erase("obbError");
  drive.saveVendorState();
}

bool takeVendorReject(SimDrive& drive, uint8_t code) {
  // Read from the record: looking must not make every command sector a
  // candidate for saving the vendor state.
  const nlohmann::json& v = drive.record().vendor;
  if (!v.contains("rma") || !v["rma"].is_object() || !v["rma"].contains("rejects")) return false;
  nlohmann::json& rejects = rmaState(drive)["rejects"];
  if (!rejects.is_array()) return false;
  for (size_t i = 0; i < rejects.size(); ++i) {
    nlohmann::json& r = rejects[i];
    if (!r.is_object() || r.value("code", -1) != code) continue;
    uint64_t left = r.value("count", uint64_t{0});
    if (left <= 1) {
      rejects.erase(i);
    } else {
      r["count"] = left - 1;
    }
    drive.saveVendorState();
    return true;
  }
  return false;
}

bool rmaFlag(SimDrive& drive) {
  const nlohmann::json& v = drive.record().vendor;
  return v.contains("rma") && v["rma"].is_object() && v["rma"].value("flag", false);
}

const VendorCodeFamily kVendorRmaCodes{"rma", &command, nullptr};

}  // namespace zorv::sim
