#pragma once
// CEditFunc as a window: the test parameter dialog of the four raw-drive
// media tests. The controls show the CEditFunc model (which fields are
// enabled, their radix and text limit, the first defaults and the history)
// and write every edit back to it. Send reads the model into parameters and
// hands them to the starter; a refusal stays in the dialog until the
// parameters are corrected or the dialog is aborted. Enter is Send, Esc is
// Abort.

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <array>
#include <functional>
#include <string>

#include "mediatest/edit_func.h"
#include "transport/context.h"

namespace zorv::app {

class CEditFuncDialog : public QDialog {
  Q_OBJECT
 public:
  // Starts the test of accepted parameters: an empty text when it has
  // started (the dialog closes), otherwise why not (the dialog stays open).
  using Starter = std::function<std::string(const MediaTestParams&)>;

  // The radio buttons each of the groups "Type", "Sector", "Close" and
  // "Data" shows.
  static constexpr int kRadioButtons = 2;

  CEditFuncDialog(Context& ctx, CEditFunc& model, Starter start, QWidget* parent = nullptr);

  // Shows the dialog for a test code (the menu commands) or for the current
  // history entry (the Enter key); false, and nothing is shown, when the
  // model refuses.
  bool openFor(uint16_t opCode, uint64_t driveSectors);
  bool openRepeat(uint64_t driveSectors);

  QLineEdit* edit(EditField field) const { return edits_[static_cast<size_t>(field)]; }
  QCheckBox* checkBox(CheckItem item) const { return checks_[static_cast<size_t>(item)]; }
  QGroupBox* group(ButtonGroup group) const { return groups_[static_cast<size_t>(group)]; }
  QRadioButton* radioButton(ButtonGroup group, int button) const;
  QLabel* statusLabel() const { return status_; }
  // Why the last Send did not start the test; empty after an accepted one.
  QLabel* refusalLabel() const { return refusal_; }
  QPushButton* sendButton() const { return send_; }
  QPushButton* abortButton() const { return abort_; }

 public Q_SLOTS:
  void send();
  // Abort, Esc and the close button: "Abort" on the message pane, nothing started.
  void reject() override;

 private:
  // Shows the model in the controls.
  void load();
  void showRefusal(const std::string& text);

  Context& ctx_;
  CEditFunc& model_;
  Starter start_;
  std::array<QLineEdit*, kEditFieldCount> edits_{};
  std::array<QCheckBox*, kCheckItemCount> checks_{};
  std::array<QGroupBox*, kRadioGroupCount + 1> groups_{};
  std::array<QButtonGroup*, kRadioGroupCount + 1> radios_{};
  QLabel* status_ = nullptr;
  QLabel* refusal_ = nullptr;
  QPushButton* send_ = nullptr;
  QPushButton* abort_ = nullptr;
  bool loading_ = false;
};

}  // namespace zorv::app
