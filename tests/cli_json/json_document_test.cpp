// The --json document in process: one document whatever happens, the envelope
// beside the result, and text for a person kept to its limit.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/captured_stream.h"
#include "cli/json_document.h"
#include "cli/session.h"
#include "support/sim_fixture.h"

namespace zorv::cli {
namespace {

struct Ran {
  int status = -1;
  std::string out;
  std::string err;
};

Ran zorvctl(std::vector<std::string> args) {
  args.insert(args.begin(), "zorvctl");
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::ostringstream out, err;
  Ran r;
  r.status = runZorvctl(static_cast<int>(argv.size()), argv.data(), out, err);
  r.out = out.str();
  r.err = err.str();
  return r;
}

TEST(JsonDocument, EveryRunWritesOneDocumentWithTheEnvelope) {
  test::TempDir dir;
  const std::string bay = dir.file("a bay");
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string command;
  };
  const Case cases[] = {
      {{"--json", "sim", "create", bay}, kExitOk, "sim create"},  // no structured result
      {{"--sim", bay, "scan", "--json"}, kExitOk, "scan"},         // a result, --json after the command
      {{"--sim", bay, "--json", "sim", "unplug", "9"}, kExitUsage, "sim unplug"},
      {{"--json", "no-such-command"}, kExitUsage, ""},
      {{"--sim", bay, "--drive", "2", "--json", "diag", "trigger"}, kExitUsage, "diag trigger"},
  };
  for (const Case& c : cases) {
    Ran r = zorvctl(c.args);
    SCOPED_TRACE(c.command);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    nlohmann::json doc = nlohmann::json::parse(r.out);  // throws on anything but one document
    EXPECT_EQ(doc["json_format_version"], kJsonFormatVersion);
    EXPECT_EQ(doc["command"], c.command);
    EXPECT_EQ(doc["exitStatus"], c.status);
    // stderr still shows the messages, and the document keeps them.
    EXPECT_EQ(doc.value("messages", ""), r.err);
  }
  Ran scan = zorvctl({"--json", "--sim", bay, "scan"});
  EXPECT_EQ(nlohmann::json::parse(scan.out)["drives"].size(), 2u) << scan.out;
  EXPECT_FALSE(nlohmann::json::parse(scan.out).contains("output"));
}

TEST(JsonDocument, ResultFieldsNeverReplaceTheEnvelope) {
  nlohmann::ordered_json result = {{"command", "mine"}, {"exitStatus", 7}, {"drives", 2}};
  nlohmann::ordered_json doc = makeJsonDocument("scan", 1, result, "", false, "");
  EXPECT_EQ(doc["command"], "scan");
  EXPECT_EQ(doc["exitStatus"], 1);
  EXPECT_EQ(doc["drives"], 2);
  EXPECT_EQ(doc.begin().key(), "json_format_version");
}

TEST(JsonDocument, CapturedTextStopsAtItsLimitAndPassesEverythingOn) {
  std::ostringstream passedOn;
  CapturedStream s(10, &passedOn);
  s << "0123456" << 'x' << "abcdef";
  s.flush();
  EXPECT_EQ(s.text(), "0123456xab");
  EXPECT_TRUE(s.truncated());
  EXPECT_EQ(passedOn.str(), "0123456xabcdef");
  CapturedStream fits(10, nullptr);
  fits << "0123456789";
  EXPECT_EQ(fits.text(), "0123456789");
  EXPECT_FALSE(fits.truncated());
}

}  // namespace
}  // namespace zorv::cli
