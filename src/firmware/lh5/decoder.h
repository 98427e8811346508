#pragma once
// The lh5 decoder: block by block, it reads the three code tables and then
// the block's codes, writing literals and window copies straight into the
// caller's output. It stops exactly when the output is full.
//
// Every malformed construct is a distinct failure rather than a guess: a code
// table that is not a complete code, a copy that reaches before the first
// byte or past the declared length, a stream that needs more bits than it
// holds. Each code emits at least one byte, so decoding ends after at most
// out.size() codes whatever the input.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace zorv::lh5 {

enum class DecodeStatus {
  Ok,
  BadCodeLengthTable,  // the code-length code of a block is malformed
  BadLiteralTable,     // the literal/length code of a block is malformed
  BadPositionTable,    // the position code of a block is malformed
  CopyBeforeStart,     // a copy refers to a byte before the first output byte
  CopyPastEnd,         // a copy runs past the declared length
  StreamOverrun,       // the stream ends before the output is complete
};

std::string_view describe(DecodeStatus status);

struct DecodeResult {
  DecodeStatus status = DecodeStatus::Ok;
  size_t produced = 0;  // bytes written before the decoder stopped
  bool ok() const { return status == DecodeStatus::Ok; }
};

// Reusable decoder state (about 40 KiB of tables); one decode at a time.
class Decoder {
 public:
  Decoder();
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // Decodes `stream` until `out` is full.
  DecodeResult decode(std::span<const uint8_t> stream, std::span<uint8_t> out);

 private:
  struct Tables;
  std::unique_ptr<Tables> tables_;
};

// One-shot form of Decoder::decode.
DecodeResult decode(std::span<const uint8_t> stream, std::span<uint8_t> out);

// The 16-bit sum (modulo 65536) of the bytes.
uint16_t byteSum16(std::span<const uint8_t> bytes);

}  // namespace zorv::lh5
