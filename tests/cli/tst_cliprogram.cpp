// The built pixelwright-cli run end to end: exit codes, stderr lines, outputs, and nothing
// written (or changed) on failure.
#include "cli/cliprocess.h"
#include "common/pictures.h"

#include <QtTest>

#include <sys/stat.h>

using namespace pw;
using namespace pw::test;

class TstCliProgram : public QObject {
    Q_OBJECT
private slots:
    void usageAndHelp()
    {
        QCOMPARE(run({}).code, 1);
        const Run unknown = run({"frobnicate"});
        QCOMPARE(unknown.code, 1);
        QCOMPARE(unknown.errLines, QStringList{"pixelwright-cli: unknown command 'frobnicate' (see 'pixelwright-cli --help')"});
        // Every help text as it stands in tests/cli/help: the ranges, defaults and choices in it
        // are built from the option tables, and a slip there changes what users read.
        for (const QString &command : QStringList{"main", "convert", "preview", "send", "ports", "simulate", "fonts"}) {
            const Run help = run(command == "main" ? QStringList{"--help"} : QStringList{command, "--help"});
            QCOMPARE(help.code, 0);
            QFile golden(PW_HELP_DIR "/" + command + ".txt");
            QVERIFY(golden.open(QIODevice::ReadOnly));
            QCOMPARE(help.out, golden.readAll());
        }
        QCOMPARE(run({"convert", "x.png", "--dither", "sideways"}).code, 1);
        QCOMPARE(run({"convert", "x.png", "--threshold", "256"}).code, 1);
        // One past the device's rewrite times and FLASH pages (the last ones are sent in dryRunPrintsTheStream).
        for (const QStringList &past : {QStringList{"--vram", "--time", "6"}, QStringList{"--flash", "13"}})
            QCOMPARE(run(QStringList{"send", "--dry-run", "x.bin"} + past).code, 1);
        QCOMPARE(run({"convert", "a.png", "b.png", "-o", "not-a-folder.bin"}).code, 1);
        QCOMPARE(run({"preview"}).code, 1);
    }

    // Each refusal is one line on stderr with its exit code, and nothing is written; "%" stands
    // for the folder. mem.bin leads to /proc/self/mem, whose first page cannot be read.
    void refusalsSayWhy_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("line");
        const QString sendHelp = " (see 'pixelwright-cli send --help')", portsHelp = " (see 'pixelwright-cli ports --help')";
        const QString layouts = "--layout takes page-lsb, page-msb, row-msb or row-lsb, not 'diag'";
        QTest::newRow("convert: no input") << QStringList{"convert", "-o", "%/o.bin"} << 1 << "no input picture (see 'pixelwright-cli convert --help')";
        QTest::newRow("convert: stdin twice") << QStringList{"convert", "-", "-"} << 1 << "standard input can be read only once";
        QTest::newRow("convert: frames to stdout") << QStringList{"convert", "--frames", "-"} << 1 << "--frames writes one file per frame, not to standard output";
        QTest::newRow("convert: unreadable BIN") << QStringList{"convert", "%/mem.bin", "-o", "%/o.bin"} << 2 << "%/mem.bin: could not be read";
        QTest::newRow("convert: a picture that cannot be opened") << QStringList{"convert", "%/socket.png", "-o", "%/o.bin"} << 2
                                                                   << "%/socket.png: could not be read";  // a socket node: no file to open
        QTest::newRow("convert: several into one file") << QStringList{"convert", "%/x.png", "%/a.bin", "-o", "%/o.bin"} << 1
                                                        << "with several inputs, -o must name a folder";
        QTest::newRow("convert: format") << QStringList{"convert", "%/x.png", "--format", "jpg"} << 1 << "--format takes bin, c, hex, pbm, xbm or png, not 'jpg'";
        QTest::newRow("convert: layout") << QStringList{"convert", "%/x.png", "--layout", "diag"} << 1 << layouts;
        QTest::newRow("convert: background") << QStringList{"convert", "%/x.png", "--background", "nope"} << 1
                                             << "--background: 'nope' is not a colour (see 'pixelwright-cli convert --help')";
        QTest::newRow("preview: layout") << QStringList{"preview", "%/a.bin", "--layout", "diag"} << 1 << layouts;
        QTest::newRow("preview: scale") << QStringList{"preview", "%/a.bin", "--scale", "17"} << 1
                                        << "--scale takes a whole number from 1 to 16, not '17' (see 'pixelwright-cli preview --help')";
        QTest::newRow("preview: two files") << QStringList{"preview", "%/a.bin", "%/a.bin"} << 1 << "preview takes one BIN file (see 'pixelwright-cli preview --help')";
        QTest::newRow("preview: no file") << QStringList{"preview"} << 1 << "preview takes one BIN file (see 'pixelwright-cli preview --help')";
        QTest::newRow("preview: empty") << QStringList{"preview", "%/empty.bin"} << 2 << "%/empty.bin: empty, not a BIN file";
        QTest::newRow("preview: unreadable") << QStringList{"preview", "%/mem.bin"} << 2 << "%/mem.bin: could not be read";
        QTest::newRow("preview: no folder") << QStringList{"preview", "%/a.bin", "-o", "%/none/p.png"} << 3 << "%/none/p.png: its folder does not exist";
        QTest::newRow("send: no port") << QStringList{"send", "--vram", "%/a.bin"} << 1 << "send needs --port" + sendHelp;
        QTest::newRow("send: a file that cannot be opened") << QStringList{"send", "--dry-run", "--file", "%/socket.png"} << 2 << "%/socket.png: could not be read";
        QTest::newRow("convert: a text file that cannot be opened") << QStringList{"convert", "--text-file", "%/socket.png", "-o", "%/o.bin"} << 2
                                                                    << "%/socket.png: cannot be read (No such device or address)";
        QTest::newRow("send: no mode") << QStringList{"send", "--dry-run"} << 1 << "send needs one of --vram, --flash, --line, --file" + sendHelp;
        QTest::newRow("send: line and a file") << QStringList{"send", "--dry-run", "--line", "DP", "%/a.bin"} << 1 << "--line and --file take no other operand" + sendHelp;
        QTest::newRow("send: two into one page") << QStringList{"send", "--dry-run", "--flash", "3", "%/a.bin", "%/x.png"} << 1
                                                 << "send takes one picture or BIN file" + sendHelp;
        QTest::newRow("send: two onto the screen") << QStringList{"send", "--dry-run", "--vram", "%/a.bin", "%/x.png"} << 1
                                                   << "send takes one picture or BIN file" + sendHelp;
        QTest::newRow("send: three into two pages") << QStringList{"send", "--dry-run", "--flash", "11-12", "%/a.bin", "%/x.png", "%/a.bin"} << 1
                                                    << "pages 11-12 take at most 2 files" + sendHelp;
        for (const QStringList &folder : {QStringList{"convert", "%", "-o", "%/o.bin"}, QStringList{"convert", "--text-file", "%", "-o", "%/o.bin"},
                                          QStringList{"send", "--dry-run", "--vram", "%"}, QStringList{"send", "--dry-run", "--flash", "0", "--frames", "%"},
                                          QStringList{"send", "--dry-run", "--file", "%"}, QStringList{"preview", "%"}})
            QTest::newRow(qPrintable(folder.join(' ') + ": a folder")) << folder << 2 << "%: is a folder";
        QTest::newRow("send: empty file") << QStringList{"send", "--dry-run", "--file", "%/empty.bin"} << 2 << "%/empty.bin: empty, nothing to send";
        QTest::newRow("send: frames into VRAM") << QStringList{"send", "--dry-run", "--vram", "--frames", "%/x.png"} << 1
                                                << "--frames sends one animated picture into FLASH pages (--flash FIRST[-LAST])" + sendHelp;
        QTest::newRow("send: frames missing") << QStringList{"send", "--dry-run", "--flash", "0", "--frames", "%/none.gif"} << 2 << "%/none.gif: no such file";
        QTest::newRow("send: not a picture") << QStringList{"send", "--dry-run", "--vram", "%/notes.png"} << 2 << "%/notes.png: not a picture, or damaged";
        QTest::newRow("send: unreadable BIN") << QStringList{"send", "--dry-run", "--flash", "1", "%/mem.bin"} << 2 << "%/mem.bin: could not be read";
        QTest::newRow("send: threshold") << QStringList{"send", "--dry-run", "--vram", "%/x.png", "--threshold", "300"} << 1
                                         << "--threshold takes a whole number from 0 to 255, not '300'" + sendHelp;
        QTest::newRow("ports: option") << QStringList{"ports", "--bogus"} << 1 << "unknown option '--bogus'" + portsHelp;
        QTest::newRow("ports: operand") << QStringList{"ports", "/dev/null"} << 1 << "ports takes --link N DEVICE, --unlink N, or nothing" + portsHelp;
        QTest::newRow("ports: no folder") << QStringList{"ports", "--dir", "%/none", "--link", "3", "/dev/null"} << 3 << "%/none: no such folder";
        QTest::newRow("ports: a file in the way") << QStringList{"ports", "--dir", "%", "--link", "2", "/dev/null"} << 3 << "%/COM2: exists and is not a link; left as it is";
        QTest::newRow("simulate: option") << QStringList{"simulate", "--bogus"} << 1 << "unknown option '--bogus' (see 'pixelwright-cli simulate --help')";
        const QString deep = "%/DEEP";  // the socket beside the link one byte too long a name for one
        QTest::newRow("simulate: too long") << QStringList{"simulate", "--link", "3", "--dir", deep} << 3
                                            << deep + "/COM3: too long for a socket (at most 107 bytes); give a shorter --socket PATH, and --link makes COM3 a link to it";
        // A socket named by the user is theirs to shorten: no hint about --socket then.
        QTest::newRow("simulate: a given socket too long") << QStringList{"simulate", "--link", "3", "--dir", "%", "--socket", deep + "/COM3"} << 3
                                                           << deep + "/COM3: too long for a socket (at most 107 bytes)";
        // One byte shorter fits: what then goes wrong is said without that hint.
        QTest::newRow("simulate: a link of 107 bytes fits") << QStringList{"simulate", "--link", "3", "--dir", "%/SHORT", "--flash-file", "%/none/f.bin"} << 3
                                                            << "%/none/f.bin: its folder does not exist";
        QTest::newRow("ports: not unlinked") << QStringList{"ports", "--dir", "%", "--unlink", "2"} << 3 << "%/COM2: exists and is not a link; left as it is";
    }
    void refusalsSayWhy()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, line);
        QTemporaryDir dir;
        picture(dir, "x.png");
        QVERIFY(writeFile(dir.filePath("a.bin"), QByteArray(1024, 'a')) && writeFile(dir.filePath("empty.bin"), {})
                && writeFile(dir.filePath("notes.png"), "GIF") && writeFile(dir.filePath("COM2"), "mine")
                && QFile::link("/proc/self/mem", dir.filePath("mem.bin"))
                && ::mknod(QFile::encodeName(dir.filePath("socket.png")).constData(), S_IFSOCK | 0666, 0) == 0);
        const QString deep(108 - int(QFile::encodeName(dir.path()).size()) - int(strlen("//COM3")), 'd');
        QVERIFY(QDir(dir.path()).mkdir(deep) && QDir(dir.path()).mkdir(deep.chopped(1)));
        const Run r = run(args.replaceInStrings("%", dir.path()).replaceInStrings("DEEP", deep).replaceInStrings("SHORT", deep.chopped(1)));
        QCOMPARE(r.errLines, QStringList{"pixelwright-cli: " + line.replace("%", dir.path()).replace("DEEP", deep)});
        QCOMPARE(r.code, code);
        QVERIFY(r.out.isEmpty());
        QCOMPARE(entries(dir.path()), (QStringList{"COM2", "a.bin", "empty.bin", "mem.bin", "notes.png", "socket.png", "x.png"}));
        QCOMPARE(readFile(dir.filePath("COM2")), QByteArray("mine"));
    }

    // Repeated --flip options add up as the studio's two boxes do (both: half a turn more);
    // any other option that takes a value, given twice, is refused by name.
    void repeatedOptions_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QStringList>("same");  // the options that give the same bytes; none: refused
        QTest::addColumn<QString>("refused");
        QTest::newRow("h, then v") << QStringList{"--flip", "h", "--flip", "v"} << QStringList{"--rotate", "180"} << "";
        QTest::newRow("hv") << QStringList{"--flip", "hv"} << QStringList{"--rotate", "180"} << "";
        QTest::newRow("turned, v, h") << QStringList{"--rotate", "90", "--flip=v", "--flip", "h"} << QStringList{"--rotate", "270"} << "";
        QTest::newRow("h twice") << QStringList{"--flip", "h", "--flip", "h"} << QStringList{"--flip", "h"} << "";
        QTest::newRow("a bad one among them") << QStringList{"--flip", "h", "--flip", "hh"} << QStringList{} << "--flip takes h, v or hv, not 'hh'";
        QTest::newRow("fit") << QStringList{"--fit", "contain", "--fit", "cover"} << QStringList{} << "option '--fit' is given more than once";
        QTest::newRow("threshold, alike") << QStringList{"--threshold", "9", "--threshold=9"} << QStringList{} << "option '--threshold' is given more than once";
        QTest::newRow("output, short and long") << QStringList{"-o", "-", "--output", "-"} << QStringList{} << "option '--output' is given more than once";
    }
    void repeatedOptions()
    {
        QFETCH(QStringList, args);
        QFETCH(QStringList, same);
        QFETCH(QString, refused);
        QTemporaryDir dir;
        QImage picture(150, 90, QImage::Format_RGB32);
        for (int y = 0; y < 90; ++y)
            for (int x = 0; x < 150; ++x)
                picture.setPixel(x, y, qRgb((x * 7 + y * y) % 256, x, y * 2));
        const QString path = dir.filePath("p.png");
        QVERIFY(picture.save(path));
        const Run got = run(QStringList{"convert", path} + args + QStringList{"-o", "-"}.mid(args.contains("-o") ? 2 : 0));
        if (refused.isEmpty()) {
            QCOMPARE(got.code, 0);
            QCOMPARE(got.out, run(QStringList{"convert", path, "-o", "-"} + same).out);
            QVERIFY(got.out != run({"convert", path, "-o", "-"}).out);
        } else {
            QCOMPARE(got.code, 1);
            QCOMPARE(got.errLines, QStringList{"pixelwright-cli: " + refused + " (see 'pixelwright-cli convert --help')"});
        }
    }

    // Every numeric option at both ends of its range and one step past each: the ends give
    // their documented effect on a grey picture (all white or all black), a step past is refused.
    void optionRangesAtBothEnds()
    {
        QTemporaryDir dir;
        QByteArray bin(1024, '\0');
        bin[0] = '\x5a';
        QVERIFY(test::writeFile(dir.filePath("a.bin"), bin) && QDir(dir.path()).mkdir("ports"));
        const QByteArray white(1024, '\xff'), black(1024, '\0');
        enum Kind { Convert, Preview, Send, Ports };
        const struct {
            Kind kind;
            QStringList args;
            int grey;         // the picture's grey, for convert
            QByteArray what;  // the output, the preview's size or the stream's start; empty: refused
        } cases[] = {
            {Convert, {"--threshold", "0"}, 1, white},  // white only strictly above
            {Convert, {"--threshold", "255"}, 255, black},
            {Convert, {"--threshold", "-1"}, 0, {}},
            {Convert, {"--threshold", "256"}, 0, {}},
            {Convert, {"--brightness", "-100"}, 255, black},
            {Convert, {"--brightness", "100"}, 0, white},
            {Convert, {"--brightness", "-101"}, 0, {}},
            {Convert, {"--brightness", "101"}, 0, {}},
            {Convert, {"--contrast", "-100"}, 255, black},  // everything the middle grey
            {Convert, {"--contrast", "100", "--threshold", "200"}, 130, white},
            {Convert, {"--contrast", "-101"}, 0, {}},
            {Convert, {"--contrast", "101"}, 0, {}},
            {Convert, {"--gamma", "0.2"}, 200, black},  // darkens the middle
            {Convert, {"--gamma", "5"}, 60, white},     // lightens it
            {Convert, {"--gamma", "0.19"}, 0, {}},
            {Convert, {"--gamma", "5.01"}, 0, {}},
            {Preview, {"--scale", "1"}, 0, "128x64"},
            {Preview, {"--scale", "2"}, 0, "256x128"},
            {Preview, {"--scale", "16"}, 0, "2048x1024"},
            {Preview, {"--scale", "0"}, 0, {}},
            {Preview, {"--scale", "17"}, 0, {}},
            {Send, {"--vram", "--time", "1"}, 0, "DT1\r\n"},
            {Send, {"--vram", "--time", "5"}, 0, "DT5\r\n"},
            {Send, {"--vram", "--time", "0"}, 0, {}},
            {Send, {"--vram", "--time", "6"}, 0, {}},
            {Send, {"--flash", "0"}, 0, "FS0\r\n"},
            {Send, {"--flash", "12"}, 0, "FS12\r\n"},
            {Send, {"--flash", "0-12"}, 0, "FS0\r\n"},
            {Send, {"--flash", "-1"}, 0, {}},
            {Send, {"--flash", "13"}, 0, {}},
            {Send, {"--flash", "12-13"}, 0, {}},
            {Ports, {"--link", "1"}, 0, "COM1"},
            {Ports, {"--link", "16"}, 0, "COM16"},
            {Ports, {"--link", "0"}, 0, {}},
            {Ports, {"--link", "17"}, 0, {}},
        };
        for (const auto &c : cases) {
            const QString grey = dir.filePath(QStringLiteral("grey%1.png").arg(c.grey));
            test::solidImage(128, 64, QColor(c.grey, c.grey, c.grey)).save(grey);
            QStringList args;
            switch (c.kind) {
            case Convert: args = QStringList{"convert", grey, "-o", "-"} + c.args; break;
            case Preview: args = QStringList{"preview", dir.filePath("a.bin"), "-o", dir.filePath("p.png")} + c.args; break;
            case Send: args = QStringList{"send", "--dry-run"} + c.args + QStringList{dir.filePath("a.bin")}; break;
            case Ports: args = QStringList{"ports", "--dir", dir.filePath("ports")} + c.args + QStringList{"/dev/null"}; break;
            }
            const QString row = args.join(' ');
            QFile::remove(dir.filePath("p.png"));
            const Run r = run(args);
            QVERIFY2(r.code == (c.what.isEmpty() ? 1 : 0), qPrintable(row + ": " + r.errLines.join('|')));
            QByteArray got;
            switch (c.kind) {
            case Convert: got = r.out; break;
            case Preview: {
                const QImage image(dir.filePath("p.png"));
                got = image.isNull() ? QByteArray() : QByteArray::number(image.width()) + 'x' + QByteArray::number(image.height());
                const int n = image.height() / 64;  // each pixel an n x n square: row 0 black, row 1 white
                QVERIFY(image.isNull() || (image.pixelColor(n - 1, n - 1) == Qt::black && image.pixelColor(n - 1, n) == Qt::white));
                break;
            }
            case Send: got = QByteArray::fromHex(r.out).left(c.what.size()); break;
            case Ports: got = entries(dir.filePath("ports")).join(',').toLatin1(); break;
            }
            if (c.kind == Ports && !c.what.isEmpty())
                QVERIFY(run({"ports", "--dir", dir.filePath("ports"), "--unlink", c.args[1]}).code == 0);
            QVERIFY2(got == c.what, qPrintable(row + ": " + got.left(16).toHex()));
        }
    }

    void convertManyFilesSomeBad()
    {
        QTemporaryDir dir, out;
        const QString good = picture(dir, "good.png");
        const QString other = picture(dir, "other one.jpg", Qt::black);
        QVERIFY(test::writeFile(dir.filePath("notes.png"), "not a picture"));
        QVERIFY(test::writeFile(out.filePath("notes.bin"), "old"));
        const Run r = run({"convert", good, dir.filePath("missing.png"), "--format", "bin", dir.filePath("notes.png"), "-o", out.path(), other});
        QCOMPARE(r.code, 2);
        QCOMPARE(r.errLines, (QStringList{"pixelwright-cli: " + dir.filePath("missing.png") + ": no such file",
                                          "pixelwright-cli: " + dir.filePath("notes.png") + ": not a picture, or damaged"}));
        QCOMPARE(entries(out.path()), (QStringList{"good.bin", "notes.bin", "other one.bin"}));  // no temporary left behind
        QCOMPARE(test::readFile(out.filePath("notes.bin")), QByteArray("old"));
        QCOMPARE(test::readFile(out.filePath("good.bin")), QByteArray(1024, '\xff'));
        QCOMPARE(test::readFile(out.filePath("other one.bin")), QByteArray(1024, '\0'));

        // Junk before the end marker: the whole picture decodes, and the JPEG plugin's
        // complaint must not bury the program's own lines.
        const QString junk = dir.filePath("junk.jpg");
        QVERIFY(test::writeFile(junk, test::readFile(other).chopped(2) + "junk\xff\xd9"));
        const Run quiet = run({"convert", junk, "--fit", "contain", "-o", out.filePath("junk.bin")});
        QVERIFY(quiet.code == 0 && quiet.errLines.isEmpty());
    }

    // When several inputs fail, the largest code, whatever their order.
    void exitCodeIsTheLargest_data()
    {
        QTest::addColumn<QStringList>("inputs");
        QTest::addColumn<int>("code");
        QTest::newRow("unwritable, then unreadable") << QStringList{"a.png", "missing.png"} << 3;
        QTest::newRow("unreadable, then unwritable") << QStringList{"missing.png", "a.png"} << 3;
        QTest::newRow("unreadable, then good") << QStringList{"missing.png", "b.png"} << 2;
        QTest::newRow("good only") << QStringList{"b.png"} << 0;
    }
    void exitCodeIsTheLargest()
    {
        QFETCH(QStringList, inputs);
        QFETCH(int, code);
        QTemporaryDir dir, out;
        picture(dir, "a.png");
        picture(dir, "b.png");
        QVERIFY(QDir(out.path()).mkdir("a.bin"));  // a's output cannot be written
        QStringList args{"convert", "-o", out.path()};
        for (const QString &input : inputs)
            args << dir.filePath(input);
        QCOMPARE(run(args).code, code);
    }

    void convertOutputsAndFormats()
    {
        QTemporaryDir dir;
        const QString in = picture(dir, "logo.png");
        // Beside the input, options after the operand, --name=value.
        Run r = run({"convert", in, "--format=c", "--invert"});
        QCOMPARE(r.code, 0);
        const QByteArray header = test::readFile(dir.filePath("logo.h"));
        QVERIFY(header.contains("const uint8_t logo[1024] = {\n    0x00, 0x00"));
        // Standard input to standard output; the same bytes as a file.
        r = run({"convert", "-", "-o", "-", "--layout", "row-msb", "--format", "hex"}, test::readFile(in));
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, QByteArray("ffffffffffffffffffffffffffffffff\n").repeated(64));
        // A BIN converted to another format; never onto itself.
        QVERIFY(test::writeFile(dir.filePath("dev.bin"), QByteArray(1024, '\x01')));
        r = run({"convert", dir.filePath("dev.bin")});
        QCOMPARE(r.code, 1);
        QVERIFY(r.errLines.value(0).endsWith("would replace the input " + dir.filePath("dev.bin") + "; nothing was written"));
        QCOMPARE(test::readFile(dir.filePath("dev.bin")), QByteArray(1024, '\x01'));
        r = run({"convert", dir.filePath("dev.bin"), "--format", "pbm", "-o", "-"});
        QCOMPARE(r.out.left(10), QByteArray("P4\n128 64\n"));
        QCOMPARE(r.out.mid(10, 32), QByteArray(16, '\0') + QByteArray(16, '\xff'));  // row 0 white; PBM's 1 is black
        // Writing into a folder that is not there: exit 3, the reason named.
        r = run({"convert", in, "-o", dir.filePath("nowhere/x.bin")});
        QCOMPARE(r.code, 3);
        QCOMPARE(r.errLines, QStringList{"pixelwright-cli: " + dir.filePath("nowhere/x.bin") + ": its folder does not exist"});
    }

    void animatedFrames()
    {
        QTemporaryDir dir;
        const QImage white = solidImage(130, 70, Qt::white), black = solidImage(130, 70, Qt::black);
        QVERIFY(writeFile(dir.filePath("anim.gif"), animatedGif({white, black, white})));
        QCOMPARE(run({"convert", "--frames", dir.filePath("anim.gif")}).code, 0);
        QCOMPARE(test::readFile(dir.filePath("anim-00.bin")), QByteArray(1024, '\xff'));
        QCOMPARE(test::readFile(dir.filePath("anim-01.bin")), QByteArray(1024, '\0'));
        QCOMPARE(test::readFile(dir.filePath("anim-02.bin")), QByteArray(1024, '\xff'));
        // Into FLASH pages: as many pages as frames say nothing more; fewer name what is left out.
        const Run fit = run({"send", "--dry-run", "--flash", "10-12", "--frames", dir.filePath("anim.gif")});
        QCOMPARE(fit.code, 0);
        QCOMPARE(fit.errLines, QStringList{});
        QVERIFY(QByteArray::fromHex(fit.out).startsWith("FS10\r\nTS"));
        const Run cut = run({"send", "--dry-run", "--flash", "11-12", "--frames", dir.filePath("anim.gif")});
        QCOMPARE(cut.code, 0);
        QCOMPARE(cut.errLines, QStringList{"pixelwright-cli: " + dir.filePath("anim.gif") + ": 3 frames; pages 11-12 take the first 2; 1 frame was not sent"});
    }

    void previewAndRoundTrip()
    {
        QTemporaryDir dir;
        QByteArray bin(1024, '\0');
        for (int i = 0; i < 1024; ++i)
            bin[i] = char(i * 37 + i / 128);
        QVERIFY(test::writeFile(dir.filePath("x.bin"), bin));
        // BIN -> PNG -> BIN.
        QCOMPARE(run({"preview", dir.filePath("x.bin"), "-o", dir.filePath("x.png")}).code, 0);
        QCOMPARE(run({"convert", dir.filePath("x.png"), "-o", dir.filePath("y.bin")}).code, 0);
        QCOMPARE(test::readFile(dir.filePath("y.bin")), bin);
        QCOMPARE(QImage(dir.filePath("x.png")).size(), QSize(128, 64));
        for (const int scale : {4, 16}) {
            QCOMPARE(run({"preview", dir.filePath("x.bin"), "--scale", QString::number(scale), "-o", dir.filePath("big.png")}).code, 0);
            QCOMPARE(QImage(dir.filePath("big.png")).size(), QSize(128, 64) * scale);
        }
        for (const char *scale : {"0", "17"})
            QCOMPARE(run({"preview", dir.filePath("x.bin"), "--scale", scale, "-o", dir.filePath("big.png")}).code, 1);
        // In the terminal: 32 lines of 128 half blocks, from standard input too.
        const Run drawn = run({"preview", "-"}, QByteArray(1024, '\x01'));
        QCOMPARE(drawn.code, 0);
        const QStringList lines = QString::fromUtf8(drawn.out).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 32);
        QCOMPARE(lines.first(), QString(128, QChar(0x2580)));
        QCOMPARE(lines.last(), QString(128, ' '));
        const Run missing = run({"preview", dir.filePath("none.bin")});
        QCOMPARE(missing.code, 2);
        QCOMPARE(missing.errLines, QStringList{"pixelwright-cli: " + dir.filePath("none.bin") + ": no such file"});
    }

    void sendOverPty()
    {
        Pty pty;
        QVERIFY(!pty.path.isEmpty());
        QTemporaryDir dir;
        QByteArray file;
        for (int i = 0; i < 3000; ++i)
            file += char(i * 7 + i / 256);
        QVERIFY(test::writeFile(dir.filePath("commands.txt"), file));
        Run r = run({"send", "--line", "TF1", "--port", pty.path});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.errLines, (QStringList{"sending", "done: 5 bytes sent"}));
        r = run({"send", "--port", pty.path, "--file", dir.filePath("commands.txt")});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.errLines.last(), "done: 3000 bytes sent");
        // A device that gives nothing sends nothing and says so, by count.
        r = run({"send", "--port", pty.path, "--file", "/dev/null"});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.errLines, (QStringList{"sending", "done: 0 bytes sent"}));
        // A pty has no modem lines: the image transfer's first CTS wait fails.
        QVERIFY(test::writeFile(dir.filePath("x.bin"), QByteArray(1024, 'x')));
        r = run({"send", "--port", pty.path, "--vram", dir.filePath("x.bin")});
        QCOMPARE(r.code, 4);
        QCOMPARE(r.errLines.last(), "pixelwright-cli: " + pty.path + ": the port could not be opened or failed");
        QCOMPARE(pty.received().left(5 + 3000), "TF1\r\n" + file);
        QCOMPARE(run({"send", "--port", dir.filePath("no-such-tty"), "--line", "TF1"}).code, 4);
        QCOMPARE(run({"send", "--port", pty.path, "--file", dir.filePath("none.txt")}).code, 2);
        QCOMPARE(run({"send", "--port", dir.filePath("no-such-tty"), "--flash", "0-1", dir.filePath("x.bin"), dir.filePath("x.bin"), dir.filePath("x.bin")}).code, 1);
        // A port number, with or without COM in any case, is the link COMn in the program's
        // folder: here a copy of the program in a folder of its own, its COM3 a pseudo-terminal.
        Pty com3;
        QVERIFY(QFile::copy(PW_CLI_PROGRAM, dir.filePath("pixelwright-cli")) && QFile::link(com3.path, dir.filePath("COM3")));
        for (const char *port : {"com3", "Com3", "3", "03"}) {
            QProcess copy;
            copy.start(dir.filePath("pixelwright-cli"), {"send", "--port", port, "--line", "TF2"});
            QVERIFY(copy.waitForFinished(20000));
            QVERIFY2(copy.exitCode() == 0, port);
        }
        QCOMPARE(com3.received(), QByteArray("TF2\r\n").repeated(4));
    }

    // --dry-run prints the byte stream, built here apart from the program, and opens nothing.
    void dryRunPrintsTheStream()
    {
        QTemporaryDir dir;
        QByteArray bin(1024, '\0');
        for (int i = 0; i < 1024; ++i)
            bin[i] = char(i ^ (i >> 3));
        QVERIFY(test::writeFile(dir.filePath("a.bin"), bin));
        const QString picture = dir.filePath("p.png");
        test::solidImage(128, 64, Qt::white).save(picture);
        test::solidImage(128, 64, Qt::black).save(dir.filePath("black.png"));
        const QByteArray white(1024, '\xff');
        const struct {
            QStringList args;
            QByteArray stream;
        } cases[] = {
            {{"--vram", "--time", "5", dir.filePath("a.bin")}, test::imageChunks("DT5", "TI", bin).join() + "DP\r\n"},
            {{dir.filePath("a.bin"), "--vram"}, test::imageChunks("DT3", "TI", bin).join() + "DP\r\n"},
            {{"--flash", "11-12", dir.filePath("a.bin"), picture},
             test::imageChunks("FS11", "TS", bin).join() + test::imageChunks("FS12", "TS", white).join()},
            {{"--line", "DP"}, "DP\r\n"},
            {{"--vram", "--time", "2", "--text", " "}, test::imageChunks("DT2", "TI", white).join() + "DP\r\n"},  // the background alone
            {{"--vram", "--text", " ", dir.filePath("black.png")}, test::imageChunks("DT3", "TI", QByteArray(1024, '\0')).join() + "DP\r\n"},  // over the picture
        };
        for (const auto &c : cases) {
            const Run r = run(QStringList{"send", "--dry-run", "--port", dir.filePath("no-such-tty")} + c.args);
            QCOMPARE(r.code, 0);
            QCOMPARE(QByteArray::fromHex(r.out), c.stream);
        }
        QCOMPARE(run({"send", "--dry-run", "--line", "DP"}).out, QByteArray("44500d0a\n"));
        // An endless --file runs until Ctrl-C: 130, and the port (never opened) named.
        QProcess endless;
        endless.start(PW_CLI_PROGRAM, {"send", "--dry-run", "--port", dir.filePath("no-such-tty"), "--file", "/dev/zero"});
        QVERIFY(endless.waitForReadyRead(30000) && endless.processId() > 0);
        ::kill(pid_t(endless.processId()), SIGINT);
        QVERIFY(endless.waitForFinished(30000));
        QCOMPARE(endless.exitCode(), 130);
        QCOMPARE(endless.readAllStandardError(), "pixelwright-cli: " + QFile::encodeName(dir.filePath("no-such-tty")) + ": interrupted; the port was closed\n");
        QVERIFY(endless.readAllStandardOutput().startsWith(QByteArray(32, '0') + '\n'));
    }

    // Hostile sizes: a 20000 x 20000 PNG fit-converted in bounded memory, its corner at once.
    void hugePicture()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("huge.png");
        QVERIFY(writeHugePng(path, 20000));
        for (const char *fit : {"crop", "cover"}) {
            const QString out = dir.filePath(QString(fit) + ".bin");
            Spawned cli({"convert", path, "--fit", fit, "-o", out});
            long peakKb = 0;
            QCOMPARE(cli.wait(&peakKb), 0);
            QVERIFY2(peakKb < 100 * 1024, qPrintable(QStringLiteral("%1: peak %2 KB").arg(fit).arg(peakKb)));
            QCOMPARE(test::readFile(out), QByteArray(1024, '\xff'));  // grey 200 is white
        }
    }

    void portsLinks()
    {
        QTemporaryDir dir;
        Run r = run({"ports", "--link", "3", "/dev/null", "--dir", dir.path()});
        QCOMPARE(r.code, 0);
        QCOMPARE(QFileInfo(dir.filePath("COM3")).symLinkTarget(), QStringLiteral("/dev/null"));
        QCOMPARE(run({"ports", "--dir", dir.path(), "--link", "3", "zero"}).code, 0);  // replaced; a bare name is under /dev
        QCOMPARE(QFileInfo(dir.filePath("COM3")).symLinkTarget(), QStringLiteral("/dev/zero"));
        r = run({"ports", "--dir", dir.path()});
        QCOMPARE(r.code, 0);
        QVERIFY(r.out.contains(QString(" 3  %1 -> /dev/zero\n").arg(dir.filePath("COM3")).toUtf8()));
        QVERIFY(r.out.contains(" 2  /dev/ttyS1"));
        r = run({"ports", "--link", "4", "/dev/no-such-adapter", "--dir", dir.path()});
        QCOMPARE(r.code, 4);
        QCOMPARE(r.errLines, QStringList{"pixelwright-cli: /dev/no-such-adapter: no such device"});
        QCOMPARE(run({"ports", "--link", "17", "/dev/null", "--dir", dir.path()}).code, 1);
        QCOMPARE(run({"ports", "--unlink", "3", "--dir", dir.path()}).code, 0);
        QCOMPARE(entries(dir.path()), QStringList{});
    }
};

QTEST_GUILESS_MAIN(TstCliProgram)
#include "tst_cliprogram.moc"
