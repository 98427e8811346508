#pragma once
// The one JSON document a zorvctl command writes to stdout under --json.
//
// Every document carries the same envelope, whatever the command:
//   json_format_version  the version of this layout (schema/zorvctl.schema.json)
//   command              the command as typed, its words joined by spaces ("diag trigger")
//   exitStatus           the process exit status (see exit_status.h)
//   output               text the command wrote for a person, when it has no
//                        structured result for it (absent when empty)
//   messages             what went to stderr: errors, message boxes (absent when empty)
//   outputTruncated      true when output passed kMaxCapturedText and was cut
// and, beside it, the command's own result fields.

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace zorv::cli {

// Raised whenever a field is renamed, removed or changes its type; new
// optional fields keep the version.
constexpr int kJsonFormatVersion = 1;

// Text a command writes for a person is kept up to this size in a document;
// a long run's progress lines cannot make the document grow without bound.
constexpr std::size_t kMaxCapturedText = 16u << 20;

// The envelope names, which no command's result may use.
bool isEnvelopeField(std::string_view name);

// `result` is the command's structured result (an object, or null when it
// has none). Result fields never replace envelope fields.
nlohmann::ordered_json makeJsonDocument(std::string_view command, int exitStatus,
                                        const nlohmann::ordered_json& result, std::string_view output,
                                        bool outputTruncated, std::string_view messages);

}  // namespace zorv::cli
