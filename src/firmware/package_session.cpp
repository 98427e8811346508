#include "firmware/package_session.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>

#include "firmware/image_identity.h"
#include "firmware/printable_text.h"

namespace zorv::firmware {

namespace {

// A package file never needs to be larger than its content limit plus some
// slack for the stream; anything bigger is not read into memory.
constexpr size_t kMaxPackageFile = (size_t{256} << 20) + (size_t{64} << 20);

}  // namespace

std::array<ListColumn, 3> initialQzColumns(uint16_t usModelClass) {
  return {ListColumn{"Firmware ID", usModelClass == 1 ? 240 : 140}, ListColumn{"Offset", 70},
          ListColumn{"Model Name", 130}};
}

std::array<ListColumn, 3> loadedQzColumns(uint16_t usModelClass) {
  return {ListColumn{"Firmware ID", usModelClass == 1 ? 260 : 160}, ListColumn{"Offset", 90},
          ListColumn{"Model Name", 150}};
}

bool readWholeFile(const std::string& path, std::vector<uint8_t>& out, size_t maxBytes, std::string& error) {
  std::ifstream f(path, std::ios::binary | std::ios::ate);
  if (!f) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  std::streamoff size = f.tellg();
  if (size < 0) {
    error = "cannot read " + path;
    return false;
  }
  if (static_cast<uint64_t>(size) > maxBytes) {
    error = path + " is larger than " + std::to_string(maxBytes) + " bytes";
    return false;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  f.seekg(0);
  if (size > 0 && !f.read(reinterpret_cast<char*>(bytes.data()), size)) {
    error = "cannot read " + path;
    return false;
  }
  out.swap(bytes);
  return true;
}

bool QzPackageTab::openQz(Context& ctx, MessageSink& box) {
  std::optional<std::string> path = ctx.ui->chooseOpenFile("Open QZ", kQzFileFilter);
  return loadFile(ctx, path.value_or(std::string()), box);
}

bool QzPackageTab::loadFile(Context& ctx, const std::string& path, MessageSink& box) {
  std::vector<uint8_t> bytes;
  std::string error;
  if (path.empty() || !readWholeFile(path, bytes, kMaxPackageFile, error)) {
    failure_ = path.empty() ? "no file chosen" : error;
    AppendMessage(ctx, "Open File Fail\r\n", box);
    return false;
  }
  return loadBytes(ctx, bytes, ctx.selectedDrive().usModelClass, box);
}

bool QzPackageTab::loadBytes(Context& ctx, std::span<const uint8_t> package, uint16_t usModelClass, MessageSink& box) {
  std::vector<uint8_t> content;
  UnpackResult u = unpackPackage(package, content);
  diagnostic_ = u.diagnostic;
  if (!u.ok()) {
    failure_ = u.reason;
    AppendMessage(ctx, "Unzip File Fail\r\n", box);
    return false;
  }
  auto table = std::make_unique<FirmwareTable>();
  ParseResult p = parseFirmwareTable(content, usModelClass, *table);
  diagnostic_ += p.diagnostic;
  if (!p.ok()) {
    failure_ = p.reason;
    AppendMessage(ctx, "Unzip File Fail\r\n", box);
    return false;
  }
  content_.swap(content);
  table_ = *table;
  rowCount_ = p.rowCount;
  modelClass_ = usModelClass;
  loaded_ = true;
  failure_.clear();
  return true;
}

void QzPackageTab::readWithModelClass(uint16_t usModelClass) {
  if (!loaded_ || usModelClass == modelClass_) return;
  auto table = std::make_unique<FirmwareTable>();
  // The table's structure does not depend on the class: what parsed before
  // parses again.
  ParseResult p = parseFirmwareTable(content_, usModelClass, *table);
  if (!p.ok()) return;
  table_ = *table;
  rowCount_ = p.rowCount;
  modelClass_ = usModelClass;
}

std::optional<int> QzPackageTab::chooseForDownload(Context& ctx, std::span<const uint8_t> hwid, MessageSink& box) {
  if (rowCount_ == 0) {
    AppendMessage(ctx, "No QZ code\r\n", box);
    return std::nullopt;
  }
  const size_t idLength = idLengthForClass(modelClass_);
  std::array<uint8_t, kMaxIdLength> id{};
  std::copy_n(hwid.begin(), std::min(hwid.size(), idLength), id.begin());
  AppendMessage(ctx, "Current HWID: " + formatIdHex(std::span<const uint8_t>(id.data(), idLength)) + "\r\n", box);
  std::optional<int> row = selectImageForDrive(table_, std::span<const uint8_t>(id.data(), idLength),
                                               tabCompareLength(modelClass_));
  if (!row) {
    AppendMessage(ctx, "No bin file", box);
    ctx.ui->messageBox("No bin file", BoxIcon::Stop);
    return std::nullopt;
  }
  AppendMessage(ctx, formatText("Correct Item: %d   TtlFwNum: %d\r\n", *row, rowCount_), box);
  AppendMessage(ctx, "Parsing Success\r\n", box);
  return row;
}

std::span<const uint8_t> QzPackageTab::image(int row) const {
  if (row < 0 || row >= rowCount_) return {};
  return rowImage(content_, table_.rows[row]);
}

std::vector<QzListRow> QzPackageTab::listRows() const {
  std::vector<QzListRow> rows;
  const size_t idLength = idLengthForClass(modelClass_);
  for (int i = 0; i < rowCount_; ++i) {
    const FirmwareRow& r = table_.rows[i];
    rows.push_back(QzListRow{formatIdHex(std::span<const uint8_t>(r.firmwareId.data(), idLength)),
                             formatText("%08X", r.imageOffset), printableText(r.modelName)});
  }
  return rows;
}

std::string QzPackageTab::imageVersion(int row) const {
  std::optional<ImageIdentity> id = readImageIdentity(image(row), modelClass_, ImageForm::Stored);
  return id && id->sumOk() ? printableText(id->version) : std::string("unreadable");
}

std::array<ListColumn, 3> QzPackageTab::columns() const {
  return loaded_ ? loadedQzColumns(modelClass_) : initialQzColumns(modelClass_);
}

}  // namespace zorv::firmware
