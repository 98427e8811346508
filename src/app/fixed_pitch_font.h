#pragma once
// The font of message panes, hex dumps, register edits and tables: one with
// characters of equal width, so that columns of hexadecimal line up.

#include <QFont>

namespace zorv::app {

// A fixed-pitch font at pointSize (unchanged when not positive). The
// system's fixed font is taken when it really is fixed pitch; otherwise the
// first family the font database knows as fixed pitch. Either way the font
// asks for fixed pitch and the monospace style hint, so that what the
// machine substitutes is fixed pitch too.
QFont fixedPitchFont(int pointSize = -1);

}  // namespace zorv::app
