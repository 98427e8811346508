#pragma once
// The repair station's error codes: one per step that can fail, reported as
// "<<<< Error code %08X: <name> >>>>\r\n" with the code's own name.

#include <cstdint>
#include <string>
#include <string_view>

namespace zorv::rma {

constexpr uint32_t ulRMA_WAITRDY_FAIL = 0x00280000;  // power cycle: time-out, or another drive came back
constexpr uint32_t ulRMA_SMARTErr = 0x00280200;      // RMA limits / save SMART to SPI
constexpr uint32_t ulRMA_TBL2SPIErr = 0x00280400;    // merge the table bad blocks into the OBB list
constexpr uint32_t ulRMA_DLFWErr = 0x00280600;       // firmware update
constexpr uint32_t ulRMA_FENANDErr = 0x00280800;     // Preb2
constexpr uint32_t ulRMA_OBBErr = 0x00280A00;        // OBB list check
constexpr uint32_t ulRMA_WrRdErr = 0x00280C00;       // write/read test
constexpr uint32_t ulRMA_SNMMErr = 0x00280E00;       // serial number mismatch
constexpr uint32_t ulRMA_TSENSORErr = 0x00281000;    // thermal sensor

// The code's name ("ulRMA_SMARTErr"); empty for a value that is none of them.
std::string_view errorCodeName(uint32_t code);
// "<<<< Error code 00280200: ulRMA_SMARTErr >>>>\r\n".
std::string errorCodeLine(uint32_t code);

}  // namespace zorv::rma
