#pragma once
// What the program is known by to the user and the desktop: the title of its message boxes,
// its desktop entry and the icon its windows carry.

// Sets all of them on the application object; called once, right after it is made.
void SetProgramIdentity();
