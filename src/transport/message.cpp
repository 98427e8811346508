#include "transport/message.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "transport/context.h"

namespace zorv {

void StringSink::append(std::string_view text, MessageKind) {
  std::lock_guard lock(mutex_);
  text_.append(text);
}

void StringSink::clear() {
  std::lock_guard lock(mutex_);
  text_.clear();
}

std::string StringSink::text() const {
  std::lock_guard lock(mutex_);
  return text_;
}

std::string StringSink::take() {
  std::lock_guard lock(mutex_);
  std::string out;
  out.swap(text_);
  return out;
}

void AppendMessage(Context& ctx, std::string_view text, MessageSink& box) {
  if (ctx.ucMsgMode == kMsgModeSilent) return;
  box.append(text, MessageKind::Normal);
}

namespace {

// The pane line buffer holds 100 bytes: at most 99 characters of text.
constexpr size_t kPaneLineBuffer = 100;

void printToPane(Context& ctx, MessageKind kind, const char* format, va_list args) {
  if (ctx.ucMsgMode == kMsgModeSilent) return;
  char line[kPaneLineBuffer + 1];
  int n = std::vsnprintf(line, kPaneLineBuffer, format, args);
  if (n < 0) return;
  size_t len = std::min<size_t>(static_cast<size_t>(n), kPaneLineBuffer - 1);
  line[len] = '\n';
  ctx.messagePane().append(std::string_view(line, len + 1), kind);
}

}  // namespace

#define ZORV_DEFINE_PRINT(name, kind)                  \
  void name(Context& ctx, const char* format, ...) {   \
    va_list args;                                      \
    va_start(args, format);                            \
    printToPane(ctx, kind, format, args);              \
    va_end(args);                                      \
  }

ZORV_DEFINE_PRINT(PrintMessage, MessageKind::Normal)
ZORV_DEFINE_PRINT(PrintError, MessageKind::Error)
ZORV_DEFINE_PRINT(PrintHighlight, MessageKind::Highlight)
ZORV_DEFINE_PRINT(PrintAlert, MessageKind::Alert)
ZORV_DEFINE_PRINT(PrintCompletion, MessageKind::Completion)
ZORV_DEFINE_PRINT(PrintInfo, MessageKind::Info)
#undef ZORV_DEFINE_PRINT

std::string formatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string out;
  if (n > 0) {
    out.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(out.data(), out.size(), format, args);
    out.resize(static_cast<size_t>(n));
  }
  va_end(args);
  return out;
}

}  // namespace zorv
