#include "mediatest/edit_func.h"

#include <algorithm>

#include "transport/message.h"

namespace zorv {

namespace {

// The template's edit boxes. Radix and limit of the fields the tests use are
// the dialog's; those of the always disabled "SMSF", "EMSF", "Delay", "Zone"
// and "PreRead" only bound what an entry may hold.
constexpr std::array<EditFieldSpec, kEditFieldCount> kFieldSpecs = {{
    {"SMSF", Radix::Hex, 8},
    {"EMSF", Radix::Hex, 8},
    {"SLBA", Radix::Hex, 8},
    {"ELBA", Radix::Hex, 8},
    {"Blks", Radix::Hex, 4},
    {"Loop", Radix::Decimal, 8},
    {"Length", Radix::Decimal, 4},
    {"Delay", Radix::Decimal, 8},
    {"Align", Radix::Decimal, 2},
    {"MaxErr", Radix::Decimal, 4},
    {"MaxTime", Radix::Decimal, 8},
    {"AvgTime", Radix::Decimal, 8},
    {"Zone", Radix::Decimal, 4},
    {"PreRead", Radix::Decimal, 4},
}};

constexpr int kRadioBits = 4;

int codeSlot(uint16_t opCode) {
  switch (opCode) {
    case kOpSeqRead: return 0;
    case kOpRandomAccess: return 1;
    case kOpSeqWrite: return 2;
    case kOpRandomWrite: return 3;
    default: return -1;
  }
}

// An edit box's text in its radix; an empty box reads as 0.
std::optional<uint32_t> parseField(std::string_view text, Radix radix) {
  uint64_t value = 0;
  uint32_t base = radix == Radix::Hex ? 16 : 10;
  for (char c : text) {
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (radix == Radix::Hex && c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else if (radix == Radix::Hex && c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    value = value * base + digit;
    if (value > 0xFFFFFFFFu) return std::nullopt;
  }
  return static_cast<uint32_t>(value);
}

}  // namespace

const EditFieldSpec& editFieldSpec(EditField field) { return kFieldSpecs[static_cast<size_t>(field)]; }

std::string_view checkItemLabel(CheckItem item) {
  switch (item) {
    case CheckItem::RndBlks: return "RndBlks";
    case CheckItem::Verify: return "Verify";
    case CheckItem::Ncq: return "NCQ";
  }
  return {};
}

std::string_view buttonGroupCaption(ButtonGroup group) {
  switch (group) {
    case ButtonGroup::Item: return "Item";
    case ButtonGroup::Type: return "Type";
    case ButtonGroup::Sector: return "Sector";
    case ButtonGroup::Close: return "Close";
    case ButtonGroup::Data: return "Data";
  }
  return {};
}

bool CEditFunc::fieldEnabled(EditField field) {
  switch (field) {
    case EditField::Slba: case EditField::Elba: case EditField::Blks: case EditField::Loop:
    case EditField::Length: case EditField::Align:
      return true;
    default:
      return false;
  }
}

void CEditFunc::loadFirstDefaults() {
  bool write = isWriteTestCode(opCode_);
  fields_ = {};
  fields_[index(EditField::Slba)] = "0";
  // The end of the range defaults to the selected drive's last LBA (the
  // range end is exclusive, so that sector itself stays untouched); a drive
  // beyond the 32-bit LBAs of READ(10) ends at FFFFFFFF.
  uint64_t last = driveSectors_ == 0 ? 0 : std::min<uint64_t>(driveSectors_ - 1, 0xFFFFFFFFu);
  fields_[index(EditField::Elba)] = formatText("%X", static_cast<uint32_t>(last));
  fields_[index(EditField::Blks)] = "20";
  fields_[index(EditField::Loop)] = opCode_ == kOpRandomWrite ? "100" : "1";
  fields_[index(EditField::Length)] = write ? "128" : "";
  fields_[index(EditField::Align)] = write ? "0" : "";
  checkMask_ = 0;
  setChecked(CheckItem::Verify, write);
  setChecked(CheckItem::Ncq, true);
  radioMask_ = 0;
}

void CEditFunc::loadEntry(const HistoryEntry& entry) {
  for (int f = 0; f < kEditFieldCount; ++f) {
    if (fieldEnabled(static_cast<EditField>(f))) fields_[static_cast<size_t>(f)] = entry.fields[static_cast<size_t>(f)];
  }
  checkMask_ = entry.checkMask & 0x07;
  radioMask_ = entry.radioMask;
}

bool CEditFunc::open(uint16_t opCode, uint64_t driveSectors) {
  int slot = codeSlot(opCode);
  if (slot < 0) return false;
  opCode_ = opCode;
  driveSectors_ = driveSectors;
  repeating_.reset();
  loadFirstDefaults();
  if (const auto& last = lastSent_[static_cast<size_t>(slot)]) loadEntry(*last);
  return true;
}

bool CEditFunc::openRepeat(uint64_t driveSectors) {
  const HistoryEntry* current = history_.current();
  if (!current || !open(current->opCode, driveSectors)) return false;
  loadEntry(*current);
  repeating_ = entry();
  return true;
}

bool CEditFunc::setText(EditField field, std::string_view text) {
  if (text.size() > editFieldSpec(field).textLimit) return false;
  fields_[index(field)] = std::string(text);
  return true;
}

void CEditFunc::setChecked(CheckItem item, bool on) {
  uint8_t bit = static_cast<uint8_t>(1u << static_cast<int>(item));
  checkMask_ = on ? static_cast<uint8_t>(checkMask_ | bit) : static_cast<uint8_t>(checkMask_ & ~bit);
}

int CEditFunc::radio(ButtonGroup group) const {
  if (group == ButtonGroup::Item) return -1;
  int shift = (static_cast<int>(group) - 1) * kRadioBits;
  return (radioMask_ >> shift) & 0x0F;
}

bool CEditFunc::setRadio(ButtonGroup group, int button) {
  if (group == ButtonGroup::Item || button < 0 || button > 0x0F) return false;
  int shift = (static_cast<int>(group) - 1) * kRadioBits;
  radioMask_ = static_cast<uint16_t>((radioMask_ & ~(0x0F << shift)) | (button << shift));
  return true;
}

std::string_view CEditFunc::statusText() const {
  if (opCode_ == kOpSeqWrite) return "<< Seq Write >>";
  if (opCode_ == kOpRandomWrite) return "<< Random Write >>";
  return {};
}

HistoryEntry CEditFunc::entry() const {
  HistoryEntry e;
  e.opCode = opCode_;
  e.fields = fields_;
  e.checkMask = checkMask_;
  e.radioMask = radioMask_;
  std::string_view status = statusText();
  e.status = status.size() > 6 ? std::string(status.substr(3, status.size() - 6)) : std::string();
  return e;
}

CEditFunc::SendResult CEditFunc::send() {
  SendResult result;
  int slot = codeSlot(opCode_);
  if (slot < 0) {
    result.refusal = "No media test chosen";
    return result;
  }
  std::array<uint32_t, kEditFieldCount> values{};
  for (int f = 0; f < kEditFieldCount; ++f) {
    const EditFieldSpec& field = kFieldSpecs[static_cast<size_t>(f)];
    const std::string& text = fields_[static_cast<size_t>(f)];
    auto value = parseField(text, field.radix);
    if (!value) {
      result.refusal = formatText("%.*s: \"%s\" is not a %s number", static_cast<int>(field.label.size()),
                                  field.label.data(), text.c_str(), field.radix == Radix::Hex ? "hexadecimal" : "decimal");
      return result;
    }
    values[static_cast<size_t>(f)] = *value;
  }
  auto v = [&](EditField f) { return values[index(f)]; };
  MediaTestParams& p = result.params;
  p.usOpCode = opCode_;
  p.ulStartLba = v(EditField::Slba);
  p.ulEndLba = v(EditField::Elba);
  p.ulBlks = v(EditField::Blks);
  p.ulLoop = v(EditField::Loop);
  p.ulLength = v(EditField::Length);
  p.ulAlign = v(EditField::Align);
  p.ulMaxErr = v(EditField::MaxErr);
  p.ulMaxTime = v(EditField::MaxTime);
  p.ulAvgTime = v(EditField::AvgTime);
  p.fgRndBlks = checked(CheckItem::RndBlks) ? 1 : 0;
  p.fgReadVerify = checked(CheckItem::Verify) ? 1 : 0;
  p._fgNCQEnable = checked(CheckItem::Ncq) ? 1 : 0;
  p.usWriteType = static_cast<uint16_t>(radio(ButtonGroup::Type));
  result.refusal = mediaTestRefusal(p, driveSectors_);
  if (!result.ok()) return result;

  HistoryEntry now = entry();
  if (!repeating_ || !(*repeating_ == now)) history_.store(now);
  repeating_.reset();
  lastSent_[static_cast<size_t>(slot)] = now;
  return result;
}

}  // namespace zorv
