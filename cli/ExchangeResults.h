#pragma once
// The companion's words (English) for how an exchange with the device ended: the engine
// reports the outcome as a structured result.

#include "Transaction.h"

#include <QString>

#include <cstdint>

// The name of a Modbus exception code ("illegal data address").
QString ModbusExceptionName(uint8_t code);
// What went wrong, for a message, saying whether the request was sent: "no answer within
// 1000 ms (3 attempts)", "the device answered with exception 2 (illegal data address)",
// "the line is never quiet: ..., so the request was not sent". interruptedBy names what
// ended an Interrupted exchange ("Ctrl+C").
QString ExchangeResultText(const TExchangeResult &result, int timeoutMs, const QString &interruptedBy = {});
// A line of the frame trace: "    12.3 ms -> 0A 03 00 00 00 26 C4 A3", with what the engine
// noted of the frame in brackets ("  (bad CRC, 2 more bytes after it)").
QString TraceFrameText(const TTraceFrame &frame);
