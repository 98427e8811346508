#pragma once
// CEditAta: the any-ATA console. Eight task-file registers typed in
// hexadecimal; "Send" sends the command to the selected drive and closes the
// console, "Abort" closes it without sending. The command it sent stays in
// CmdBlock, so the next opening shows it again.
//
// The "Any ATA" menu command sets fgBusy, clears CmdBlock and runs it with
// exec(); the console clears fgBusy again when it closes.

#include <QCheckBox>
#include <QDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

#include <array>

#include "identify/ata_console.h"
#include "transport/context.h"

namespace zorv::app {

class CEditAta : public QDialog {
  Q_OBJECT
 public:
  // dump, when given, is refreshed when the console closes; by default the
  // buffer viewer page's dump pane.
  CEditAta(Context& ctx, QWidget* parent = nullptr);
  CEditAta(Context& ctx, DumpPane* dump, QWidget* parent = nullptr);

  QLineEdit* edit(int index) const { return edits_[static_cast<size_t>(index)]; }
  QCheckBox* dataOutBox() const { return dataOut_; }
  QPushButton* sendButton() const { return send_; }
  QPushButton* abortButton() const { return abort_; }
  // The result of the last "Send".
  bool lastSendOk() const { return lastOk_; }

 public Q_SLOTS:
  void onSend();
  void onAbort();
  void reject() override;  // Esc and the close button: as "Abort"

 private:
  void build();
  void collect();

  Context& ctx_;
  DumpPane* dump_;
  AnyAtaConsole console_;
  QGroupBox* group_ = nullptr;
  std::array<QLineEdit*, kConsoleEditCount> edits_{};
  QCheckBox* dataOut_ = nullptr;
  QPushButton* send_ = nullptr;
  QPushButton* abort_ = nullptr;
  bool lastOk_ = false;
  bool closing_ = false;
};

}  // namespace zorv::app
