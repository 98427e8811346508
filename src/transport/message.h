#pragma once
// Message output. Windows write to their own message boxes with
// AppendMessage; the transport, the tests and most operations write lines to
// the message pane with PrintMessage and its variants. Message mode 2
// silences both (the RMA station runs some phases quietly).

#include <mutex>
#include <string>
#include <string_view>

// The formats are checked as C99 printf's everywhere: on Windows the texts are
// formatted by mingw's own stdio (__USE_MINGW_ANSI_STDIO), whose formats are
// gnu_printf's, not those of the Windows C runtime.
#ifdef _WIN32
#define ZORV_PRINTF_FORMAT(fmt, first) __attribute__((format(gnu_printf, fmt, first)))
#else
#define ZORV_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#endif

namespace zorv {

struct Context;

// The six kinds of pane line; all are written in the pane's default format,
// the kind is kept so that a face may still colour or filter them.
enum class MessageKind { Normal, Error, Highlight, Alert, Completion, Info };

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Appends text as it is (the caller supplies line ends).
  virtual void append(std::string_view text, MessageKind kind = MessageKind::Normal) = 0;
  // Empties the box.
  virtual void clear() = 0;
};

class NullSink : public MessageSink {
 public:
  void append(std::string_view, MessageKind) override {}
  void clear() override {}
};

// Collects everything in memory; safe to write from several threads.
class StringSink : public MessageSink {
 public:
  void append(std::string_view text, MessageKind kind = MessageKind::Normal) override;
  void clear() override;
  std::string text() const;
  // Returns the text and empties the sink.
  std::string take();

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

constexpr uint8_t kMsgModeNormal = 0;
constexpr uint8_t kMsgModeSilent = 2;

// Appends text to a window's own message box (nothing in mode 2).
void AppendMessage(Context& ctx, std::string_view text, MessageSink& box);

// Formats at most 99 characters and appends them with "\n" to the message
// pane (nothing in mode 2).
void PrintMessage(Context& ctx, const char* format, ...) ZORV_PRINTF_FORMAT(2, 3);
void PrintError(Context& ctx, const char* format, ...) ZORV_PRINTF_FORMAT(2, 3);
void PrintHighlight(Context& ctx, const char* format, ...) ZORV_PRINTF_FORMAT(2, 3);
void PrintAlert(Context& ctx, const char* format, ...) ZORV_PRINTF_FORMAT(2, 3);
void PrintCompletion(Context& ctx, const char* format, ...) ZORV_PRINTF_FORMAT(2, 3);
void PrintInfo(Context& ctx, const char* format, ...) ZORV_PRINTF_FORMAT(2, 3);

// printf into a std::string of any length (for texts that are not pane lines).
std::string formatText(const char* format, ...) ZORV_PRINTF_FORMAT(1, 2);

}  // namespace zorv
