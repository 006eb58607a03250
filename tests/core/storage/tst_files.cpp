// Which names are BIN files: the window's rule and the command line's differ, and users of each
// rely on theirs.
#include "core/storage/files.h"

#include <QtTest>

using namespace pw;

class TstFiles : public QObject {
    Q_OBJECT
private slots:
    void binFileNames()
    {
        const QStringList names{"logo.bin", "LOGO.BIN", "logo.Bin", "logo.bIN", "logoBIN", "cabin", "bin", "logo.bin.png", ""};
        const QStringList windowTakes{"logo.bin", "LOGO.BIN", "logoBIN", "cabin", "bin"};
        const QStringList commandLineTakes{"logo.bin", "LOGO.BIN", "logo.Bin", "logo.bIN"};
        for (const QString &name : names) {
            QVERIFY2(isBinFileName(name, BinNameRule::Window) == windowTakes.contains(name), qPrintable(name));
            QVERIFY2(isBinFileName(name, BinNameRule::CommandLine) == commandLineTakes.contains(name), qPrintable(name));
        }
    }
};

QTEST_GUILESS_MAIN(TstFiles)
#include "tst_files.moc"
