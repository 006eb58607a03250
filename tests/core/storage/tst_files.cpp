// Files: which names are BIN files (the window's rule and the command line's differ, and users
// of each rely on theirs), and what writing one leaves behind in the writer.
#include "core/storage/files.h"
#include "core/storage/outputfile.h"

#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace pw;

// The system calls the writer makes, each made to fail once on request with a chosen errno:
// these definitions stand in front of the C library's for the whole test program, and pass
// every call through while nothing is asked of them. (A disk that fills up or a file system
// that refuses a rename cannot be had on demand.)
namespace {
QHash<QByteArray, int> faults;  // call name -> errno of its next call
constexpr int kShortWrite = -1;  // for write: no error, but only part of the bytes taken
constexpr int kOneByteWrite = -2;  // for write: no error, one byte taken
int takeFault(const char *call) { return faults.take(call); }
template <typename Fn> Fn realCall(const char *name) { return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name)); }
}  // namespace

#define PW_FAULT(name, ...)                          \
    if (const int error = takeFault(#name)) {        \
        errno = error;                               \
        return -1;                                   \
    }                                                \
    static const auto real = realCall<decltype(&name)>(#name); \
    return real(__VA_ARGS__);

extern "C" {
ssize_t write(int fd, const void *bytes, size_t n)
{
    if (faults.value("write") == kShortWrite)  // takes only the first half, as a pipe or a signal may
        faults.remove("write"), n = (n + 1) / 2;
    else if (faults.value("write") == kOneByteWrite)
        faults.remove("write"), n = 1;
    PW_FAULT(write, fd, bytes, n)
}
int close(int fd) { PW_FAULT(close, fd) }
int fdatasync(int fd) { PW_FAULT(fdatasync, fd) }
int fchmod(int fd, mode_t mode) __THROW { PW_FAULT(fchmod, fd, mode) }
sigset_t maskAtRename;  // the signals held off when the last rename was made
int rename(const char *from, const char *to) __THROW
{
    pthread_sigmask(SIG_SETMASK, nullptr, &maskAtRename);
    PW_FAULT(rename, from, to)
}
int linkat(int fromDir, const char *from, int toDir, const char *to, int flags) __THROW { PW_FAULT(linkat, fromDir, from, toDir, to, flags) }
int utimensat(int dir, const char *path, const struct timespec times[2], int flags) __THROW { PW_FAULT(utimensat, dir, path, times, flags) }
int open(const char *path, int flags, ...)
{
    mode_t mode = 0;
    if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list rest;
        va_start(rest, flags);
        mode = va_arg(rest, mode_t);
        va_end(rest);
    }
    PW_FAULT(open, path, flags, mode)
}
}

class TstFiles : public QObject {
    Q_OBJECT
private slots:
    void binFileNames()
    {
        const QStringList names{"logo.bin", "LOGO.BIN", "logo.Bin", "logo.bIN", "logoBIN", "cabin", "bin", "logo.bin.png", ""};
        const QStringList windowTakes{"logo.bin", "LOGO.BIN", "logoBIN", "cabin", "bin"};
        const QStringList commandLineTakes{"logo.bin", "LOGO.BIN", "logo.Bin", "logo.bIN"};
        for (const QString &name : names) {
            QVERIFY2(isBinFileName(name, BinNameRule::Window) == windowTakes.contains(name), qPrintable(name));
            QVERIFY2(isBinFileName(name, BinNameRule::CommandLine) == commandLineTakes.contains(name), qPrintable(name));
        }
    }

    // Signals are held off while a file is put in place, and only then: after any write,
    // done or failed, Ctrl-C reaches the program again.
    void writesGiveSignalsBack()
    {
        QTemporaryDir dir;
        const QString existing = dir.filePath("existing.bin");
        QVERIFY(writeOutputFile(existing, "old").ok());
        const struct {
            QString path;
            bool written;
        } writes[] = {
            {dir.filePath("new.bin"), true},
            {existing, true},
            {dir.filePath("none/new.bin"), false},
            {dir.path(), false},
        };
        sigset_t before;
        QCOMPARE(pthread_sigmask(SIG_SETMASK, nullptr, &before), 0);
        for (const auto &w : writes) {
            sigemptyset(&maskAtRename);
            QCOMPARE(writeOutputFile(w.path, "bytes").ok(), w.written);
            if (w.path == existing)  // a replaced file is put in place with every signal held off
                for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1})
                    QVERIFY2(sigismember(&maskAtRename, signal) == 1, qPrintable(QString::number(signal)));
            sigset_t after;
            QCOMPARE(pthread_sigmask(SIG_SETMASK, nullptr, &after), 0);
            for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1})
                QVERIFY2(sigismember(&after, signal) == sigismember(&before, signal), qPrintable(w.path));
        }
    }

    // Started with standard input closed (as from a service), the temporary may be given fd 0:
    // it is a temporary as any other, written, put in place and closed.
    void writesWithStandardInputClosed()
    {
        QTemporaryDir dir;
        QVERIFY(writeOutputFile(dir.filePath("out.bin"), "old").ok());
        const int saved = ::dup(STDIN_FILENO);
        QVERIFY(saved > STDIN_FILENO && ::close(STDIN_FILENO) == 0);
        const bool ok = writeOutputFile(dir.filePath("out.bin"), "bytes").ok();
        const bool leftOpen = ::fcntl(STDIN_FILENO, F_GETFD) != -1;
        QVERIFY(::dup2(saved, STDIN_FILENO) == STDIN_FILENO && ::close(saved) == 0);
        QVERIFY(ok);
        QVERIFY(!leftOpen);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"out.bin"});
        QFile out(dir.filePath("out.bin"));
        QVERIFY(out.open(QIODevice::ReadOnly));
        QCOMPARE(out.readAll(), QByteArray("bytes"));
    }

    // A chain of links to a file not there yet is followed as far as the system would follow
    // one (40 links): the file comes where the chain ends and the links stay links.
    void chainOfLinksToANewFile()
    {
        for (const int length : {1, 40, 41}) {
            QTemporaryDir dir;
            QVERIFY(QDir(dir.path()).mkdir("made"));
            for (int i = 0; i < length; ++i)
                QVERIFY(QFile::link(i + 1 < length ? QString("l%1").arg(i + 1) : QString("made/end.bin"), dir.filePath(QString("l%1").arg(i))));
            const WriteResult result = writeOutputFile(dir.filePath("l0"), "bytes");
            QCOMPARE(result.ok(), length <= 40);
            QCOMPARE(result.systemError, length <= 40 ? 0 : ELOOP);
            QCOMPARE(QFileInfo::exists(dir.filePath("made/end.bin")), length <= 40);
            QVERIFY(QFileInfo(dir.filePath("l0")).isSymLink());
        }
    }

    // A call that fails on the way: the error in words, the old file (or none) as it was, and
    // no temporary left in the folder. An unnamed temporary that the file system does not
    // offer is a named one, put in place as well.
    void failingCallsLeaveTheOldFile_data()
    {
        QTest::addColumn<QByteArrayList>("calls");  // each fails once, with the errno after ':'
        QTest::addColumn<QByteArray>("old");        // the file before; empty: none
        QTest::addColumn<QString>("error");         // empty: written
        const QByteArray old = "the old bytes";  // not the new ones' size: nothing compares them
        QTest::newRow("disk full, new") << QByteArrayList{"write:ENOSPC"} << QByteArray() << "no space left on the disk";
        QTest::newRow("disk fails, replacing") << QByteArrayList{"write:EIO"} << old << "could not be written (Input/output error)";
        QTest::newRow("permissions not kept") << QByteArrayList{"fchmod:EPERM"} << old << "permission denied";
        QTest::newRow("not synced") << QByteArrayList{"fdatasync:EIO"} << QByteArray() << "could not be written (Input/output error)";
        QTest::newRow("not synced, replacing") << QByteArrayList{"fdatasync:EROFS"} << old << "read-only file system";
        QTest::newRow("rename refused") << QByteArrayList{"rename:EXDEV"} << old << "could not be written (Invalid cross-device link)";
        QTest::newRow("folder gone meanwhile") << QByteArrayList{"rename:ENOENT"} << old << "its folder does not exist";
        QTest::newRow("link refused") << QByteArrayList{"linkat:ENOSPC"} << QByteArray() << "no space left on the disk";
        QTest::newRow("link refused, replacing") << QByteArrayList{"linkat:ENOSPC"} << old << "no space left on the disk";
        // A plain user may not link by descriptor before Linux 6.10: through /proc instead.
        QTest::newRow("link by descriptor refused") << QByteArrayList{"linkat:ENOENT"} << QByteArray() << "";
        QTest::newRow("link by descriptor not permitted, replacing") << QByteArrayList{"linkat:EPERM"} << old << "";
        QTest::newRow("no unnamed temporary") << QByteArrayList{"open:EOPNOTSUPP"} << QByteArray() << "";
        QTest::newRow("no unnamed temporary, replacing") << QByteArrayList{"open:EOPNOTSUPP"} << old << "";
        QTest::newRow("named temporary not renamed") << QByteArrayList{"open:EOPNOTSUPP", "rename:EACCES"} << QByteArray() << "permission denied";
        QTest::newRow("named temporary not written") << QByteArrayList{"open:EINVAL", "write:ENOSPC"} << old << "no space left on the disk";
        QTest::newRow("no temporary at all") << QByteArrayList{"open:EMFILE"} << old << "could not be written (Too many open files)";
        QTest::newRow("a write takes part") << QByteArrayList{"write:SHORT"} << old << "";
        QTest::newRow("a write takes one byte") << QByteArrayList{"write:ONE"} << QByteArray() << "";
        QTest::newRow("a write interrupted") << QByteArrayList{"write:EINTR"} << QByteArray() << "";
        QTest::newRow("same bytes, time not renewed") << QByteArrayList{"utimensat:EROFS"} << QByteArray("new bytes") << "read-only file system";
    }
    void failingCallsLeaveTheOldFile()
    {
        QFETCH(QByteArrayList, calls);
        QFETCH(QByteArray, old);
        QFETCH(QString, error);
        static const QHash<QByteArray, int> errnos{{"ENOSPC", ENOSPC}, {"EIO", EIO}, {"EPERM", EPERM}, {"EROFS", EROFS}, {"EXDEV", EXDEV},
                                                   {"EOPNOTSUPP", EOPNOTSUPP}, {"EACCES", EACCES}, {"ENOENT", ENOENT}, {"EINVAL", EINVAL}, {"EMFILE", EMFILE}, {"EINTR", EINTR},
                                                   {"SHORT", kShortWrite}, {"ONE", kOneByteWrite}};
        QTemporaryDir dir;
        const QString file = dir.filePath("out.bin");
        if (!old.isEmpty())
            QVERIFY(writeOutputFile(file, old).ok() && QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        const QFile::Permissions permissions = QFileInfo(file).permissions();
        for (const QByteArray &call : calls)
            faults.insert(call.split(':').first(), errnos.value(call.split(':').last()));
        const WriteResult result = writeOutputFile(file, "new bytes");
        const bool allTaken = faults.isEmpty();
        faults.clear();
        QVERIFY2(allTaken, "a call asked to fail was never made");
        QCOMPARE(writeErrorText(result), error);
        QFile read(file);
        QCOMPARE(read.open(QIODevice::ReadOnly) ? read.readAll() : QByteArray(), error.isEmpty() ? QByteArray("new bytes") : old);
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 error.isEmpty() || !old.isEmpty() ? QStringList{"out.bin"} : QStringList{});
        if (!old.isEmpty())
            QCOMPARE(QFileInfo(file).permissions(), permissions);
    }

    // What goes straight into a device: a close that fails is the write failing.
    void deviceCloseFailing()
    {
        faults.insert("close", EIO);
        const WriteResult result = writeOutputFile("/dev/null", "bytes");
        faults.clear();
        QCOMPARE(writeErrorText(result), QStringLiteral("could not be written (Input/output error)"));
        QVERIFY(writeOutputFile("/dev/null", "bytes").ok());
    }

    // After Ctrl-C no file is put in place: the one there keeps its bytes, a new one is not made,
    // and no temporary is left. A stop cannot be taken back, so this runs last.
    void writesAfterAStopLeaveEveryFileAsItWas()
    {
        QTemporaryDir dir;
        const QString existing = dir.filePath("old.bin"), fresh = dir.filePath("new.bin");
        QVERIFY(writeOutputFile(existing, "old").ok());
        requestWriteStop();
        for (const QString &path : {existing, fresh})
            QCOMPARE(writeErrorText(writeOutputFile(path, "bytes")), QStringLiteral("interrupted"));
        QFile read(existing);
        QVERIFY(read.open(QIODevice::ReadOnly) && read.readAll() == "old");
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"old.bin"});
    }
};

QTEST_GUILESS_MAIN(TstFiles)
#include "tst_files.moc"
