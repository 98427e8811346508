#pragma once
// CEditBufDlg: the buffer editor. 512 bytes of SectorBuffer as a 32 x 16
// grid of hexadecimal cells; "Enter" writes the grid back, "Save" fills a
// byte range with one value. Enter and Esc do not close it; "Quit" does.

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include "identify/buffer_editor.h"
#include "transport/context.h"

namespace zorv::app {

class CEditBufDlg : public QDialog {
  Q_OBJECT
 public:
  // dump, when given, is refreshed after the buffer changes.
  CEditBufDlg(Context& ctx, DumpPane* dump, QWidget* parent = nullptr);

  BufferEditor& editor() { return editor_; }
  QTableWidget* grid() const { return grid_; }
  QLineEdit* startEdit() const { return start_; }
  QLineEdit* endEdit() const { return end_; }
  QLineEdit* valueEdit() const { return value_; }
  QPushButton* saveButton() const { return save_; }
  QPushButton* enterButton() const { return enter_; }
  QPushButton* quitButton() const { return quit_; }

 public Q_SLOTS:
  void onStartEdited(const QString& text);
  void onEnter();
  void onSave();

 protected:
  // Enter and Esc are ignored (they do not close the editor).
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void showGrid();

  Context& ctx_;
  DumpPane* dump_;
  BufferEditor editor_;
  QTableWidget* grid_;
  QLineEdit* start_;
  QLineEdit* end_;
  QLineEdit* value_;
  QPushButton* save_;
  QPushButton* enter_;
  QPushButton* quit_;
};

}  // namespace zorv::app
