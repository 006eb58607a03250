// What the command line's outputs may never do: replace an input, turn a device into a file,
// widen a file's permissions, leave a temporary behind, or fail without saying why.
#include "cli/cliprocess.h"
#include "common/pictures.h"

#include <QtTest>

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

using namespace pw;
using namespace pw::test;

namespace {

mode_t modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : 0;
}

// Every file of a folder with its bytes, to tell that a refused run changed nothing.
QMap<QString, QByteArray> snapshot(const QString &folder)
{
    QMap<QString, QByteArray> files;
    for (const QString &name : entries(folder))
        files.insert(name, readFile(QDir(folder).filePath(name)));
    return files;
}

bool appears(const QString &path, int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (!QFile::exists(path))
        if (timer.elapsed() > milliseconds)
            return false;
        else
            QTest::qSleep(5);
    return true;
}

}  // namespace

// Whether the process has a handler for SIGTERM yet (Linux: its status lists caught signals).
static bool catchesTerm(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return true;  // no way to tell: go on as before
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1;
    return true;
}

class TstOutputSafety : public QObject {
    Q_OBJECT
private slots:
    // Every route by which an output could land on an input of the same run: found before
    // anything is written, the run stops with exit 1, both paths named, nothing written.
    // Two inputs whose outputs share one name: the first input's output is written and kept,
    // the second is refused, naming the clash, with the exit code of an output not written;
    // the inputs after them are converted.
    void inputsSharingAnOutputName_data()
    {
        QTest::addColumn<QStringList>("inputs");  // the first black, the second white
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("output");
        QTest::newRow("beside their inputs") << QStringList{"a.png", "a.jpg"} << QStringList{} << "a.bin";
        QTest::newRow("into one folder") << QStringList{"a.png", "sub/a.png"} << QStringList{"-o", "out"} << "out/a.bin";
        QTest::newRow("another format") << QStringList{"a.jpg", "a.png"} << QStringList{"--format", "hex"} << "a.hex";
    }
    void inputsSharingAnOutputName()
    {
        QFETCH(QStringList, inputs);
        QFETCH(QStringList, options);
        QFETCH(QString, output);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("sub") && QDir(dir.path()).mkpath("out"));
        const QString first = picture(dir, inputs[0], Qt::black), second = picture(dir, inputs[1], Qt::white);
        const QStringList format = options.value(0) == "--format" ? options : QStringList{};
        const QByteArray firstAlone = run(QStringList{"convert", first, "-o", "-"} + format).out;
        QVERIFY(!firstAlone.isEmpty() && firstAlone != run(QStringList{"convert", second, "-o", "-"} + format).out);
        if (options.value(0) == "-o")
            options[1] = dir.filePath(options[1]);
        // An input after the clash is converted as ever.
        const QString third = picture(dir, "c.png", Qt::white), thirdOutput = QString(output).replace("a.", "c.");
        const Run r = run(QStringList{"convert", first, second, third} + options);
        QCOMPARE(r.code, 3);
        QCOMPARE(r.errLines, QStringList{"pixelwright-cli: " + second + ": the output " + dir.filePath(output) + " was already written from " + first});
        QCOMPARE(readFile(dir.filePath(output)), firstAlone);
        QCOMPARE(readFile(dir.filePath(thirdOutput)), run(QStringList{"convert", third, "-o", "-"} + format).out);
    }

    void outputsNeverReplaceAnInput_data()
    {
        QTest::addColumn<QStringList>("args");  // "%" stands for the folder
        QTest::addColumn<QString>("output");    // as the program names it
        QTest::addColumn<QString>("input");
        QTest::newRow("the same path") << QStringList{"convert", "%/a.bin"} << "%/a.bin" << "%/a.bin";
        QTest::newRow("another spelling") << QStringList{"convert", "%/a.png", "-o", "%/sub/../a.png"} << "%/sub/../a.png" << "%/a.png";
        QTest::newRow("a dot spelling") << QStringList{"convert", "%/a.png", "--format", "png", "-o", "%/./a.png"} << "%/./a.png" << "%/a.png";
        QTest::newRow("a symbolic link") << QStringList{"convert", "%/x.png", "%/a.bin", "-o", "%/sub/"} << "%/sub/x.bin" << "%/a.bin";
        QTest::newRow("a hard link") << QStringList{"convert", "%/y.png", "%/b.bin", "-o", "%/sub/"} << "%/sub/y.bin" << "%/b.bin";
        QTest::newRow("a name derived from another input") << QStringList{"convert", "%/a.png", "%/a.bin"} << "%/a.bin" << "%/a.bin";
        QTest::newRow("a derived name in another format") << QStringList{"convert", "%/b.png", "%/b.bin", "--format", "png"} << "%/b.png" << "%/b.png";
        QTest::newRow("a frame's name") << QStringList{"convert", "%/a.png", "%/a-01.bin", "--frames"} << "%/a-01.bin" << "%/a-01.bin";
        QTest::newRow("a link to the first frame's output") << QStringList{"convert", "%/x.png", "%/z.bin", "--frames", "-o", "%/sub/"}
                                                           << "%/sub/x-00.bin" << "%/z.bin";
        QTest::newRow("preview onto its BIN") << QStringList{"preview", "%/a.bin", "-o", "%/./a.bin"} << "%/./a.bin" << "%/a.bin";
    }
    void outputsNeverReplaceAnInput()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, output);
        QFETCH(QString, input);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("sub"));
        for (const char *name : {"a.png", "x.png", "y.png"})
            picture(dir, name);
        picture(dir, "b.png", Qt::black);
        QVERIFY(writeFile(dir.filePath("a.bin"), "hand-made a") && writeFile(dir.filePath("b.bin"), QByteArray(1024, 'b'))
                && writeFile(dir.filePath("a-01.bin"), "frame"));
        QVERIFY(QFile::link(dir.filePath("a.bin"), dir.filePath("sub/x.bin")));
        QCOMPARE(::link(QFile::encodeName(dir.filePath("b.bin")).constData(), QFile::encodeName(dir.filePath("sub/y.bin")).constData()), 0);
        QVERIFY(writeFile(dir.filePath("sub/x-00.bin"), QByteArray(1024, 'x')) && QFile::link(dir.filePath("sub/x-00.bin"), dir.filePath("z.bin")));
        const auto expand = [&](QString text) { return text.replace('%', dir.path()); };
        QStringList expanded;
        for (const QString &arg : args)
            expanded << expand(arg);
        const QMap<QString, QByteArray> before = snapshot(dir.path()), beforeSub = snapshot(dir.filePath("sub"));
        const Run r = run(expanded);
        QCOMPARE(r.code, 1);
        QCOMPARE(r.errLines.size(), 1);
        QVERIFY2(r.errLines[0].contains("the output " + expand(output) + " would replace the input " + expand(input)), qPrintable(r.errLines[0]));
        QCOMPARE(snapshot(dir.path()), before);
        QCOMPARE(snapshot(dir.filePath("sub")), beforeSub);
    }

    // Devices, terminals and FIFOs are written to, never replaced by a file.
    void outputsThatAreNotFiles()
    {
        QTemporaryDir dir;
        const QString in = picture(dir, "a.png");
        // Never the real /dev/stdout or /dev/null here: a broken writer (a mutant of it, run as
        // root) would replace them and break the machine. A link of the test's own leads the same way.
        QVERIFY(QFile::link("/proc/self/fd/1", dir.filePath("stdout")));
        QCOMPARE(run({"convert", in, "-o", dir.filePath("stdout")}).out, QByteArray(1024, '\xff'));

        const QString fifo = dir.filePath("fifo");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QByteArray got;
        std::thread reader([&] {
            QFile f(fifo);
            if (f.open(QIODevice::ReadOnly))
                got = f.readAll();
        });
        const int code = run({"convert", in, "-o", fifo}).code;
        reader.join();
        QCOMPARE(code, 0);
        QCOMPARE(got, QByteArray(1024, '\xff'));
        QVERIFY(S_ISFIFO(modeOf(fifo)));

        // A device node of our own (the null device's numbers), made only where we may.
        const QString node = dir.filePath("null");
        if (::getuid() != 0 || ::mknod(QFile::encodeName(node).constData(), S_IFCHR | 0666, makedev(1, 3)) != 0)
            QSKIP("not root: no device node can be made to write to (the rest was checked)");
        QCOMPARE(run({"convert", in, "-o", node}).code, 0);
        QVERIFY(S_ISCHR(modeOf(node)));
        QCOMPARE(entries(dir.path()), (QStringList{"a.png", "fifo", "null", "stdout"}));
    }

    // A replaced file keeps its mode; a file nobody may write is refused and left alone.
    void replacedFilesKeepTheirMode()
    {
        QTemporaryDir dir;
        const QString in = picture(dir, "a.png");
        const QString secret = dir.filePath("secret.bin"), locked = dir.filePath("locked.bin");
        QVERIFY(writeFile(secret, "old") && writeFile(locked, "old"));
        QVERIFY(::chmod(QFile::encodeName(secret).constData(), 0600) == 0 && ::chmod(QFile::encodeName(locked).constData(), 0444) == 0);
        QCOMPARE(run({"convert", in, "-o", secret}).code, 0);
        QCOMPARE(readFile(secret), QByteArray(1024, '\xff'));
        QCOMPARE(modeOf(secret) & 07777, mode_t(0600));
        const Run r = run({"convert", in, "-o", locked});
        QCOMPARE(r.code, 3);
        QCOMPARE(r.errLines, QStringList{"pixelwright-cli: " + locked + ": read-only file"});
        QCOMPARE(readFile(locked), QByteArray("old"));
        QCOMPARE(modeOf(locked) & 07777, mode_t(0444));
    }

    // Places the program may not write: another user's folder; another user's file in a sticky
    // folder (only its owner may replace it, though anyone may write it); a read-only file
    // system. The reason is named, old files are kept, and no temporary is left.
    void placesThatRefuseWrites()
    {
#ifdef Q_OS_LINUX
        if (::getuid() != 0)
            QSKIP("needs root: to run the program as another user, and to mount a file system");
        QTemporaryDir dir;
        const QString in = picture(dir, "a.png"), sticky = dir.filePath("sticky"), ro = dir.filePath("ro");
        QVERIFY(QDir(dir.path()).mkdir("sticky") && QDir(dir.path()).mkdir("ro") && writeFile(sticky + "/old.bin", "old"));
        QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0 && ::chmod(QFile::encodeName(sticky).constData(), 01777) == 0
                && ::chmod(QFile::encodeName(sticky + "/old.bin").constData(), 0666) == 0);
        const auto asNobody = [&](const QString &output) {
            QProcess process;
            process.setChildProcessModifier([] {
                if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
                    ::_exit(99);
            });
            process.start(QStringLiteral(PW_CLI_PROGRAM), {"convert", in, "-o", output});
            process.waitForFinished();
            return QStringLiteral("%1 %2").arg(process.exitCode()).arg(QString::fromUtf8(process.readAllStandardError()).trimmed());
        };
        QCOMPARE(asNobody(dir.filePath("x.bin")), "3 pixelwright-cli: " + dir.filePath("x.bin") + ": permission denied");
        QCOMPARE(asNobody(sticky + "/old.bin"), "3 pixelwright-cli: " + sticky + "/old.bin: permission denied");
        QCOMPARE(entries(sticky), QStringList{"old.bin"});  // (a later run would remove a temporary left behind)
        QCOMPARE(readFile(sticky + "/old.bin"), QByteArray("old"));
        QCOMPARE(asNobody(sticky + "/new.bin"), QStringLiteral("0 "));
        QCOMPARE(readFile(sticky + "/new.bin"), QByteArray(1024, '\xff'));
        QCOMPARE(entries(dir.path()), QStringList{"a.png"});
        // Another user's file that anyone may write, in a folder anyone may write: replaced,
        // it is the writer's now, and keeps no set-id bit that would run it as the writer.
        const QString open = dir.filePath("open");
        QVERIFY(QDir(dir.path()).mkdir("open") && ::chmod(QFile::encodeName(open).constData(), 0777) == 0 && writeFile(open + "/set.bin", "old")
                && ::chmod(QFile::encodeName(open + "/set.bin").constData(), 06777) == 0);
        QCOMPARE(asNobody(open + "/set.bin"), QStringLiteral("0 "));
        QCOMPARE(readFile(open + "/set.bin"), QByteArray(1024, '\xff'));
        QCOMPARE(modeOf(open + "/set.bin") & 07777, mode_t(0777));
        QCOMPARE(QFileInfo(open + "/set.bin").ownerId(), 65534u);

        // A file system of our own, seen by this process and the programs it starts.
        const QByteArray root = QFile::encodeName(ro);
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount("tmpfs", root.constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP("no private mount namespace (the rest was checked)");
        const bool made = writeFile(ro + "/old.bin", "old") && QFile::link("/dev/null", ro + "/COM4") && ::mount(nullptr, root.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
        const Run fresh = run({"convert", in, "-o", ro + "/new.bin"}), old = run({"convert", in, "-o", ro + "/old.bin"});
        const Run link = run({"ports", "--dir", ro, "--link", "3", "/dev/null"}), unlink = run({"ports", "--dir", ro, "--unlink", "4"});
        const QStringList left = entries(ro);
        ::umount2(root.constData(), MNT_DETACH);
        QVERIFY(made);
        QVERIFY(fresh.code == 3 && fresh.errLines == QStringList{"pixelwright-cli: " + ro + "/new.bin: read-only file system"});
        QVERIFY(old.code == 3 && old.errLines == QStringList{"pixelwright-cli: " + ro + "/old.bin: read-only file system"});
        QVERIFY(link.code == 3 && link.errLines == QStringList{"pixelwright-cli: " + ro + "/COM3: Read-only file system"});
        QVERIFY(unlink.code == 3 && unlink.errLines == QStringList{"pixelwright-cli: " + ro + "/COM4: could not be removed"});
        QCOMPARE(left, (QStringList{"COM4", "old.bin"}));
#else
        QSKIP("Linux only");
#endif
    }

    // Stopped mid-batch by Ctrl-C, SIGTERM or kill -9: every output is either complete or the
    // old file, on replacing and on new outputs alike. Ctrl-C and SIGTERM leave no temporary;
    // kill -9 can catch the one moment a replacing file has a name of its own, and the next
    // run into the folder removes that name.
    void stoppedBatchesLeaveNoTemporary()
    {
        QTemporaryDir in, out;
        QStringList inputs;
        for (int i = 0; i < 400; ++i)
            inputs << picture(in, QStringLiteral("p%1.png").arg(i, 3, 10, QLatin1Char('0')), i % 2 ? Qt::black : Qt::white);
        // Temporaries left: any after kill -9; after Ctrl-C or SIGTERM none of the stopped run's
        // own (one stopped before its first write has not yet removed a killed run's); none at all
        // after the last run.
        const auto check = [&](bool anyAllowed, pid_t stopped) {
            for (const QString &name : entries(out.path())) {
                if (name.startsWith(".pixelwright-") && (anyAllowed || (stopped > 0 && !name.startsWith(QStringLiteral(".pixelwright-%1-").arg(stopped)))))
                    continue;
                const QByteArray bytes = readFile(out.filePath(name));
                QVERIFY2(name.endsWith(".bin") && !name.startsWith('.'), qPrintable(name));
                const bool odd = name.mid(1, 3).toInt() % 2;
                QVERIFY2(bytes == "old" || bytes == QByteArray(1024, odd ? '\0' : '\xff'), qPrintable(name));
            }
        };
        for (int round = 0; round < 12; ++round) {
            for (int i = round % 3; i < 400; i += 3)  // old files to replace, different each round
                QVERIFY(writeFile(out.filePath(QStringLiteral("p%1.bin").arg(i, 3, 10, QLatin1Char('0'))), "old"));
            const int signal = round % 3 == 0 ? SIGKILL : round % 3 == 1 ? SIGINT : SIGTERM;
            Spawned cli(QStringList{"convert"} + inputs + QStringList{"-o", out.path() + "/"});
            // The signal is meant for a running batch, not for a program still being loaded.
            for (int waited = 0; waited < 5000 && !catchesTerm(cli.pid); waited += 2)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            std::this_thread::sleep_for(std::chrono::milliseconds(20 + 17 * round));
            const pid_t pid = cli.pid;
            ::kill(pid, signal);
            const int code = cli.wait();
            QVERIFY2(code == (signal == SIGKILL ? 128 + SIGKILL : 130) || code == 0, qPrintable(QString::number(code)));
            check(signal == SIGKILL, pid);
            if (code == 0) {  // the signal came too late to stop anything: the batch is whole
                int whole = 0;
                for (const QString &name : entries(out.path()))
                    whole += readFile(out.filePath(name)).size() == 1024;
                QCOMPARE(whole, 400);
            }
        }
        QCOMPARE(run(QStringList{"convert"} + inputs + QStringList{"-o", out.path() + "/"}).code, 0);
        check(false, 0);
        QCOMPARE(entries(out.path()).size(), 400);
    }

    // One line on stderr says true why (a file name's control characters escaped), and no
    // library's message stands before it. A link to a file not there yet is written through.
    void failuresSayWhyInOneLine()
    {
        QTemporaryDir dir;
        QByteArray tiff;
        {
            QBuffer buffer(&tiff);
            QVERIFY(buffer.open(QIODevice::WriteOnly) && solidImage(300, 200, Qt::gray).save(&buffer, "tiff"));
        }
        QVERIFY(writeFile(dir.filePath("cut.tif"), tiff.left(tiff.size() / 3)));
        QVERIFY(QDir(dir.path()).mkdir("a.bin"));
        const QString in = picture(dir, "a.png");
        QVERIFY(writeFile(dir.filePath("w0.gif"), QByteArray("GIF89a\0\0\x01\0\0\0\0;", 14)));
        QVERIFY(QFile::link(dir.filePath("nowhere/t.bin"), dir.filePath("dangling.bin")) && QDir(dir.path()).mkdir("made"));
        QVERIFY(QFile::link("made/t.bin", dir.filePath("ahead.bin")));
        QVERIFY(QFile::link("loop2.bin", dir.filePath("loop1.bin")) && QFile::link("loop1.bin", dir.filePath("loop2.bin")));
        QCOMPARE(::mknod(QFile::encodeName(dir.filePath("socket")).constData(), S_IFSOCK | 0666, 0), 0);  // nothing listens
        const QString longName = dir.filePath(QString(300, 'n') + ".bin");
        // The machine's /dev/full as a node of the test's own (root may make one): a broken
        // writer would replace only this one.
        const QString full = dir.filePath("full");
        const bool fullMade = ::mknod(QFile::encodeName(full).constData(), S_IFCHR | 0666, makedev(1, 7)) == 0;
        const struct {
            QStringList args;
            QString line;
            int code;
        } cases[] = {
            {{dir.filePath("cut.tif"), "-o", dir.filePath("x.bin")}, dir.filePath("cut.tif") + ": not a picture, or damaged", 2},
            {{in}, dir.filePath("a.bin") + ": is a folder", 3},
            {{dir.filePath("w0.gif"), "-o", dir.filePath("x.bin")}, dir.filePath("w0.gif") + ": not a picture, or damaged", 2},
            {{"--frames", dir.filePath("w0.gif"), "-o", dir.filePath("x.bin")}, dir.filePath("w0.gif") + ": not a picture, or damaged", 2},
            {{"--frames", dir.filePath("cut.tif"), "-o", dir.filePath("x.bin")}, dir.filePath("cut.tif") + ": not a picture, or damaged", 2},
            {{in, "-o", dir.filePath("dangling.bin")},
             dir.filePath("dangling.bin") + ": a link to " + dir.filePath("nowhere/t.bin") + ", whose folder does not exist", 3},
            {{dir.filePath("two\nlines\r\t\x01\u0085.png"), in, "-o", dir.filePath("made/")}, dir.filePath("two\\nlines\\r\\t\\x01\\x85.png") + ": no such file", 2},
            {fullMade ? QStringList{in, "-o", full} : QStringList{}, full + ": no space left on the disk", 3},  // a device that takes no byte
            {{in, "-o", dir.filePath("none") + "/"}, dir.filePath("none") + "/: no such folder", 3},
            {{in, "-o", dir.filePath("loop1.bin")}, dir.filePath("loop1.bin") + ": could not be written (Too many levels of symbolic links)", 3},
            {{in, "-o", dir.filePath("socket")}, dir.filePath("socket") + ": could not be written (No such device or address)", 3},
            {{in, "-o", longName}, longName + ": could not be written (File name too long)", 3},
        };
        for (const auto &c : cases) {
            if (c.args.isEmpty())
                continue;  // no device node of our own (not root)
            const Run r = run(QStringList{"convert"} + c.args);
            QCOMPARE(r.code, c.code);
            QCOMPARE(r.errLines, QStringList{"pixelwright-cli: " + c.line});
        }
        QVERIFY(!fullMade || (QFileInfo(full).exists() && !QFileInfo(full).isFile()));  // still the device
        QCOMPARE(run({"convert", in, "-o", dir.filePath("ahead.bin")}).code, 0);
        QVERIFY(QFileInfo(dir.filePath("ahead.bin")).isSymLink());
        QCOMPARE(readFile(dir.filePath("made/t.bin")).size(), 1024);
    }

    // Standard output is an output like any other: when it takes no byte (a full disk), the
    // command says so once and ends with 3, whatever it was writing there.
    void fullStandardOutput()
    {
        QTemporaryDir dir;
        const QString bin = dir.filePath("a.bin");
        QVERIFY(writeFile(bin, QByteArray(1024, 'a')));
        const QString itsOwn = "pixelwright-cli: -: standard output could not be written\n", any = "pixelwright-cli: standard output could not be written\n";
        const QList<QPair<QStringList, QString>> cases{
            {{"convert", bin, "--format", "hex", "-o", "-"}, itsOwn}, {{"preview", bin, "-o", "-"}, itsOwn},
            {{"preview", bin}, any}, {{"send", "--dry-run", "--line", "DP"}, any}, {{"fonts"}, any}, {{"--help"}, any}};
        for (const auto &[args, said] : cases) {
            QProcess process;
            process.setStandardOutputFile("/dev/full");
            process.start(QStringLiteral(PW_CLI_PROGRAM), args);
            QVERIFY(process.waitForFinished());
            QCOMPARE(QString::number(process.exitCode()) + ' ' + process.readAllStandardError(), "3 " + said);
        }
    }

    // Outputs go to disk as they are ready, a frame at a time and in the order of the inputs:
    // the first of 100000 frames is there long before the last is converted, whatever happens
    // later (here a second input nobody ever writes, until the test kills the run), and
    // however many have been written, memory stays flat. A send decodes only what it sends.
    void framesAreWrittenAsTheyComeInFlatMemory()
    {
        QTemporaryDir dir;
        const QString gif = dir.filePath("many.gif"), fifo = dir.filePath("never"), out = dir.filePath("out/");
        QVERIFY(writeFile(gif, tinyFrames(100000)) && QDir().mkdir(out));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        // Under AddressSanitizer freed memory is held back for a while; here it would look like growth.
        qputenv("ASAN_OPTIONS", qgetenv("ASAN_OPTIONS") + ":quarantine_size_mb=1");
        long startKb = 0;  // the program's own start-up (larger under sanitizers): waiting for its input
        {
            Spawned idle({"convert", fifo, "-o", out});
            QTest::qSleep(1000);
            startKb = idle.highWaterKb();
        }
        QVERIFY(startKb > 0);
        const auto grown = [startKb](long peakKb) { return QStringLiteral("+%1 KB").arg(peakKb - startKb); };
        {
            Spawned cli({"convert", "--frames", gif, fifo, "-o", out});
            QVERIFY(appears(out + "many-00.bin", 30000) && appears(out + "many-2000.bin", 30000));
            QVERIFY2(cli.highWaterKb() - startKb < 16 * 1024, qPrintable(grown(cli.highWaterKb())));
            QCOMPARE(readFile(out + "many-01.bin"), QByteArray(1024, '\xff'));
        }
        // Read while it runs (the peak reported at its end starts from this process's own).
        Spawned send({"send", "--dry-run", "--flash", "0", "--frames", gif});
        long peakKb = 0;
        for (long kb; (kb = send.highWaterKb()) > 0; QTest::qSleep(1))
            peakKb = std::max(peakKb, kb);
        QCOMPARE(send.wait(), 0);
        QVERIFY2(peakKb - startKb < 16 * 1024, qPrintable(grown(peakKb)));
    }

    // send --file reads the file as the line takes it: memory stays bounded whatever its
    // size, and Ctrl-C ends it with 130 and the port closed.
    void sendFileStreams()
    {
        QTemporaryDir dir;
        const QString big = dir.filePath("big.txt");
        {
            QFile file(big);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(qint64(2) << 30));  // 2 GB, sparse
        }
        // Under AddressSanitizer freed memory is held back for a while; here it would look like growth.
        qputenv("ASAN_OPTIONS", qgetenv("ASAN_OPTIONS") + ":quarantine_size_mb=1");
        for (const QString &source : {big, QStringLiteral("/dev/zero")}) {
            Pty pty;
            QVERIFY(!pty.path.isEmpty());
            Spawned cli({"send", "--port", pty.path, "--file", source});
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            const long startKb = cli.highWaterKb();  // the program's own start-up (larger under sanitizers)
            std::this_thread::sleep_for(std::chrono::milliseconds(1200));
            const long grownKb = cli.highWaterKb() - startKb;
            ::kill(cli.pid, SIGINT);
            QCOMPARE(cli.wait(), 130);
            QVERIFY2(startKb > 0 && grownKb < 16 * 1024, qPrintable(QStringLiteral("+%1 KB").arg(grownKb)));
            QVERIFY2(pty.received().size() > 4096, "the bytes went out as they were read");
        }
    }

    // Ctrl-C while send still reads and converts its picture, before any port is opened: 130,
    // the port named, nothing printed.
    void sendInterruptedWhilePreparing()
    {
        QTemporaryDir dir;
        const QString picture = dir.filePath("big.png");
        QVERIFY(test::solidImage(4000, 3000, Qt::darkGray).save(picture));  // a whole decode: a while
        QProcess cli;
        cli.start(PW_CLI_PROGRAM, {"send", "--dry-run", "--port", dir.filePath("no-such-tty"), "--vram", "--fit", "contain", picture});
        QVERIFY(cli.waitForStarted(10000));
        const auto pid = pid_t(cli.processId());
        for (int waited = 0; waited < 5000 && !catchesTerm(pid); ++waited)
            QTest::qSleep(1);
        ::kill(pid, SIGINT);
        QVERIFY(cli.waitForFinished(30000));
        QCOMPARE(cli.exitCode(), 130);
        QCOMPARE(cli.readAllStandardError(), "pixelwright-cli: " + QFile::encodeName(dir.filePath("no-such-tty")) + ": interrupted; the port was closed\n");
        QCOMPARE(cli.readAllStandardOutput(), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TstOutputSafety)
#include "tst_outputsafety.moc"
