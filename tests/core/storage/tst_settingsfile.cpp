// The settings file parameterv12864.ini: one record, "rewrite time","port" CR LF, read back by the
// separator rules users' hand-written files rely on, and only its first 64 KiB.
#include "core/storage/settingsfile.h"

#include "common/testfiles.h"

#include <QtTest>

using namespace pw;

class TstSettingsFile : public QObject {
    Q_OBJECT
private slots:
    void recordIsNineBytesForThreeAndOne()
    {
        QCOMPARE(formatSettingsRecord("3", "1"), QByteArray::fromHex("2233222c2231220d0a"));
        QCOMPARE(formatSettingsRecord("5", "16"), QByteArray("\"5\",\"16\"\r\n"));
    }

    void valuesAreReadByTheSeparatorRules()
    {
        const struct {
            const char *content;
            QStringList values;
        } cases[] = {
            {"\"3\",\"1\"\r\n", {"3", "1"}},
            {"3,1\r\n", {"3", "1"}},                          // by hand, unquoted
            {"  \"2\" ,\t\"7\"", {"2", "7"}},                  // blanks before a value, none after the file's end
            {"\"4,5\",\"9\"\r\n", {"4,5", "9"}},               // a comma inside quotes belongs to the value
            {"\r\n\r\n\"1\"\n\"2\"\n", {"1", "2"}},            // blank lines separate nothing; LF alone ends a value
            {"\"3\"x,\"1\"", {"3", "1"}},                      // after the closing quote, up to the separator: dropped
            {"\"3", {"3"}},                                    // an unclosed quote runs to the end
            {"1,2,3,4", {"1", "2"}},                           // two values at most
            {"\"5\", \t", {"5"}},                                // blanks after the last separator: no value
            {"", {}},
        };
        for (const auto &c : cases)
            QVERIFY2(parseSettingsValues(c.content) == c.values,
                     qPrintable(QString::fromLatin1(c.content) + " -> " + parseSettingsValues(c.content).join('|')));
    }

    void writtenFileReadsBackAndOnlyItsPrefixIsRead()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("parameterv12864.ini");
        QVERIFY(writeSettingsFile({path, "4", "12"}));
        QCOMPARE(test::readFile(path), QByteArray("\"4\",\"12\"\r\n"));
        QCOMPARE(readSettingsValues(path), (QStringList{"4", "12"}));
        // A value longer than the prefix is cut at it, so a huge file costs no more than a small one.
        QVERIFY(test::writeFile(path, "\"3\",\"" + QByteArray(kSettingsReadLimit * 2, 'x')));
        QCOMPARE(readSettingsPrefix(path).size(), kSettingsReadLimit);
        QCOMPARE(readSettingsValues(path).value(1).size(), kSettingsReadLimit - 5);
        QVERIFY(readSettingsValues(dir.filePath("missing.ini")).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TstSettingsFile)
#include "tst_settingsfile.moc"
