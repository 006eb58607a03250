#pragma once

// The built pixelwright-cli as the simulate tests run it: one call to its end, or `simulate`
// in the background. The test target defines PW_CLI_PROGRAM.

#include "common/testfiles.h"
#include "core/link/socketline.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>

#include <csignal>

namespace pw::test {

inline const QString kProgram = QStringLiteral(PW_CLI_PROGRAM);
inline const QByteArray imageA = bytePattern(1024);
inline const QByteArray imageB = QByteArray(1024, '\x3c');

struct Run {
    int code = -1;
    QString err;
};

// A run that has not ended within `ms` is killed and gives -1.
inline Run run(const QStringList &args, int ms = 60000)
{
    QProcess process;
    process.start(kProgram, args);
    Run r;
    if (process.waitForFinished(ms) && process.exitStatus() == QProcess::NormalExit)
        r.code = process.exitCode();
    r.err = QString::fromUtf8(process.readAllStandardError());
    return r;
}

// `simulate` in the background, stopped with SIGTERM as a service manager stops it.
struct Simulate {
    explicit Simulate(const QStringList &args) { process.start(kProgram, QStringList{"simulate"} + args); }
    ~Simulate()
    {
        if (process.state() != QProcess::NotRunning)
            stop();
    }
    // Ready when `path` leads to a socket that takes connections (what was there before
    // may have been a socket too).
    bool ready(const QString &path)
    {
        QDeadlineTimer deadline(10000);
        while (!deadline.hasExpired() && process.state() != QProcess::NotRunning) {
            if (socketPresence(QFileInfo(path).canonicalFilePath()) == SocketPresence::Live)
                return true;
            process.waitForFinished(10);
        }
        return false;
    }
    int stop()
    {
        // A process that has ended has no id: 0 would signal this whole process group.
        if (const pid_t pid = pid_t(process.processId()); pid > 0)
            ::kill(pid, SIGTERM);
        return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    QStringList lines() { return QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts); }

    QProcess process;
};

}  // namespace pw::test
