#pragma once
// The drive list as a drop-down list. Enumeration may run on any thread; the
// combo box is always changed on the GUI thread. userSelected is emitted only
// when the person picks a line, never when enumeration selects one.

#include <QComboBox>
#include <QObject>
#include <QPointer>

#include "discovery/drive_list.h"

namespace zorv::app {

class QtDriveList : public QObject, public DriveListView {
  Q_OBJECT
 public:
  explicit QtDriveList(QComboBox* combo, QObject* parent = nullptr);

  void clear() override;
  void insertLine(int position, const std::string& line) override;
  int count() const override;
  std::string line(int index) const override;
  void select(int index) override;
  int currentSelection() const override;
  void setEnabled(bool enabled) override;
  bool isEnabled() const override;
  void takeFocus() override;

  QComboBox* widget() const { return combo_; }

 Q_SIGNALS:
  void userSelected(int index);

 private:
  QPointer<QComboBox> combo_;
};

}  // namespace zorv::app
