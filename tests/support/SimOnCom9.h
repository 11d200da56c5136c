#pragma once
// The Linux device simulator as the tests of the Windows build meet it (tests/win_sim.sh
// serves it and links the Wine prefix's COM9 to its pseudo-terminal), and the registry
// list of serial ports they add to.

#include <QString>

inline const QString SimPort = QStringLiteral("COM9");

// Adds a value to HKLM\HARDWARE\DEVICEMAP\SERIALCOMM naming port; false on failure.
bool AddSerialPortValue(const QString &valueName, const QString &port);
void RemoveSerialPortValue(const QString &valueName);

// Ends the simulator, as a device that goes away (win_sim.sh does it); false when no
// simulator was started for this test.
bool StopSimulator();

// CPU time this process has used, in seconds.
double ProcessCpuSeconds();
