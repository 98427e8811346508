#pragma once
// The window program's user interface for operations: Qt message boxes, the
// "Go On"/"Cancel" reply window and file dialogs. Callable from any thread:
// from a worker the call blocks until the person has answered on the GUI thread.

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include "transport/user_interface.h"

namespace zorv::app {

// "Bin Files (*.bin)|*.bin||" -> {"Bin Files (*.bin)"}; the pattern after each
// description is the one that filters ("EXE Files(*.exe)|*.*||" shows every file).
QStringList windowsFilterToQt(std::string_view filter);

class QtUserInterface : public UserInterface {
 public:
  explicit QtUserInterface(QWidget* parent = nullptr) : parent_(parent) {}
  void setParentWidget(QWidget* parent) { parent_ = parent; }

  void messageBox(std::string_view text, BoxIcon icon, std::string_view caption = {}) override;
  bool askYesNo(std::string_view text, std::string_view caption = {}, BoxIcon icon = BoxIcon::Question) override;
  bool askGoOn(std::string_view text) override;
  std::optional<std::string> chooseOpenFile(std::string_view caption, std::string_view filter) override;
  std::vector<std::string> chooseOpenFiles(std::string_view caption, std::string_view filter) override;
  std::optional<std::string> chooseSaveFile(std::string_view caption, std::string_view filter,
                                            std::string_view suggestedName) override;
  std::optional<std::string> chooseSaveFileWith(std::string_view caption, std::string_view filter,
                                                std::string_view suggestedName,
                                                const SaveDialogOptions& options) override;
  void showCancelOnly(std::string_view text) override;

 private:
  // The reply window: the text, "Go On" when asked for, and "Cancel".
  bool replyWindow(std::string_view text, bool withGoOn);

  QPointer<QWidget> parent_;
};

}  // namespace zorv::app
