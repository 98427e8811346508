#pragma once
// A stream buffer that raises SIGINT (as Ctrl-C would) once a given text has
// been written to it: the zorvctl tests hand it to a long command as its
// stdout, so the stop arrives at a known point of the run.

#include <csignal>
#include <sstream>
#include <string>

namespace zorv::test {

class InterruptingBuffer : public std::stringbuf {
 public:
  explicit InterruptingBuffer(std::string trigger) : trigger_(std::move(trigger)) {}

 protected:
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    std::streamsize written = std::stringbuf::xsputn(s, n);
    if (!raised_ && str().find(trigger_) != std::string::npos) {
      raised_ = true;
      std::raise(SIGINT);
    }
    return written;
  }

 private:
  std::string trigger_;
  bool raised_ = false;
};

}  // namespace zorv::test
