#pragma once
// Waiting in a test without blocking the events it waits for: the test's thread processes
// events meanwhile and looks at the condition at least every 10 ms.

#include <functional>

// Processes events until cond() holds or timeoutMs has passed; returns cond().
bool WaitFor(const std::function<bool()> &cond, int timeoutMs = 5000);
// Processes events for ms milliseconds.
void Spin(int ms);
