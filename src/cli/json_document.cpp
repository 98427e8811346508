#include "cli/json_document.h"

#include <array>

namespace zorv::cli {

namespace {
constexpr std::array<std::string_view, 6> kEnvelopeFields = {
    "json_format_version", "command", "exitStatus", "output", "messages", "outputTruncated"};
}

bool isEnvelopeField(std::string_view name) {
  for (std::string_view f : kEnvelopeFields)
    if (f == name) return true;
  return false;
}

nlohmann::ordered_json makeJsonDocument(std::string_view command, int exitStatus,
                                        const nlohmann::ordered_json& result, std::string_view output,
                                        bool outputTruncated, std::string_view messages) {
  nlohmann::ordered_json doc = nlohmann::ordered_json::object();
  doc["json_format_version"] = kJsonFormatVersion;
  doc["command"] = std::string(command);
  doc["exitStatus"] = exitStatus;
  if (result.is_object()) {
    for (auto it = result.begin(); it != result.end(); ++it)
      if (!isEnvelopeField(it.key())) doc[it.key()] = it.value();
  }
  if (!output.empty()) doc["output"] = std::string(output);
  if (outputTruncated) doc["outputTruncated"] = true;
  if (!messages.empty()) doc["messages"] = std::string(messages);
  return doc;
}

}  // namespace zorv::cli
