// What every command shares: the error line, outputs, the conversion options.
#include "cli/commands.h"

#include <QDir>
#include <QFileInfo>
#include <cstdio>

#include "core/outputfile.h"

#include <csignal>

namespace pw::cli {

const char *const kConversionHelp =
    "Conversion (the defaults are the window's conversion, bit for bit):\n"
    "  --threshold N     0-255: white where (30R+59G+11B) div 100 is strictly above N (128)\n"
    "  --dither MODE     none (default), floyd-steinberg, atkinson, bayer4, bayer8\n"
    "  --invert          swap black and white\n"
    "  --rotate DEG      0, 90, 180, 270 (clockwise, before fitting)\n"
    "  --flip h|v|hv     mirror left-right, upside down, or both (after rotating);\n"
    "                    given again, the mirrors add up (h and v: half a turn)\n"
    "  --fit MODE        crop (default: unscaled from the top-left corner, cut at 128x64),\n"
    "                    contain, cover, stretch\n"
    "  --background COLOR  behind transparency and where the picture does not reach\n"
    "                    (#rrggbb or a name; default #efefef, the window's picture area)\n"
    "  --brightness N    -100..100: adds N% of full white to each colour (0)\n"
    "  --contrast N      -100..100: spreads (N > 0) or narrows (N < 0) the colours around\n"
    "                    middle grey (0)\n"
    "  --gamma G         0.2..5: lightens the middle tones above 1, darkens them below (1)\n";

const char *const kExitCodesHelp =
    "Exit codes: 0 done, 1 usage, 2 an input could not be read or is not a picture,\n"
    "  3 an output could not be written, 4 the port could not be opened or failed,\n"
    "  5 the device did not answer within the timeout, 130 interrupted.\n"
    "  When several inputs fail for different reasons, the largest code.\n";

// A file name may hold any byte but '/' and NUL: control characters are shown escaped, so
// that a failure is always one line.
void errorLine(const QString &text)
{
    QString line = QStringLiteral("pixelwright-cli: ");
    for (const QChar c : text) {
        if (c == QLatin1Char('\n'))
            line += QLatin1String("\\n");
        else if (c == QLatin1Char('\r'))
            line += QLatin1String("\\r");
        else if (c == QLatin1Char('\t'))
            line += QLatin1String("\\t");
        else if (c.category() == QChar::Other_Control)
            line += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            line += c;
    }
    writeStderr(line + QLatin1Char('\n'));
}

void writeStdout(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void writeStderr(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

bool writeOutput(const QString &path, const QByteArray &bytes, QString &reason)
{
    if (path == QLatin1String("-")) {
        writeStdout(bytes);
        if (std::ferror(stdout)) {
            reason = QStringLiteral("standard output could not be written");
            return false;
        }
        return true;
    }
    WriteOptions options;
    options.deferSync = true;
    const WriteResult result = writeOutputFile(path, bytes, options);
    reason = writeErrorText(result);
    return result.ok();
}

bool readStdin(QByteArray &bytes, qint64 limit)
{
    bytes.clear();
    char buffer[65536];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) {
        if (bytes.size() + qint64(got) > limit)
            return false;
        bytes.append(buffer, qsizetype(got));
    }
    return true;
}

namespace {
volatile std::sig_atomic_t interruptFlag = 0;
extern "C" void onInterrupt(int)
{
    interruptFlag = 1;
    requestWriteStop();
}
}  // namespace

void catchInterrupts()
{
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
}

bool interrupted() { return interruptFlag != 0; }

void setInterrupted(bool on) { interruptFlag = on ? 1 : 0; }

QList<OptionSpec> conversionSpecs()
{
    return {{"threshold", {}, true}, {"dither", {}, true},     {"invert", {}, false},   {"rotate", {}, true},
            {"flip", {}, true, true},      {"fit", {}, true},        {"background", {}, true}, {"brightness", {}, true},
            {"contrast", {}, true},  {"gamma", {}, true}};
}

bool conversionOptions(const ParsedArgs &args, ConversionOptions &options, QString &error)
{
    PrepareOptions &prepare = options.prepare;
    ThresholdOptions &threshold = options.threshold;
    if (!intOption(args, QStringLiteral("threshold"), 0, 255, threshold.threshold, error)
        || !intOption(args, QStringLiteral("brightness"), -100, 100, prepare.tone.brightness, error)
        || !intOption(args, QStringLiteral("contrast"), -100, 100, prepare.tone.contrast, error))
        return false;
    threshold.invert = args.has(QStringLiteral("invert"));
    if (args.has("dither")) {
        const auto dither = ditherFromName(args.value("dither"));
        if (!dither) {
            error = QStringLiteral("--dither takes none, floyd-steinberg, atkinson, bayer4 or bayer8, not '%1'").arg(args.value("dither"));
            return false;
        }
        threshold.dither = *dither;
    }
    if (args.has("fit")) {
        const auto fit = fitFromName(args.value("fit"));
        if (!fit) {
            error = QStringLiteral("--fit takes crop, contain, cover or stretch, not '%1'").arg(args.value("fit"));
            return false;
        }
        prepare.fit = *fit;
    }
    if (args.has("rotate")) {
        const QString text = args.value("rotate");
        if (!QStringList{"0", "90", "180", "270"}.contains(text)) {
            error = QStringLiteral("--rotate takes 0, 90, 180 or 270, not '%1'").arg(text);
            return false;
        }
        prepare.rotate = text.toInt();
    }
    if (args.has("gamma")) {
        bool ok = false;
        const double gamma = args.value("gamma").toDouble(&ok);
        if (!ok || !(gamma >= 0.2 && gamma <= 5.0)) {
            error = QStringLiteral("--gamma takes a number from 0.2 to 5, not '%1'").arg(args.value("gamma"));
            return false;
        }
        prepare.tone.gamma = gamma;
    }
    bool horizontal = false, vertical = false;
    for (const QString &value : args.values("flip")) {
        if (!QStringList{"h", "v", "hv", "vh"}.contains(value)) {
            error = QStringLiteral("--flip takes h, v or hv, not '%1'").arg(value);
            return false;
        }
        horizontal = horizontal || value.contains(QLatin1Char('h'));
        vertical = vertical || value.contains(QLatin1Char('v'));
    }
    setMirrors(prepare, horizontal, vertical);
    if (args.has("background")) {
        const QColor color = QColor::fromString(args.value("background"));
        if (!color.isValid()) {
            error = QStringLiteral("--background: '%1' is not a colour").arg(args.value("background"));
            return false;
        }
        prepare.background = color;
    }
    return true;
}

}  // namespace pw::cli
