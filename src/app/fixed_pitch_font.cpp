#include "app/fixed_pitch_font.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QStringList>

namespace zorv::app {

QFont fixedPitchFont(int pointSize) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  // The system's choice may resolve to a proportional face (an installed
  // font can take over the "monospace" alias).
  if (!QFontInfo(font).fixedPitch()) {
    for (const QString& family : QFontDatabase::families()) {
      if (QFontDatabase::isFixedPitch(family)) {
        font = QFont(family);
        break;
      }
    }
  }
  font.setStyleHint(QFont::Monospace);
  font.setFixedPitch(true);
  if (pointSize > 0) font.setPointSize(pointSize);
  return font;
}

}  // namespace zorv::app
