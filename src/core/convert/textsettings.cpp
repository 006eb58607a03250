#include "core/convert/textsettings.h"

#include "core/convert/conversionoptions.h"

namespace pw {

namespace {

std::optional<int> wholeIn(const NumberOption &option, const QString &text)
{
    const std::optional<double> value = readSettingNumber(option, text);
    return value ? std::optional<int>(int(*value)) : std::nullopt;
}

std::optional<bool> flag(const QString &text)
{
    const QString name = text.toLower();
    if (name == QLatin1String("1") || name == QLatin1String("true") || name == QLatin1String("yes"))
        return true;
    if (name == QLatin1String("0") || name == QLatin1String("false") || name == QLatin1String("no"))
        return false;
    return std::nullopt;
}

QString flagName(bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); }

}  // namespace

QString quoteText(const QString &text)
{
    QString out(QLatin1Char('"'));
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\': out += QLatin1String("\\\\"); break;
        case '"': out += QLatin1String("\\\""); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\r': out += QLatin1String("\\r"); break;
        case '\t': out += QLatin1String("\\t"); break;
        default: out += c;
        }
    }
    return out + QLatin1Char('"');
}

std::optional<QString> unquoteText(const QString &value)
{
    if (value.size() < 2 || !value.startsWith(QLatin1Char('"')) || !value.endsWith(QLatin1Char('"')))
        return std::nullopt;
    QString out;
    for (qsizetype i = 1; i < value.size() - 1; ++i) {
        const QChar c = value[i];
        if (c == QLatin1Char('"'))
            return std::nullopt;
        if (c != QLatin1Char('\\')) {
            out += c;
            continue;
        }
        if (++i >= value.size() - 1)
            return std::nullopt;
        switch (value[i].unicode()) {
        case '\\': out += QLatin1Char('\\'); break;
        case '"': out += QLatin1Char('"'); break;
        case 'n': out += QLatin1Char('\n'); break;
        case 'r': out += QLatin1Char('\r'); break;
        case 't': out += QLatin1Char('\t'); break;
        default: return std::nullopt;
        }
    }
    return out;
}

QList<QPair<QString, QString>> textSettingLines(const TextOptions &t)
{
    if (t == TextOptions{})
        return {};
    return {{QStringLiteral("text"), quoteText(t.text)},
            {QStringLiteral("font"), t.family},
            {options::textSize.iniKey, QString::number(t.size)},
            {QStringLiteral("bold"), flagName(t.bold)},
            {options::align.iniKey, choiceOf(alignChoices(), int(t.align))->name},
            {options::valign.iniKey, choiceOf(valignChoices(), int(t.valign))->name},
            {options::textOffset.iniKey, QStringLiteral("%1,%2").arg(t.offsetX).arg(t.offsetY)},
            {options::textColor.iniKey, choiceOf(textColorChoices(), int(t.white))->name},
            {QStringLiteral("text-fallback"), flagName(t.fallback)}};
}

void takeTextSetting(TextOptions &t, const QString &key, const QString &value)
{
    const QString name = value.toLower();
    if (key == QLatin1String("text")) {
        t.text = unquoteText(value).value_or(t.text);
    } else if (key == QLatin1String("font")) {
        // Any name is kept: a font that is not installed is reported where the text is drawn.
        if (!value.isEmpty() && value.size() <= 256)
            t.family = value;
    } else if (key == options::textSize.iniKey) {
        t.size = wholeIn(options::textSize, value).value_or(t.size);
    } else if (key == QLatin1String("bold")) {
        t.bold = flag(value).value_or(t.bold);
    } else if (key == options::align.iniKey) {
        if (const Choice *choice = choiceNamed(alignChoices(), name))
            t.align = TextAlign(choice->value);
    } else if (key == options::valign.iniKey) {
        if (const Choice *choice = choiceNamed(valignChoices(), name))
            t.valign = TextVAlign(choice->value);
    } else if (key == options::textOffset.iniKey) {
        const QStringList xy = value.split(QLatin1Char(','));
        const auto x = wholeIn(options::textOffset, xy.value(0).trimmed());
        const auto y = wholeIn(options::textOffset, xy.value(1).trimmed());
        if (xy.size() == 2 && x && y) {
            t.offsetX = *x;
            t.offsetY = *y;
        }
    } else if (key == options::textColor.iniKey) {
        if (const Choice *choice = choiceNamed(textColorChoices(), name))
            t.white = choice->value != 0;
    } else if (key == QLatin1String("text-fallback")) {
        t.fallback = flag(value).value_or(t.fallback);
    }
}

}  // namespace pw
