// The command line's own units: its waits and reports around the core's transfers, and how
// they end in exit codes.
#include "common/fakeport.h"
#include "common/testfiles.h"
#include "cli/args.h"
#include "cli/commands.h"
#include "cli/send.h"
#include "cli/simulateoutput.h"
#include "cli/textcmd.h"
#include "core/convert/conversionoptions.h"
#include "core/link/protocol.h"
#include "core/storage/outputfile.h"

#include <QBuffer>
#include <QTemporaryFile>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

using namespace pw;
using namespace pw::cli;

// Counts the flushes of a whole file system, and lets each through.
namespace {
std::atomic<int> fileSystemFlushes{0};

// What `work` writes to stderr.
template <typename Work>
QByteArray stderrOf(Work work)
{
    std::fflush(stderr);
    QTemporaryFile sink;
    if (!sink.open())
        return "(no sink)";
    const int saved = dup(2);
    dup2(sink.handle(), 2);
    work();
    std::fflush(stderr);
    dup2(saved, 2);
    close(saved);
    sink.seek(0);
    return sink.readAll();
}
}
extern "C" int syncfs(int fd) __THROW
{
    ++fileSystemFlushes;
    static const auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "syncfs"));
    return real(fd);
}

class TstCliUnits : public QObject {
    Q_OBJECT
private slots:
    // The transfers through the fake port: the pieces written, and the waits' ends as exit codes.
    void sendImages()
    {
        const MonoImage image = test::randomImage(21);
        const QByteArray bytes(reinterpret_cast<const char *>(image.data()), kImageBytes);
        Reporter quiet(false, true);
        QString error;
        const struct {
            ImageStream stream;
            QList<QByteArray> chunks;
        } cases[] = {
            {displayMemoryStream(image, 5), test::imageChunks("DT5", "TI", bytes) << "DP\r\n"},
            {flashPageStream(image, 12), test::imageChunks("FS12", "TS", bytes)},
        };
        for (const auto &c : cases) {
            test::FakePort port;
            CliWaiter waiter(1000);
            QCOMPARE(stderrOf([&] { QCOMPARE(sendImageJob(c.stream, "3", port, waiter, quiet, "done", error), 0); }), QByteArray());
            QCOMPARE(port.chunks, c.chunks);
            QCOMPARE(port.portNumber, 3);
            QCOMPARE(port.log.last(), QStringLiteral("close"));
        }
        {
            // Not quiet: the phases, a line each (the fake device is ready at once).
            test::FakePort port;
            CliWaiter waiter(1000);
            Reporter told(false);
            QCOMPARE(stderrOf([&] { QCOMPARE(sendImageJob(displayMemoryStream(image, 5), "3", port, waiter, told, "done", error), 0); }),
                     QByteArray("sending\ndone\n"));
        }
        test::FakePort silent;  // CTS never rises: the timeout closes the port
        silent.cts = [](const QByteArray &, int) { return false; };
        CliWaiter shortWait(50);
        QCOMPARE(sendImageJob(displayMemoryStream(image, 3), "1", silent, shortWait, quiet, "done", error), 5);
        QCOMPARE(error, QStringLiteral("the device did not answer within 0.05 s"));
        QVERIFY(!silent.isOpen());
        test::FakePort missing;
        missing.missingPorts << 2;
        CliWaiter waiter(1000);
        QCOMPARE(sendImageJob(displayMemoryStream(image, 3), "2", missing, waiter, quiet, "done", error), 4);
        QCOMPARE(error, QStringLiteral("the port could not be opened or failed"));  // a port that gives no reason
        QByteArray command("TF1\r\n");
        QBuffer commandSource(&command);
        QVERIFY(commandSource.open(QIODevice::ReadOnly));
        error.clear();
        QCOMPARE(sendCommandJob(commandSource, command.size(), "2", missing, waiter, quiet, error), 4);
        QCOMPARE(error, QStringLiteral("the port could not be opened or failed"));
        setInterrupted(true);  // Ctrl-C
        test::FakePort busy;
        busy.cts = [](const QByteArray &, int) { return false; };
        CliWaiter noLimit(0);
        QCOMPARE(sendImageJob(flashPageStream(image, 0), "1", busy, noLimit, quiet, "done", error), 130);
        QByteArray line("TF1\r\n");
        QBuffer source(&line);
        QVERIFY(source.open(QIODevice::ReadOnly));
        QCOMPARE(sendCommandJob(source, line.size(), "1", busy, noLimit, quiet, error), 130);
        setInterrupted(false);
        QVERIFY(!busy.isOpen());
        // A command file whose reading fails (its first page cannot be read): the port is closed,
        // and the reason given.
        QFile unreadable(QStringLiteral("/proc/self/mem"));
        QVERIFY(unreadable.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
        test::FakePort port;
        QCOMPARE(sendCommandJob(unreadable, -1, "1", port, waiter, quiet, error), 2);
        QCOMPARE(error, QStringLiteral("the command file could not be read on (%1)").arg(unreadable.errorString()));
        QVERIFY(!port.isOpen());
        // A device that stops taking bytes, with no answer awaited: after five seconds without
        // a byte taken the send gives up.
        test::FakePort stalled;
        stalled.stalled = true;
        QVERIFY(source.seek(0));
        CliWaiter patient(0);
        QCOMPARE(sendCommandJob(source, line.size(), "1", stalled, patient, quiet, error), 4);
        QCOMPARE(error, QStringLiteral("the bytes did not leave the port in time"));
        QVERIFY(!stalled.isOpen());
    }

    // On a terminal: the phases, a bar that follows the bands and ends on a line of its own,
    // and the device's busy time after the display command.
    void progressOnATerminal()
    {
        test::FakePort port;  // CTS stays up a poll after the display command: the device is busy
        port.cts = [](const QByteArray &w, int polls) { return !w.endsWith("DP\r\n") || polls != 1; };
        CliWaiter waiter(1000);
        Reporter terminal(true);
        QString error;
        int code = -1;
        const QByteArray written = stderrOf([&] { code = sendImageJob(displayMemoryStream(test::randomImage(3), 3), "1", port, waiter, terminal, "done", error); });
        QCOMPARE(code, 0);
        QByteArray bar;
        for (int band = 0; band <= kBands; ++band)
            bar += "\r[" + QByteArray(band * 4, '#') + QByteArray(32 - band * 4, '-') + "] " + QByteArray::number(band) + "/8";
        QCOMPARE(written, "sending\n" + bar + "\ndevice busy\ndone\n");
    }

    // Every form of the grammar in one table: what the options and operands come out as, or the
    // error. Option values and operands mix in any order, "--" ends the options and "-" alone
    // is the standard stream.
    void argumentForms()
    {
        const QList<OptionSpec> known = {
            {.name = QStringLiteral("output"), .shortName = QLatin1Char('o'), .takesValue = true, .repeats = false},
            {.name = QStringLiteral("flip"), .shortName = QChar(), .takesValue = true, .repeats = true},
            {.name = QStringLiteral("quiet"), .shortName = QLatin1Char('q'), .takesValue = false, .repeats = false}};
        const struct {
            QStringList args;
            QStringList operands;
            QStringList options;  // name=value, in order
            QString error;
        } cases[] = {
            {{"a", "--output", "x", "b"}, {"a", "b"}, {"output=x"}, {}},
            {{"--output=x=y", "a"}, {"a"}, {"output=x=y"}, {}},
            {{"-o", "x", "-q", "a"}, {"a"}, {"output=x", "quiet="}, {}},
            {{"-ox", "--quiet", "-", "b"}, {"-", "b"}, {"output=x", "quiet="}, {}},
            {{"a", "--", "-q", "--output", "-"}, {"a", "-q", "--output", "-"}, {}, {}},
            {{"--", "--"}, {"--"}, {}, {}},
            {{"--flip", "h", "--flip=v", "c"}, {"c"}, {"flip=h", "flip=v"}, {}},
            {{"a", "--output"}, {}, {}, "option '--output' needs a value"},
            {{"--quiet=yes"}, {}, {}, "unknown option '--quiet=yes'"},
            {{"-x"}, {}, {}, "unknown option '-x'"},
            {{"--outputs", "x"}, {}, {}, "unknown option '--outputs'"},
            {{"-o", "x", "--output=y"}, {}, {}, "option '--output' is given more than once"},
        };
        for (const auto &c : cases) {
            ParsedArgs parsed;
            QString error;
            QCOMPARE(parseArgs(c.args, known, parsed, error), c.error.isEmpty());
            QCOMPARE(error, c.error);
            if (!c.error.isEmpty())
                continue;
            QStringList options;
            for (const auto &[name, value] : parsed.options)
                options << name + QLatin1Char('=') + value;
            QCOMPARE(parsed.operands, c.operands);
            QCOMPARE(options, c.options);
        }
    }

    // Each number option of the table: the command line takes exactly its ends, one step
    // beyond is refused, and a number between the steps is taken as typed (not rounded as
    // conversion.ini rounds it). conversion.ini's ends: tst_conversionsettings; the studio's: tst_studio.
    void numberRangeEnds()
    {
        QList<OptionSpec> known = conversionSpecs();
        known << textSpecs();
        for (const NumberOption *option : numberOptions()) {
            if (option->cliName.isEmpty())
                continue;
            const auto accepts = [&](double value) {
                QString text = QString::number(value, 'g', 10);
                if (option == &options::textOffset)
                    text += QLatin1Char(',') + text;
                ParsedArgs args;
                QString error;
                ConversionOptions read;
                return parseArgs({QStringLiteral("--") + option->cliName, text}, known, args, error)
                       && conversionOptions(args, read, error) && textOptions(args, read.text) == Done;
            };
            const double step = 1.0 / option->scale;
            QVERIFY2(accepts(option->lowValue()) && accepts(option->highValue()), qPrintable(option->cliName));
            QVERIFY2(!accepts(option->lowValue() - step) && !accepts(option->highValue() + step), qPrintable(option->cliName));
            if (option->rule == NumberRule::Hundredths)
                QVERIFY(!accepts(option->lowValue() - step / 10) && accepts(option->lowValue() + step / 10));
        }
    }

    // What a batch of convert wrote is on the disk before it ends: the file system flushed
    // once for all of it, not once a file.
    void batchReachesTheDiskBeforeTheEnd()
    {
        QTemporaryDir dir;
        QVERIFY(test::solidImage(8, 8, Qt::black).save(dir.filePath("a.png")) && test::solidImage(8, 8, Qt::white).save(dir.filePath("b.png")));
        const int before = fileSystemFlushes;
        QCOMPARE(runMain({"convert", dir.filePath("a.png"), dir.filePath("b.png"), "-o", dir.path()}), 0);
        QCOMPARE(fileSystemFlushes - before, 1);
        QVERIFY(QFileInfo(dir.filePath("a.bin")).size() == kImageBytes && QFileInfo(dir.filePath("b.bin")).size() == kImageBytes);
    }

    // simulate's output to a reader that stopped reading: a thousand lines wait for it, those
    // beyond are dropped, and nothing is held up meanwhile.
    void outputWaitsAThousandLinesForItsReader()
    {
        int line[2];
        QVERIFY(::pipe(line) == 0);
        ::fcntl(line[1], F_SETFL, ::fcntl(line[1], F_GETFL) | O_NONBLOCK);
        // The count of dropped lines goes to standard output, here a pipe of the test's own.
        int counts[2];
        QVERIFY(::pipe(counts) == 0);
        ::fcntl(counts[1], F_SETFL, ::fcntl(counts[1], F_GETFL) | O_NONBLOCK);
        std::fflush(stdout);
        const int savedOut = ::dup(STDOUT_FILENO);
        QVERIFY(savedOut >= 0 && ::dup2(counts[1], STDOUT_FILENO) == STDOUT_FILENO);
        QByteArray got;
        qint64 idleFinishMs = -1;
        {
            Output idle(false);  // a writer with nothing to write leaves at once when told
            idle.line(QStringLiteral("idle"), line[1]);
            QTest::qWait(100);
            QElapsedTimer timer;
            timer.start();
            idle.finish(5000);
            idleFinishMs = timer.elapsed();
        }
        {
            static const char fill[4096] = {};
            while (::write(line[1], fill, sizeof fill) > 0) {  // the reader's pipe is full
            }
            Output out(false);
            out.line(QStringLiteral("held"), line[1]);
            QTest::qWait(300);  // the writer now waits on the pipe with that line
            for (int k = 0; k < 1500; ++k)
                out.line(QStringLiteral("L"), line[1]);
            char buffer[65536];
            for (pollfd p{line[0], POLLIN, 0}; ::poll(&p, 1, 500) > 0;)
                got.append(buffer, qMax<ssize_t>(::read(line[0], buffer, sizeof buffer), 0));
        }
        ::dup2(savedOut, STDOUT_FILENO);
        ::close(savedOut);
        ::close(counts[1]);
        QByteArray said(4096, '\0');
        said.truncate(qMax<ssize_t>(::read(counts[0], said.data(), said.size()), 0));
        ::close(counts[0]);
        ::close(line[0]);
        ::close(line[1]);
        got.replace(QByteArray(1, '\0'), QByteArray());
        QCOMPARE(got.count("idle\n"), 1);
        QCOMPARE(got.count("held\n"), 1);
        QCOMPARE(got.count("L\n"), 1000);
        // The last lines dropped are counted when the output ends, with no line after them.
        QCOMPARE(QString::fromUtf8(said), QStringLiteral("\u2026 500 lines not shown\n"));
        QVERIFY2(idleFinishMs < 2500, qPrintable(QString::number(idleFinishMs)));
    }

    // A line longer than the pipe holds goes out in pieces, each one where the last ended.
    void aLongLineArrivesWholeThroughANarrowPipe()
    {
        int line[2];
        QVERIFY(::pipe(line) == 0);
        ::fcntl(line[1], F_SETFL, ::fcntl(line[1], F_GETFL) | O_NONBLOCK);
        QString text;
        for (int k = 0; text.size() < 200000; ++k)
            text += QString::number(k) + QLatin1Char(' ');
        QByteArray got;
        {
            Output out(false);
            out.line(text, line[1]);
            char buffer[4096];
            for (pollfd p{line[0], POLLIN, 0}; got.size() <= text.size() && ::poll(&p, 1, 2000) > 0;)
                got.append(buffer, qMax<ssize_t>(::read(line[0], buffer, sizeof buffer), 0));
        }
        ::close(line[0]);
        ::close(line[1]);
        QCOMPARE(got.size(), text.size() + 1);
        QVERIFY(got == text.toUtf8() + '\n');
    }

    // A link left behind by an earlier process that had this one's number (it was killed
    // between making the new link and renaming it) does not stand in the way: neither of
    // ports --link nor of simulate --socket --link.
    void leftoverLinkOfTheSameNumber()
    {
        QTemporaryDir dir;
        const QString leftover = dir.filePath(QStringLiteral("COM3.%1.tmp").arg(::getpid()));
        QVERIFY(QFile::link(dir.filePath("gone"), leftover));
        QCOMPARE(runPorts({"--dir", dir.path(), "--link", "3", "/dev/null"}, dir.path()), 0);
        QCOMPARE(QFile::symLinkTarget(dir.filePath("COM3")), QStringLiteral("/dev/null"));
        QVERIFY(!QFileInfo(leftover).isSymLink());

        // The module runs here until a stop signal; while it runs, COM5 leads to its socket.
        const QString socket = dir.filePath("module.sock"), link = dir.filePath("COM5");
        const QString leftoverToo = link + QStringLiteral(".%1.tmp").arg(::getpid());
        QVERIFY(QFile::link(dir.filePath("gone"), leftoverToo));
        std::atomic<int> code{-1};
        bool linked = false;
        stderrOf([&] {
            std::thread module([&] { code = runSimulate({"--socket", socket, "--link", "5", "--dir", dir.path()}, dir.path()); });
            for (QElapsedTimer t; !t.isValid() || (t.elapsed() < 10000 && code < 0); QThread::msleep(10)) {
                if (!t.isValid())
                    t.start();
                if (QFile::symLinkTarget(link) == socket) {
                    linked = true;
                    break;
                }
            }
            if (code < 0)
                std::raise(SIGTERM);
            module.join();
        });
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGHUP, SIG_DFL);
        QVERIFY(linked);
        QCOMPARE(int(code), 0);
        QVERIFY(!QFileInfo(leftoverToo).isSymLink() && !QFileInfo(link).isSymLink());
    }

    // The device's ranges, which the help, the simulated module's pages and the checks all
    // take from one place: count() is how many numbers contains() takes.
    void deviceRanges()
    {
        for (const protocol::Range &range : {protocol::kPorts, protocol::kPages, protocol::kRewriteTimes}) {
            int taken = 0;
            for (int value = -20; value <= 40; ++value)
                taken += range.contains(value) ? 1 : 0;
            QCOMPARE(range.count(), taken);
        }
    }

    // Ctrl-C reaches the file being written: it is not put in place. Once caught, a stop
    // cannot be taken back, so this runs last.
    void ctrlCStopsTheWriteUnderWay()
    {
        catchInterrupts();
        QVERIFY(!interrupted() && std::raise(SIGINT) == 0 && interrupted());
        QTemporaryDir dir;
        QCOMPARE(writeErrorText(writeOutputFile(dir.filePath("a.bin"), "bytes")), QStringLiteral("interrupted"));
        QVERIFY(QDir(dir.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
        std::signal(SIGINT, SIG_DFL);
    }
};

QTEST_GUILESS_MAIN(TstCliUnits)
#include "tst_cliunits.moc"
