#include "Console.h"

#include <cerrno>

int WriteStream(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const qint64 n = WriteSome(fd, bytes.constData() + done, bytes.size() - done);
        if (n <= 0)
            return FailedWriteError(n < 0 ? errno : 0);
        done += n;
    }
    return 0;
}
