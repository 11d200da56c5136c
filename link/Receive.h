#pragma once
// The one way a receive handler moves the bytes of a receive event into the shared
// answer buffer.

class TCustomComPort;

// Reads count queued bytes from port, in pieces of at most the buffer's size, and appends
// them to ReceiveBuffer (bytes beyond its capacity are counted and dropped). Stops early
// when the port yields nothing.
void CollectReceivedBytes(TCustomComPort &port, int count);
