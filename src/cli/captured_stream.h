#pragma once
// A stream whose text is kept (up to a limit) for the JSON document and,
// optionally, passed on as it comes, so that a person watching stderr still
// sees a long run's messages while they happen.

#include <cstddef>
#include <ostream>
#include <streambuf>
#include <string>

namespace zorv::cli {

class CapturedStream : public std::ostream {
 public:
  // `passOn`: where the text also goes at once (nullptr: nowhere).
  CapturedStream(std::size_t limit, std::ostream* passOn) : std::ostream(&buffer_), buffer_(limit, passOn) {}

  const std::string& text() const { return buffer_.text; }
  bool truncated() const { return buffer_.truncated; }

 private:
  struct Buffer : std::streambuf {
    Buffer(std::size_t l, std::ostream* p) : limit(l), passOn(p) {}
    std::streamsize xsputn(const char* s, std::streamsize n) override {
      keep(s, static_cast<std::size_t>(n));
      if (passOn) passOn->write(s, n);
      return n;
    }
    int_type overflow(int_type c) override {
      if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
      char ch = traits_type::to_char_type(c);
      keep(&ch, 1);
      if (passOn) passOn->put(ch);
      return c;
    }
    int sync() override {
      if (passOn) passOn->flush();
      return 0;
    }
    void keep(const char* s, std::size_t n) {
      std::size_t room = limit - text.size();
      if (n > room) truncated = true;
      text.append(s, n < room ? n : room);
    }
    std::size_t limit;
    std::ostream* passOn;
    std::string text;
    bool truncated = false;
  };
  Buffer buffer_;
};

}  // namespace zorv::cli
