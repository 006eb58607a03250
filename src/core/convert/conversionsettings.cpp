#include "core/convert/conversionsettings.h"

#include "core/convert/conversionoptions.h"
#include "core/storage/files.h"
#include "core/image/layouts.h"
#include "core/storage/settingsfile.h"
#include "core/convert/textsettings.h"

#include <QRegularExpression>

namespace pw {

namespace {

const QString kDefaultBackground = QStringLiteral("default");

QString flipName(const ConversionSettings &s)
{
    return s.flipHorizontal && s.flipVertical ? QStringLiteral("hv")
           : s.flipHorizontal                 ? QStringLiteral("h")
           : s.flipVertical                   ? QStringLiteral("v")
                                              : QStringLiteral("none");
}

std::optional<bool> flag(const QString &text)
{
    if (text == QLatin1String("1") || text == QLatin1String("true") || text == QLatin1String("yes"))
        return true;
    if (text == QLatin1String("0") || text == QLatin1String("false") || text == QLatin1String("no"))
        return false;
    return std::nullopt;
}

int wholeIn(const NumberOption &option, const QString &text, int current)
{
    return int(readSettingNumber(option, text).value_or(current));
}

// One "key=value" line into the settings; anything unreadable is left as it was.
void take(ConversionSettings &s, const QString &key, const QString &value)
{
    const QString name = value.toLower();
    if (key == options::fit.iniKey) {
        if (const auto fit = fitFromName(name))
            s.fit = *fit;
    } else if (key == options::rotate.iniKey) {
        bool ok = false;
        if (const int turn = value.toInt(&ok); ok && choiceOf(rotateChoices(), turn))
            s.rotate = turn;
    } else if (key == QLatin1String("flip")) {
        if (name == QLatin1String("none") || name == QLatin1String("h") || name == QLatin1String("v") || name == QLatin1String("hv")) {
            s.flipHorizontal = name.contains(QLatin1Char('h'));
            s.flipVertical = name.contains(QLatin1Char('v'));
        }
    } else if (key == options::brightness.iniKey) {
        s.tone.brightness = wholeIn(options::brightness, value, s.tone.brightness);
    } else if (key == options::contrast.iniKey) {
        s.tone.contrast = wholeIn(options::contrast, value, s.tone.contrast);
    } else if (key == options::gamma.iniKey) {
        s.tone.gamma = readSettingNumber(options::gamma, value).value_or(s.tone.gamma);
    } else if (key == options::threshold.iniKey) {
        s.threshold.threshold = wholeIn(options::threshold, value, s.threshold.threshold);
    } else if (key == options::dither.iniKey) {
        if (const auto dither = ditherFromName(name))
            s.threshold.dither = *dither;
    } else if (key == QLatin1String("invert")) {
        s.threshold.invert = flag(name).value_or(s.threshold.invert);
    } else if (key == QLatin1String("background")) {
        QColor color;
        if (name == kDefaultBackground)
            s.background.reset();
        else if (readColour(value, ColourRule::HexOnly, color))
            s.background = color;
    } else if (key == options::layout.iniKey) {
        if (findLayout(name))
            s.layout = name;
    } else if (key == options::frame.iniKey) {
        s.frame = wholeIn(options::frame, value, s.frame);
    } else {
        takeTextSetting(s.text, key, value);
    }
}

}  // namespace

ConversionOptions ConversionSettings::conversionOptions(const QColor &areaBackground) const
{
    ConversionOptions options;
    options.prepare.fit = fit;
    options.prepare.rotate = rotate;
    setMirrors(options.prepare, flipHorizontal, flipVertical);
    options.prepare.tone = tone;
    options.prepare.background = background.value_or(areaBackground);
    options.threshold = threshold;
    options.text = text;
    return options;
}

bool ConversionSettings::operator==(const ConversionSettings &o) const
{
    return fit == o.fit && rotate == o.rotate && flipHorizontal == o.flipHorizontal && flipVertical == o.flipVertical
           && tone.brightness == o.tone.brightness && tone.contrast == o.tone.contrast && tone.gamma == o.tone.gamma
           && background == o.background && threshold.threshold == o.threshold.threshold
           && threshold.dither == o.threshold.dither && threshold.invert == o.threshold.invert && frame == o.frame
           && layout == o.layout && text == o.text;
}

QByteArray formatConversionSettings(const ConversionSettings &s)
{
    const QList<QPair<QString, QString>> lines{
        {options::fit.iniKey, fitName(s.fit)},
        {options::rotate.iniKey, QString::number(s.rotate)},
        {QStringLiteral("flip"), flipName(s)},
        {options::brightness.iniKey, QString::number(s.tone.brightness)},
        {options::contrast.iniKey, QString::number(s.tone.contrast)},
        {options::gamma.iniKey, QString::number(s.tone.gamma, 'f', 2)},  // hundredths, as the file is read
        {options::threshold.iniKey, QString::number(s.threshold.threshold)},
        {options::dither.iniKey, ditherName(s.threshold.dither)},
        {QStringLiteral("invert"), s.threshold.invert ? QStringLiteral("1") : QStringLiteral("0")},
        {QStringLiteral("background"), s.background ? s.background->name(QColor::HexRgb) : kDefaultBackground},
        {options::layout.iniKey, s.layout},
        {options::frame.iniKey, QString::number(s.frame)},
    };
    QByteArray out;
    for (const auto &line : lines)
        out += line.first.toUtf8() + '=' + line.second.toUtf8() + '\n';
    for (const auto &line : textSettingLines(s.text))
        out += line.first.toUtf8() + '=' + line.second.toUtf8() + '\n';
    return out;
}

ConversionSettings parseConversionSettings(const QByteArray &content)
{
    ConversionSettings settings;
    const QStringList lines = QString::fromUtf8(content).split(QRegularExpression(QStringLiteral("[\r\n]")), Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        const QString key = line.left(equals).trimmed().toLower();
        if (equals < 0 || key.startsWith(QLatin1Char('#')) || key.startsWith(QLatin1Char(';')))
            continue;
        take(settings, key, line.mid(equals + 1).trimmed());
    }
    return settings;
}

ConversionSettings readConversionSettings(const QString &path) { return parseConversionSettings(readSettingsPrefix(path)); }

bool writeConversionSettings(const QString &path, const ConversionSettings &settings)
{
    return writeFileAtomically(path, formatConversionSettings(settings));
}

}  // namespace pw
