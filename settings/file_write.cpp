#include "settings/file_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QSaveFile>
#include <cerrno>
#include <cstring>

namespace {

bool fail(int err, QString* reason) {
    if (reason != nullptr) {
        *reason = QString::fromLocal8Bit(std::strerror(err));
    }
    return false;
}

// A device or a pipe takes the bytes as they come: written in place, in as many writes as
// it accepts.
bool write_in_place(const QByteArray& local, const QByteArray& data, QString* reason) {
    const int fd = ::open(local.constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return fail(errno, reason);
    }
    const char* next = data.constData();
    size_t left = static_cast<size_t>(data.size());
    while (left > 0) {
        const ssize_t n = ::write(fd, next, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int err = n < 0 ? errno : EIO;
            ::close(fd);
            return fail(err, reason);
        }
        next += n;
        left -= static_cast<size_t>(n);
    }
    if (::close(fd) != 0) {
        return fail(errno, reason);
    }
    return true;
}

}  // namespace

bool write_file_whole(const QString& path, const QByteArray& data, QString* reason) {
    const QByteArray local = QFile::encodeName(path);
    struct stat st {};
    if (::stat(local.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            return fail(EISDIR, reason);
        }
        if (!S_ISREG(st.st_mode)) {
            return write_in_place(local, data, reason);
        }
    }
    // QFileDevice keeps small writes in its buffer, so write() succeeds whatever the disk
    // holds, and Qt 5's commit() ignores a failure of the flush it does on closing: the
    // buffer is flushed here, where its failure is seen, and the temporary file then goes
    // with the QSaveFile.
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size() || !out.flush() ||
        !out.commit()) {
        if (reason != nullptr) {
            *reason = out.errorString();
        }
        return false;
    }
    return true;
}

bool write_stream_whole(FILE* stream, const QByteArray& data, QString* reason) {
    errno = 0;
    const size_t size = static_cast<size_t>(data.size());
    if (std::fwrite(data.constData(), 1, size, stream) != size || std::fflush(stream) != 0) {
        return fail(errno != 0 ? errno : EIO, reason);
    }
    return true;
}
