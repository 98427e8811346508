#include "sim/drive_record.h"

#include <cstdio>

#include "transport/byte_order.h"
#include "transport/drive_table.h"

namespace zorv::sim {

std::string_view busName(SimBus bus) {
  switch (bus) {
    case SimBus::Sata: return "sata";
    case SimBus::Ata: return "ata";
    case SimBus::Usb: return "usb";
  }
  return "sata";
}

std::optional<SimBus> parseBus(std::string_view text) {
  if (text == "sata") return SimBus::Sata;
  if (text == "ata") return SimBus::Ata;
  if (text == "usb") return SimBus::Usb;
  return std::nullopt;
}

uint8_t storageBusType(SimBus bus) {
  switch (bus) {
    case SimBus::Sata: return kBusSata;
    case SimBus::Ata: return kBusAta;
    case SimBus::Usb: return kBusUsb;
  }
  return 0;
}

std::optional<LatencyModel> namedLatency(std::string_view name) {
  if (name == "fast") return LatencyModel{0, 0};
  // About 500 MB/s with a 60 us command overhead.
  if (name == "sata-ssd") return LatencyModel{60, 2000};
  // About 40 MB/s behind a USB 2 bridge.
  if (name == "usb-ssd") return LatencyModel{250, 25000};
  return std::nullopt;
}

uint32_t LatencyModel::forRead(uint64_t bytes, uint64_t lba, bool sequential) const {
  uint64_t us = forBytes(bytes);
  if (!sequential) us += randomReadUs;
  if (jitterUs != 0) {
    // A fixed mix of the LBA's bits (splitmix64's finaliser).
    uint64_t z = lba + 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    us += z % (uint64_t{jitterUs} + 1);
  }
  return us > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(us);
}

std::string_view faultKindName(FaultKind kind) {
  switch (kind) {
    case FaultKind::Fail: return "fail";
    case FaultKind::Timeout: return "timeout";
    case FaultKind::Short: return "short";
    case FaultKind::Corrupt: return "corrupt";
    case FaultKind::NotReady: return "not-ready";
    case FaultKind::ReadError: return "read-error";
    case FaultKind::Damage: return "damage";
    case FaultKind::PowerLoss: return "power-loss";
  }
  return "fail";
}

std::optional<FaultKind> parseFaultKind(std::string_view text) {
  for (FaultKind k : {FaultKind::Fail, FaultKind::Timeout, FaultKind::Short, FaultKind::Corrupt, FaultKind::NotReady,
                      FaultKind::ReadError, FaultKind::Damage, FaultKind::PowerLoss})
    if (faultKindName(k) == text) return k;
  return std::nullopt;
}

namespace {

bool printableAscii(const std::string& s) {
  for (char c : s)
    if (c < 0x20 || c > 0x7E) return false;
  return true;
}

}  // namespace

std::string validateIdentity(const SimIdentity& id) {
  if (id.model.empty()) return "model: must not be empty";
  if (id.model.size() > kModelLength) return "model: at most 40 characters";
  if (!printableAscii(id.model)) return "model: printable ASCII only";
  if (id.serial.size() > kSerialLength) return "serial: at most 20 characters";
  if (!printableAscii(id.serial)) return "serial: printable ASCII only";
  if (id.firmware.size() > kFirmwareLength) return "firmware: at most 8 characters";
  if (!printableAscii(id.firmware)) return "firmware: printable ASCII only";
  if (id.modelClass > 1) return "modelClass: must be 0 or 1";
  if (id.capacity == 0 || id.capacity > kMaxCapacity) return "capacity: must be 1 to 2^48-1 sectors";
  if (id.hwid.size() > kMaxHwidBytes) return "hwid: at most 16 bytes";
  if (id.pcba.size() > 20) return "pcba: at most 20 characters";
  if (!printableAscii(id.pcba)) return "pcba: printable ASCII only";
  if (id.word135.size() > 2) return "word135: at most 2 characters";
  if (!printableAscii(id.word135)) return "word135: printable ASCII only";
  return {};
}

std::string toHex(const uint8_t* bytes, size_t n) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(n * 2);
  for (size_t i = 0; i < n; ++i) {
    out.push_back(kDigits[bytes[i] >> 4]);
    out.push_back(kDigits[bytes[i] & 0x0F]);
  }
  return out;
}

namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::optional<std::vector<uint8_t>> parseHexBytes(std::string_view text) {
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
  if (text.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> out;
  out.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    int hi = hexDigit(text[i]);
    int lo = hexDigit(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out.push_back(static_cast<uint8_t>(hi << 4 | lo));
  }
  return out;
}

std::optional<uint64_t> parseWwn(std::string_view text) {
  auto bytes = parseHexBytes(text);
  if (!bytes || bytes->size() != 8) return std::nullopt;
  return be64(bytes->data());
}

std::string wwnText(uint64_t wwn) {
  uint8_t b[8];
  for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(wwn >> (56 - 8 * i));
  return toHex(b, 8);
}

}  // namespace zorv::sim
