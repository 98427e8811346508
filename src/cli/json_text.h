#pragma once
// JSON output of zorvctl. Texts from drives and files (model names, firmware
// versions, run logs) are not always UTF-8; dumping such a string would throw,
// so invalid bytes are written as U+FFFD instead.

#include <nlohmann/json.hpp>
#include <string>

namespace zorv::cli {

template <class Json>
std::string jsonText(const Json& j) {
  return j.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace zorv::cli
