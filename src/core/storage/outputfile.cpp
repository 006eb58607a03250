#include "core/storage/outputfile.h"

#include <QDir>
#include <QHash>
#include <QFileInfo>
#include <QSet>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <QSaveFile>
#endif

namespace pw {

namespace {

volatile std::sig_atomic_t stopRequested = 0;

std::mutex deferredMutex;
QSet<QString> deferredFolders;

WriteResult failure(WriteError error, int systemError = 0) { return {error, systemError, {}}; }

WriteResult fromErrno(int error)
{
    switch (error) {
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return failure(WriteError::NoSpace, error);
    case EACCES:
    case EPERM:
        return failure(WriteError::PermissionDenied, error);
    case EROFS:
        return failure(WriteError::ReadOnlyFileSystem, error);
    case EISDIR:
        return failure(WriteError::IsFolder, error);
    case ENOENT:
    case ENOTDIR:
        return failure(WriteError::NoFolder, error);
    default:
        return failure(WriteError::Failed, error);
    }
}

}  // namespace

QString writeErrorText(const WriteResult &result)
{
    switch (result.error) {
    case WriteError::None: return {};
    case WriteError::NoSpace: return QStringLiteral("no space left on the disk");
    case WriteError::ReadOnlyFile: return QStringLiteral("read-only file");
    case WriteError::PermissionDenied: return QStringLiteral("permission denied");
    case WriteError::IsFolder: return QStringLiteral("is a folder");
    case WriteError::NoFolder: return QStringLiteral("its folder does not exist");
    case WriteError::LinkNoFolder: return QStringLiteral("a link to %1, whose folder does not exist").arg(result.linkTarget);
    case WriteError::ReadOnlyFileSystem: return QStringLiteral("read-only file system");
    case WriteError::Interrupted: return QStringLiteral("interrupted");
    case WriteError::Failed: break;
    }
    return result.systemError ? QStringLiteral("could not be written (%1)").arg(QString::fromLocal8Bit(std::strerror(result.systemError)))
                              : QStringLiteral("could not be written");
}

void requestWriteStop() { stopRequested = 1; }

#ifdef Q_OS_UNIX

namespace {

// A named temporary is needed only to replace a file (and where the file system has no
// unnamed ones); its name tells which process made it, so a later run can remove one that a
// kill left behind.
const QString kTemporaryPrefix = QStringLiteral(".pixelwright-");

bool writeAll(int fd, const QByteArray &bytes, int *error)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = n < 0 ? errno : ENOSPC;
            return false;
        }
        done += n;
    }
    return true;
}

// Devices, terminals, FIFOs and what /dev and /proc name (/dev/stdout leads to whatever the
// shell opened) take the bytes as they are: replacing them would put a plain file in their place.
WriteResult writeThrough(const QByteArray &target, const QByteArray &bytes)
{
    const int fd = ::open(target.constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return fromErrno(errno);
    int error = 0;
    const bool written = writeAll(fd, bytes, &error);
    if (::close(fd) != 0 && written && errno != EINTR)
        return fromErrno(errno);
    return written ? WriteResult{} : fromErrno(error);
}

// Whether the file holds exactly `bytes`.
bool sameBytes(const QByteArray &path, const QByteArray &bytes)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    QByteArray held(bytes.size() + 1, Qt::Uninitialized);
    qsizetype got = 0;
    for (ssize_t n; got < held.size() && ((n = ::read(fd, held.data() + got, std::size_t(held.size() - got))) > 0 || (n < 0 && errno == EINTR));)
        got += n > 0 ? n : 0;
    ::close(fd);
    return got == bytes.size() && std::memcmp(held.constData(), bytes.constData(), std::size_t(got)) == 0;
}

// Removes the named temporaries of processes that no longer run, once per folder and run.
void removeStaleTemporaries(const QString &folder)
{
    static std::mutex mutex;
    static QSet<QString> cleaned;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (cleaned.contains(folder))
            return;
        cleaned.insert(folder);
    }
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return;
    while (const dirent *entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (!name.startsWith(kTemporaryPrefix) || !name.endsWith(QLatin1String(".tmp")))
            continue;
        bool number = false;
        const pid_t pid = pid_t(name.mid(kTemporaryPrefix.size()).section(QLatin1Char('-'), 0, 0).toLong(&number));
        if (!number || pid <= 0 || pid == ::getpid() || ::kill(pid, 0) == 0 || errno != ESRCH)
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid())
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

// Links the unnamed temporary `fd` under `name`: by its descriptor where the process may
// (root may; it is the quicker call), else through /proc, as any user may.
int linkUnnamed(int fd, const QByteArray &name)
{
#ifdef AT_EMPTY_PATH
    if (::linkat(fd, "", AT_FDCWD, name.constData(), AT_EMPTY_PATH) == 0)
        return 0;
    if (errno != ENOENT && errno != EPERM)
        return -1;
#endif
    const QByteArray fdPath = "/proc/self/fd/" + QByteArray::number(fd);
    return ::linkat(AT_FDCWD, fdPath.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW);
}

// Every signal held off for the calling thread while it lives; then the mask as it was, on
// every way out.
struct SignalsHeldOff {
    sigset_t previous;
    SignalsHeldOff()
    {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &previous);
    }
    ~SignalsHeldOff() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }
    SignalsHeldOff(const SignalsHeldOff &) = delete;
    SignalsHeldOff &operator=(const SignalsHeldOff &) = delete;
};

// Puts the finished temporary in place: a new name is linked straight to it; an existing file
// is replaced by a rename from a named link. Nothing can stop the rename once the link is made:
// signals are held off meanwhile, and a kill -9 taking effect right after the link (the one
// moment a name exists) leaves a name the next run into this folder removes.
WriteResult putInPlace(int fd, const QByteArray &tempPath, const QByteArray &target, bool replacing)
{
    if (!replacing && tempPath.isEmpty()) {
        if (linkUnnamed(fd, target) == 0)
            return {};
        if (errno != EEXIST)
            return fromErrno(errno);
    }
    static std::atomic<int> counter{0};
    QByteArray temporary = tempPath;
    const SignalsHeldOff held;
    if (temporary.isEmpty()) {
        const QByteArray folder = QFile::encodeName(QFileInfo(QFile::decodeName(target)).absolutePath());
        temporary = folder + '/' + QFile::encodeName(kTemporaryPrefix) + QByteArray::number(::getpid()) + '-'
                    + QByteArray::number(++counter) + ".tmp";
        if (linkUnnamed(fd, temporary) != 0)
            return fromErrno(errno);
    }
    WriteResult result;
    if (::rename(temporary.constData(), target.constData()) != 0) {
        result = fromErrno(errno);
        ::unlink(temporary.constData());
    }
    return result;
}

// After one file, its folder's entry; after a batch, everything written to the file system
// at once (one flush instead of one a file).
void syncFolder(const QString &folder, bool wholeFileSystem)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
#ifdef Q_OS_LINUX
    if (wholeFileSystem)
        ::syncfs(fd);
    else
#endif
        ::fsync(fd);
    ::close(fd);
}

// Paths that lead into /proc (/dev/stdout, /dev/fd/3) name whatever a process has open.
bool leadsIntoProc(const QString &absolute, const QString &path)
{
    return absolute.startsWith(QLatin1String("/proc/")) || absolute.startsWith(QLatin1String("/dev/fd/"))
           || QFileInfo(path).symLinkTarget().startsWith(QLatin1String("/proc/"));
}

}  // namespace

// A link to a file not there yet: the file is created where the links lead, whole as any
// other, once its folder is there (as a copy creates it); the link stays as it is.
static WriteResult writeThroughLink(const QString &path, const QByteArray &bytes, const WriteOptions &options)
{
    QString target = path;
    for (int links = 0; QFileInfo(target).isSymLink(); ++links) {
        if (links == 40)
            return failure(WriteError::Failed, ELOOP);
        target = QFileInfo(target).symLinkTarget();
    }
    if (!QFileInfo(target).absoluteDir().exists()) {
        WriteResult result = failure(WriteError::LinkNoFolder);
        result.linkTarget = target;
        return result;
    }
    return writeOutputFile(target, bytes, options);
}

// Unnamed where the file system allows it: nothing can be left behind before it is put in place.
// Otherwise a named temporary in the folder, its path in `tempPath`.
static WriteResult openTemporary(const QByteArray &folderName, QByteArray &tempPath, int &fd)
{
#ifdef O_TMPFILE
    fd = ::open(folderName.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT)
        return fromErrno(errno);
#endif
    if (fd < 0) {
        static std::atomic<int> counter{0};
        tempPath = folderName + '/' + QFile::encodeName(kTemporaryPrefix) + QByteArray::number(::getpid()) + '-'
                   + QByteArray::number(++counter) + ".tmp";
        fd = ::open(tempPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0)
            return fromErrno(errno);
    }
    return {};
}

// The bytes into the open temporary, then the temporary in place of the target; `replaced` is
// the file it replaces, if any. A temporary that is not put in place is removed.
static WriteResult writeTemporary(int fd, const QByteArray &tempPath, const QByteArray &targetName, const QByteArray &bytes,
                                  const struct stat *replaced, const WriteOptions &options)
{
    int error = 0;
    bool ok = writeAll(fd, bytes, &error);
    if (ok && replaced) {
        const struct stat &st = *replaced;
        // The replaced file's permissions, and its owner where this process may set it.
        if (::fchmod(fd, st.st_mode & 07777) != 0)
            ok = false, error = errno;
        else if (::fchown(fd, st.st_uid, st.st_gid) != 0 && ::fchown(fd, uid_t(-1), st.st_gid) != 0)
            ::fchmod(fd, st.st_mode & 0777);  // no set-id bits on a file another user now owns
    }
    if (ok && !options.deferSync && ::fdatasync(fd) != 0)
        ok = false, error = errno;
    WriteResult result = ok ? WriteResult{} : fromErrno(error);
    if (ok && stopRequested)
        result = failure(WriteError::Interrupted);
    if (result.ok())
        result = putInPlace(fd, tempPath, targetName, replaced != nullptr);
    else if (!tempPath.isEmpty())
        ::unlink(tempPath.constData());
    return result;
}

WriteResult writeOutputFile(const QString &path, const QByteArray &bytes, const WriteOptions &options)
{
    const QByteArray given = QFile::encodeName(path);
    struct stat st {};
    const bool exists = ::stat(given.constData(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        return failure(WriteError::IsFolder);
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if ((exists && !S_ISREG(st.st_mode)) || leadsIntoProc(absolute, path))
        return writeThrough(given, bytes);
    struct stat link {};
    if (!exists && ::lstat(given.constData(), &link) == 0 && S_ISLNK(link.st_mode))
        return writeThroughLink(path, bytes, options);

    // The file itself, wherever links lead: the links stay as they are.
    const QString target = exists ? QFileInfo(path).canonicalFilePath() : absolute;
    const QByteArray targetName = QFile::encodeName(target);
    if (exists) {
        if (options.refuseReadOnly && (st.st_mode & 0222) == 0)
            return failure(WriteError::ReadOnlyFile);
        if (::access(targetName.constData(), W_OK) != 0)
            return fromErrno(errno);
    }
    // The same bytes already there (a batch run again): only the time is renewed, so that
    // nothing is ever named or replaced for it and tools that go by times see it written.
    if (exists && st.st_size == bytes.size() && sameBytes(targetName, bytes))
        return ::utimensat(AT_FDCWD, targetName.constData(), nullptr, 0) == 0 ? WriteResult{} : fromErrno(errno);
    const QString folder = QFileInfo(target).absolutePath();
    const QByteArray folderName = QFile::encodeName(folder);
    struct stat folderStat {};
    if (::stat(folderName.constData(), &folderStat) != 0 || !S_ISDIR(folderStat.st_mode))
        return failure(WriteError::NoFolder);
    removeStaleTemporaries(folder);

    QByteArray tempPath;
    int fd = -1;
    if (WriteResult opened = openTemporary(folderName, tempPath, fd); !opened.ok())
        return opened;
    const WriteResult result = writeTemporary(fd, tempPath, targetName, bytes, exists ? &st : nullptr, options);
    ::close(fd);
    if (result.ok()) {
        if (options.deferSync) {
            const std::lock_guard<std::mutex> lock(deferredMutex);
            deferredFolders.insert(folder);
        } else {
            syncFolder(folder, false);
        }
    }
    return result;
}

void syncDeferredWrites()
{
    QSet<QString> folders;
    {
        const std::lock_guard<std::mutex> lock(deferredMutex);
        folders.swap(deferredFolders);
    }
    for (const QString &folder : std::as_const(folders))
        syncFolder(folder, true);
}

FileIdentity fileIdentity(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {quint64(st.st_dev), quint64(st.st_ino), true};
}

#else

WriteResult writeOutputFile(const QString &path, const QByteArray &bytes, const WriteOptions &options)
{
    Q_UNUSED(options);
    const QFileInfo info(path);
    if (info.isDir())
        return failure(WriteError::IsFolder);
    if (!info.absoluteDir().exists())
        return failure(WriteError::NoFolder);
    if (info.exists() && !info.isWritable())
        return failure(WriteError::ReadOnlyFile);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return failure(WriteError::PermissionDenied);
    // QSaveFile buffers small writes, and commit() does not notice when the flush inside it
    // runs out of space: push every byte out first.
    if (file.write(bytes) != bytes.size() || !file.flush() || file.error() != QFileDevice::NoError) {
        file.cancelWriting();
        return failure(WriteError::NoSpace);
    }
    if (stopRequested) {
        file.cancelWriting();
        return failure(WriteError::Interrupted);
    }
    return file.commit() ? WriteResult{} : failure(WriteError::Failed);
}

void syncDeferredWrites() {}

FileIdentity fileIdentity(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath().toLower();
    if (canonical.isEmpty())
        return {};
    return {0, quint64(qHash(canonical)), true};
}

#endif

}  // namespace pw
