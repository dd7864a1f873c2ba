#pragma once
// Screen readers announce a top-level window only when its accessible role is a window (frame);
// a plain QWidget reports "filler" and a QDialog "dialog". A widget marked here reports the role
// of a window, and the state active while it has the keyboard.

class QWidget;

namespace fw::qt {

void MarkAsWindow(QWidget& widget);

}  // namespace fw::qt
