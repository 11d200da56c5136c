#include "SimClient.h"

#include "modbus.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

SimClient::~SimClient()
{
    Close();
}

bool SimClient::Open(const std::string &path)
{
    Close();
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        return false;
    termios tio{};
    if (::tcgetattr(fd_, &tio) == 0) {
        ::cfmakeraw(&tio);
        tio.c_cflag |= CSTOPB | CLOCAL | CREAD;
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        ::tcsetattr(fd_, TCSANOW, &tio);
    }
    ::tcflush(fd_, TCIOFLUSH);
    return true;
}

void SimClient::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

bool SimClient::Send(const std::vector<uint8_t> &frame)
{
    if (fd_ < 0)
        return false;
    sentAt_ = std::chrono::steady_clock::now();
    const ssize_t n = ::write(fd_, frame.data(), frame.size());
    return n == ssize_t(frame.size());
}

std::vector<uint8_t> SimClient::Receive(size_t count, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    arrivals_.clear();
    hungUp_ = false;
    std::vector<uint8_t> got;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (fd_ >= 0 && got.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd fd{fd_, POLLIN, 0};
        const int ready = ::poll(&fd, 1, int(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        if (fd.revents & POLLIN) {
            uint8_t chunk[512];
            const ssize_t n = ::read(fd_, chunk, sizeof chunk);
            if (n > 0) {
                got.insert(got.end(), chunk, chunk + n);
                arrivals_.push_back({Clock::now(), std::vector<uint8_t>(chunk, chunk + n)});
                continue;
            }
            if (n < 0 && errno == EAGAIN)
                continue;
            hungUp_ = true;
            break;
        }
        if (fd.revents & (POLLHUP | POLLERR)) {
            hungUp_ = true;
            break;
        }
    }
    return got;
}

std::vector<uint8_t> SimClient::Transact(const std::vector<uint8_t> &frame, size_t count, int timeoutMs)
{
    if (!Send(frame))
        return {};
    return Receive(count, timeoutMs);
}

std::vector<uint8_t> WithDeviceCrc(std::vector<uint8_t> frame)
{
    const uint16_t crc = ModbusCrc16(frame.data(), uint16_t(frame.size()));
    frame.push_back(uint8_t(crc >> 8));
    frame.push_back(uint8_t(crc & 0xFF));
    return frame;
}

std::vector<uint8_t> SimRequest(uint8_t function, uint16_t first, uint16_t second, uint8_t address)
{
    return WithDeviceCrc({address, function, uint8_t(first >> 8), uint8_t(first & 0xFF), uint8_t(second >> 8),
                          uint8_t(second & 0xFF)});
}

double SimMs(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to)
{
    return std::chrono::duration<double, std::milli>(to - from).count();
}
