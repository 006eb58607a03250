// The built pixelwright-cli run end to end: exit codes, stderr lines, outputs, and nothing
// written (or changed) on failure.
#include "common/testfiles.h"
#include "cli/encoders.h"
#include "core/monoimage.h"

#include <QDir>
#include <QImageWriter>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

using namespace pw;

namespace {

struct Run {
    int code = -1;
    QByteArray out;
    QStringList errLines;
};

Run run(const QStringList &args, const QByteArray &input = {}, const QString &workDir = {})
{
    QProcess process;
    if (!workDir.isEmpty())
        process.setWorkingDirectory(workDir);
    process.start(QStringLiteral(PW_CLI_PROGRAM), args);
    process.write(input);
    process.closeWriteChannel();
    Run r;
    if (!process.waitForFinished(60000))
        return r;
    r.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    r.out = process.readAllStandardOutput();
    r.errLines = QString::fromUtf8(process.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    return r;
}

QString picture(const QTemporaryDir &dir, const QString &name, QColor colour = QColor(200, 200, 200))
{
    const QString path = dir.filePath(name);
    test::solidImage(130, 70, colour).save(path);
    return path;
}

QStringList entries(const QTemporaryDir &dir) { return QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name); }

}  // namespace

class TstCliProgram : public QObject {
    Q_OBJECT
private slots:
    void usageAndHelp()
    {
        QCOMPARE(run({}).code, 1);
        const Run unknown = run({"frobnicate"});
        QCOMPARE(unknown.code, 1);
        QCOMPARE(unknown.errLines, QStringList{"pixelwright-cli: unknown command 'frobnicate' (see 'pixelwright-cli --help')"});
        for (const QString &command : QStringList{"convert", "preview", "ports"}) {
            const Run help = run({command, "--help"});
            QCOMPARE(help.code, 0);
            QVERIFY(help.out.startsWith("Usage: pixelwright-cli " + command.toLatin1()));
            QVERIFY(help.out.contains("5 the device did not answer within the timeout, 130 interrupted"));
        }
        QCOMPARE(run({"convert", "x.png", "--dither", "sideways"}).code, 1);
        QCOMPARE(run({"convert", "x.png", "--threshold", "256"}).code, 1);
        QCOMPARE(run({"convert", "a.png", "b.png", "-o", "not-a-folder.bin"}).code, 1);
        QCOMPARE(run({"preview"}).code, 1);
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
        QCOMPARE(entries(out), (QStringList{"good.bin", "notes.bin", "other one.bin"}));  // no temporary left behind
        QCOMPARE(test::readFile(out.filePath("notes.bin")), QByteArray("old"));
        QCOMPARE(test::readFile(out.filePath("good.bin")), QByteArray(1024, '\xff'));
        QCOMPARE(test::readFile(out.filePath("other one.bin")), QByteArray(1024, '\0'));
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
        QCOMPARE(r.code, 3);
        QVERIFY(r.errLines.value(0).endsWith("would replace the input"));
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
        if (QStandardPaths::findExecutable("convert").isEmpty())
            QSKIP("ImageMagick is not installed (tools/setup.sh installs it)");
        QTemporaryDir dir;
        const QString white = picture(dir, "w.png", Qt::white), black = picture(dir, "b.png", Qt::black);
        QCOMPARE(QProcess::execute("convert", {"-delay", "10", white, black, white, dir.filePath("anim.gif")}), 0);
        QCOMPARE(run({"convert", "--frames", dir.filePath("anim.gif")}).code, 0);
        QCOMPARE(test::readFile(dir.filePath("anim-00.bin")), QByteArray(1024, '\xff'));
        QCOMPARE(test::readFile(dir.filePath("anim-01.bin")), QByteArray(1024, '\0'));
        QCOMPARE(test::readFile(dir.filePath("anim-02.bin")), QByteArray(1024, '\xff'));
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
        QCOMPARE(run({"preview", dir.filePath("x.bin"), "--scale", "4", "-o", dir.filePath("big.png")}).code, 0);
        QCOMPARE(QImage(dir.filePath("big.png")).size(), QSize(512, 256));
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
        QCOMPARE(entries(dir), QStringList{});
    }
};

QTEST_GUILESS_MAIN(TstCliProgram)
#include "tst_cliprogram.moc"
