#include "fwdl_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace zorv::fwdl {

sim::DriveRecord driveIn(sim::SimBay& bay, int slot) {
  sim::BayRecord rec;
  std::string err;
  EXPECT_TRUE(bay.snapshot(rec, err)) << err;
  const auto& s = rec.slots[static_cast<size_t>(slot)];
  EXPECT_TRUE(s.drive.has_value());
  return s.drive.value_or(sim::DriveRecord{});
}

std::vector<uint8_t> hwidOf(const sim::DriveRecord& d) {
  std::vector<uint8_t> id(d.identity.modelClass == 1 ? 16 : 9, 0);
  std::copy_n(d.identity.hwid.begin(), std::min(d.identity.hwid.size(), id.size()), id.begin());
  return id;
}

std::vector<uint8_t> plainImage(uint16_t cls, const std::vector<uint8_t>& hwid, const std::string& version,
                                size_t size) {
  firmware::ImageSpec recipe;
  recipe.usModelClass = cls;
  recipe.hwid = hwid;
  recipe.version = version;
  recipe.size = size;
  firmware::MadeImage made = firmware::makeImage(recipe);
  EXPECT_TRUE(made.ok) << made.error;
  return made.image;
}

std::vector<uint8_t> storedForm(uint16_t cls, std::vector<uint8_t> plain) {
  if (cls == 0)
    for (uint8_t& b : plain) b = static_cast<uint8_t>(~b);
  return plain;
}

std::vector<uint8_t> imageFor(sim::SimBay& bay, int slot, const std::string& version, size_t size) {
  sim::DriveRecord d = driveIn(bay, slot);
  uint16_t cls = d.identity.modelClass;
  return storedForm(cls, plainImage(cls, hwidOf(d), version, size));
}

std::vector<uint8_t> packageOf(uint16_t cls, const std::vector<firmware::PackageRow>& rows) {
  lh5::EncoderOptions fast;
  fast.optimalParse = false;
  fast.maxChain = 32;
  firmware::BuildResult b = firmware::buildPackage(rows, cls, fast);
  EXPECT_TRUE(b.ok) << b.error;
  return b.bytes;
}

std::vector<uint8_t> readBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary | std::ios::ate);
  if (!f) return {};
  std::vector<uint8_t> bytes(static_cast<size_t>(f.tellg()));
  f.seekg(0);
  f.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace zorv::fwdl
