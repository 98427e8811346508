#include "platform/linux/sense_format.h"

#include "platform/linux/sg_io.h"

namespace zorv::platform {

void SenseFormatSwitch::preferDescriptorFormat(const Send& send) {
  std::array<uint8_t, 64> data{};
  const std::array<uint8_t, 10> senseCdb = buildModeSenseControlCdb(static_cast<uint16_t>(data.size()));
  size_t moved = 0;
  if (!send(senseCdb, data, false, moved)) return;
  std::array<uint8_t, 12> page{};
  if (!extractControlPage(data.data(), moved, page) || (page[2] & kControlPageDSense)) return;

  std::array<uint8_t, 10> selectCdb{};
  std::array<uint8_t, 20> parameters{};
  buildModeSelectDescriptorSense(page, selectCdb, parameters);
  if (send(selectCdb, parameters, true, moved)) original_ = page;
}

bool SenseFormatSwitch::restore(const Send& send) {
  if (!original_) return true;
  std::array<uint8_t, 10> cdb{};
  std::array<uint8_t, 20> parameters{};
  buildModeSelectControlPage(*original_, cdb, parameters);
  original_.reset();
  size_t moved = 0;
  return send(cdb, parameters, true, moved);
}

}  // namespace zorv::platform
