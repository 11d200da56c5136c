#pragma once
// A window larger than the free area of its screen (a laptop at 150 %, a small screen):
// its content goes into a scroll area that appears only then, the window takes the free
// area's size and stays inside it, and every control can be scrolled to. A window that
// fits is left exactly as it was built.

class QScrollArea;
class QWidget;

// Called as the window is about to be shown (its showEvent), once its size is settled. A
// main window's central widget is what scrolls; any other window's child widgets move
// into the scrolled content at their positions. Returns the scroll area made, or null
// when the window fits.
QScrollArea *FitWindowToScreen(QWidget *window);
