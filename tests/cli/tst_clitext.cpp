// Text from the command line, run end to end: the refusals (each one line, nothing written),
// the cut reported once, text alone over the background, send's bytes, the fonts command, and a
// 10 MB text file within its bounds.
#include "cli/cliprocess.h"

#include <QtTest>

using namespace pw::test;

class TstCliText : public QObject {
    Q_OBJECT
private slots:
    void refusals_data()
    {
        QTest::addColumn<QStringList>("args");  // OUT stands for the output, BAD for a file of invalid UTF-8
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("error");
        const QStringList convert{"convert", "-o", "OUT"};
        QTest::newRow("font not installed") << (convert + QStringList{"--text", "x", "--font", "Misaki Gotic"}) << 1
                                            << "pixelwright-cli: font \"Misaki Gotic\" is not installed (similar: MisakiGothic)";
        QTest::newRow("nothing like it") << (convert + QStringList{"--text", "x", "--font", "Zzyzx Qwv"}) << 1
                                         << "pixelwright-cli: font \"Zzyzx Qwv\" is not installed (see 'pixelwright-cli fonts')";
        QTest::newRow("glyphs missing") << (convert + QStringList{"--text", "a\U0001F600\u3042\u0301"}) << 1
                                        << "pixelwright-cli: font \"MisakiGothic\" has no glyph for U+1F600 U+0301 (--font-fallback lets other fonts draw them)";
        QTest::newRow("invalid UTF-8") << (convert + QStringList{"--text-file", "BAD"}) << 2 << "pixelwright-cli: BAD: not UTF-8 text (line 2, column 3)";
        QTest::newRow("size") << (convert + QStringList{"--text", "x", "--size", "65"}) << 1
                              << "pixelwright-cli: --size takes a whole number from 6 to 64, not '65'";
        QTest::newRow("offset") << (convert + QStringList{"--text", "x", "--offset", "3"}) << 1
                                << "pixelwright-cli: --offset takes X,Y, each a whole number from -128 to 128, not '3'";
        QTest::newRow("align") << (convert + QStringList{"--text", "x", "--align", "middle"}) << 1
                               << "pixelwright-cli: --align takes left, center or right, not 'middle'";
        QTest::newRow("colour") << (convert + QStringList{"--text", "x", "--text-color", "red"}) << 1
                                << "pixelwright-cli: --text-color takes black or white, not 'red'";
        QTest::newRow("both texts") << (convert + QStringList{"--text", "x", "--text-file", "BAD"}) << 1
                                    << "pixelwright-cli: --text and --text-file cannot be used together";
        QTest::newRow("text alone needs -o") << QStringList{"convert", "--text", "x"} << 1
                                             << "pixelwright-cli: with text and no input picture, -o names the output (see 'pixelwright-cli convert --help')";
        QTest::newRow("text file missing") << (convert + QStringList{"--text-file", "%/none.txt"}) << 2 << "pixelwright-cli: %/none.txt: no such file";
        QTest::newRow("text file too long") << (convert + QStringList{"--text-file", "%/big.txt"}) << 2 << "pixelwright-cli: %/big.txt: more than 16 MB of text";
        // Exactly 16 MB is read: its last byte is what is wrong with it.
        QTest::newRow("text file at the limit") << (convert + QStringList{"--text-file", "%/edge.txt"}) << 2
                                                << "pixelwright-cli: %/edge.txt: not UTF-8 text (line 1, column 16777216)";
        QTest::newRow("text alone, no folder") << QStringList{"convert", "--text", "x", "-o", "%/none/t.bin"} << 3
                                               << "pixelwright-cli: %/none/t.bin: its folder does not exist";
        QTest::newRow("fonts: operand") << QStringList{"fonts", "x"} << 1 << "pixelwright-cli: fonts takes no operand (see 'pixelwright-cli fonts --help')";
        QTest::newRow("fonts: option") << QStringList{"fonts", "--all"} << 1 << "pixelwright-cli: unknown option '--all' (see 'pixelwright-cli fonts --help')";
        QTest::newRow("send: font") << QStringList{"send", "--dry-run", "--vram", "--text", "x", "--font", "Nope"} << 1
                                    << "pixelwright-cli: font \"Nope\" is not installed (see 'pixelwright-cli fonts')";
    }
    void refusals()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString out = dir.filePath("out.bin"), bad = dir.filePath("bad.txt");
        QFile big(dir.filePath("big.txt"));  // one byte more than is read, sparse
        QFile edge(dir.filePath("edge.txt"));  // 16 MB, all NUL but the last
        QVERIFY(writeFile(bad, "fine\nab\xff") && big.open(QIODevice::WriteOnly) && big.resize(16 * 1024 * 1024 + 1));
        QVERIFY(edge.open(QIODevice::WriteOnly) && edge.seek(16 * 1024 * 1024 - 1) && edge.write("\xff", 1) == 1);
        edge.close();
        args.replaceInStrings(QRegularExpression("^OUT$"), out).replaceInStrings(QRegularExpression("^BAD$"), bad).replaceInStrings("%", dir.path());
        const Run r = run(args);
        QCOMPARE(r.code, code);
        QCOMPARE(r.errLines, QStringList{QString(error).replace("BAD", bad).replace("%", dir.path())});
        QVERIFY(!QFile::exists(out) && r.out.isEmpty());
    }

    // Text cut at the edge is said once, even over every frame; send carries what convert writes,
    // which needs no display.
    void cutOnceAndSendsWhatConvertWrites()
    {
        QTemporaryDir dir;
        const QString gif = dir.filePath("a.gif");
        QVERIFY(writeFile(gif, animatedGif({solidImage(140, 80, Qt::white), solidImage(140, 80, Qt::gray), solidImage(140, 80, Qt::black)})));
        const QStringList text{"--text", "とても長い一行のテキストがはみ出します", "--text-color", "white", "--valign", "middle"};
        Run r = run(QStringList{"convert", gif, "--frames", "-o", dir.filePath("f.bin")} + text);
        QCOMPARE(r.code, 0);
        QCOMPARE(r.errLines, QStringList{"pixelwright-cli: the text is cut at the display's edge"});
        QVERIFY(readFile(dir.filePath("f-02.bin")) != QByteArray(1024, '\0'));
        // A line far longer than any display shows is laid out only in part, and says so.
        r = run({"convert", "--text", QString(600, QLatin1Char('a')), "-o", dir.filePath("long.bin")});
        QCOMPARE(r.code, 0);
        QCOMPARE(r.errLines, QStringList{"pixelwright-cli: the text is longer than the display can show: only the part that shows was laid out"});
        // Text needs no display: here none is named at all, as over a plain remote login.
        QProcessEnvironment noDisplay = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            noDisplay.remove(name);
        r = run(QStringList{"convert", "--text", "駅\nｴｷ", "--align", "center", "-o", dir.filePath("t.bin")}, {}, {}, noDisplay);
        QVERIFY(r.code == 0 && r.errLines.isEmpty());
        const QByteArray sent = run({"send", "--dry-run", "--flash", "4", "--text", "駅\nｴｷ", "--align", "center"}).out;
        QVERIFY(!sent.isEmpty());
        QCOMPARE(sent, run({"send", "--dry-run", "--flash", "4", dir.filePath("t.bin")}).out);
    }

    // A 10 MB file: only what shows is laid out, said once; quickly and in little memory.
    void hugeTextFile()
    {
        QTemporaryDir dir;
        QByteArray text;
        for (int i = 0; text.size() < 10 * 1024 * 1024; ++i)
            text += QByteArray::number(i) + " " + QString(40, QChar(0x6f22)).toUtf8() + "\n";
        QVERIFY(writeFile(dir.filePath("big.txt"), text));
        // Against a one-character text, so that start-up (and the sanitizers' share) cancels out.
        long smallKb = 0, bigKb = 0;
        QCOMPARE(Spawned({"convert", "--text", "x", "-o", dir.filePath("small.bin")}).wait(&smallKb), 0);
        QCOMPARE(Spawned({"convert", "--text-file", dir.filePath("big.txt"), "--valign", "bottom", "-o", dir.filePath("big.bin")}).wait(&bigKb), 0);
        QVERIFY2(bigKb - smallKb < 50 * 1024, qPrintable(QStringLiteral("%1 KB more").arg(bigKb - smallKb)));
        QCOMPARE(QFileInfo(dir.filePath("big.bin")).size(), 1024);
    }

    void fontsCommand()
    {
        const Run all = run({"fonts"}), pixel = run({"fonts", "--pixel"});
        QVERIFY(all.code == 0 && all.out.split('\n').contains("MisakiGothic") && all.out.split('\n').contains("Unifont"));
        QCOMPARE(pixel.code, 0);
        QVERIFY2(pixel.out.contains("MisakiGothic\t8\n") && pixel.out.contains("Unifont\t16\n") && !pixel.out.contains("DejaVu Sans\t"), pixel.out);
        QVERIFY(run({"convert", "--help"}).out.contains("--text-file FILE") && run({"--help"}).out.contains("fonts [--pixel]"));
        QVERIFY(run({"fonts", "--help"}).out.startsWith("Usage: pixelwright-cli fonts [--pixel]\n"));
    }
};

QTEST_MAIN(TstCliText)
#include "tst_clitext.moc"
