// zorvctl identify: the identify page (the drive's IDENTIFY DEVICE data as
// the page's table, its text decode, its file) and the comparison of two
// saved files.

#include <nlohmann/json.hpp>

#include <algorithm>
#include <memory>
#include <sstream>

#include "cli/command_registry.h"
#include "cli/json_text.h"
#include "cli/identify_cli_support.h"
#include "cli/session.h"
#include "identify/identify_text.h"
#include "identify/identify_view.h"

namespace zorv::cli {

Context* selectedDriveContext(Session& session) {
  Context* ctx = session.context();
  if (!ctx) return nullptr;
  StringSink enumeration;
  ctx->setMessagePane(enumeration);
  Context* enumerated = session.enumeratedContext();
  ctx->setMessagePane(session.pane());
  if (!enumerated) return nullptr;
  if (!enumerated->hasSelectedDrive()) {
    std::string text = enumeration.text();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    session.err() << "zorvctl: " << (text.empty() ? "no drive selected" : text) << '\n';
    session.fail(kExitFailed);
    return nullptr;
  }
  return enumerated;
}

bool checkEditText(Session& session, const std::string& option, const std::string& text, size_t width) {
  if (text.size() <= width) return true;
  session.err() << "zorvctl: " << option << " holds at most " << width << " characters: " << text << '\n';
  session.fail(kExitUsage);
  return false;
}

namespace {

using nlohmann::json;

std::vector<std::string> cellLines(const std::string& cell) {
  std::vector<std::string> lines;
  size_t pos = 0;
  for (;;) {
    size_t end = cell.find('\n', pos);
    std::string line = cell.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    // Line ends and the padding of drive strings are not shown.
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    lines.push_back(line);
    if (end == std::string::npos) return lines;
    pos = end + 1;
  }
}

// The page's list as text: one block per row, the multi-line cells side by
// side, a blank line between rows.
void printTable(std::ostream& out, const std::vector<IdentifyListRow>& rows, bool compare) {
  std::vector<std::vector<std::vector<std::string>>> cells;
  size_t valueWidth = std::string("Value 1").size();
  for (const IdentifyListRow& r : rows) {
    std::vector<std::vector<std::string>> row = {{r.offset}, {r.length}, cellLines(r.value1)};
    if (compare) row.push_back(cellLines(r.value2));
    row.push_back(cellLines(r.description));
    for (size_t c = 2; c < row.size() - 1; ++c) {
      for (const std::string& l : row[c]) valueWidth = std::max(valueWidth, l.size());
    }
    cells.push_back(std::move(row));
  }
  std::vector<size_t> widths = {9, 6, valueWidth};
  std::vector<std::string> titles = {"WD Offset", "Length", "Value 1"};
  if (compare) {
    widths.push_back(valueWidth);
    titles.push_back("Value 2");
  }
  titles.push_back("Description");
  auto printLine = [&](const std::vector<std::string>& parts) {
    std::string line;
    for (size_t c = 0; c < parts.size(); ++c) {
      line += parts[c];
      if (c + 1 < parts.size()) line += std::string(widths[c] - std::min(widths[c], parts[c].size()) + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << '\n';
  };
  printLine(titles);
  for (const auto& row : cells) {
    size_t height = 0;
    for (const auto& cell : row) height = std::max(height, cell.size());
    for (size_t l = 0; l < height; ++l) {
      std::vector<std::string> parts;
      for (const auto& cell : row) parts.push_back(l < cell.size() ? cell[l] : std::string());
      printLine(parts);
    }
    out << '\n';
  }
}

json rowsJson(const std::vector<IdentifyListRow>& rows, bool compare) {
  json arr = json::array();
  for (size_t i = 0; i < rows.size(); ++i) {
    const IdentifyListRow& r = rows[i];
    json row = {{"item", i},
                {"offset", std::stoi(r.offset)},
                {"length", std::stoi(r.length)},
                {"value1", r.value1},
                {"description", r.description}};
    if (compare) row["value2"] = r.value2;
    arr.push_back(std::move(row));
  }
  return arr;
}

struct IdentifyOptions {
  bool decode = false;
  bool table = false;
  bool save = false;
  std::string first;
  std::string second;
  bool compareTable = false;
};

void runIdentify(Session& session, const IdentifyOptions& o) {
  Context* ctx = selectedDriveContext(session);
  if (!ctx) return;
  bool table = o.table || (!o.decode && !o.save);

  StringSink decoded;
  IdentifyView view;
  if (!view.readDrive(*ctx)) {
    session.fail(kExitFailed);
    return;
  }
  if (o.decode) {
    if (session.json) ctx->setMessagePane(decoded);
    DecodeIdentifyText(*ctx);
    ctx->setMessagePane(session.pane());
  }
  std::string fileName;
  bool saved = false;
  if (o.save) {
    saved = view.saveFile(*ctx, ".", fileName);
    if (!saved) {
      session.err() << "zorvctl: cannot write " << fileName << '\n';
      session.fail(kExitFailed);
    }
  }
  const DriveEntry& drive = ctx->selectedDrive();
  if (session.json) {
    json out = {{"model", drive.strModel}, {"serial", drive.strSerial}};
    if (o.decode) out["decode"] = decoded.text();
    if (table) out["rows"] = rowsJson(view.rows(), false);
    if (o.save) out["file"] = saved ? json(fileName) : json(nullptr);
    session.setResult(out);
    return;
  }
  if (table) printTable(session.out(), view.rows(), false);
}

void runCompare(Session& session, const IdentifyOptions& o) {
  const bool table = o.compareTable;
  IdentifyView view;
  std::string unreadable;
  if (!view.compareFiles(o.first, o.second, &unreadable)) {
    session.err() << "zorvctl: cannot read " << unreadable << '\n';
    session.fail(kExitUsage);
    return;
  }
  if (session.json) {
    json diffs = json::array();
    for (const std::string& entry : view.differences()) {
      int item = identifyDifferenceRow(entry).value_or(-1);
      diffs.push_back({{"entry", entry},
                       {"item", item},
                       {"offset", item >= 0 ? identifyWordTable()[static_cast<size_t>(item)].usFirstWord : -1}});
    }
    json out = {{"first", o.first}, {"second", o.second}, {"differences", diffs}};
    if (table) out["rows"] = rowsJson(view.rows(), true);
    session.setResult(out);
    return;
  }
  if (table) printTable(session.out(), view.rows(), true);
  for (const std::string& entry : view.differences()) session.out() << entry << '\n';
}

void install(CLI::App& app, Session& session) {
  // Owned by the callbacks, so each run of the command line has its own.
  auto options = std::make_shared<IdentifyOptions>();
  CLI::App* identify = app.add_subcommand(
      "identify", "The identify page: the selected drive's IDENTIFY DEVICE data as the page's table (default)");
  identify->add_flag("--decode", options->decode, "Print the transfer-mode and SATA capability decode");
  identify->add_flag("--table", options->table, "Print the 97-row table (the default without other flags)");
  identify->add_flag("--save", options->save, "Save the data as Identify_<model>_<serial>.bin here");

  CLI::App* compare = identify->add_subcommand(
      "compare", "Compare two saved IDENTIFY files: the differing rows, as the page's drop-down lists them");
  compare->add_option("first", options->first, "First file (Binary1)")->required();
  compare->add_option("second", options->second, "Second file (Binary2)")->required();
  compare->add_flag("--table", options->compareTable, "Print the five-column comparison table before the differences");
  compare->callback([&session, options] { runCompare(session, *options); });

  identify->callback([&session, compare, options] {
    if (compare->parsed()) return;
    runIdentify(session, *options);
  });
}

static CommandRegistrar reg{"identify", &install};

}  // namespace

}  // namespace zorv::cli
