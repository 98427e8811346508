#include "pattern/gen_data.h"

#include <algorithm>
#include <charconv>

#include "transport/message.h"

namespace zorv {

namespace {

// A hex edit's value: 1 .. maxDigits hex digits.
bool parseHex(std::string_view text, size_t maxDigits, uint64_t& value) {
  if (text.empty() || text.size() > maxDigits || !isHexText(text)) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  return ec == std::errc() && end == text.data() + text.size();
}

bool parseDecimal(std::string_view text, uint32_t& value) {
  if (text.empty() || text.size() > 9) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 10);
  return ec == std::errc() && end == text.data() + text.size();
}

// floor(n x permille / 1000) without overflow for every 64-bit n.
uint64_t permilleOf(uint64_t n, uint32_t permille) { return n / 1000 * permille + n % 1000 * permille / 1000; }

}  // namespace

std::string genDataErrorText(std::string_view refusal) {
  return "<<Error>>\r\n" + std::string(refusal) + "\r\n";
}

const std::vector<std::string>& CGenData::errLimitChoices() {
  static const std::vector<std::string> choices = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"};
  return choices;
}

uint64_t CGenData::lbaAtPermille(uint64_t capacity, uint32_t permille) {
  permille = std::min<uint32_t>(permille, 1000);
  const uint64_t lba = permilleOf(capacity, permille);
  // More than 0.997 of the drive: the whole drive (the end is exclusive).
  // lba > floor(0.997 x capacity) exactly when lba > 0.997 x capacity.
  if (lba > permilleOf(capacity, 997)) return capacity;
  return lba;
}

std::string CGenData::lbaText(uint64_t lba) { return formatText("%llXH", static_cast<unsigned long long>(lba)); }

bool CGenData::parseLbaText(std::string_view text, uint64_t& lba) {
  if (size_t comma = text.rfind(','); comma != std::string_view::npos) text.remove_prefix(comma + 1);
  std::string digits;
  for (char c : text)
    if (c != ' ') digits.push_back(c);
  if (!digits.empty() && (digits.back() == 'H' || digits.back() == 'h')) digits.pop_back();
  return parseHex(digits, 16, lba);
}

void CGenData::initialise(uint64_t capacity, uint32_t sectorSize) {
  capacity_ = capacity;
  sectorSize_ = sectorSize;
  controls = GenDataControls{};
  pattern_.clear();
  patternSectors_ = 0;
  setStartSlider(controls.startSlider);
  setEndSlider(controls.endSlider);
}

void CGenData::setDrive(uint64_t capacity, uint32_t sectorSize) {
  capacity_ = capacity;
  sectorSize_ = sectorSize;
  setStartSlider(controls.startSlider);
  setEndSlider(controls.endSlider);
}

void CGenData::showSlider(bool start, uint32_t permille) {
  std::string percent = permille % 10 == 0 ? formatText("%u%%", permille / 10)
                                           : formatText("%u.%u%%", permille / 10, permille % 10);
  std::string lba = lbaText(lbaAtPermille(capacity_, permille));
  if (start) {
    controls.startPercent = percent;
    controls.startLba = lba;
  } else {
    controls.endPercent = percent;
    controls.endLba = lba;
  }
}

void CGenData::setStartSlider(int position) {
  controls.startSlider = std::clamp(position, 0, 99);
  showSlider(true, static_cast<uint32_t>(controls.startSlider) * 10);
}

void CGenData::setEndSlider(int position) {
  controls.endSlider = std::clamp(position, 1, 100);
  showSlider(false, static_cast<uint32_t>(controls.endSlider) * 10);
}

void CGenData::setStartPermille(uint32_t permille) {
  permille = std::min<uint32_t>(permille, 999);
  controls.startSlider = static_cast<int>(permille / 10);
  showSlider(true, permille);
}

void CGenData::setEndPermille(uint32_t permille) {
  permille = std::clamp<uint32_t>(permille, 1, 1000);
  controls.endSlider = static_cast<int>((permille + 9) / 10);
  showSlider(false, permille);
}

void CGenData::setStampRecord(bool on) {
  controls.stampRecord = on;
  if (on && controls.offset.empty()) controls.offset = std::to_string(kDefaultStampOffset);
}

void CGenData::setOnlyRead(bool on) {
  controls.onlyRead = on;
  if (!on) return;
  const bool lengthRandomWasOn = controls.lengthRandom;
  controls.shiftRandom = false;
  controls.lengthRandom = false;
  controls.stampRecord = true;
  controls.stampLba = true;
  // Random lengths are not repeated by the read: its serial numbers would
  // fall on other sectors.
  if (!lengthRandomWasOn) {
    controls.stampSerial = true;
    controls.serial = "00000000";
  }
  controls.offset = std::to_string(kDefaultStampOffset);
}

std::string CGenData::genData(uint32_t seedSeconds) {
  uint64_t sectors = 0;
  if (!parseHex(controls.sectorNumber, 8, sectors)) return "Sector Number: enter a hex number of sectors";
  if (controls.kind == PatternKind::CustomValue && !isHexText(controls.value))
    return "Custom Value: enter 2 to 8 hex digits (without \"0x\")";
  PatternRecipe recipe;
  recipe.kind = controls.kind;
  recipe.value = controls.value;
  recipe.width = controls.width;
  recipe.step = controls.step;
  recipe.text = controls.text;
  recipe.sectors = static_cast<uint32_t>(sectors);
  recipe.sectorSize = sectorSize_;
  recipe.randomSeed = seedSeconds;
  GeneratedPattern g = generatePattern(recipe);
  if (!g.ok()) return g.refusal;
  if (controls.kind == PatternKind::CustomValue) controls.value = g.keptValue;
  controls.sectorNumber = formatText("%X", g.sectors);
  pattern_ = std::move(g.bytes);
  patternSectors_ = g.sectors;
  return {};
}

std::string CGenData::patternView() const {
  return controls.asciiView ? patternAsciiView(pattern_) : patternValueView(pattern_);
}

CGenData::RunSetup CGenData::runParameters() const {
  RunSetup s;
  PatternRunParams& p = s.params;
  const GenDataControls& c = controls;
  p.onlyRead = c.onlyRead;
  p.sectorSize = sectorSize_;
  if (c.onlyRead) {
    uint64_t sectors = 0;
    if (!parseHex(c.sectorNumber, 8, sectors)) {
      s.refusal = "Sector Number: enter a hex number of sectors";
      return s;
    }
    if (sectors == 0) {
      s.refusal = "Sector Number: a sector count of 0 moves no data";
      return s;
    }
    p.sectors = cutPatternSectors(static_cast<uint32_t>(std::min<uint64_t>(sectors, UINT32_MAX)), sectorSize_);
  } else {
    if (pattern_.empty()) {
      s.refusal = "No pattern yet: press Gen Data first";
      return s;
    }
    p.pattern = pattern_;
    p.sectors = patternSectors_;
  }

  uint64_t v = 0;
  if (!parseLbaText(c.startLba, p.startLba)) {
    s.refusal = "Start LBA: enter a hex LBA";
    return s;
  }
  if (!parseLbaText(c.endLba, p.endLba)) {
    s.refusal = "End LBA: enter a hex LBA";
    return s;
  }
  if (p.startLba == p.endLba) {
    s.refusal = "Start LBA = End LBA";
    return s;
  }
  if (!parseHex(c.shift, 16, p.shift)) {
    s.refusal = "Shft Addr/ Max Rdn Len: enter a hex number of sectors";
    return s;
  }
  if (!parseHex(c.loop, 8, v)) {
    s.refusal = "Loop: enter a hex loop count";
    return s;
  }
  p.loop = static_cast<uint32_t>(v);
  p.loopKind = c.loopKind;

  p.stamps.record = c.stampRecord;
  p.stamps.lba = c.stampLba;
  p.stamps.time = c.stampTime;
  p.stamps.serial = c.stampSerial;
  if (c.stampRecord) {
    if (!parseDecimal(c.offset, p.stamps.offset)) {
      s.refusal = "Offset: enter the stamps' byte offset in decimal";
      return s;
    }
    if (c.stampSerial) {
      if (!parseHex(c.serial, 8, v)) {
        s.refusal = "Serial Number (4B): enter up to 8 hex digits";
        return s;
      }
      p.firstSerial = static_cast<uint32_t>(v);
    }
  }
  p.shiftRandom = !c.onlyRead && c.shiftRandom;
  p.lengthRandom = !c.onlyRead && c.lengthRandom;
  p.compare = c.compare;
  p.command = c.command;
  p.errLimit = static_cast<uint32_t>(std::clamp(c.errLimitIndex, 0, static_cast<int>(kMaxErrLimit) - 1) + 1);
  p.saveLog = c.saveLog;
  p.disableMessage = c.disableMessage;
  return s;
}

}  // namespace zorv
