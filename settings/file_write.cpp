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

bool fail_with(const QSaveFile& out, QString* reason) {
    if (reason != nullptr) {
        *reason = out.errorString();
    }
    return false;
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
    // Unbuffered: QFileDevice would otherwise keep the data in its buffer, so that write()
    // succeeds whatever the disk holds, and Qt 5's commit() ignores a failure of the flush it
    // does on closing. A disk that fills up takes part of a write and refuses the rest with
    // its reason, so the rest is written again until all of it went or the reason is known;
    // on any failure the temporary file goes with the QSaveFile.
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return fail_with(out, reason);
    }
    for (qint64 done = 0; done < data.size();) {
        const qint64 n = out.write(data.constData() + done, data.size() - done);
        if (n <= 0) {
            return fail_with(out, reason);
        }
        done += n;
    }
    if (!out.commit()) {
        return fail_with(out, reason);
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
