// Files: which names are BIN files (the window's rule and the command line's differ, and users
// of each rely on theirs), and what writing one leaves behind in the writer.
#include "core/storage/files.h"
#include "core/storage/outputfile.h"

#include <QtTest>

#include <csignal>

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

    // Signals are held off only while a file is put in place: after any write, done or
    // failed, Ctrl-C reaches the program again.
    void writesGiveSignalsBack()
    {
        QTemporaryDir dir;
        const QString existing = dir.filePath("existing.bin");
        QVERIFY(writeOutputFile(existing, "old").ok());
        const struct {
            QString path;
            bool written;
        } writes[] = {
            {dir.filePath("new.bin"), true},
            {existing, true},
            {dir.filePath("none/new.bin"), false},
            {dir.path(), false},
        };
        sigset_t before;
        QCOMPARE(pthread_sigmask(SIG_SETMASK, nullptr, &before), 0);
        for (const auto &w : writes) {
            QCOMPARE(writeOutputFile(w.path, "bytes").ok(), w.written);
            sigset_t after;
            QCOMPARE(pthread_sigmask(SIG_SETMASK, nullptr, &after), 0);
            for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGUSR1})
                QVERIFY2(sigismember(&after, signal) == sigismember(&before, signal), qPrintable(w.path));
        }
    }
};

QTEST_GUILESS_MAIN(TstFiles)
#include "tst_files.moc"
