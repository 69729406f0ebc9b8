#include "core/session/image_copy.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace image_copy {

namespace {

constexpr qint64 kChunkBytes = 64 * 1024;

struct Descriptor {
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

ImageCopy CannotOpen(ImageCopy copy, const QString &path, int error)
{
    copy.failure = Failure::CannotOpen;
    copy.systemText = qt_error_string(error);
    copy.reason = QStringLiteral("%1: %2").arg(path, copy.systemText);
    return copy;
}

ImageCopy NotRegular(ImageCopy copy, const QString &path)
{
    copy.failure = Failure::NotRegular;
    copy.systemText = QCoreApplication::translate("ImageCopy", "Not a regular file");
    copy.reason = QCoreApplication::translate("ImageCopy", "%1 is not a regular file").arg(path);
    return copy;
}

ImageCopy TooLarge(ImageCopy copy, const image_check::Verdict &verdict, qint64 size)
{
    copy.failure = Failure::TooLarge;
    copy.verdict = verdict;
    copy.reason = verdict.reason;
    copy.size = size;
    return copy;
}

}  // namespace

ImageCopy Load(const QString &path, Hash hash)
{
    ImageCopy copy;
    if (path.isEmpty()) {
        copy.reason = QCoreApplication::translate("ImageCopy", "No file name was given.");
        return copy;
    }
    const QByteArray name = QFile::encodeName(path);

    // A FIFO would hold open() until a writer came; it is not even opened.
    struct stat found {};
    if (::stat(name.constData(), &found) != 0)
        return CannotOpen(copy, path, errno);
    if (!S_ISREG(found.st_mode))
        return NotRegular(copy, path);
    if (const image_check::Verdict bySize = image_check::CheckFileSize(found.st_size); !bySize.Accepted())
        return TooLarge(copy, bySize, found.st_size);

    // Non-blocking, and looked at again once open: the path may have been
    // replaced between the two calls.
    Descriptor file;
    do
        file.fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    while (file.fd < 0 && errno == EINTR);
    if (file.fd < 0)
        return CannotOpen(copy, path, errno);
    struct stat opened {};
    if (::fstat(file.fd, &opened) != 0)
        return CannotOpen(copy, path, errno);
    if (!S_ISREG(opened.st_mode))
        return NotRegular(copy, path);
    if (const image_check::Verdict bySize = image_check::CheckFileSize(opened.st_size); !bySize.Accepted())
        return TooLarge(copy, bySize, opened.st_size);

    // To its end, whatever the size said: a file being written may grow, but
    // not past the limit.
    QByteArray bytes;
    bytes.reserve(qsizetype(opened.st_size + kChunkBytes));
    qint64 filled = 0;
    for (;;) {
        bytes.resize(qsizetype(filled + kChunkBytes));
        const ssize_t got = ::read(file.fd, bytes.data() + filled, size_t(kChunkBytes));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return CannotOpen(copy, path, errno);
        if (got == 0)
            break;
        filled += got;
        if (const image_check::Verdict bySize = image_check::CheckFileSize(filled); !bySize.Accepted())
            return TooLarge(copy, bySize, filled);
    }
    bytes.truncate(qsizetype(filled));

    copy.failure = Failure::None;
    copy.size = bytes.size();
    if (hash == Hash::Yes)
        copy.sha256 = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    copy.bytes = std::move(bytes);
    return copy;
}

}  // namespace image_copy
