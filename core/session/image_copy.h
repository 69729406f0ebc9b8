#pragma once
// A firmware image file read once, whole, into memory. The update checks,
// describes, hashes and sends this copy only, so a file truncated or
// overwritten on disk during a transfer cannot reach the reader mixed, and
// the journal's hash is that of the bytes that were sent.

#include <QByteArray>
#include <QString>

#include "core/protocol/image_check.h"

namespace image_copy {

enum class Failure {
    None,        // read whole: bytes, size and sha256 are set
    NoName,      // no file name was given
    CannotOpen,  // the system refused it (missing, no permission, ...)
    NotRegular,  // a FIFO, a folder, a device or a socket
    TooLarge,    // larger than any image could be; not read (verdict says so)
};

struct ImageCopy {
    Failure failure = Failure::NoName;
    // The system's words for a file that could not be opened, as shown under its name.
    QString systemText;
    // Why the file is not read, in plain words that name it; empty when read.
    QString reason;
    // TooLarge: the size rule's verdict.
    image_check::Verdict verdict;
    QByteArray bytes;
    // The file's size: that of bytes once read, the system's for a file too large.
    qint64 size = 0;
    QString sha256;  // of bytes, lower-case hex; empty unless read

    bool Read() const { return failure == Failure::None; }
};

// Whether the copy's SHA-256 is taken: a window that only looks at a chosen
// file need not spend a second on it.
enum class Hash { Yes, No };

// Reads path without ever blocking on it: only a regular file is opened, and
// one that is too large is refused from its size.
ImageCopy Load(const QString &path, Hash hash = Hash::Yes);

}  // namespace image_copy
