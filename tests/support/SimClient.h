#pragma once
// A plain POSIX client of the device stand-in for tests: opens the pty behind a link raw
// at 9600 8N2, sends frames and collects what comes back, with arrival times.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

struct SimArrival {
    std::chrono::steady_clock::time_point Time;
    std::vector<uint8_t> Bytes;
};

class SimClient {
public:
    SimClient() = default;
    ~SimClient();
    SimClient(const SimClient &) = delete;
    SimClient &operator=(const SimClient &) = delete;

    bool Open(const std::string &path);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

    // Writes the frame; remembers when it went out.
    bool Send(const std::vector<uint8_t> &frame);
    std::chrono::steady_clock::time_point SentAt() const { return sentAt_; }

    // Reads until count bytes have come or timeoutMs has passed since the call.
    std::vector<uint8_t> Receive(size_t count, int timeoutMs);
    // Reads whatever arrives during windowMs.
    std::vector<uint8_t> ReceiveFor(int windowMs) { return Receive(SIZE_MAX, windowMs); }
    // The pieces of the last Receive with the time each arrived.
    const std::vector<SimArrival> &Arrivals() const { return arrivals_; }
    // True when the last Receive saw the line hang up (read gave 0 or an error, or POLLHUP).
    bool HungUp() const { return hungUp_; }

    // Send, then Receive(count, timeoutMs).
    std::vector<uint8_t> Transact(const std::vector<uint8_t> &frame, size_t count, int timeoutMs = 1000);

private:
    int fd_ = -1;
    std::chrono::steady_clock::time_point sentAt_;
    std::vector<SimArrival> arrivals_;
    bool hungUp_ = false;
};

// An 8-byte request with the device's CRC order (high byte first).
std::vector<uint8_t> SimRequest(uint8_t function, uint16_t first, uint16_t second, uint8_t address = 10);
// Appends the CRC high byte first.
std::vector<uint8_t> WithDeviceCrc(std::vector<uint8_t> frame);
// Milliseconds between two instants.
double SimMs(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to);
