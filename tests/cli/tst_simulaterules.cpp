// What the simulated module must never do, run end to end: name one file twice, lose a
// flash file, leave its socket behind at a signal, stop serving for a reader that reads
// nothing.
#include "cli/simulateprocess.h"
#include "common/simulated.h"

#include <QDir>
#include <QRegularExpression>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace pw;
using namespace pw::test;

class TstSimulateRules : public QObject {
    Q_OBJECT
private slots:
    // The snapshot, the flash file, the socket and the link never name the same file: such a
    // start is refused before anything is written, naming both.
    void outputsNeverMeet_data()
    {
        QTest::addColumn<QStringList>("args");   // %1: the folder
        QTest::addColumn<QStringList>("named");
        QTest::newRow("snapshot and flash file") << QStringList{"--socket", "%1/s", "--snapshot", "%1/f.bin", "--flash-file", "%1/f.bin"}
                                                << QStringList{"%1/f.bin", "%1/f.bin"};
        QTest::newRow("another spelling") << QStringList{"--socket", "%1/s", "--snapshot", "%1/sub/../f.bin", "--flash-file", "%1/f.bin"}
                                         << QStringList{"%1/sub/../f.bin", "%1/f.bin"};
        QTest::newRow("a link to the flash file") << QStringList{"--socket", "%1/s", "--snapshot", "%1/link", "--flash-file", "%1/f.bin"}
                                                 << QStringList{"%1/link", "%1/f.bin"};
        QTest::newRow("socket and snapshot") << QStringList{"--socket", "%1/f.bin", "--snapshot", "%1/f.bin"} << QStringList{"%1/f.bin", "%1/f.bin"};
        QTest::newRow("the port's link and the flash file") << QStringList{"--link", "2", "--dir", "%1", "--flash-file", "%1/COM2"}
                                                           << QStringList{"%1/COM2", "%1/COM2"};
        // The link would be put in the socket's place, leading to itself: the module unreachable.
        QTest::newRow("the socket where the port's link goes") << QStringList{"--socket", "%1/COM2", "--link", "2", "--dir", "%1"}
                                                              << QStringList{"%1/COM2", "%1/COM2"};
        QTest::newRow("the link beside a socket and the snapshot")
            << QStringList{"--socket", "%1/s", "--link", "2", "--dir", "%1", "--snapshot", "%1/COM2"} << QStringList{"%1/COM2", "%1/COM2"};
    }
    void outputsNeverMeet()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, named);
        QTemporaryDir dir;
        const QByteArray pages = bytePattern(13 * 1024);
        QVERIFY(QDir(dir.path()).mkdir("sub") && writeFile(dir.filePath("f.bin"), pages) && QFile::link(dir.filePath("f.bin"), dir.filePath("link")));
        const QStringList before = QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        for (QString &arg : args)
            arg = arg.arg(dir.path());
        Simulate module(args);
        QVERIFY(module.process.waitForFinished(5000));
        QCOMPARE(module.process.exitCode(), 1);
        const QString err = QString::fromUtf8(module.process.readAllStandardError());
        const QString a = named[0].arg(dir.path()), b = named[1].arg(dir.path());
        QVERIFY2(err.count('\n') == 1 && err.contains(a) && err.contains(b) && (a != b || err.count(a) == 2), qPrintable(err));
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot), before);
        QCOMPARE(readFile(dir.filePath("f.bin")), pages);
    }

    // A port link that cannot be made (in a folder that takes no new file) is said in one line,
    // and the socket made before it goes again.
    void linkThatCannotBeMadeIsSaid()
    {
        QTemporaryDir dir;
        Simulate module({"--socket", dir.filePath("s"), "--link", "2", "--dir", "/proc"});
        QVERIFY(module.process.waitForFinished(10000));
        QCOMPARE(module.process.exitCode(), 3);
        const QString err = QString::fromUtf8(module.process.readAllStandardError());
        QVERIFY2(err.count('\n') == 1 && err.startsWith("pixelwright-cli: /proc/COM2: "), qPrintable(err));
        QVERIFY(!QFileInfo::exists(dir.filePath("s")));
    }

    // A module that serves nobody sleeps: whatever its standard output is, it costs next to no
    // processor time while it waits for a client or a signal, also once a rewrite has ended.
    void idleModuleSleeps()
    {
        QTemporaryDir dir;
        Simulate module({"--socket", dir.filePath("s"), "--fast"});
        QVERIFY(module.ready(dir.filePath("s")));
        QCOMPARE(run({"send", "--port", dir.filePath("s"), "--line", "DP"}).code, 0);
        const auto cpuTicks = [&module] {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(module.process.processId()));
            if (!stat.open(QIODevice::ReadOnly))
                return -1LL;
            const QList<QByteArray> fields = stat.readAll().split(')').value(1).split(' ');
            return fields.value(12).toLongLong() + fields.value(13).toLongLong();  // utime, stime
        };
        const long long before = cpuTicks();
        if (before < 0)
            QSKIP("no /proc here");
        QTest::qWait(2000);
        const long long used = cpuTicks() - before;
        QVERIFY2(used * 1000 / ::sysconf(_SC_CLK_TCK) < 250, qPrintable(QString::number(used) + " ticks in 2 s"));
        QCOMPARE(module.stop(), 0);
    }

    // Pages written survive a restart; a flash file that is not one is refused and left as it
    // is; a write that fails says why, at start and while serving.
    void flashFileAcrossRuns()
    {
        QTemporaryDir dir;
        const QString socket = dir.filePath("module"), flash = dir.filePath("pages/flash.bin"), snapshot = dir.filePath("screen.png");
        QVERIFY(QDir(dir.path()).mkdir("pages") && writeFile(dir.filePath("b.bin"), imageB));
        const QStringList args{"--socket", socket, "--fast", "--flash-file", flash, "--snapshot", snapshot};
        {
            Simulate module(args);
            QVERIFY(module.ready(socket));
            QCOMPARE(run({"send", "--port", socket, "--flash", "5", dir.filePath("b.bin")}).code, 0);
            QCOMPARE(module.stop(), 0);
        }
        {
            Simulate module(args);
            QVERIFY(module.ready(socket));
            QCOMPARE(run({"send", "--port", socket, "--line", "TF5"}).code, 0);
            QCOMPARE(run({"send", "--port", socket, "--line", "DP"}).code, 0);
            QCOMPARE(snapshotBytes(snapshot), imageB);
            QVERIFY(QDir(dir.filePath("pages")).removeRecursively());
            QCOMPARE(run({"send", "--port", socket, "--flash", "6", dir.filePath("b.bin")}).code, 0);
            QCOMPARE(module.stop(), 0);
            const QString err = QString::fromUtf8(module.process.readAllStandardError());
            QVERIFY2(err.contains(flash + ": its folder does not exist\n"), qPrintable(err));
        }
        Run r = run({"simulate", "--socket", socket, "--snapshot", dir.filePath("none/screen.png")}, 5000);
        QVERIFY2(r.code == 3 && r.err.contains(dir.filePath("none/screen.png") + ": its folder does not exist\n"), qPrintable(r.err));
        QVERIFY(writeFile(dir.filePath("big.bin"), QByteArray(100000, 'x')));
        r = run({"simulate", "--socket", socket, "--flash-file", dir.filePath("big.bin")}, 5000);
        QVERIFY2(r.code == 3 && r.err.count('\n') == 1 && r.err.contains(dir.filePath("big.bin") + ": 100000 bytes"), qPrintable(r.err));
        QCOMPARE(readFile(dir.filePath("big.bin")), QByteArray(100000, 'x'));
        QVERIFY(!QFileInfo::exists(socket));
    }

    // SIGINT, SIGTERM and SIGHUP end the module with 0 and leave nothing behind, even when
    // they come while it starts.
    void signalsAtAnyMoment()
    {
        QTemporaryDir dir;
        const QByteArray program = kProgram.toLocal8Bit(), socket = dir.filePath("S").toLocal8Bit(), folder = dir.path().toLocal8Bit();
        const char *argv[] = {program.constData(), "simulate", "--socket", socket.constData(), "--link", "3", "--dir", folder.constData(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
            for (int k = 0; k < 6; ++k) {
                pid_t pid = 0;
                QCOMPARE(::posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char **>(argv), environ), 0);
                struct stat status {};
                for (QDeadlineTimer deadline(10000); ::lstat(socket.constData(), &status) != 0 && !deadline.hasExpired();) {
                }
                ::kill(pid, signal);
                int code = 0;
                QCOMPARE(::waitpid(pid, &code, 0), pid);
                QVERIFY2(WIFEXITED(code) && WEXITSTATUS(code) == 0, qPrintable(QString("signal %1, try %2: status %3").arg(signal).arg(k).arg(code)));
                QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{});
            }
        }
        posix_spawn_file_actions_destroy(&actions);
    }

    // A module whose standard output nobody reads goes on serving and stops at SIGTERM; what
    // it could not show is counted once the reader is back.
    void unreadOutput()
    {
        QTemporaryDir dir;
        const QString socket = dir.filePath("module");
        QVERIFY(writeFile(dir.filePath("many"), QByteArray("X\r\n").repeated(20000)));
        int out[2];
        QVERIFY(::pipe(out) == 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        const QByteArray program = kProgram.toLocal8Bit(), path = socket.toLocal8Bit();
        const char *argv[] = {program.constData(), "simulate", "--fast", "--socket", path.constData(), nullptr};
        struct Reaped {
            pid_t pid = 0;
            ~Reaped()
            {
                if (pid > 0 && ::kill(pid, SIGKILL) == 0)
                    ::waitpid(pid, nullptr, 0);
            }
        } module;
        pid_t &pid = module.pid;
        QCOMPARE(::posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char **>(argv), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        for (QDeadlineTimer deadline(10000); !isSocketFile(socket) && !deadline.hasExpired();)
            QThread::msleep(5);
        const QStringList send{"send", "--timeout", "5", "--port", socket};
        QCOMPARE(run(send + QStringList{"--file", dir.filePath("many")}).code, 0);
        QCOMPARE(run(send + QStringList{"--line", "DP"}).code, 0);
        QByteArray shown;
        const auto readUntil = [&](const QByteArray &end) {
            char buffer[65536];
            for (QDeadlineTimer deadline(5000); !shown.endsWith(end) && !deadline.hasExpired();)
                if (pollfd p{out[0], POLLIN, 0}; ::poll(&p, 1, 20) > 0)
                    shown.append(buffer, qMax<ssize_t>(::read(out[0], buffer, sizeof buffer), 0));
        };
        readUntil("unknown: X\n");
        QCOMPARE(run(send + QStringList{"--line", "DT2"}).code, 0);
        readUntil("DT 2\n");
        const QStringList lines = QString::fromUtf8(shown).split('\n', Qt::SkipEmptyParts);
        static const QRegularExpression notShown(QString::fromUtf8("^\u2026 (\\d+) lines not shown$"));
        QVERIFY2(notShown.match(lines.value(lines.size() - 2)).hasMatch() && lines.last() == "DT 2", qPrintable(lines.mid(lines.size() - 3).join('|')));
        int counted = 0;   // a writer slower than the module drops lines while the pipe still takes some
        for (const QString &line : lines)
            counted += notShown.match(line).captured(1).toInt();
        QCOMPARE(lines.count("unknown: X") + lines.count("DP") + counted, 20001);

        QCOMPARE(run(send + QStringList{"--file", dir.filePath("many")}).code, 0);   // full again
        ::kill(pid, SIGTERM);
        int status = 0;
        for (QDeadlineTimer deadline(5000); ::waitpid(pid, &status, WNOHANG) == 0;) {
            if (deadline.hasExpired())
                QFAIL("SIGTERM did not end it");
            QThread::msleep(10);
        }
        pid = 0;
        ::close(out[0]);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0 && !QFileInfo::exists(socket));
    }
};

QTEST_GUILESS_MAIN(TstSimulateRules)
#include "tst_simulaterules.moc"
