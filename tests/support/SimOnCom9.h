#pragma once
// The Linux device simulator as the tests of the Windows build meet it (tests/win_sim.sh
// serves it and links the Wine prefix's COM9 to its pseudo-terminal), and the registry
// list of serial ports they add to.

#include <QString>

inline const QString SimPort = QStringLiteral("COM9");

// Adds a value to HKLM\HARDWARE\DEVICEMAP\SERIALCOMM naming port; false on failure.
bool AddSerialPortValue(const QString &valueName, const QString &port);
void RemoveSerialPortValue(const QString &valueName);

// Ends the simulator, as a device that goes away; false when no simulator was started for
// this test.
bool StopSimulator();

// Has a Linux program hold the simulator's port exclusively, as another program on the
// computer would, and waits until it does; false when it cannot be had.
bool HoldPortElsewhere();
// Lets the port go again, and waits until it is free.
void ReleasePortElsewhere();

// Whether this runs under Wine rather than Windows.
bool RunningUnderWine();

// The share of a core that this process uses while it runs its events for ms milliseconds
// (logged).
double CpuShareOver(int ms);
