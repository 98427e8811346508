#pragma once
// CTabMain: the engineering layout's tab control. It holds the pages in
// order (tab i shows page i) and only shows them: the pages live as long as
// the window. A selection change hides the page that was shown and shows the
// newly selected one, moved to the control's display area; QTabWidget's page
// stack does exactly that, and keeps every page sized to the display area
// when the window is resized.

#include <QTabWidget>

namespace zorv::app {

class CTabMain : public QTabWidget {
  Q_OBJECT
 public:
  explicit CTabMain(QWidget* parent = nullptr);

  int pageCount() const { return count(); }
  QWidget* page(int index) const { return widget(index); }
  // Appends a page as the last tab.
  int addPage(QWidget* page, const QString& title) { return addTab(page, title); }
};

}  // namespace zorv::app
