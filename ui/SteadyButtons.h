#pragma once
// Default push buttons drawn steady. The Windows style makes the default button of the
// active window pulse: it draws the button anew about 30 times a second for as long as the
// window stays active and the pointer off the button, which costs a polling mode window
// several times its own work. The style draws the pulse's first frame in the default
// button's own look; the pulse ends there, and the button keeps that look.

class QWidget;

// Keeps the push buttons that window holds now steady.
void KeepDefaultButtonsSteady(QWidget *window);
