// What every command shares: the error line, outputs, the conversion options.
#include "cli/commands.h"

#include <QDir>
#include <QFileInfo>
#include <cstdio>

#include "core/convert/conversionoptions.h"
#include "core/storage/outputfile.h"

#include <csignal>

namespace pw::cli {

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

QByteArray conversionHelp() { return pw::conversionHelp(); }

QString rangeText(protocol::Range range, const char *separator)
{
    return QString::number(range.low) + QLatin1String(separator) + QString::number(range.high);
}

QList<OptionSpec> conversionSpecs()
{
    return {{options::threshold.cliName, {}, true}, {options::dither.cliName, {}, true}, {"invert", {}, false},
            {options::rotate.cliName, {}, true},   {"flip", {}, true, true},  {options::fit.cliName, {}, true},
            {"background", {}, true},   {options::brightness.cliName, {}, true}, {options::contrast.cliName, {}, true},
            {options::gamma.cliName, {}, true}};
}

bool formatOption(const ParsedArgs &args, Format &format)
{
    if (!args.has("format"))
        return true;
    const Choice *choice = choiceNamed(formatChoices(), args.value("format"));
    if (!choice) {
        errorLine(QStringLiteral("--format takes %1, not '%2'").arg(choiceNameList(formatChoices()), args.value("format")));
        return false;
    }
    format = Format(choice->value);
    return true;
}

const Layout *layoutOption(const ParsedArgs &args)
{
    const Layout *layout = findLayout(args.has("layout") ? args.value("layout") : deviceLayout().name);
    if (!layout)
        errorLine(QStringLiteral("--layout takes %1, not '%2'").arg(choiceNameList(layoutChoices()), args.value("layout")));
    return layout;
}

bool numberOption(const ParsedArgs &args, const NumberOption &option, int &value, QString &error)
{
    return intOption(args, option.cliName, option.low, option.high, value, error);
}

bool choiceOption(const ParsedArgs &args, const ListOption &option, int &value, QString &error)
{
    const QList<Choice> &choices = option.choices();
    if (!args.has(option.cliName))
        return true;
    const Choice *choice = choiceNamed(choices, args.value(option.cliName));
    if (!choice) {
        error = QStringLiteral("--%1 takes %2, not '%3'").arg(option.cliName, choiceNameList(choices), args.value(option.cliName));
        return false;
    }
    value = choice->value;
    return true;
}

namespace {

template <typename T>
bool choiceOption(const ParsedArgs &args, const ListOption &option, T &value, QString &error)
{
    int chosen = int(value);
    if (!choiceOption(args, option, chosen, error))
        return false;
    value = T(chosen);
    return true;
}

bool flipOption(const ParsedArgs &args, PrepareOptions &prepare, QString &error)
{
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
    return true;
}

}  // namespace

bool conversionOptions(const ParsedArgs &args, ConversionOptions &options, QString &error)
{
    PrepareOptions &prepare = options.prepare;
    ThresholdOptions &threshold = options.threshold;
    if (!numberOption(args, options::threshold, threshold.threshold, error)
        || !numberOption(args, options::brightness, prepare.tone.brightness, error)
        || !numberOption(args, options::contrast, prepare.tone.contrast, error))
        return false;
    threshold.invert = args.has(QStringLiteral("invert"));
    if (!choiceOption(args, options::dither, threshold.dither, error) || !choiceOption(args, options::fit, prepare.fit, error)
        || !choiceOption(args, options::rotate, prepare.rotate, error))
        return false;
    if (const QString name = options::gamma.cliName; args.has(name)) {
        const std::optional<double> gamma = readArgumentNumber(options::gamma, args.value(name));
        if (!gamma) {
            error = QStringLiteral("--gamma takes a number from %1 to %2, not '%3'")
                        .arg(QString::number(options::gamma.lowValue()), QString::number(options::gamma.highValue()), args.value(name));
            return false;
        }
        prepare.tone.gamma = *gamma;
    }
    if (!flipOption(args, prepare, error))
        return false;
    if (args.has("background") && !readColour(args.value("background"), ColourRule::AnyName, prepare.background)) {
        error = QStringLiteral("--background: '%1' is not a colour").arg(args.value("background"));
        return false;
    }
    return true;
}

}  // namespace pw::cli
