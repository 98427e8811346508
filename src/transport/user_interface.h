#pragma once
// What operations need from a person or the desktop, without knowing how it
// is shown: the window program implements it with Qt dialogs, zorvctl with
// its arguments and stderr, tests with a scripted fake that records every box.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zorv {

enum class BoxIcon { None, Information, Stop, Exclamation, Question };

// How a save dialog treats the name it is given.
struct SaveDialogOptions {
  // Added to a name typed without an extension ("bin"); empty: none.
  std::string_view defaultExtension;
  // The caller asks before replacing an existing file itself, so the dialog
  // does not ask as well.
  bool callerAsksBeforeReplacing = false;
};

std::string_view boxIconName(BoxIcon icon);  // "information", "stop", ...

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // A modal message box with an OK button.
  virtual void messageBox(std::string_view text, BoxIcon icon, std::string_view caption = {}) = 0;
  // A yes/no question; true for yes.
  virtual bool askYesNo(std::string_view text, std::string_view caption = {},
                        BoxIcon icon = BoxIcon::Question) = 0;
  // The reply window with "Go On" and "Cancel"; true for "Go On".
  virtual bool askGoOn(std::string_view text) = 0;
  // The reply window in its "Message 2" form: the text and only "Cancel".
  // Where there is no such window, a stop box says the same.
  virtual void showCancelOnly(std::string_view text) { messageBox(text, BoxIcon::Stop); }
  // File choices. filter is in the Windows form "Bin Files (*.bin)|*.bin||".
  virtual std::optional<std::string> chooseOpenFile(std::string_view caption, std::string_view filter) = 0;
  virtual std::vector<std::string> chooseOpenFiles(std::string_view caption, std::string_view filter) = 0;
  virtual std::optional<std::string> chooseSaveFile(std::string_view caption, std::string_view filter,
                                                    std::string_view suggestedName) = 0;
  // A save dialog with options; where they mean nothing, the plain one.
  virtual std::optional<std::string> chooseSaveFileWith(std::string_view caption, std::string_view filter,
                                                        std::string_view suggestedName,
                                                        const SaveDialogOptions& /*options*/) {
    return chooseSaveFile(caption, filter, suggestedName);
  }
};

// Answers nothing and shows nothing: yes/no questions get "no", file choices
// are cancelled. For contexts where no person is present.
class SilentUserInterface : public UserInterface {
 public:
  void messageBox(std::string_view, BoxIcon, std::string_view) override {}
  bool askYesNo(std::string_view, std::string_view, BoxIcon) override { return false; }
  bool askGoOn(std::string_view) override { return false; }
  std::optional<std::string> chooseOpenFile(std::string_view, std::string_view) override { return std::nullopt; }
  std::vector<std::string> chooseOpenFiles(std::string_view, std::string_view) override { return {}; }
  std::optional<std::string> chooseSaveFile(std::string_view, std::string_view, std::string_view) override {
    return std::nullopt;
  }
};

// Progress of a long operation (a window's progress bar, a CLI line, a test).
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual void setRange(int minimum, int maximum) = 0;
  virtual void setPosition(int position) = 0;
};

class NullProgress : public ProgressSink {
 public:
  void setRange(int, int) override {}
  void setPosition(int) override {}
};

}  // namespace zorv
