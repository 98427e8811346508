#pragma once
// ".sc3" volume test scripts. Two types, told apart by the first of their
// leading keys found in the text:
//
//   type 1   Range Size: 67108864 Byte          area of the volume to use
//            Total Write Capacity: 16 MB         bytes to write in all
//            File Size: 64 KB                    bytes per write
//            Sequence: true                      "true" (any case): sequential, else random
//
//   type 2   Transfer Size: 8 Sec                first transfer size, sectors
//            To           : 64 Sec               last transfer size, sectors
//            Total Length : 32 MB                bytes per pass, megabytes
//            Test Pattern : random               "random" (any case): random data, else 0x55AA9966
//            Run Time     : 1 Mins               minutes
//
// A value is the text after its key up to the next key. Numbers are decimal
// and may carry their unit: a size of type 1 is in bytes, or in KB, MB or GB
// (binary multiples) when it says so, so that "64 KB" is 65536 bytes and never
// 64; type 2 takes " Sec", " MB" and " Mins" (the units its keys are in) or no
// unit. Anything else after a number (another unit, a sign, a second number)
// is refused rather than read as something the author did not mean.

#include <cstdint>
#include <string>
#include <string_view>

namespace zorv {

struct Sc3Script {
  int type = 0;  // 1 or 2
  // Type 1.
  uint64_t rangeSize = 0;           // bytes
  uint64_t totalWriteCapacity = 0;  // bytes
  uint64_t fileSize = 0;            // bytes per write
  bool sequential = false;
  // Type 2.
  uint64_t transferFirst = 0;  // sectors
  uint64_t transferLast = 0;   // sectors
  uint64_t totalLengthMB = 0;  // megabytes (2^20 bytes) per pass
  bool randomData = false;
  uint64_t runMinutes = 0;

  uint64_t totalLengthBytes() const { return totalLengthMB << 20; }
  // The bytes the script asks of a volume's free space: the range of type 1,
  // one pass of type 2.
  uint64_t bytesNeeded() const { return type == 1 ? rangeSize : totalLengthBytes(); }
};

// Limits that keep every buffer bounded: a write of type 1 is at most 8 MiB
// (the window holds 17 buffers of that size), a transfer of type 2 at most
// the 8 MiB pattern buffer.
constexpr uint64_t kMaxFileSize = 8u << 20;
constexpr uint64_t kPatternBufferSize = 8u << 20;
constexpr uint64_t kMaxTransferSectors = kPatternBufferSize / 512;
constexpr size_t kMaxVolumeScriptBytes = 64 << 10;

// Parses and checks a script on its own (sizes of 0, sizes the buffers cannot
// take, keys missing or out of order). False with a message naming the key.
bool parseSc3(std::string_view text, Sc3Script& script, std::string& error);

// Reads and parses a script file ("Open Script File fail" when it cannot be
// read; longer than kMaxVolumeScriptBytes is refused).
bool readSc3File(const std::string& path, Sc3Script& script, std::string& error);

}  // namespace zorv
