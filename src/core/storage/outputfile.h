#pragma once

#include <QByteArray>
#include <QString>

namespace pw {

enum class WriteError {
    None,
    NoSpace,             // the disk (or the user's quota) is full
    ReadOnlyFile,        // the file exists and nobody may write it (no write permission bit)
    PermissionDenied,    // this user may not write the file or its folder
    IsFolder,
    NoFolder,            // the folder it would go in does not exist
    LinkNoFolder,        // a link leads to a file whose folder does not exist
    ReadOnlyFileSystem,
    Interrupted,         // stopped by requestWriteStop() before the file was put in place
    Failed,              // anything else; `systemError` says what
};

struct WriteResult {
    WriteError error = WriteError::None;
    int systemError = 0;
    QString linkTarget;  // LinkNoFolder: where the link leads

    bool ok() const { return error == WriteError::None; }
};

// Why, in words: "no space left on the disk", "read-only file", "permission denied",
// "is a folder", ...
QString writeErrorText(const WriteResult &result);

struct WriteOptions {
    // Leaves the flush to disk to syncDeferredWrites(), once at the end of a batch: a flush a
    // file costs seconds over a thousand files. The file is still put in place whole.
    bool deferSync = false;
    // Refuses a file that has no write permission bit at all, even where this user could
    // write it anyway (root), as a careful copy does. Off: only what the system allows counts.
    bool refuseReadOnly = true;
};

// The one way files are written. A new or regular file is written whole into an unnamed
// temporary in its folder and only then put in place under its name, so that a crash, a kill
// or a full disk never leaves a truncated file or a stray temporary where a good file was; a
// replaced file keeps its permissions and, where this process may set them, its owner. A
// path that names no regular file (a device such as /dev/null, a terminal, a FIFO, or what a
// path into /proc leads to, as /dev/stdout does) is written through, never replaced. A symbolic link is followed: the
// file it leads to is replaced, the link stays; a link to a file not there yet creates it.
WriteResult writeOutputFile(const QString &path, const QByteArray &bytes, const WriteOptions &options = {});

// Flushes to disk every folder written with deferSync since the last call.
void syncDeferredWrites();

// From a signal handler (async-signal-safe): a write still in progress stops before its file
// is put in place, and leaves nothing behind.
void requestWriteStop();

// Which file a path names, following links: two paths name the same file when their
// identities are equal (another spelling, a symbolic or a hard link).
struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;
    bool valid = false;

    bool operator==(const FileIdentity &other) const
    {
        return valid && other.valid && device == other.device && inode == other.inode;
    }
};
FileIdentity fileIdentity(const QString &path);

}  // namespace pw
