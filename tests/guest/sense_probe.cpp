// zorv-sense-probe: what a real kernel returns for one ATA command sent the
// backend's way (ATA PASS-THROUGH(16), CK_COND for a non-data command) with
// the drive's sense format set first, and what the backend's parser makes of
// it. Runs inside the test guest.
//
//   zorv-sense-probe DEVICE D_SENSE OPCODE [48 [LBA]]
//   zorv-sense-probe DEVICE raw HEX...   one non-data CDB as given; prints
//     "status <hex>" and "sense <hex bytes>"
//     D_SENSE 0 or 1: written to the control mode page before the command
//     when it differs (and written back as it was afterwards); OPCODE in hex, non-data;
//     48: a 48-bit command; LBA (hex) in its address registers, count 1.
// Prints one line: "sense <hex bytes>", then "layout <name> status <hex>
// count <hex> lba <hex> low <0|1> high <0|1>", then "verdict ok" or
// "verdict <failure>". Exit 0 when the command went through SG_IO.

#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/linux/sat_pass_through.h"
#include "platform/linux/sg_io.h"
#include "transport/sat_cdb.h"

using namespace zorv;
using namespace zorv::platform;

namespace {

bool scsi(int fd, uint8_t* cdb, size_t cdbLength, uint8_t* data, size_t length, bool toDevice) {
  SgSenseBuffer sense{};
  sg_io_hdr hdr{};
  hdr.interface_id = 'S';
  hdr.dxfer_direction = length == 0 ? SG_DXFER_NONE : toDevice ? SG_DXFER_TO_DEV : SG_DXFER_FROM_DEV;
  hdr.cmd_len = static_cast<unsigned char>(cdbLength);
  hdr.mx_sb_len = sizeof sense;
  hdr.dxfer_len = static_cast<unsigned>(length);
  hdr.dxferp = length ? data : nullptr;
  hdr.cmdp = cdb;
  hdr.sbp = sense.data();
  hdr.timeout = 10000;
  return ::ioctl(fd, SG_IO, &hdr) == 0 && hdr.status == 0 && hdr.host_status == 0;
}

const char* layoutName(SenseLayout l) {
  switch (l) {
    case SenseLayout::None: return "none";
    case SenseLayout::Descriptor: return "descriptor";
    case SenseLayout::FixedStandard: return "fixed-standard";
    case SenseLayout::FixedLegacy: return "fixed-legacy";
  }
  return "?";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: zorv-sense-probe DEVICE D_SENSE OPCODE [48]\n");
    return 2;
  }
  const int fd = ::open(argv[1], O_RDWR | O_NONBLOCK);
  if (fd < 0) {
    std::perror(argv[1]);
    return 1;
  }
  if (std::string(argv[2]) == "raw") {
    std::array<uint8_t, 16> cdb{};
    const size_t length = std::min<size_t>(static_cast<size_t>(argc - 3), cdb.size());
    for (size_t i = 0; i < length; ++i) cdb[i] = static_cast<uint8_t>(std::strtoul(argv[3 + i], nullptr, 16));
    SgSenseBuffer sense{};
    sg_io_hdr hdr{};
    hdr.interface_id = 'S';
    hdr.dxfer_direction = SG_DXFER_NONE;
    hdr.cmd_len = static_cast<unsigned char>(length);
    hdr.mx_sb_len = sizeof sense;
    hdr.cmdp = cdb.data();
    hdr.sbp = sense.data();
    hdr.timeout = 10000;
    if (::ioctl(fd, SG_IO, &hdr) != 0) {
      std::perror("SG_IO");
      return 1;
    }
    std::printf("status %02X\nsense", hdr.status);
    for (unsigned i = 0; i < hdr.sb_len_wr && i < sense.size(); ++i) std::printf(" %02X", sense[i]);
    std::printf("\n");
    return 0;
  }
  const bool dSense = std::string(argv[2]) == "1";
  const auto opcode = static_cast<uint8_t>(std::strtoul(argv[3], nullptr, 16));
  const bool ext = argc > 4 && std::string(argv[4]) == "48";

  // The control page as it is, then with D_SENSE as asked.
  std::array<uint8_t, 64> modeData{};
  std::array<uint8_t, 10> senseCdb = buildModeSenseControlCdb(static_cast<uint16_t>(modeData.size()));
  std::array<uint8_t, 12> page{};
  if (!scsi(fd, senseCdb.data(), senseCdb.size(), modeData.data(), modeData.size(), false) ||
      !extractControlPage(modeData.data(), modeData.size(), page)) {
    std::printf("verdict no control mode page\n");
    return 1;
  }
  std::array<uint8_t, 12> wanted = page;
  wanted[2] = static_cast<uint8_t>(dSense ? (page[2] | kControlPageDSense) : (page[2] & ~kControlPageDSense));
  std::array<uint8_t, 10> selectCdb{};
  std::array<uint8_t, 20> parameters{};
  buildModeSelectControlPage(wanted, selectCdb, parameters);
  const bool change = wanted[2] != page[2];
  if (change && !scsi(fd, selectCdb.data(), selectCdb.size(), parameters.data(), parameters.size(), true)) {
    std::printf("verdict MODE SELECT refused\n");
    return 1;
  }

  AtaPassThroughRequest request;
  request.ataFlags = kAtaFlagsDrdyRequired | kAtaFlagsDataIn | (ext ? kAtaFlags48Bit : 0);
  const uint64_t lba = argc > 5 ? std::strtoull(argv[5], nullptr, 16) : 0;
  request.currentTaskFile = {0,
                             static_cast<uint8_t>(argc > 5 ? 1 : 0),
                             static_cast<uint8_t>(lba),
                             static_cast<uint8_t>(lba >> 8),
                             static_cast<uint8_t>(lba >> 16),
                             0x40,
                             opcode,
                             0};
  request.previousTaskFile = {0, 0, static_cast<uint8_t>(lba >> 24), static_cast<uint8_t>(lba >> 32),
                              static_cast<uint8_t>(lba >> 40), 0, 0, 0};
  request.timeOutValue = 10;
  SatCommand command;
  std::string error;
  if (!buildSatPassThrough16(request, command, error)) {
    std::printf("verdict %s\n", error.c_str());
    return 1;
  }
  SgSenseBuffer sense{};
  sg_io_hdr hdr;
  buildSatHeader(command, nullptr, sense, hdr);
  const bool sent = ::ioctl(fd, SG_IO, &hdr) == 0;

  std::printf("sense");
  for (unsigned i = 0; i < hdr.sb_len_wr && i < sense.size(); ++i) std::printf(" %02X", sense[i]);
  std::printf("\n");
  AtaReturn ret = AtaReturn::sent(request);
  const SenseLayout layout = parseAtaReturn(sense.data(), hdr.sb_len_wr, ret);
  const uint64_t returned = uint64_t{ret.lba[0]} | uint64_t{ret.lba[1]} << 8 | uint64_t{ret.lba[2]} << 16 |
                       uint64_t{ret.lba[3]} << 24 | uint64_t{ret.lba[4]} << 32 | uint64_t{ret.lba[5]} << 40;
  std::printf("layout %s status %02X error %02X count %02X%02X lba %llX low %d high %d\n", layoutName(layout),
              ret.status, ret.error, ret.count[1], ret.count[0], static_cast<unsigned long long>(returned),
              ret.lowKnown ? 1 : 0, ret.highKnown ? 1 : 0);
  IoOutcome outcome = sent ? finishAtaRequest(hdr, sense, request) : outcomeFromErrno(errno, "SG_IO");
  std::printf("verdict %s\n", outcome.ok() ? "ok" : outcome.detail.c_str());

  buildModeSelectControlPage(page, selectCdb, parameters);
  if (change) (void)scsi(fd, selectCdb.data(), selectCdb.size(), parameters.data(), parameters.size(), true);
  ::close(fd);
  return sent ? 0 : 1;
}
