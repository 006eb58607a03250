// conversion.ini: what is written, what survives a round trip, what damage leaves, and each
// number option's ends as the table of conversion options declares them.
#include "core/convert/conversionoptions.h"
#include "core/convert/conversionsettings.h"

#include <QtTest>

using namespace pw;

namespace {

// The setting a number option's conversion.ini key sets.
double settingOf(const ConversionSettings &s, const NumberOption &option)
{
    if (&option == &options::threshold)
        return s.threshold.threshold;
    if (&option == &options::brightness)
        return s.tone.brightness;
    if (&option == &options::contrast)
        return s.tone.contrast;
    if (&option == &options::gamma)
        return s.tone.gamma;
    if (&option == &options::frame)
        return s.frame;
    if (&option == &options::textSize)
        return s.text.size;
    if (&option == &options::textOffset)
        return s.text.offsetY == s.text.offsetX ? s.text.offsetX : qQNaN();
    return qQNaN();
}

// "key=value" for a value in the option's steps; the offset takes the value for X and Y.
QByteArray line(const NumberOption &option, int steps)
{
    const QString value = QString::number(double(steps) / option.scale, 'f', option.scale == 1 ? 0 : 2);
    return (option.iniKey + QLatin1Char('=') + (&option == &options::textOffset ? value + QLatin1Char(',') + value : value)).toUtf8();
}

}  // namespace

class TstConversionSettings : public QObject {
    Q_OBJECT
private slots:
    // The defaults as the file has always spelt them, and every setting changed and read back.
    void writesAndReadsBack()
    {
        QCOMPARE(formatConversionSettings({}), QByteArray("fit=crop\nrotate=0\nflip=none\nbrightness=0\ncontrast=0\ngamma=1.00\n"
                                                          "threshold=128\ndither=none\ninvert=0\nbackground=default\n"
                                                          "layout=page-lsb\nframe=0\n"));
        ConversionSettings s;
        s.fit = Fit::Stretch;
        s.rotate = 270;
        s.flipHorizontal = s.flipVertical = true;
        s.tone.brightness = -100;
        s.tone.contrast = 100;
        s.tone.gamma = 4.99;
        s.background = QColor(0x12, 0x34, 0x56);
        s.threshold.threshold = 255;
        s.threshold.dither = Dither::Bayer8;
        s.threshold.invert = true;
        s.frame = 9999;
        s.layout = QStringLiteral("row-lsb");
        s.text.text = QStringLiteral("a \"b\"\\\nc");
        s.text.size = 64;
        s.text.offsetX = -128;
        const QByteArray written = formatConversionSettings(s);
        QVERIFY(written.contains("flip=hv\n") && written.contains("gamma=4.99\n") && written.contains("background=#123456\n"));
        QCOMPARE(parseConversionSettings(written), s);
    }

    // Damage leaves that one setting at its default; the rest of the file still counts.
    void damageKeepsDefaults()
    {
        const QByteArray damaged[] = {"rotate=45", "rotate=360", "flip=x", "fit=zoom", "dither=bayer16", "invert=maybe",
                                      "background=red", "background=#abc", "background=#12345g", "layout=page",
                                      "threshold=12x", "gamma=nan", "gamma=inf", "text-offset=1", "text-size=", "=5",
                                      "# threshold=5", "; threshold=5", "[threshold=5]x", "threshold"};
        for (const QByteArray &bad : damaged) {
            const ConversionSettings read = parseConversionSettings(bad + "\r\nbrightness=7\n");
            ConversionSettings expected;
            expected.tone.brightness = 7;
            QVERIFY2(read == expected, bad.constData());
        }
        // Names in any case, blanks around, the last line for a key wins.
        const ConversionSettings read =
            parseConversionSettings("[conversion]\n  DITHER = Bayer4 \nfit=cover\nFit=Contain\nbackground=#123456\nBackground=Default\n");
        QCOMPARE(read.threshold.dither, Dither::Bayer4);
        QCOMPARE(read.fit, Fit::Contain);
        QVERIFY(!read.background);  // the picture area's own colour again
        // A text that is not one quoted string leaves the text as the lines before it left it.
        for (const QByteArray bad : {"\"", "\"open", "shut\"", "\"a\"b\"", "\"escaped end\\\"", "plain", "\"\\q\""})
            QVERIFY2(parseConversionSettings("text=\"kept\"\ntext=" + bad + "\n").text.text == QStringLiteral("kept"), bad.constData());
        // invert takes three spellings of each answer; anything else leaves it as the lines
        // before it left it.
        const struct {
            const char *text;
            bool invert;
        } spellings[] = {{"1", true}, {"true", true}, {"YES", true}, {"0", false}, {"False", false}, {"no", false}, {"maybe", true}, {"", true}};
        for (const auto &spelling : spellings)
            QVERIFY2(parseConversionSettings(QByteArray("invert=1\ninvert=") + spelling.text + "\n").threshold.invert == spelling.invert, spelling.text);
    }

    // Each number option reads exactly its ends from the table; one step beyond is refused.
    // The hundredths rule rounds before the check, so half a step inside the end is taken.
    void numberRangeEnds()
    {
        for (const NumberOption *option : numberOptions()) {
            const char *key = qPrintable(option->iniKey);
            QCOMPARE(settingOf(parseConversionSettings(line(*option, option->low)), *option), option->lowValue());
            QCOMPARE(settingOf(parseConversionSettings(line(*option, option->high)), *option), option->highValue());
            const double fallback = double(option->fallback) / option->scale;
            QCOMPARE(settingOf(ConversionSettings{}, *option), fallback);
            QVERIFY2(settingOf(parseConversionSettings(line(*option, option->low - 1)), *option) == fallback, key);
            QVERIFY2(settingOf(parseConversionSettings(line(*option, option->high + 1)), *option) == fallback, key);
            if (option->rule == NumberRule::Hundredths) {
                const QByteArray nearLow = option->iniKey.toUtf8() + '=' + QByteArray::number(option->lowValue() - 0.004);
                QCOMPARE(settingOf(parseConversionSettings(nearLow), *option), option->lowValue());
            }
        }
    }
};

QTEST_GUILESS_MAIN(TstConversionSettings)
#include "tst_conversionsettings.moc"
