// The simulated display module: its command stream as tables, its files, and the Qt port
// speaking to it over its socket (in this process, in a temporary folder).
#include "common/simulated.h"
#include "common/testfiles.h"
#include "core/simulator/displaymodule.h"
#include "core/link/qtserialport.h"
#include "core/link/socketline.h"
#include "core/link/transfer.h"

#include <QtTest>

#include <csignal>
#include <dlfcn.h>
#include <fcntl.h>
#include <functional>
#include <unistd.h>
#include <memory>
#include <optional>
#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

using namespace pw;
using namespace pw::test;

// Run once, on request, just before the next pipe is made: a stand-in in front of the C
// library's for the whole test program (it is how a pipe, and not the socket made before it,
// can be given descriptor 0).
static std::function<void()> beforeNextPipe;
extern "C" int pipe(int fds[2]) __THROW
{
    if (beforeNextPipe)
        std::exchange(beforeNextPipe, {})();
    static const auto real = reinterpret_cast<int (*)(int *)>(dlsym(RTLD_NEXT, "pipe"));
    return real(fds);
}

namespace {

const QByteArray imageA = bytePattern(kImageBytes);  // a CR LF at byte 100: data, not a line end
const QByteArray imageB = QByteArray(kImageBytes, '\x5a');
const QByteArray black(kImageBytes, '\0');

QByteArray flashWith(int page, const QByteArray &image)
{
    QByteArray flash(DisplayModule::kPages * kImageBytes, '\0');
    return page < 0 ? flash : flash.replace(page * kImageBytes, kImageBytes, image);
}

// A socket the test answers on itself, in place of the module, with a line connected to it.
// Standard input as these tests recognise it again (put on /dev/null first if it is closed).
bool standardInput(struct stat &status)
{
    return ::fstat(STDIN_FILENO, &status) == 0 || (::open("/dev/null", O_RDONLY) == STDIN_FILENO && ::fstat(STDIN_FILENO, &status) == 0);
}
bool standardInputIsStill(const struct stat &was)
{
    struct stat now {};
    return ::fstat(STDIN_FILENO, &now) == 0 && now.st_dev == was.st_dev && now.st_ino == was.st_ino;
}

struct BareModule {
    BareModule()
    {
        const QByteArray path = QFile::encodeName(dir.filePath("module"));
        listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
        if (listener >= 0 && ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
            && ::listen(listener, 1) == 0 && line.open(QFile::decodeName(path)))
            module = ::accept(listener, nullptr, nullptr);
    }
    bool connected() const { return module >= 0; }

    QTemporaryDir dir;
    int listener = -1, module = -1;
    SocketLine line;
};

struct Outcome {
    QStringList lines;
    QByteArray screen, flash;
    qsizetype mostPending = 0;
    QStringList nextClient;  // what a DP from the next client gives
    bool operator==(const Outcome &o) const { return lines == o.lines && screen == o.screen && flash == o.flash; }
};

// Feeds the stream cut at `cuts` (ascending), then ends it, and a DP comes after.
Outcome feedInPieces(const QByteArray &stream, QList<qsizetype> cuts)
{
    Outcome out;
    DisplayModule module([&out](const DisplayModule::Event &e) { out.lines << DisplayModule::describe(e); });
    qsizetype at = 0;
    for (const qsizetype cut : cuts << stream.size()) {
        module.feed(stream.constData() + at, cut - at);
        at = cut;
        out.mostPending = qMax(out.mostPending, module.pendingBytes());
    }
    module.endOfStream();
    out.screen = imageBytes(module.screen());
    out.flash = module.flashBytes();
    const qsizetype said = out.lines.size();
    module.feed("DP\r\n", 4);
    out.nextClient = out.lines.mid(said);
    out.lines.resize(said);
    return out;
}

struct SleepWaiter final : Waiter {
    bool pause() override
    {
        QThread::msleep(2);
        return true;
    }
};

}  // namespace

class TstSimulator : public QObject {
    Q_OBJECT
private slots:
    void commandStream_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QByteArray>("screen");
        QTest::addColumn<QByteArray>("flash");
        const QByteArray A = imageA, B = imageB;
        const QString tooLong = "dropped: a line longer than 65536 bytes";
        QTest::newRow("VRAM transfer") << "DT5\r\nTI" + A + "\r\nDP\r\n" << QStringList{"DT 5", "TI 1024 bytes", "DP"} << A << flashWith(-1, {});
        QTest::newRow("FLASH page, then TF and DP")
            << "FS12\r\nTS" + A + "\r\nTF12\r\nDP\r\n" << QStringList{"FS 12", "TS 1024 bytes", "TF 12", "DP"} << A << flashWith(12, A);
        QTest::newRow("TS before FS goes to page 0; TI alone shows nothing")
            << "TS" + A + "\r\nTI" + B + "\r\n" << QStringList{"TS 1024 bytes", "TI 1024 bytes"} << black << flashWith(0, A);
        QTest::newRow("arguments outside the device's ranges")
            << QByteArray("DT0\r\nDT6\r\nDT05\r\nFS13\r\nFS\r\nFS012\r\nTF123\r\nTFx\r\ndp\r\nDP \r\n")
            << QStringList{"unknown: DT0", "unknown: DT6", "DT 5", "unknown: FS13", "unknown: FS", "unknown: FS012", "unknown: TF123", "unknown: TFx", "unknown: dp", "unknown: DP "}
            << black << flashWith(-1, {});
        QTest::newRow("unknown lines escaped; only CR LF ends a line")
            << QByteArray("\x01\xff\\\tA\rB\r\n\r\nDP\nDT2\n\r\nDP\r\n", 24)
            << QStringList{"unknown: \\x01\\xff\\\\\\tA\\rB", "unknown: ", "unknown: DP\\nDT2\\n", "DP"} << black << flashWith(-1, {});
        QTest::newRow("data ended by a bare LF is dropped with the rest of its line")
            << "TI" + A + "\nDP\r\nDP\r\n" << QStringList{"TI dropped: its 1024 bytes are not followed by CR LF", "DP"} << black << flashWith(-1, {});
        QTest::newRow("data not ended by CR LF is dropped")
            << "TI" + A + "XY\r\nDP\r\nTS" + A + "\r\r\nDP\r\n"
            << QStringList{"TI dropped: its 1024 bytes are not followed by CR LF", "DP", "TS dropped: its 1024 bytes are not followed by CR LF", "DP"}
            << black << flashWith(-1, {});
        QTest::newRow("stream ends in the data") << "TI" + A.left(100) << QStringList{"TI cut short after 100 of 1024 bytes"} << black << flashWith(-1, {});
        QTest::newRow("stream ends before the data's CR LF")
            << "FS3\r\nTS" + A + "\r" << QStringList{"FS 3", "TS cut short before its CR LF"} << black << flashWith(-1, {});
        QTest::newRow("stream ends in a line") << QByteArray("DP\r\nDT3") << QStringList{"DP", "cut off: DT3"} << black << flashWith(-1, {});
        QTest::newRow("longest line") << QByteArray(DisplayModule::kMaxLine, 'A') + "\r\n"
                                      << QStringList{"unknown: " + QString(64, 'A') + "... (65536 bytes)"} << black << flashWith(-1, {});
        QTest::newRow("a line past the bound") << QByteArray(DisplayModule::kMaxLine + 1, 'A') + "\r\nDP\r\n" << QStringList{tooLong, "DP"} << black << flashWith(-1, {});
        QTest::newRow("a megabyte without a line end")
            << QByteArray(1 << 20, '\0') + "\r\nTI" + B + "\r\nDP\r\n" << QStringList{tooLong, "TI 1024 bytes", "DP"} << B << flashWith(-1, {});
    }

    // Fed whole, a byte at a time, or cut anywhere: the same commands, the same memories, and
    // never more than a line's bound held.
    void commandStream()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QStringList, lines);
        QFETCH(QByteArray, screen);
        QFETCH(QByteArray, flash);
        const Outcome whole = feedInPieces(stream, {});
        QCOMPARE(whole.lines, lines);
        QCOMPARE(whole.nextClient, QStringList{"DP"});  // nothing of this stream is left over
        QVERIFY(whole.screen == screen && whole.flash == flash);

        QList<qsizetype> everyByte;
        for (qsizetype i = 1; i < stream.size(); ++i)
            everyByte << i;
        const Outcome byByte = feedInPieces(stream, everyByte);
        QVERIFY(byByte == whole);
        QVERIFY(byByte.mostPending <= DisplayModule::kMaxLine + 1);

        QList<qsizetype> cuts = stream.size() <= 2100 ? everyByte : QList<qsizetype>{1, 2, 3, 1023, 1024, 1025, 1026, 65535, 65536, 65537, 65538};
        for (const qsizetype cut : cuts)
            if (cut < stream.size() && !(feedInPieces(stream, {cut}) == whole))
                QFAIL(qPrintable(QString("cut at %1 differs").arg(cut)));
    }

    // A socket left behind is replaced; the FLASH pages survive a restart, the last one
    // too; a page the file holds only in part keeps what it holds. (What else is refused:
    // tst_simulate's linkRules.)
    void moduleFiles()
    {
        InProcessModule module;
        QVERIFY(leaveStaleSocket(module.options.socketPath) && socketPresence(module.options.socketPath) == SocketPresence::Stale);
        QVERIFY(writeFile(module.options.flashFile, imageA + imageB.left(500)));
        QVERIFY(module.start());
        QCOMPARE(module.screen(), black);   // the power-up screen
        QtSerialPort port({});
        port.setDeviceNameOverride(module.options.socketPath);
        QVERIFY(port.open() && port.writeBytes("TF0\r\nDP\r\n"));
        QTRY_COMPARE(module.screen(), imageA);
        QVERIFY(port.writeBytes("TF1\r\nDP\r\nFS12\r\nTS" + imageB + "\r\n"));
        QTRY_COMPARE(module.lines().size(), 6);
        const QByteArray partPage = imageB.left(500) + QByteArray(kImageBytes - 500, '\0');
        QCOMPARE(module.screen(), partPage);
        QCOMPARE(readFile(module.options.flashFile), flashWith(1, partPage).replace(0, kImageBytes, imageA).replace(12 * kImageBytes, kImageBytes, imageB));
        DisplayModule oneByteOver([](const DisplayModule::Event &) {});  // even one byte of a page is kept
        oneByteOver.loadFlash(imageA + "\x5a");
        QCOMPARE(oneByteOver.flashBytes(), flashWith(0, imageA).replace(kImageBytes, 1, "\x5a"));
        port.close();
        module.stop();

        QVERIFY(module.start());
        QVERIFY(port.open() && port.writeBytes("TF12\r\nDP\r\n"));
        QTRY_COMPARE(module.screen(), imageB);
    }

    // A flash file is read byte for byte, blank past its end, and the warning says exactly
    // what starts blank; one longer than the pages is no flash file and is left untouched.
    // A page written replaces the file whole and keeps its permissions.
    void flashFileAtStart_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("said");   // %1: the file
        QTest::addColumn<bool>("starts");
        QTest::newRow("empty") << 0 << "%1: holds 0 of 13312 bytes; pages 0-12 start blank" << true;
        QTest::newRow("two and a half pages") << 2560 << "%1: holds 2560 of 13312 bytes; page 2 from byte 512 on and pages 3-12 start blank" << true;
        QTest::newRow("all but the last page") << 12288 << "%1: holds 12288 of 13312 bytes; page 12 starts blank" << true;
        QTest::newRow("a byte short") << 13311 << "%1: holds 13311 of 13312 bytes; page 12 from byte 1023 on starts blank" << true;
        QTest::newRow("whole") << 13312 << "" << true;
        QTest::newRow("a byte too long") << 13313 << "%1: 13313 bytes, more than the 13 FLASH pages' 13312; not a flash file, left as it is" << false;
    }
    void flashFileAtStart()
    {
        QFETCH(int, size);
        QFETCH(QString, said);
        QFETCH(bool, starts);
        InProcessModule module;
        const QString flash = module.options.flashFile;
        const QByteArray held = bytePattern(qMax(size, 102)).left(size);
        QVERIFY(writeFile(flash, held) && QFile::setPermissions(flash, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
        QCOMPARE(module.start(), starts);
        if (!starts) {
            QCOMPARE(module.error, said.arg(flash));
            QVERIFY(readFile(flash) == held && !QFileInfo::exists(module.options.socketPath) && !QFileInfo::exists(module.options.snapshotFile));
            return;
        }
        QCOMPARE(module.troubles(), said.isEmpty() ? QStringList{} : QStringList{said.arg(flash)});
        const int page = qMin(size / kImageBytes, DisplayModule::kPages - 1);
        QByteArray pages = held + QByteArray(DisplayModule::kPages * kImageBytes - size, '\0');
        QtSerialPort port({});
        port.setDeviceNameOverride(module.options.socketPath);
        QVERIFY(port.open() && port.writeBytes("TF" + QByteArray::number(page) + "\r\nDP\r\nFS0\r\nTS" + imageB + "\r\n"));
        QTRY_COMPARE(module.lines().size(), 4);
        QCOMPARE(module.screen(), pages.mid(page * kImageBytes, kImageBytes));
        QCOMPARE(readFile(flash), pages.replace(0, kImageBytes, imageB));
        QCOMPARE(QFile::permissions(flash), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadUser | QFileDevice::WriteUser);
    }

    // Each file is written by its own command only: a DP leaves the flash file as it was, a
    // page leaves the snapshot, and a module given neither file writes nothing and reports
    // nothing.
    void eachFileByItsOwnCommand()
    {
        for (const bool files : {true, false}) {
            InProcessModule module;
            if (!files)
                module.options.flashFile.clear(), module.options.snapshotFile.clear();
            QVERIFY(module.start());
            const QDateTime past(QDate(2000, 1, 1), QTime(0, 0), Qt::UTC);
            const auto backdate = [&](const QString &file) {
                QFile f(file);
                return !files || (f.open(QIODevice::ReadWrite) && f.setFileTime(past, QFileDevice::FileModificationTime));
            };
            QVERIFY(backdate(module.options.flashFile));
            QtSerialPort port({});
            port.setDeviceNameOverride(module.options.socketPath);
            QVERIFY(port.open() && port.writeBytes("DP\r\n"));
            QTRY_COMPARE(module.lines().size(), 1);
            if (files)
                QCOMPARE(QFileInfo(module.options.flashFile).lastModified(), past);
            QVERIFY(backdate(module.options.snapshotFile));
            QVERIFY(port.writeBytes("FS2\r\nTS" + imageA + "\r\n"));
            QTRY_COMPARE(module.lines().size(), 3);
            if (files)
                QCOMPARE(QFileInfo(module.options.snapshotFile).lastModified(), past);
            QCOMPARE(module.troubles(), QStringList{});
            QCOMPARE(QDir(QFileInfo(module.options.socketPath).path()).entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot).size(),
                     files ? 3 : 1);
        }
    }

    // The port finds the module through a link in the program's folder; CTS reports come in
    // order however short the pulse; what a client leaves cut off is reported and the next
    // client is served.
    void portOverModule()
    {
        InProcessModule module;
        QVERIFY(module.start());
        QTemporaryDir folder;
        QVERIFY(QFile::link(module.options.socketPath, folder.filePath("COM3")));
        QtSerialPort port(folder.path());
        QVERIFY(openPortSequence(port, "3"));
        bool cts = false;
        QVERIFY(port.readCts(cts) && cts);
        std::atomic<int> wakes{0};
        QVERIFY(port.watchCts([&wakes] { ++wakes; }));
        QVERIFY(port.writeText("DT2\r\nDP\r\n"));
        QTRY_VERIFY(wakes >= 2);   // the drop, and 50 ms later the rise
        port.stopWatchingCts();
        QList<bool> reads;   // read late, the pulse is still there
        for (int i = 0; i < 3; ++i)
            reads << (port.readCts(cts) && cts);
        QCOMPARE(reads, (QList<bool>{false, true, true}));
        qint64 count = -1;
        QTRY_VERIFY(port.transmitCount(count) && count == 0);
        port.close();

        QVERIFY(openPortSequence(port, "3") && port.writeBytes(QByteArray("\0junk\r\nTI", 9) + imageA.left(10)));
        QTRY_VERIFY(port.transmitCount(count) && count == 0);
        port.close();
        QVERIFY(openPortSequence(port, "3") && port.writeText("DP\r\n"));
        QTRY_COMPARE(module.lines(), (QStringList{"DT 2", "DP", "unknown: \\x00junk", "TI cut short after 10 of 1024 bytes", "DP"}));
        port.close();
    }

    // A socket address holds 107 bytes of name and its end; a link with a longer name reaches
    // the module through the short name it leads to.
    void linkOfAnyLength_data()
    {
        QTest::addColumn<int>("length");
        for (const int length : {107, 108, 109, 200})
            QTest::newRow(qPrintable(QString::number(length))) << length;
    }
    void linkOfAnyLength()
    {
        QFETCH(int, length);
        InProcessModule module;
        QVERIFY(module.start());
        QTemporaryDir top;
        const int room = length - int(QFile::encodeName(top.path()).size()) - int(strlen("//COM3"));
        QVERIFY(room > 0);
        const QString folder = top.filePath(QString(room, 'd'));
        QVERIFY(QDir().mkpath(folder));
        QCOMPARE(QFile::encodeName(folder + "/COM3").size(), length);
        QVERIFY(QFile::link(module.options.socketPath, folder + "/COM3"));
        QtSerialPort port(folder);
        QVERIFY(openPortSequence(port, "3") && port.writeText("DP\r\n"));
        QTRY_COMPARE(module.lines(), QStringList{"DP"});
        port.close();
    }

    // Bytes go at the line's pace without ever holding up the writer; closing drops what the
    // program still held, and what had been handed over still comes at the line's pace.
    void pacedLine()
    {
        InProcessModule module(false);
        QVERIFY(module.start());
        QtSerialPort port({});
        port.setDeviceNameOverride(module.options.socketPath);
        QVERIFY(port.open());
        const QByteArray halfSecond = QByteArray("FS1\r\n").repeated(96);
        QElapsedTimer clock;
        clock.start();
        SleepWaiter waiter;
        QVERIFY(port.writeBytes(halfSecond));
        QCOMPARE(waitHandedOver(port, waiter), Waiter::End::Reached);
        QCOMPARE(waitTransmitted(port, waiter, halfSecond.size()), Waiter::End::Reached);
        QVERIFY2(clock.elapsed() >= 450 && clock.elapsed() < 3000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(module.lines().size(), 96);

        clock.restart();
        QVERIFY(port.writeBytes(QByteArray("FS2\r\n").repeated(2000)));   // ten seconds of line
        qint64 left = 0, queued = 0;
        QVERIFY(port.handOver(left) && left > 0 && port.transmitCount(queued) && queued > left);
        QVERIFY2(clock.elapsed() < 100, qPrintable(QString::number(clock.elapsed())));
        QThread::msleep(200);
        port.close();
        // The next client is served once the last one's bytes are taken and its end reported.
        QVERIFY(port.open() && port.writeText("DP\r\n"));
        QTRY_COMPARE_WITH_TIMEOUT(module.lines().last(), QString("DP"), 10000);   // the socket held some 4 KiB
        const QStringList lines = module.lines();
        const QString end = lines.at(lines.size() - 2);
        QVERIFY2(end.startsWith("cut off: F") || end == "FS 2", qPrintable(end));
        QVERIFY2(lines.size() - 98 > 30 && lines.size() - 98 < 2000, qPrintable(QString::number(lines.size())));
        const qsizetype taken = lines.count("FS 2") * 5 + (end.startsWith("cut off: ") ? end.size() - 9 : 0);
        QVERIFY2(clock.elapsed() >= taken * 1000 / Simulator::kBytesPerSecond * 9 / 10,
                 qPrintable(QString("%1 bytes in %2 ms").arg(taken).arg(clock.elapsed())));
    }

    // A transfer ends when the module has taken its last byte: a FLASH page is written by the
    // time Done is told, and a VRAM send's bytes take the line's time up to Sent.
    void transferEndsWithTheLine()
    {
        InProcessModule module(false);
        QVERIFY(module.start());
        QtSerialPort port({});
        port.setDeviceNameOverride(module.options.socketPath);
        struct Listener final : TransferListener {
            std::function<void(TransferPhase)> heard;
            void phase(TransferPhase phase) override { heard(phase); }
        } listener;
        QStringList linesAtDone;
        QElapsedTimer clock;
        qint64 sendingMs = -1;
        listener.heard = [&](TransferPhase phase) {
            if (phase == TransferPhase::Done)
                linesAtDone = module.lines();
            if (phase == TransferPhase::Sending)
                clock.start();
            if (phase == TransferPhase::Sent)
                sendingMs = clock.elapsed();
        };
        SleepWaiter waiter;
        QCOMPARE(sendImage(port, waiter, "1", flashPageStream(MonoImage{}, 4), listener), TransferEnd::Done);
        QCOMPARE(linesAtDone, (QStringList{"FS 4", "TS 1024 bytes"}));
        const ImageStream vram = displayMemoryStream(MonoImage{}, 1);
        QCOMPARE(sendImage(port, waiter, "1", vram, listener), TransferEnd::Done);
        const qint64 lineMs = vram.bytes().size() * 1000 / Simulator::kBytesPerSecond;
        QVERIFY2(qAbs(sendingMs - lineMs) <= lineMs / 10, qPrintable(QString("%1 ms, the line's %2").arg(sendingMs).arg(lineMs)));
    }

    // With standard input closed, descriptor 0 is the first one free: the module (its socket or
    // its wake pipe) and a line that get it work as with any other number, and give it back
    // when they end.
    void descriptorZeroIsAnyOther()
    {
        InProcessModule other;
        QVERIFY(other.start());
        const int savedInput = ::dup(STDIN_FILENO);
        QVERIFY(savedInput >= 0);
        ::close(STDIN_FILENO);
        bool moduleStarted = false, zeroGivenBack = false, lineOpened = false, lineWorks = false;
        {
            InProcessModule module;  // its socket takes descriptor 0
            moduleStarted = module.start();
            module.stop();
            zeroGivenBack = ::fcntl(STDIN_FILENO, F_GETFD) == -1;
            SocketLine line;  // its socket takes descriptor 0
            lineOpened = zeroGivenBack && line.open(other.options.socketPath);
            bool cts = false;
            lineWorks = lineOpened && line.send("DP\r\n", 4) == 4 && line.readCts(cts) && line.watch([] {});
        }
        ::dup2(savedInput, STDIN_FILENO);
        // A client the module accepts on descriptor 0 is heard and answered.
        QByteArray told;
        QStringList heard;
        bool acceptedOnZero = false;
        {
            InProcessModule module;
            const bool started = module.start();
            const int client = ::socket(AF_UNIX, SOCK_STREAM, 0);  // made while 0 is taken
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            qstrncpy(address.sun_path, QFile::encodeName(module.options.socketPath).constData(), sizeof address.sun_path);
            ::close(STDIN_FILENO);
            if (started && client >= 0 && ::connect(client, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
                && ::send(client, "DP\r\n", 4, MSG_NOSIGNAL) == 4) {
                for (QDeadlineTimer deadline(3000); (told.isEmpty() || heard.isEmpty()) && !deadline.hasExpired(); heard = module.lines()) {
                    char byte = 0;
                    if (pollfd p{client, POLLIN, 0}; ::poll(&p, 1, 5) > 0 && ::recv(client, &byte, 1, 0) == 1)
                        told += byte;
                }
                acceptedOnZero = ::fcntl(STDIN_FILENO, F_GETFD) != -1;
            }
            ::close(client);
            module.stop();
        }
        ::dup2(savedInput, STDIN_FILENO);
        // Its wake pipe as well: standard input closed after the socket is made.
        bool pipeTookZero = false, pipeZeroGivenBack = false;
        {
            InProcessModule module;
            beforeNextPipe = [] { ::close(STDIN_FILENO); };
            pipeTookZero = module.start() && ::fcntl(STDIN_FILENO, F_GETFD) != -1;
            module.stop();
            pipeZeroGivenBack = ::fcntl(STDIN_FILENO, F_GETFD) == -1;
        }
        ::dup2(savedInput, STDIN_FILENO);
        ::close(savedInput);
        QVERIFY(moduleStarted && zeroGivenBack);
        QVERIFY(lineOpened && lineWorks);
        QVERIFY(pipeTookZero && pipeZeroGivenBack);
        QVERIFY(acceptedOnZero);
        QVERIFY2(told.startsWith(Simulator::kCtsAsserted), told.constData());  // ready first; a busy spell may follow
        QCOMPARE(heard, QStringList{"DP"});
    }

    // How long a transfer waits for its bytes to leave: their time on the line at 9600 baud,
    // ten bit times a byte (8N1), rounded up to the millisecond, and a second more.
    void lineTimeOfBytes()
    {
        const struct {
            qint64 bytes, ms;
        } cases[] = {{0, 1000}, {-5, 1000}, {1, 1002}, {960, 2000}, {385, 1402}, {1024, 2067}, {13 * 1031, 14962}};
        for (const auto &c : cases)
            QCOMPARE(transmitBoundMs(c.bytes), c.ms);
    }

    // Senders beyond the one served are held in the order they came, 64 of them, each told at
    // once that the module is not ready; the next is refused at once and told the module is
    // busy. One that gives up before its turn frees its place.
    void othersWaitTheirTurn()
    {
        InProcessModule module;
        QVERIFY(module.start());
        QtSerialPort first({});
        first.setDeviceNameOverride(module.options.socketPath);
        QVERIFY(first.open() && first.writeText("DT1\r\n"));
        QTRY_COMPARE(module.lines(), QStringList{"DT 1"});
        std::vector<std::unique_ptr<SocketLine>> waiting;
        QStringList expected{"DT 1"};
        QElapsedTimer opening;  // told at once: no open waits for a report (a quarter second each)
        opening.start();
        for (int k = 0; k < 64; ++k) {
            waiting.push_back(std::make_unique<SocketLine>());
            const QByteArray line = k == 10 ? QByteArray() : "W" + QByteArray::number(k) + "\r\n";  // 10 only waits
            QVERIFY2(waiting.back()->open(module.options.socketPath) && waiting.back()->send(line.constData(), line.size()) == line.size(),
                     qPrintable(QString::number(k)));
            if (k != 10)
                expected << "unknown: W" + QString::number(k);
        }
        QVERIFY2(opening.elapsed() < 4000, qPrintable(QString::number(opening.elapsed()) + " ms"));
        bool cts = true;
        QVERIFY(waiting.front()->readCts(cts) && !cts);
        QtSerialPort refused({});
        refused.setDeviceNameOverride(module.options.socketPath);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!refused.open());
        QVERIFY2(clock.elapsed() < 1000 && refused.failureReason().contains("busy"), qPrintable(refused.failureReason()));
        auto late = std::make_unique<SocketLine>();  // refused while all 64 wait, then let in
        QVERIFY(!late->open(module.options.socketPath) && late->busy());
        waiting[10].reset();
        bool joined = false;
        QTRY_VERIFY(joined || (joined = late->open(module.options.socketPath)));
        QVERIFY(late->send("LATE\r\n", 6) == 6);
        waiting.push_back(std::move(late));
        QVERIFY(waiting.front()->watch([] {}));  // and one goes while its line is watched
        expected << "unknown: LATE";
        first.close();
        waiting.clear();   // each one's line was on the line before it went away
        QTRY_COMPARE(module.lines(), expected);
    }

    // A sender that must wait is told so in one byte, and nothing more until its turn; what it
    // sends before then costs the module nothing while it waits, and its turn comes as to any.
    void waitingSenderToldInOneByte()
    {
        InProcessModule module;
        QVERIFY(module.start());
        QtSerialPort first({});
        first.setDeviceNameOverride(module.options.socketPath);
        QVERIFY(first.open());
        const int waiting = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(module.options.socketPath).constData(), sizeof address.sun_path);
        QVERIFY(waiting >= 0 && ::connect(waiting, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0);
        // What the module says to it within `ms`, or until `enough` holds.
        const auto heard = [waiting](int ms, const std::function<bool(const QByteArray &)> &enough) {
            QByteArray bytes;
            for (QDeadlineTimer deadline(ms); !enough(bytes) && !deadline.hasExpired();) {
                char buffer[16];
                if (pollfd p{waiting, POLLIN, 0}; ::poll(&p, 1, 20) > 0)
                    bytes.append(buffer, qMax<ssize_t>(::recv(waiting, buffer, sizeof buffer, 0), 0));
            }
            return bytes;
        };
        const QByteArray told = heard(400, [](const QByteArray &) { return false; });
        // What it sends meanwhile waits for its turn without keeping the module busy.
        const auto cpuMs = [] {
            rusage r{};
            ::getrusage(RUSAGE_SELF, &r);
            return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000 + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000;
        };
        QVERIFY(::send(waiting, "DP\r\n", 4, MSG_NOSIGNAL) == 4);
        const long before = cpuMs();
        QThread::msleep(400);
        const long busy = cpuMs() - before;
        // Its turn: told that the module is ready, and its line taken.
        first.close();
        const QByteArray turn = heard(3000, [](const QByteArray &bytes) { return bytes.contains(Simulator::kCtsAsserted); });
        QTRY_COMPARE(module.lines(), QStringList{"DP"});
        ::close(waiting);
        QCOMPARE(told, QByteArray(1, Simulator::kCtsDropped));
        QVERIFY2(busy < 100, qPrintable(QString::number(busy) + " ms of processor time in 400 ms"));
        QVERIFY2(turn.contains(Simulator::kCtsAsserted), turn.toHex().constData());
    }

    // The line takes the module's reports, one byte each, and nothing else it may find among
    // them; of a flood it keeps the latest 64.
    void lineReadsReportsOnly()
    {
        BareModule bare;
        SocketLine &line = bare.line;
        QVERIFY(bare.connected());
        const int module = bare.module, listener = bare.listener;
        const auto reports = [&](const QByteArray &bytes) {
            QString seen;
            if (::write(module, bytes.constData(), size_t(bytes.size())) != bytes.size())
                return QStringLiteral("not written");
            bool cts = false;
            QTest::qWait(20);
            for (int k = 0; k < 80 && line.readCts(cts); ++k)
                seen += cts ? QLatin1Char('1') : QLatin1Char('0');
            return seen;
        };
        QCOMPARE(reports(QByteArrayLiteral("1x\r\n0 \x00" "1")), QStringLiteral("101") + QString(77, QLatin1Char('1')));
        const QByteArray flood = QByteArray(6, '0') + QByteArray(32, '1') + QByteArray(32, '0');
        QCOMPARE(reports(flood), QString(32, QLatin1Char('1')) + QString(48, QLatin1Char('0')));
        ::close(module);
        ::close(listener);
        bool cts = false;
        QTRY_VERIFY(!line.readCts(cts));
    }

    // A watch whose wait fails (the process may poll no more descriptors) ends at once, and
    // stopping it then returns instead of waiting on a watch that spins.
    void watchEndsWhenItsWaitFails()
    {
        BareModule bare;
        SocketLine &line = bare.line;
        QVERIFY(bare.connected());
        const int module = bare.module, listener = bare.listener;
        std::atomic<int> wakes{0};
        QVERIFY(line.watch([&wakes] { ++wakes; }));
        QVERIFY(::write(module, "1", 1) == 1);
        QTRY_COMPARE(wakes.load(), 1);  // the watch is in its loop
        rlimit before{};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &before), 0);
        rlimit one = before;
        one.rlim_cur = 1;  // poll() of two descriptors now fails (EINVAL)
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &one), 0);
        const bool reported = ::write(module, "0", 1) == 1;
        for (int i = 0; i < 100 && wakes == 1; ++i)
            QThread::msleep(5);
        QThread::msleep(50);  // the watch polls again, and fails
        line.stopWatching();
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &before), 0);
        QVERIFY(reported);
        QCOMPARE(wakes.load(), 2);
        ::close(module);
        ::close(listener);
    }

    // Stopped twice, by its owner and again as it goes, the module closes only its own
    // descriptors: the program's standard input stays open. So does one refused at its start,
    // which never had any.
    void stoppingTwiceClosesOnlyItsOwn()
    {
        struct stat before {};
        QVERIFY(standardInput(before));
        {
            InProcessModule module, second;
            QVERIFY2(module.start(), qPrintable(module.error));
            second.options.socketPath = module.options.socketPath;
            QVERIFY(!second.start());
            QCOMPARE(second.error, module.options.socketPath + ": a simulator already listens there");
            second.stop();
            QVERIFY(standardInputIsStill(before));
            module.stop();
        }
        QVERIFY(standardInputIsStill(before));
    }

    // With no descriptor left, a line cannot open and a module's presence cannot be told; the
    // program's own descriptors (standard input here) are left as they are.
    void noDescriptorLeft()
    {
        InProcessModule module;
        QVERIFY2(module.start(), qPrintable(module.error));
        struct stat before {};
        QVERIFY(standardInput(before));
        const int lowest = ::dup(STDIN_FILENO);  // every descriptor below it is taken
        QVERIFY(lowest > 0 && ::close(lowest) == 0);
        rlimit saved{};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        rlimit none = saved;
        none.rlim_cur = rlim_t(lowest);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &none), 0);
        SocketLine line;
        const bool opened = line.open(module.options.socketPath);
        const SocketPresence presence = socketPresence(module.options.socketPath);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &saved), 0);
        QVERIFY(!opened);
        QVERIFY(presence == SocketPresence::Other);
        QVERIFY(standardInputIsStill(before));
        QVERIFY(line.open(module.options.socketPath));  // and once there are, it opens
    }

    // A module that goes is told of once, and the watch ends there instead of waking again and
    // again on the closed line.
    void watchTellsOnceOfAModuleThatWent()
    {
        BareModule bare;
        QVERIFY(bare.connected());
        std::atomic<int> wakes{0};
        QVERIFY(bare.line.watch([&wakes] { ++wakes; }));
        ::close(bare.module);
        QTRY_VERIFY(wakes.load() >= 1);
        QThread::msleep(100);
        QCOMPARE(wakes.load(), 1);
        bare.line.stopWatching();
        ::close(bare.listener);
    }

    // A signal that interrupts the module's wait (a terminal resized, a child ended) does not
    // stop it serving.
    void servesThroughSignals()
    {
        struct sigaction ignore {}, old {};
        ignore.sa_handler = [](int) {};
        QVERIFY(::sigaction(SIGUSR1, &ignore, &old) == 0);  // no SA_RESTART: the wait ends in EINTR
        InProcessModule files;
        std::mutex mutex;
        QStringList lines;
        std::optional<pthread_t> serving;
        Simulator::Hooks hooks;
        hooks.line = [&](const QString &line) {
            const std::lock_guard<std::mutex> lock(mutex);
            lines << line;
            serving = ::pthread_self();
        };
        Simulator module(files.options, hooks);
        QVERIFY(module.start(files.error));
        QtSerialPort port({});
        port.setDeviceNameOverride(files.options.socketPath);
        QVERIFY(port.open() && port.writeText("DT1\r\n"));
        const auto seen = [&] {
            const std::lock_guard<std::mutex> lock(mutex);
            return lines;
        };
        QTRY_COMPARE(seen(), QStringList{"DT 1"});
        const pthread_t thread = [&] {
            const std::lock_guard<std::mutex> lock(mutex);
            return *serving;
        }();
        for (int k = 0; k < 5; ++k) {
            ::pthread_kill(thread, SIGUSR1);
            QTest::qWait(10);
        }
        QVERIFY(port.writeText("DT2\r\n"));
        QTRY_COMPARE(seen(), (QStringList{"DT 1", "DT 2"}));
        port.close();
        module.stop();
        ::sigaction(SIGUSR1, &old, nullptr);
    }

    // A module that goes away fails the port's reads and writes, as an unplugged adapter does.
    void moduleGoesAway()
    {
        InProcessModule module;
        QVERIFY(module.start());
        QtSerialPort port({});
        port.setDeviceNameOverride(module.options.socketPath);
        bool cts = false;
        QVERIFY(port.open() && port.readCts(cts) && cts);
        module.stop();
        QTRY_VERIFY(!port.readCts(cts));
        qint64 left = 0;
        QVERIFY(!port.writeText("DP\r\n") || !port.handOver(left));
        port.close();
        QVERIFY(!port.open());
    }
};

QTEST_GUILESS_MAIN(TstSimulator)
#include "tst_simulator.moc"
