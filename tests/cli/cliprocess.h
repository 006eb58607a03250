#pragma once

// The built pixelwright-cli run as a user runs it (its path comes in as PW_CLI_PROGRAM).

#include "common/testfiles.h"

#include <QDir>
#include <QTest>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace pw::test {

struct Run {
    int code = -1;  // -2 when killed by a signal, -1 when it did not end within a minute
    QByteArray out;
    QStringList errLines;
};

inline Run run(const QStringList &args, const QByteArray &input = {}, const QString &workDir = {},
               const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    if (!workDir.isEmpty())
        process.setWorkingDirectory(workDir);
    process.start(QStringLiteral(PW_CLI_PROGRAM), args);
    process.write(input);
    process.closeWriteChannel();
    Run r;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return r;
    }
    r.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    r.out = process.readAllStandardOutput();
    r.errLines = QString::fromUtf8(process.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    return r;
}

// The program started apart from Qt's process handling, so that its own peak memory can be
// read when it is reaped, and signals sent to it by pid.
struct Spawned {
    explicit Spawned(const QStringList &args)
    {
        QList<QByteArray> bytes{QByteArrayLiteral(PW_CLI_PROGRAM)};
        for (const QString &arg : args)
            bytes << arg.toLocal8Bit();
        std::vector<char *> argv;
        for (QByteArray &b : bytes)
            argv.push_back(b.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        if (::posix_spawn(&pid, PW_CLI_PROGRAM, &actions, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    // The peak resident memory (KB) of the running program itself. (The peak wait4() reports
    // starts from this process's own, which the spawned child shared until it ran the program.)
    long highWaterKb() const
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').value(0).toLong();
        return -1;
    }
    // The exit code (128 + the signal for a kill), and the peak resident memory in KB.
    int wait(long *peakKb = nullptr)
    {
        int status = 0;
        rusage usage{};
        if (pid <= 0 || ::wait4(pid, &status, 0, &usage) != pid)
            return -1;
        pid = -1;
        if (peakKb)
            *peakKb = usage.ru_maxrss;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    ~Spawned()
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            wait();
        }
    }
    pid_t pid = -1;
};

// A pseudo-terminal whose device side is drained by a thread for as long as the test needs.
class Pty {
public:
    Pty()
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            return;
        path = QString::fromLocal8Bit(::ptsname(master_));
        slave_ = ::open(qPrintable(path), O_RDWR | O_NOCTTY);  // no hang-up when the program closes it
        reader_ = std::async(std::launch::async, [this] {
            char buffer[4096];
            for (pollfd p{master_, POLLIN, 0}; !stop_; p.revents = 0)
                if (::poll(&p, 1, 20) > 0) {
                    const ssize_t n = ::read(master_, buffer, sizeof buffer);
                    if (n > 0)
                        got.append(buffer, n);
                }
        });
    }
    ~Pty()
    {
        stop_ = true;
        if (reader_.valid())
            reader_.wait();
        ::close(slave_);
        ::close(master_);
    }
    QByteArray received()
    {
        QTest::qWait(100);  // what the line still holds arrives
        stop_ = true;
        reader_.wait();
        return got;
    }
    QString path;

private:
    int master_ = -1, slave_ = -1;
    std::atomic<bool> stop_{false};
    QByteArray got;
    std::future<void> reader_;
};

inline QString picture(const QTemporaryDir &dir, const QString &name, QColor colour = QColor(200, 200, 200))
{
    const QString path = dir.filePath(name);
    solidImage(130, 70, colour).save(path);
    return path;
}

inline QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

}  // namespace pw::test
