#pragma once
// The values of a workload script: each value is the text between its key
// and the next key, trimmed of blanks and unit characters, and the keys must
// come in their fixed order. Numbers are read whole (a stray character is an
// error, never a shorter number) and checked against their range here, so
// that a bad script is refused before any window opens.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorv {

// The values of keys (in that order) in text, untrimmed; the last one runs
// to the end of text. Empty with error set ("... \"End LBA:\" is missing or
// out of order") when a key is missing, comes before the one it follows or
// appears twice. Each value is trimmed by what it holds: the unit letters of
// a size ("64KB") are never trimmed from a hexadecimal LBA ("3FFFFB").
std::optional<std::vector<std::string>> orderedScriptValues(std::string_view text,
                                                            const std::vector<std::string_view>& keys,
                                                            std::string& error);

// value with the characters of chars removed from both ends.
std::string trimScriptValue(std::string_view value, std::string_view chars);

// A hexadecimal number (an optional "0x"; at most 16 digits). name says what
// it is in the error text.
std::optional<uint64_t> scriptHex(std::string_view value, std::string_view name, std::string& error);
// A decimal number in [min, max].
std::optional<uint64_t> scriptDecimal(std::string_view value, std::string_view name, uint64_t min, uint64_t max,
                                      std::string& error);
// "TRUE" or "FALSE", in any case.
std::optional<bool> scriptFlag(std::string_view value, std::string_view name, std::string& error);

// The largest command a workload window sends: its slot buffers hold 128 KiB.
constexpr uint32_t kMaxCommandKb = 128;
constexpr uint32_t kMaxCommandSectors = kMaxCommandKb * 2;

}  // namespace zorv
