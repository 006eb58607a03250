#include "core/convert/conversionoptions.h"

#include "core/image/encoders.h"
#include "core/image/layouts.h"
#include "core/picture/prepare.h"
#include "core/text/textlayer.h"
#include "core/image/threshold.h"

#include <cmath>

namespace pw {

const QList<Choice> &fitChoices()
{
    static const QList<Choice> list{
        {QStringLiteral("crop"), QStringLiteral("左上から切り取り"), int(Fit::Crop)},
        {QStringLiteral("contain"), QStringLiteral("全体を収める"), int(Fit::Contain)},
        {QStringLiteral("cover"), QStringLiteral("全体を覆う"), int(Fit::Cover)},
        {QStringLiteral("stretch"), QStringLiteral("引き伸ばす"), int(Fit::Stretch)},
    };
    return list;
}

const QList<Choice> &ditherChoices()
{
    static const QList<Choice> list{
        {QStringLiteral("none"), QStringLiteral("なし"), int(Dither::None)},
        {QStringLiteral("floyd-steinberg"), QStringLiteral("Floyd–Steinberg"), int(Dither::FloydSteinberg)},
        {QStringLiteral("atkinson"), QStringLiteral("Atkinson"), int(Dither::Atkinson)},
        {QStringLiteral("bayer4"), QStringLiteral("Bayer 4×4"), int(Dither::Bayer4)},
        {QStringLiteral("bayer8"), QStringLiteral("Bayer 8×8"), int(Dither::Bayer8)},
    };
    return list;
}

const QList<Choice> &rotateChoices()
{
    static const QList<Choice> list{
        {QStringLiteral("0"), QStringLiteral("0°"), 0},
        {QStringLiteral("90"), QStringLiteral("90°"), 90},
        {QStringLiteral("180"), QStringLiteral("180°"), 180},
        {QStringLiteral("270"), QStringLiteral("270°"), 270},
    };
    return list;
}

const QList<Choice> &layoutChoices()
{
    static const QList<Choice> list = [] {
        QList<Choice> out;
        for (qsizetype i = 0; i < layouts().size(); ++i)
            out << Choice{layouts()[i].name, layouts()[i].caption, int(i)};
        return out;
    }();
    return list;
}

const QList<Choice> &formatChoices()
{
    static const QList<Choice> list = [] {
        QList<Choice> out;
        for (Format format : {Format::Bin, Format::C, Format::Hex, Format::Pbm, Format::Xbm, Format::Png})
            out << Choice{formatName(format), {}, int(format)};
        return out;
    }();
    return list;
}

const QList<Choice> &alignChoices()
{
    static const QList<Choice> list{
        {QStringLiteral("left"), QStringLiteral("左"), int(TextAlign::Left)},
        {QStringLiteral("center"), QStringLiteral("中央"), int(TextAlign::Center)},
        {QStringLiteral("right"), QStringLiteral("右"), int(TextAlign::Right)},
    };
    return list;
}

const QList<Choice> &valignChoices()
{
    static const QList<Choice> list{
        {QStringLiteral("top"), QStringLiteral("上"), int(TextVAlign::Top)},
        {QStringLiteral("middle"), QStringLiteral("中央"), int(TextVAlign::Middle)},
        {QStringLiteral("bottom"), QStringLiteral("下"), int(TextVAlign::Bottom)},
    };
    return list;
}

const QList<Choice> &textColorChoices()
{
    static const QList<Choice> list{
        {QStringLiteral("black"), QStringLiteral("黒"), 0},
        {QStringLiteral("white"), QStringLiteral("白"), 1},
    };
    return list;
}

const Choice *choiceNamed(const QList<Choice> &choices, const QString &name)
{
    for (const Choice &choice : choices)
        if (choice.name == name)
            return &choice;
    return nullptr;
}

const Choice *choiceOf(const QList<Choice> &choices, int value)
{
    for (const Choice &choice : choices)
        if (choice.value == value)
            return &choice;
    return nullptr;
}

QString choiceNameList(const QList<Choice> &choices)
{
    QString out;
    for (qsizetype i = 0; i < choices.size(); ++i)
        out += (i == 0 ? QString() : i + 1 == choices.size() ? QStringLiteral(" or ") : QStringLiteral(", ")) + choices[i].name;
    return out;
}

// Each row: --NAME, conversion.ini key, studio caption, low, high, default, scale, rule, help.
namespace options {
const NumberOption threshold{QStringLiteral("threshold"), QStringLiteral("threshold"),
                             QStringLiteral("しきい値"), 0, 255, 128,
                             1, NumberRule::Whole, "  --threshold N     %1-%2: white where (30R+59G+11B) div 100 is strictly above N (%3)\n"};
const NumberOption brightness{QStringLiteral("brightness"), QStringLiteral("brightness"),
                              QStringLiteral("明るさ"), -100, 100, 0,
                              1, NumberRule::Whole, "  --brightness N    %1..%2: adds N% of full white to each colour (%3)\n"};
const NumberOption contrast{QStringLiteral("contrast"), QStringLiteral("contrast"),
                            QStringLiteral("コントラスト"), -100, 100, 0,
                            1, NumberRule::Whole, "  --contrast N      %1..%2: spreads (N > 0) or narrows (N < 0) the colours around\n"
                                    "                    middle grey (%3)\n"};
const NumberOption gamma{QStringLiteral("gamma"), QStringLiteral("gamma"), QStringLiteral("ガンマ"),
                         20, 500, 100, 100, NumberRule::Hundredths,
                         "  --gamma G         %1..%2: lightens the middle tones above 1, darkens them below (%3)\n"};
const NumberOption frame{{}, QStringLiteral("frame"), QStringLiteral("フレーム"), 0,
                         9999, 0};
const NumberOption textSize{QStringLiteral("size"), QStringLiteral("text-size"),
                            QStringLiteral("サイズ"), kMinTextSize, kMaxTextSize, 8,
                            1, NumberRule::Whole, "  --size PX         %1-%2: the font's size in pixels (%3)\n"};
const NumberOption textOffset{QStringLiteral("offset"), QStringLiteral("text-offset"), {},
                              -kMaxTextOffset, kMaxTextOffset, 0,
                              1, NumberRule::Whole, "  --offset X,Y      %1..%2 each: moves the text right and down (%3,%3)\n"};

// Each row: --NAME, conversion.ini key, studio caption, the list.
const ListOption fit{QStringLiteral("fit"), QStringLiteral("fit"), QStringLiteral("配置"), fitChoices};
const ListOption rotate{QStringLiteral("rotate"), QStringLiteral("rotate"), QStringLiteral("回転"), rotateChoices};
const ListOption dither{QStringLiteral("dither"), QStringLiteral("dither"), QStringLiteral("ディザ"), ditherChoices};
const ListOption layout{QStringLiteral("layout"), QStringLiteral("layout"), QStringLiteral("バイト順"), layoutChoices};
const ListOption align{QStringLiteral("align"), QStringLiteral("align"), QStringLiteral("横位置"), alignChoices};
const ListOption valign{QStringLiteral("valign"), QStringLiteral("valign"), QStringLiteral("縦位置"), valignChoices};
const ListOption textColor{QStringLiteral("text-color"), QStringLiteral("text-color"), QStringLiteral("文字色"), textColorChoices};
}  // namespace options

QList<const NumberOption *> numberOptions()
{
    return {&options::threshold, &options::brightness, &options::contrast, &options::gamma,
            &options::frame,     &options::textSize,   &options::textOffset};
}

QByteArray NumberOption::helpLines() const
{
    if (!help)
        return {};
    const double defaultValue = double(fallback) / scale;
    return QString::fromUtf8(help)
        .arg(QString::number(lowValue()), QString::number(highValue()), QString::number(defaultValue))
        .toUtf8();
}

std::optional<double> readSettingNumber(const NumberOption &option, const QString &text)
{
    bool ok = false;
    if (option.rule == NumberRule::Hundredths) {
        const double value = text.toDouble(&ok);
        if (!ok || !std::isfinite(value))
            return std::nullopt;
        const long steps = std::lround(value * option.scale);
        return steps >= option.low && steps <= option.high ? std::optional<double>(double(steps) / option.scale) : std::nullopt;
    }
    const int value = text.toInt(&ok);
    return ok && value >= option.low && value <= option.high ? std::optional<double>(value) : std::nullopt;
}

std::optional<double> readArgumentNumber(const NumberOption &option, const QString &text)
{
    if (option.rule == NumberRule::Whole)
        return readSettingNumber(option, text);
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && value >= option.lowValue() && value <= option.highValue() ? std::optional<double>(value) : std::nullopt;
}

bool readColour(const QString &text, ColourRule rule, QColor &colour)
{
    const QColor read = QColor::fromString(text);
    if (!read.isValid() || (rule == ColourRule::HexOnly && (text.size() != 7 || !text.startsWith(QLatin1Char('#')))))
        return false;
    colour = read;
    return true;
}

QByteArray conversionHelp()
{
    QString dither = QStringLiteral("  --dither MODE     ");
    for (const Choice &choice : ditherChoices())
        dither += choice.name + (&choice == &ditherChoices().first() ? QStringLiteral(" (default)") : QString())
                  + (&choice == &ditherChoices().last() ? QStringLiteral("\n") : QStringLiteral(", "));
    return "Conversion (the defaults are the window's conversion, bit for bit):\n" + options::threshold.helpLines()
           + dither.toUtf8()
           + "  --invert          swap black and white\n"
             "  --rotate DEG      0, 90, 180, 270 (clockwise, before fitting)\n"
             "  --flip h|v|hv     mirror left-right, upside down, or both (after rotating);\n"
             "                    given again, the mirrors add up (h and v: half a turn)\n"
             "  --fit MODE        crop (default: unscaled from the top-left corner, cut at 128x64),\n"
             "                    contain, cover, stretch\n"
             "  --background COLOR  behind transparency and where the picture does not reach\n"
             "                    (#rrggbb or a name; default #efefef, the window's picture area)\n"
           + options::brightness.helpLines() + options::contrast.helpLines() + options::gamma.helpLines();
}

}  // namespace pw
