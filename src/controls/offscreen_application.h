#pragma once
// Charts are widgets: drawing one needs an application object, and zorvctl
// has neither one nor a display. While an OffscreenApplication lives there is
// an application (the program's own, or one made here on the offscreen
// platform), and the offscreen platform's notices (no runtime directory, no
// window manager) are kept from the person who only asked for a file.

#include <QApplication>
#include <QtGlobal>

#include <memory>

namespace zorv::controls {

class OffscreenApplication {
 public:
  OffscreenApplication();
  ~OffscreenApplication();
  OffscreenApplication(const OffscreenApplication&) = delete;
  OffscreenApplication& operator=(const OffscreenApplication&) = delete;

 private:
  QtMessageHandler previous_ = nullptr;
  std::unique_ptr<QApplication> own_;
};

}  // namespace zorv::controls
