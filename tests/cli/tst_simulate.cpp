// The built pixelwright-cli end to end: simulate run as a user runs it, send talking to it,
// and what each side shows.
#include "cli/simulateprocess.h"
#include "common/simulated.h"
#include "common/testfiles.h"
#include "core/link/socketline.h"

#include <QProcess>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace pw;
using namespace pw::test;

class TstSimulate : public QObject {
    Q_OBJECT
private slots:
    // What send puts on the line shows on the module: the snapshot holds the very bytes sent,
    // stdout names each command, FLASH pages land in the flash file, and a send that has
    // returned has taken effect.
    void sendsShowOnTheModule()
    {
        QTemporaryDir dir;
        const QString socket = dir.filePath("module"), snapshot = dir.filePath("screen.png"), flash = dir.filePath("flash.bin");
        QVERIFY(writeFile(dir.filePath("a.bin"), imageA) && writeFile(dir.filePath("b.bin"), imageB));
        QVERIFY(writeFile(dir.filePath("junk"), QByteArray("\0junk\r\nTI0123456789", 19)));
        Simulate module({"--socket", socket, "--fast", "--snapshot", snapshot, "--flash-file", flash});
        QVERIFY(module.ready(socket));
        QCOMPARE(snapshotBytes(snapshot), QByteArray(1024, '\0'));

        QCOMPARE(run({"send", "--port", socket, "--vram", dir.filePath("a.bin")}).code, 0);
        QCOMPARE(snapshotBytes(snapshot), imageA);
        QCOMPARE(run({"send", "--port", socket, "--flash", "5", dir.filePath("b.bin")}).code, 0);
        QCOMPARE(run({"send", "--port", socket, "--line", "TF5"}).code, 0);
        QCOMPARE(run({"send", "--port", socket, "--line", "DP"}).code, 0);
        QCOMPARE(snapshotBytes(snapshot), imageB);
        QCOMPARE(run({"send", "--port", socket, "--file", dir.filePath("junk")}).code, 0);
        QCOMPARE(run({"send", "--port", socket, "--line", "DP"}).code, 0);

        // Every port number the window offers, 1 to 16, with what its link leads to.
        QVERIFY(QFile::link(socket, dir.filePath("COM2")));
        QCOMPARE(::mknod(QFile::encodeName(dir.filePath("stale")).constData(), S_IFSOCK | 0600, 0), 0);  // nothing listens
        QVERIFY(QFile::link(dir.filePath("stale"), dir.filePath("COM16")));
        QProcess ports;
        ports.start(kProgram, {"ports", "--dir", dir.path()});
        QVERIFY(ports.waitForFinished(10000));
        const QString listed = QString::fromUtf8(ports.readAllStandardOutput());
        const QStringList numbered = listed.section(QString("The window's port numbers (links in %1):\n").arg(dir.path()), 1).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(numbered.size(), 16);
        for (int n = 1; n <= 16; ++n)
            QVERIFY2(numbered[n - 1].startsWith(QString("  %1  ").arg(n, 2)), qPrintable(listed));
        QCOMPARE(numbered[1], QString("   2  %1 -> %2  (simulator)").arg(dir.filePath("COM2"), socket));
        QCOMPARE(numbered[15], QString("  16  %1 -> %2  (simulator, not running)").arg(dir.filePath("COM16"), dir.filePath("stale")));

        QCOMPARE(module.stop(), 0);
        // Where it listens, said once as it starts; no port number for a socket alone.
        QCOMPARE(QString::fromUtf8(module.process.readAllStandardError()).section('\n', 0, 0),
                 "simulating the display module on " + socket + ", fast; Ctrl-C stops it");
        QCOMPARE(module.lines(), (QStringList{"DT 3", "TI 1024 bytes", "DP", "FS 5", "TS 1024 bytes", "TF 5", "DP", "unknown: \\x00junk",
                                              "TI cut short after 10 of 1024 bytes", "DP"}));
        QVERIFY(!QFileInfo::exists(socket));
        QCOMPARE(readFile(flash).mid(5 * 1024, 1024), imageB);
        QCOMPARE(readFile(flash).size(), 13 * 1024);
    }

    // --link replaces only what an earlier simulate left behind, and removes what it made.
    void linkRules_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("separateSocket");
        QTest::addColumn<bool>("starts");
        for (const bool separate : {false, true}) {
            const QString with = separate ? " (--socket)" : "";
            QTest::newRow(qPrintable("nothing there" + with)) << "nothing" << separate << true;
            QTest::newRow(qPrintable("a socket left behind" + with)) << "stale" << separate << true;
            QTest::newRow(qPrintable("a link to a socket left behind" + with)) << "link to stale" << separate << true;
            QTest::newRow(qPrintable("a regular file" + with)) << "file" << separate << false;
            QTest::newRow(qPrintable("a link to a device" + with)) << "link to device" << separate << false;
            QTest::newRow(qPrintable("a running simulator" + with)) << "running" << separate << false;
        }
        // As a run killed outright leaves them, and the same command is given again.
        QTest::newRow("a link to this socket, both left behind (--socket)") << "link to this socket" << true << true;
    }
    void linkRules()
    {
        QFETCH(QString, before);
        QFETCH(bool, separateSocket);
        QFETCH(bool, starts);
        InProcessModule running(true, "COM1");   // its folder is the program folder
        const QString com1 = running.dir.filePath("COM1"), elsewhere = running.dir.filePath("old.sock");
        QTemporaryDir other;
        const QString socket = other.filePath("module");
        if (before == "link to this socket")
            QVERIFY(leaveStaleSocket(socket) && QFile::link(socket, com1));
        if (before == "running")
            QVERIFY(running.start());
        if (before == "stale")
            QVERIFY(leaveStaleSocket(com1));
        if (before == "link to stale")
            QVERIFY(leaveStaleSocket(elsewhere) && QFile::link(elsewhere, com1));
        if (before == "file")
            QVERIFY(writeFile(com1, "mine"));
        if (before == "link to device")
            QVERIFY(QFile::link("/dev/null", com1));
        const QFileInfo was(com1);
        QStringList args{"--link", "1", "--dir", running.dir.path(), "--fast"};
        if (separateSocket)
            args << "--socket" << socket;

        Simulate module(args);
        if (!starts) {
            QVERIFY(module.process.waitForFinished(10000));
            QCOMPARE(module.process.exitCode(), 3);
            const QString err = QString::fromUtf8(module.process.readAllStandardError());
            QVERIFY2(err.contains(com1), qPrintable(err));
            // Said for what it is, not as a socket that could not be made.
            QVERIFY2(before != "file" || err.contains(com1 + ": exists and is not a socket"), qPrintable(err));
            QCOMPARE(QFileInfo(com1).symLinkTarget(), was.symLinkTarget());
            QVERIFY(before != "file" || readFile(com1) == "mine");
            QVERIFY(!QFileInfo::exists(socket));
            return;
        }
        QVERIFY(module.ready(com1));
        QCOMPARE(QFileInfo(com1).isSymLink(), separateSocket);
        QCOMPARE(run({"send", "--port", com1, "--line", "DP"}).code, 0);
        QCOMPARE(module.stop(), 0);
        QCOMPARE(QString::fromUtf8(module.process.readAllStandardError()).section('\n', 0, 0),
                 "simulating the display module on " + (separateSocket ? socket + " (port 1: " + com1 + " links to it)" : com1 + " (port 1)")
                     + ", fast; Ctrl-C stops it");
        QCOMPARE(module.lines(), QStringList{"DP"});
        QVERIFY(!QFileInfo::exists(com1) && !QFileInfo(com1).isSymLink() && !QFileInfo::exists(socket));
    }

    // Ctrl-C in the middle of a send at the line's pace: the command is reported cut short,
    // and the next send finds the module ready and shows its picture.
    void interruptedSendLeavesBothUsable()
    {
        QTemporaryDir dir;
        const QString socket = dir.filePath("module"), snapshot = dir.filePath("screen.png");
        QVERIFY(writeFile(dir.filePath("a.bin"), imageA) && writeFile(dir.filePath("b.bin"), imageB));
        Simulate module({"--socket", socket, "--snapshot", snapshot});
        QVERIFY(module.ready(socket));
        QProcess send;
        send.start(kProgram, {"send", "--port", socket, "--vram", "--time", "1", dir.filePath("a.bin")});
        QByteArray said;
        QTRY_VERIFY2((said += send.readAllStandardError()).contains("sending"), said.constData());
        QTest::qWait(100);
        const pid_t pid = pid_t(send.processId());
        QVERIFY2(pid > 0, "the send ended before it was interrupted");  // 0 would interrupt this whole process group
        ::kill(pid, SIGINT);
        QVERIFY(send.waitForFinished(10000));
        QCOMPARE(send.exitCode(), 130);

        // "sending" stands for as long as the line takes the bytes: 1037 at 960 a second.
        QElapsedTimer clock;
        clock.start();
        send.start(kProgram, {"send", "--port", socket, "--vram", "--time", "1", dir.filePath("b.bin")});
        said.clear();
        qint64 sendingAt = -1, nextAt = -1;
        while (!send.waitForFinished(2)) {
            said += send.readAllStandardError();
            if (sendingAt < 0 && said.contains("sending\n"))
                sendingAt = clock.elapsed();
            else if (sendingAt >= 0 && nextAt < 0 && said.indexOf('\n', said.indexOf("sending\n") + 8) > 0)
                nextAt = clock.elapsed();
        }
        QCOMPARE(send.exitCode(), 0);
        QVERIFY2(clock.elapsed() >= 1900, qPrintable(QString::number(clock.elapsed())));   // and then a second's rewrite
        QVERIFY2(qAbs(nextAt - sendingAt - 1080) <= 108, qPrintable(QString("%1 ms: %2").arg(nextAt - sendingAt).arg(QString(said))));
        QCOMPARE(snapshotBytes(snapshot), imageB);
        QCOMPARE(module.stop(), 0);
        const QStringList lines = module.lines();
        QCOMPARE(lines.size(), 5);
        QVERIFY2(lines.at(0) == "DT 1" && lines.at(1).startsWith("TI cut short"), qPrintable(lines.join('|')));
        QCOMPARE(lines.mid(2), (QStringList{"DT 1", "TI 1024 bytes", "DP"}));
    }

    // A command that can no longer wait for its stop signal, or a module that can no longer
    // wait for its clients, ends the run at once: the reason told, the socket removed, exit 4.
    // (poll refuses to watch more descriptors than the process may have; a stop and a continue
    // make both waits start again under the new limit.)
    void failedWaitEndsTheRun_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("reason");
        QTest::newRow("the command's wait") << 0 << "pixelwright-cli: waiting for a stop signal failed: Invalid argument";
        QTest::newRow("the module's wait") << 2 << "pixelwright-cli: the simulator stopped: Invalid argument";
    }
    void failedWaitEndsTheRun()
    {
#if defined(__SANITIZE_ADDRESS__)
        // The sanitizers check memory through a pipe of their own: under the lowered limit they
        // report their own failure as the module's thread ends.
        QSKIP("the sanitizers need descriptors that the lowered limit refuses");
#endif
        QFETCH(int, limit);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString socket = dir.filePath("module");
        Simulate module({"--socket", socket, "--fast"});
        QVERIFY(module.ready(socket));
        const pid_t pid = pid_t(module.process.processId());
        // Every thread waiting in the kernel first: the module may still be answering the
        // connection that found it ready.
        const auto allWait = [pid] {
            const QFileInfoList threads = QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot);
            return !threads.isEmpty() && std::all_of(threads.cbegin(), threads.cend(), [](const QFileInfo &thread) {
                QFile call(thread.filePath() + QStringLiteral("/syscall"));
                return call.open(QIODevice::ReadOnly) && !call.readAll().startsWith("running");
            });
        };
        for (QDeadlineTimer deadline(5000); !allWait() && !deadline.hasExpired();)
            QThread::msleep(5);
        const rlimit lowered{rlim_t(limit), rlim_t(limit)};
        QCOMPARE(::prlimit(pid, RLIMIT_NOFILE, &lowered, nullptr), 0);
        ::kill(pid, SIGSTOP);
        const auto state = [pid] {  // a continue sent before the stop is taken would cancel it
            QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
            const QByteArray line = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
            return line.mid(line.lastIndexOf(") ") + 2, 1);
        };
        for (QDeadlineTimer deadline(5000); state() != "T" && !deadline.hasExpired();)
            QThread::msleep(5);
        ::kill(pid, SIGCONT);
        const bool ended = module.process.waitForFinished(5000);
        if (!ended)
            ::kill(pid, SIGKILL), module.process.waitForFinished(5000);
        QVERIFY(ended);
        QCOMPARE(module.process.exitCode(), 4);
        const QString err = QString::fromUtf8(module.process.readAllStandardError());
        QVERIFY2(err.contains(reason + "\n") && err.endsWith("simulator stopped; the socket removed\n"), qPrintable(err));
        QVERIFY(!QFileInfo::exists(socket));
    }

    // On a terminal the screen is drawn in half blocks below the command lines, and erased
    // before them by as many rows as it took: more when the terminal is narrower than a
    // drawn line and wraps it, the drawing's own 34 when the width is not known.
    void terminalDrawing()
    {
        const struct {
            unsigned short columns;
            QByteArray erase;
        } cases[] = {{140, "\x1b[34A\x1b[J"}, {100, "\x1b[68A\x1b[J"}, {0, "\x1b[34A\x1b[J"}};
        for (const auto &c : cases) {
            QTemporaryDir dir;
            const QString socket = dir.filePath("module");
            QVERIFY(writeFile(dir.filePath("white.bin"), QByteArray(1024, '\xff')));
            const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
            QVERIFY(master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0);
            const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
            const winsize size{50, c.columns, 0, 0};
            QVERIFY(slave >= 0 && ::ioctl(master, TIOCSWINSZ, &size) == 0);
            posix_spawn_file_actions_t actions;
            posix_spawn_file_actions_init(&actions);
            posix_spawn_file_actions_adddup2(&actions, slave, STDOUT_FILENO);
            posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
            const QByteArray program = kProgram.toLocal8Bit(), path = socket.toLocal8Bit();
            const char *argv[] = {program.constData(), "simulate", "--fast", "--socket", path.constData(), nullptr};
            pid_t pid = 0;
            QCOMPARE(::posix_spawn(&pid, argv[0], &actions, nullptr, const_cast<char **>(argv), environ), 0);
            posix_spawn_file_actions_destroy(&actions);
            ::close(slave);
            QByteArray shown;
            const auto readFor = [&](int ms) {
                char buffer[65536];
                for (QDeadlineTimer deadline(ms); !deadline.hasExpired();)
                    if (pollfd p{master, POLLIN, 0}; ::poll(&p, 1, 20) > 0 && (p.revents & POLLIN))
                        shown.append(buffer, qMax<ssize_t>(::read(master, buffer, sizeof buffer), 0));
            };
            for (QDeadlineTimer deadline(10000); !isSocketFile(socket) && !deadline.hasExpired();)
                readFor(20);
            QCOMPARE(run({"send", "--port", socket, "--vram", dir.filePath("white.bin")}).code, 0);
            readFor(300);
            ::kill(pid, SIGTERM);
            int status = 0;
            QCOMPARE(::waitpid(pid, &status, 0), pid);
            readFor(100);  // what it wrote as it stopped
            ::close(master);
            QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            const QString text = QString::fromUtf8(shown);
            const QString blank = QChar(0x2502) + QString(128, ' ') + QChar(0x2502), lit = QChar(0x2502) + QString(128, QChar(0x2588)) + QChar(0x2502);
            // Only whole drawings are erased (never a line printed after one), and the last
            // screen stays on the terminal after it stops.
            QCOMPARE(text.count(QStringLiteral("\x1b[J")), text.count(QString::fromLatin1(c.erase)));
            QVERIFY2(text.lastIndexOf(QStringLiteral("\x1b[J")) < text.lastIndexOf(lit), qPrintable(QString::number(c.columns)));
            QVERIFY(text.contains(blank));               // the power-up screen
            const qsizetype erased = text.indexOf(QString::fromLatin1(c.erase));
            QVERIFY2(erased >= 0 && erased < text.indexOf("DP\r\n"), qPrintable(QString::number(c.columns)));   // erased before the lines
            QVERIFY(text.lastIndexOf(lit) > text.indexOf("DP\r\n"));          // redrawn after DP
            for (const QString &row : text.split(QStringLiteral("\r\n")))  // every row of every drawing whole
                if (row.contains(QChar(0x2502)))
                    QVERIFY2(row.size() == 130 && row.startsWith(QChar(0x2502)) && row.endsWith(QChar(0x2502)), qPrintable(row.left(200)));
        }
    }

    void usage()
    {
        QCOMPARE(run({"simulate"}).code, 1);
        QCOMPARE(run({"simulate", "--link", "17"}).code, 1);
        QCOMPARE(run({"simulate", "--socket", "s", "extra"}).code, 1);
        QProcess help;
        help.start(kProgram, {"simulate", "--help"});
        QVERIFY(help.waitForFinished(10000) && help.exitCode() == 0 && help.readAllStandardOutput().contains("--snapshot FILE"));
        const QTemporaryDir dir;
        const Run noFolder = run({"simulate", "--link", "1", "--dir", dir.filePath("none")});
        QCOMPARE(noFolder.code, 3);
        QCOMPARE(noFolder.err, "pixelwright-cli: " + dir.filePath("none") + ": no such folder\n");
        QCOMPARE(run({"simulate", "--socket", dir.filePath("s"), "--snapshot", dir.filePath("none/screen.png")}).code, 3);
        QCOMPARE(run({"simulate", "--socket", dir.filePath(QString(120, 'x'))}).code, 3);   // too long for a socket
        QVERIFY(!QFileInfo::exists(dir.filePath("s")));
        // A second module on the port number of a running one is refused, and says why.
        Simulate first({"--socket", dir.filePath("s5"), "--link", "5", "--dir", dir.path(), "--fast"});
        QVERIFY(first.ready(dir.filePath("COM5")));
        const Run second = run({"simulate", "--link", "5", "--dir", dir.path()});
        QCOMPARE(second.code, 3);
        QVERIFY2(second.err.contains("already leads to a running simulator"), qPrintable(second.err));
    }
};

QTEST_GUILESS_MAIN(TstSimulate)
#include "tst_simulate.moc"
