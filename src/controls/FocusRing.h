#pragma once

#include <QPainter>
#include <QRect>

// The ring that shows which of the window's own controls has the keyboard focus: a light line
// with a dark line inside it, so that one of the two stands out on the dark background picture,
// on its lighter band and on the button faces (normal or grey) alike.
void drawFocusRing(QPainter& painter, const QRect& area);

// Whether a control shows its ring after the focus came to it for this reason: it does when the
// keyboard brought it (Tab, Shift+Tab, a shortcut, or the focus passed on from a control that was
// disabled), not after a click; any other reason (the window coming back to the front) keeps
// what it showed before.
bool showsFocusRingAfter(Qt::FocusReason reason, bool showedBefore);
