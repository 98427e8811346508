// zorvctl qz: firmware packages. "list" and "unpack" run the package tab's
// "Open QZ" load and print its texts and list; "make-image" and "pack" make
// images and packages for tests, demos and engineering use.

#include <nlohmann/json.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "cli/command_registry.h"
#include "cli/json_text.h"
#include "cli/session.h"
#include "firmware/image_maker.h"
#include "firmware/package.h"
#include "firmware/package_builder.h"
#include "firmware/package_session.h"

namespace zorv::cli {

namespace {

using nlohmann::json;
namespace fw = zorv::firmware;

struct QzOptions {
  std::string package;
  std::string dir;
  int modelClass = -1;
  bool verbose = false;
  bool plain = false;
  // make-image / pack
  std::string hwid;
  std::string version;
  std::string size = "262144";
  uint64_t seed = 0;
  bool stored = false;
  std::string output;
  std::vector<std::string> rows;
  bool fast = false;
};

bool writeFile(Session& session, const std::string& path, std::span<const uint8_t> bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (f) f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (f) f.close();
  if (!f) {
    session.err() << "zorvctl: cannot write " << path << '\n';
    session.fail(kExitFailed);
    return false;
  }
  return true;
}

// The model class the table is read with: --class, else the selected drive's.
std::optional<uint16_t> resolveClass(Session& session, const QzOptions& o, Context*& ctx) {
  if (o.modelClass >= 0) {
    ctx = session.context();
    if (!ctx) return std::nullopt;
    return static_cast<uint16_t>(o.modelClass);
  }
  ctx = session.enumeratedContext();
  if (!ctx) return std::nullopt;
  if (!ctx->hasSelectedDrive()) {
    session.err() << "zorvctl: no drive is selected to take the model class from; give --class 0|1\n";
    session.fail(kExitUsage);
    return std::nullopt;
  }
  return ctx->selectedDrive().usModelClass;
}

// Loads the package the way "Open QZ" does; prints the box texts as they come.
bool loadPackage(Session& session, const QzOptions& o, fw::QzPackageTab& tab, StringSink& box, Context*& ctx) {
  std::optional<uint16_t> cls = resolveClass(session, o, ctx);
  if (!cls) return false;
  std::vector<uint8_t> bytes;
  std::string error;
  bool ok;
  if (!fw::readWholeFile(o.package, bytes, size_t{320} << 20, error)) {
    AppendMessage(*ctx, "Open File Fail\r\n", box);
    session.err() << "zorvctl: " << error << '\n';
    ok = false;
  } else {
    ok = tab.loadBytes(*ctx, bytes, *cls, box);
    if (!ok) session.err() << "zorvctl: " << tab.lastFailure() << '\n';
  }
  if (!ok) session.fail(kExitUsage);
  return ok;
}

std::string padded(std::string s, size_t width) {
  if (s.size() < width) s.append(width - s.size(), ' ');
  return s;
}

void runList(Session& session, const QzOptions& o) {
  fw::QzPackageTab tab;
  StringSink box;
  Context* ctx = nullptr;
  bool ok = loadPackage(session, o, tab, box, ctx);
  if (!ctx) return;
  if (session.json) {
    json rows = json::array();
    for (int i = 0; i < tab.rowCount(); ++i) {
      const fw::FirmwareRow& r = tab.table().rows[i];
      fw::QzListRow line = tab.listRows()[static_cast<size_t>(i)];
      rows.push_back({{"index", i},
                      {"firmwareId", line.firmwareId},
                      {"offset", line.offset},
                      {"imageOffset", r.imageOffset},
                      {"imageLength", r.imageLength},
                      {"modelName", line.modelName}});
    }
    json columns = json::array();
    for (const fw::ListColumn& c : tab.columns()) columns.push_back({{"title", c.title}, {"width", c.width}});
    json out = {{"ok", ok},          {"box", box.text()},       {"modelClass", tab.modelClass()},
                {"columns", columns}, {"rows", rows},           {"diagnostic", tab.lastDiagnostic()}};
    if (!ok) out["failure"] = tab.lastFailure();
    session.setResult(out);
    return;
  }
  if (o.verbose) session.out() << tab.lastDiagnostic();
  session.out() << box.text();
  if (!ok) return;
  const size_t idLength = fw::idLengthForClass(tab.modelClass());
  const size_t idWidth = idLength * 2 + idLength / 4;
  auto cols = tab.columns();
  session.out() << padded(std::string(cols[0].title), idWidth) << "  " << padded(std::string(cols[1].title), 8) << "  "
                << cols[2].title << '\n';
  for (const fw::QzListRow& r : tab.listRows())
    session.out() << padded(r.firmwareId, idWidth) << "  " << padded(r.offset, 8) << "  " << r.modelName << '\n';
}

std::string safeName(const std::string& model) {
  std::string s;
  for (char c : model) {
    bool keep = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' || c == '_' || c == '.';
    s += keep ? c : '_';
  }
  if (s.empty() || s[0] == '.') s.insert(0, "m");
  return s;
}

// The model class of the selected drive, for a command that can do without
// one until it needs it; nullopt (nothing reported) when no drive is selected.
std::optional<uint16_t> selectedDriveClass(Session& session) {
  Context* ctx = session.enumeratedContext();
  if (!ctx || !ctx->hasSelectedDrive()) return std::nullopt;
  return ctx->selectedDrive().usModelClass;
}

void runUnpack(Session& session, const QzOptions& o) {
  std::vector<uint8_t> bytes;
  std::string error;
  if (!fw::readWholeFile(o.package, bytes, size_t{320} << 20, error)) {
    session.out() << "Open File Fail\r\n";
    session.err() << "zorvctl: " << error << '\n';
    session.fail(kExitUsage);
    return;
  }
  std::vector<uint8_t> content;
  fw::UnpackResult u = fw::unpackPackage(bytes, content);
  if (o.verbose) session.out() << u.diagnostic;
  if (!u.ok()) {
    session.out() << "Unzip File Fail\r\n";
    session.err() << "zorvctl: " << u.reason << '\n';
    session.fail(kExitUsage);
    return;
  }
  std::error_code ec;
  std::filesystem::create_directories(o.dir, ec);
  const std::filesystem::path dir(o.dir);
  // The content goes out first and needs no model class: a package whose
  // table is broken, or that is examined away from any drive, can still be
  // looked at byte by byte.
  if (!writeFile(session, (dir / "content.bin").string(), content)) return;
  session.out() << "content.bin: " << content.size() << " bytes\n";

  // The table's structure is the same for both classes; only the ID length
  // the images are named with, and class 0's complement, need the class.
  std::optional<uint16_t> cls;
  if (o.modelClass >= 0) cls = static_cast<uint16_t>(o.modelClass);
  fw::FirmwareTable table;
  fw::ParseResult p = fw::parseFirmwareTable(content, cls.value_or(1), table);
  if (!p.ok()) {
    if (o.verbose) session.out() << p.diagnostic;
    session.out() << "Unzip File Fail\r\n";
    session.err() << "zorvctl: " << p.reason << '\n';
    session.fail(kExitUsage);
    return;
  }
  if (p.rowCount == 0) return;
  if (!cls) cls = selectedDriveClass(session);
  if (!cls) {
    if (session.exitCode != kExitOk) return;  // the drive selection has said why
    session.err() << "zorvctl: the images need a model class and no drive is selected to take it from; give "
                     "--class 0|1\n";
    session.fail(kExitUsage);
    return;
  }
  if (*cls != 1) p = fw::parseFirmwareTable(content, *cls, table);
  if (o.verbose) session.out() << p.diagnostic;
  for (int i = 0; i < p.rowCount; ++i) {
    const fw::FirmwareRow& r = table.rows[i];
    std::vector<uint8_t> image(fw::rowImage(content, r).begin(), fw::rowImage(content, r).end());
    if (o.plain && *cls == 0)
      for (uint8_t& b : image) b = static_cast<uint8_t>(~b);
    char name[64];
    std::snprintf(name, sizeof name, "image%03d_%s.bin", i, safeName(r.modelName).c_str());
    if (!writeFile(session, (dir / name).string(), image)) return;
    session.out() << name << ": " << fw::formatIdHex(std::span<const uint8_t>(r.firmwareId.data(), fw::idLengthForClass(*cls)))
                  << " offset " << formatText("%08X", r.imageOffset) << " length " << formatText("%X", r.imageLength)
                  << '\n';
  }
}

std::optional<size_t> parseSize(const std::string& text) {
  if (text.empty()) return std::nullopt;
  size_t used = 0;
  unsigned long long v;
  try {
    v = std::stoull(text, &used, 0);
  } catch (...) {
    return std::nullopt;
  }
  std::string suffix = text.substr(used);
  if (suffix == "K" || suffix == "k") v <<= 10;
  else if (suffix == "M" || suffix == "m") v <<= 20;
  else if (!suffix.empty()) return std::nullopt;
  return static_cast<size_t>(v);
}

void runMakeImage(Session& session, const QzOptions& o) {
  fw::ImageSpec recipe;
  recipe.usModelClass = static_cast<uint16_t>(o.modelClass);
  std::optional<std::vector<uint8_t>> hwid = fw::parseHex(o.hwid);
  std::optional<size_t> size = parseSize(o.size);
  if (!hwid || !size) {
    session.err() << "zorvctl: " << (!hwid ? "--hwid needs hexadecimal bytes" : "--size needs a number of bytes") << '\n';
    session.fail(kExitUsage);
    return;
  }
  recipe.hwid = *hwid;
  recipe.version = o.version;
  recipe.size = *size;
  recipe.seed = o.seed;
  fw::MadeImage made = fw::makeImage(recipe);
  if (!made.ok) {
    session.err() << "zorvctl: " << made.error << '\n';
    session.fail(kExitUsage);
    return;
  }
  if (o.stored && recipe.usModelClass == 0)
    for (uint8_t& b : made.image) b = static_cast<uint8_t>(~b);
  if (!writeFile(session, o.output, made.image)) return;
  session.out() << o.output << ": " << made.image.size() << " bytes, model class " << recipe.usModelClass << ", HWID "
                << fw::formatIdHex(recipe.hwid) << ", version " << recipe.version << '\n';
}

void runPack(Session& session, const QzOptions& o) {
  const uint16_t cls = static_cast<uint16_t>(o.modelClass);
  std::vector<fw::PackageRow> rows;
  for (const std::string& recipe : o.rows) {
    size_t a = recipe.find(',');
    size_t b = a == std::string::npos ? a : recipe.find(',', a + 1);
    if (b == std::string::npos) {
      session.err() << "zorvctl: --row needs HWID,MODELNAME,IMG: " << recipe << '\n';
      session.fail(kExitUsage);
      return;
    }
    fw::PackageRow row;
    std::optional<std::vector<uint8_t>> id = fw::parseHex(recipe.substr(0, a));
    if (!id) {
      session.err() << "zorvctl: --row " << recipe << ": the HWID needs hexadecimal bytes\n";
      session.fail(kExitUsage);
      return;
    }
    row.firmwareId = *id;
    row.modelName = recipe.substr(a + 1, b - a - 1);
    std::string path = recipe.substr(b + 1);
    std::string error;
    if (!fw::readWholeFile(path, row.image, fw::kMaxImageSize, error)) {
      session.err() << "zorvctl: " << error << '\n';
      session.fail(kExitUsage);
      return;
    }
    std::optional<fw::ImageIdentity> ident = fw::readImageIdentity(row.image, cls);
    if (!ident) {
      session.err() << "zorvctl: warning: " << path << " is too short for its identity block\n";
    } else if (!ident->sumOk() || !std::equal(row.firmwareId.begin(), row.firmwareId.end(), ident->hwid.begin())) {
      session.err() << "zorvctl: warning: " << path << ": the identity block "
                    << (ident->sumOk() ? "names another HWID" : "does not add up to 0") << '\n';
    }
    rows.push_back(std::move(row));
  }
  lh5::EncoderOptions eo;
  if (o.fast) {
    eo.optimalParse = false;
    eo.maxChain = 64;
  }
  fw::BuildResult built = fw::buildPackage(rows, cls, eo);
  if (!built.ok) {
    session.err() << "zorvctl: " << built.error << '\n';
    session.fail(kExitUsage);
    return;
  }
  if (!writeFile(session, o.output, built.bytes)) return;
  std::optional<fw::QzHeader> h = fw::readQzHeader(built.bytes);
  session.out() << o.output << ": " << rows.size() << " rows, content " << h->origSize << " bytes, "
                << (h->stored() ? "stored " : "stream ") << h->compSize << " bytes, sum " << formatText("%04X", h->sum16)
                << '\n';
}

void install(CLI::App& app, Session& session) {
  auto o = std::make_shared<QzOptions>();
  CLI::App* qz = app.add_subcommand("qz", "Firmware packages: list, unpack, make images and packages");
  qz->require_subcommand(1);

  CLI::App* list = qz->add_subcommand("list", "Load a package as \"Open QZ\" does and print the tab's texts and list");
  list->add_option("PKG", o->package, "Package file")->required();
  list->add_option("--class", o->modelClass, "Model class for the IDs (default: the selected drive's)")
      ->check(CLI::Range(0, 1));
  list->add_flag("-v,--verbose", o->verbose, "Also print the texts the load formats for diagnosis");
  list->callback([&session, o] { runList(session, *o); });

  CLI::App* unpack = qz->add_subcommand("unpack", "Write the decompressed content and each image of a package to DIR");
  unpack->add_option("PKG", o->package, "Package file")->required();
  unpack->add_option("DIR", o->dir, "Output directory (created when missing)")->required();
  unpack->add_option("--class", o->modelClass,
                     "Model class for the images' IDs (default: the selected drive's; content.bin needs none)")
      ->check(CLI::Range(0, 1));
  unpack->add_flag("--plain", o->plain, "Write model-class-0 images uncomplemented (as make-image writes them)");
  unpack->add_flag("-v,--verbose", o->verbose, "Also print the texts the load formats for diagnosis");
  unpack->callback([&session, o] { runUnpack(session, *o); });

  CLI::App* make = qz->add_subcommand("make-image", "Write a firmware image with a valid identity block");
  make->add_option("--class", o->modelClass, "Model class")->required()->check(CLI::Range(0, 1));
  make->add_option("--hwid", o->hwid, "HWID in hex: 9 bytes (class 0) or 16 (class 1)")->required();
  make->add_option("--version", o->version, "Firmware version, 6 ASCII characters")->required();
  make->add_option("--size", o->size, "Image size in bytes, a multiple of 512 (K and M suffixes; default 256K)");
  make->add_option("--seed", o->seed, "Seed of the content (default: from the other options)");
  make->add_flag("--stored", o->stored, "Write a class-0 image complemented, as packages and \"Open Bin\" hold it");
  make->add_option("-o", o->output, "Output file")->required();
  make->callback([&session, o] { runMakeImage(session, *o); });

  CLI::App* pack = qz->add_subcommand("pack", "Write a package from images and model-table rows");
  pack->add_option("--class", o->modelClass, "Model class")->required()->check(CLI::Range(0, 1));
  pack->add_option("--row", o->rows, "HWID,MODELNAME,IMG (plain image; repeat for more rows)")->required();
  pack->add_flag("--fast", o->fast, "Quicker, slightly larger compression");
  pack->add_option("-o", o->output, "Output file")->required();
  pack->callback([&session, o] { runPack(session, *o); });
}

static CommandRegistrar reg{"qz", &install};

}  // namespace

}  // namespace zorv::cli
