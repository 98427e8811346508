#pragma once
// The drive's sense data format while the program holds it. Fixed format
// cannot carry the high-order ATA registers, so the control mode page's
// D_SENSE bit is set for descriptor format; that page belongs to the whole
// system (libata keeps it per device until the next reset), so the page as
// it was is written back when the program lets go of the drive.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace zorv::platform {

class SenseFormatSwitch {
 public:
  // One SCSI command without sense handling: the CDB, its data and the
  // direction (toDevice false: data-in; empty data: none). True when it
  // completed with GOOD status; `moved` is the bytes transferred.
  using Send = std::function<bool(std::span<const uint8_t> cdb, std::span<uint8_t> data, bool toDevice,
                                  size_t& moved)>;

  // Reads the control mode page and, when D_SENSE is clear, sets it and
  // remembers the page. A drive that refuses either command keeps fixed
  // format, which the reply parser reads too. Once per open descriptor.
  void preferDescriptorFormat(const Send& send);

  // Writes the remembered page back, when this switch changed it; true when
  // there was nothing to do or the drive took it. Forgets the page either way.
  bool restore(const Send& send);

  bool changed() const { return original_.has_value(); }

 private:
  std::optional<std::array<uint8_t, 12>> original_;
};

}  // namespace zorv::platform
