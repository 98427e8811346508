#pragma once
// A file a dump appends to (memory, SPI, block and diagnostic dumps): opened
// on the first write, so a dump that produces nothing leaves no file. The
// first write failure is reported on the pane and marks the run failed;
// later writes are skipped.

#include <fstream>
#include <span>
#include <string>
#include <string_view>

#include "diagnostics/diag_run.h"

namespace zorv {

class DumpFile {
 public:
  DumpFile(DiagRun& run, std::string name) : run_(run), name_(std::move(name)) {}
  void write(std::span<const uint8_t> bytes) { put(reinterpret_cast<const char*>(bytes.data()), bytes.size()); }
  void write(std::string_view text) { put(text.data(), text.size()); }
  bool failed() const { return failed_; }

 private:
  void put(const char* data, size_t size) {
    if (failed_) return;
    if (!opened_) {
      out_.open(run_.file(name_), std::ios::binary | std::ios::app);
      opened_ = true;
    }
    if (!out_ || !out_.write(data, static_cast<std::streamsize>(size)) || !out_.flush()) {
      failed_ = true;
      run_.commandFailed = true;
      run_.append("Cannot write " + name_ + "\r\n");
    }
  }

  DiagRun& run_;
  std::string name_;
  std::ofstream out_;
  bool opened_ = false;
  bool failed_ = false;
};

}  // namespace zorv
