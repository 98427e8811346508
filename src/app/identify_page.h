#pragma once
// CIdentify: the identify page. "Identify" shows the selected drive's 256
// IDENTIFY words as 97 described fields and saves them to
// "Identify_<model>_<serial>.bin"; "Compare Binary" shows two saved files side
// by side and lists the differing fields in a drop-down that jumps to them.

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QWidget>

#include "app/page_registry.h"
#include "identify/identify_view.h"

namespace zorv::app {

class CIdentify : public QWidget {
  Q_OBJECT
 public:
  // "Identify" runs through runner, which holds the drive while it runs.
  CIdentify(Context& ctx, UserInterface& ui, OperationRunner& runner, QWidget* parent = nullptr);

  IdentifyView& view() { return view_; }
  QTableWidget* list() const { return list_; }
  QComboBox* differences() const { return differences_; }
  QPushButton* identifyButton() const { return identify_; }
  QPushButton* compareButton() const { return compare_; }
  // Why the list is empty or what is wrong with the data it shows; hidden
  // when there is nothing to say.
  QLabel* notice() const { return notice_; }

 public Q_SLOTS:
  void onIdentify();
  void onCompareBinary();
  void onDifferenceChosen(int index);

 private:
  void showRows(bool compare);
  void showNotice(const std::string& text);

  Context& ctx_;
  UserInterface& ui_;
  OperationRunner& runner_;
  IdentifyView view_;
  QPushButton* identify_;
  QPushButton* compare_;
  QComboBox* differences_;
  QTableWidget* list_;
  QLabel* notice_;
};

}  // namespace zorv::app
