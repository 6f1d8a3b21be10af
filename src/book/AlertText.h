#pragma once

class QMessageBox;

namespace velmora {

// Alerts quote names, paths and file contents from outside. Left to guess, a label takes text
// with a tag before its first line break for rich text, and a value such as
// "<img width=3000 height=3000>" then stretches the alert far past the screen. Shows the box's
// text and informative text as they are written; call it once the informative text is set (the
// box makes that label only then, and leaves it guessing whatever the box's own format).
void showAlertTextAsWritten(QMessageBox &box);

} // namespace velmora
