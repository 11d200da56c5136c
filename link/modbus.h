#pragma once
// Frames of the device protocol, the CRC (sent HIGH byte first) and the rules by
// which a receive handler judges the shared answer buffer.

#include <array>
#include <cstdint>

constexpr uint8_t DeviceAddress = 10;

// CRC-16 of the device (reflected 0xA001, start 0xFFFF, no final xor).
uint16_t ModbusCrc16(const uint8_t *data, uint16_t count);
// One byte step of the CRC.
uint16_t ModbusCrcStep(uint16_t crc, uint8_t byte);

// 8-byte request: address 10, function, first field, second field, CRC high, CRC low.
std::array<uint8_t, 8> BuildShortRequest(uint8_t function, uint16_t first, uint16_t second);
// 115-byte function-16 request carrying the 106 data bytes of registers 0..52.
std::array<uint8_t, 115> BuildConfigWriteRequest(const std::array<uint8_t, 106> &registers);

// Appends bytes to ReceiveBuffer at ReceiveLength; bytes beyond the buffer's capacity are
// dropped but still counted, so such an answer can no longer become complete.
void AppendToReceiveBuffer(const uint8_t *data, int count);
// Empties the buffer as a sender does before it sends (ReceiveLength 0, bytes 0..2 cleared).
void ClearReceiveBuffer();

// Completeness rule of the mode windows.
bool ModeAnswerComplete();
// Length of the answer in ReceiveBuffer by that rule (8 for an echo, byte count + 5 for a
// read answer), at most the bytes held: what a step may read once the answer was found
// complete. Bytes that arrived after it (noise, stray bytes) lie behind this length.
int32_t ModeAnswerLength();
// Completeness rule of the main window, keyed on ExchangeState (ExchangeWriteSent:
// the write's 8-byte echo awaited).
bool MainAnswerComplete(int32_t exchangeState);
// CRC check of a complete answer in ReceiveBuffer (received high byte first).
bool AnswerCrcGood();
