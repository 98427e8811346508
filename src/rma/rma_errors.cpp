#include "rma/rma_errors.h"

#include <array>

#include "transport/message.h"

namespace zorv::rma {

namespace {

struct NamedCode {
  uint32_t code;
  std::string_view name;
};

constexpr std::array<NamedCode, 9> kCodes = {{
    {ulRMA_WAITRDY_FAIL, "ulRMA_WAITRDY_FAIL"},
    {ulRMA_SMARTErr, "ulRMA_SMARTErr"},
    {ulRMA_TBL2SPIErr, "ulRMA_TBL2SPIErr"},
    {ulRMA_DLFWErr, "ulRMA_DLFWErr"},
    {ulRMA_FENANDErr, "ulRMA_FENANDErr"},
    {ulRMA_OBBErr, "ulRMA_OBBErr"},
    {ulRMA_WrRdErr, "ulRMA_WrRdErr"},
    {ulRMA_SNMMErr, "ulRMA_SNMMErr"},
    {ulRMA_TSENSORErr, "ulRMA_TSENSORErr"},
}};

}  // namespace

std::string_view errorCodeName(uint32_t code) {
  for (const NamedCode& c : kCodes)
    if (c.code == code) return c.name;
  return {};
}

std::string errorCodeLine(uint32_t code) {
  std::string name(errorCodeName(code));
  return formatText("<<<< Error code %08X: %s >>>>\r\n", code, name.c_str());
}

}  // namespace zorv::rma
