// send: the window's transfers and the console's sends from the command line.
#include "cli/commands.h"
#include "cli/send.h"
#include "cli/textcmd.h"

#include "core/image/encoders.h"
#include "core/storage/files.h"
#include "core/link/qtserialport.h"
#include "core/link/protocol.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cstdio>
#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace pw::cli {

namespace {

// The ranges are the protocol's, so that the help says what the options take.
QByteArray helpText()
{
    return QStringLiteral(
        "Usage: pixelwright-cli send --port N|PATH --vram [--time %1] IN [options]\n"
        "       pixelwright-cli send --port N|PATH --flash PAGE IN [options]\n"
        "       pixelwright-cli send --port N|PATH --flash FIRST-LAST IN... [options]\n"
        "       pixelwright-cli send --port N|PATH --flash FIRST[-LAST] --frames IN [options]\n"
        "       pixelwright-cli send --port N|PATH --line TEXT\n"
        "       pixelwright-cli send --port N|PATH --file FILE\n"
        "Sends as the window does: the same bytes, the same waits on CTS. IN is a picture (converted\n"
        "with the options below) or a BIN file (*.bin, sent as it is); with --text and no IN, the\n"
        "text over the background alone.\n"
        "  --port N|PATH     the window's port number %2 (COMn: on Linux the link COMn in this\n"
        "                    program's folder, else /dev/ttyS<n-1>; see 'ports') or a device path\n"
        "                    such as /dev/ttyUSB0 or COM7\n"
        "  --vram            into the screen memory; --time %1 is the rewrite time (3)\n"
        "  --flash PAGE      into FLASH page %3; FIRST-LAST fills consecutive pages, one IN each\n"
        "  --frames          every frame of the animated picture IN, frame k into page FIRST+k, up to\n"
        "                    LAST (or %4); frames beyond it are not sent, and stderr says how many\n"
        "  --line TEXT       one command line (CR LF is added)\n"
        "  --file FILE       a command file, byte for byte as the console sends it, read as the\n"
        "                    line takes it (any size; a device such as /dev/zero until Ctrl-C)\n"
        "  --timeout SECONDS bounds each wait for the device (30; 0 = no limit)\n"
        "  --dry-run         prints the byte stream as hex on standard output; opens nothing\n"
        "  -h, --help        this text\n"
        "Progress and the phase (waiting for the device, sending, device busy) go to stderr.\n"
        "Ctrl-C closes the port and exits with 130.\n")
        .arg(rangeText(protocol::kRewriteTimes, ".."), rangeText(protocol::kPorts), rangeText(protocol::kPages),
             QString::number(protocol::kPages.high))
        .toUtf8();
}

struct PortChoice {
    QString portText;  // the number the transfer opens
    QString path;      // a device named directly, or empty
    QString shownName;
};

PortChoice portChoice(const QString &text, const QString &programDir)
{
    static const QRegularExpression number(QStringLiteral("^(?:COM)?(\\d{1,2})$"), QRegularExpression::CaseInsensitiveOption);
    const auto match = number.match(text);
    if (match.hasMatch() && protocol::kPorts.contains(match.captured(1).toInt())) {
        const int n = match.captured(1).toInt();
        return {QString::number(n), {}, portDeviceName(n, programDir)};
    }
    return {QStringLiteral("1"), text, text};
}

bool loadImage(const QString &input, const ConversionOptions &options, MonoImage &image, QString &error)
{
    if (isBinFileName(input, BinNameRule::CommandLine)) {
        LoadError reason = checkReadable(input);
        if (reason == LoadError::None && !readBinFile(input, image))
            reason = LoadError::Unreadable;
        error = loadErrorText(LoadedPicture::failed(reason));
        return reason == LoadError::None;
    }
    const Conversion conversion = convertPicture(PictureSource::file(input), options);
    if (!conversion.ok()) {
        error = loadErrorText(conversion.failure);
        return false;
    }
    image = conversion.images.constFirst();
    return true;
}

bool isTerminal(FILE *stream)
{
#ifdef Q_OS_UNIX
    return ::isatty(::fileno(stream));
#else
    Q_UNUSED(stream);
    return false;
#endif
}

int usage(const QString &text)
{
    errorLine(text + QStringLiteral(" (see 'pixelwright-cli send --help')"));
    return int(Usage);
}

// The options: Done to go on (or after the help), or the exit code.
int parseSendOptions(const QStringList &argv, ParsedArgs &args, ConversionOptions &options, int &time, int &timeout)
{
    QList<OptionSpec> known = conversionSpecs();
    known << textSpecs() << OptionSpec{"port", {}, true} << OptionSpec{"vram", {}, false} << OptionSpec{"time", {}, true}
          << OptionSpec{"flash", {}, true} << OptionSpec{"line", {}, true} << OptionSpec{"file", {}, true}
          << OptionSpec{"timeout", {}, true} << OptionSpec{"dry-run", {}, false} << OptionSpec{"frames", {}, false}
          << OptionSpec{"help", 'h', false};
    // Ctrl-C is heard from the start: reading and converting come before the port is opened.
    catchInterrupts();
    QString error;
    if (!parseArgs(argv, known, args, error) || (!args.has("help") && !conversionOptions(args, options, error)))
        return usage(error);
    if (args.has("help")) {
        writeStdout(helpText() + conversionHelp() + textHelp() + kExitCodesHelp);
        return Done;
    }
    if (!intOption(args, "time", protocol::kRewriteTimes.low, protocol::kRewriteTimes.high, time, error) || !intOption(args, "timeout", 0, 24 * 3600, timeout, error))
        return usage(error);
    if (const int code = textOptions(args, options.text); code != Done)
        return code;
    const int modes = int(args.has("vram")) + int(args.has("flash")) + int(args.has("line")) + int(args.has("file"));
    if (modes != 1)
        return usage(QStringLiteral("send needs one of --vram, --flash, --line, --file"));
    if (!args.has("dry-run") && !args.has("port"))
        return usage(QStringLiteral("send needs --port"));
    return Done;
}

// Every job, fully prepared before anything is opened; a command file is only opened.
struct SendJobs {
    QList<ImageStream> images;
    QStringList doneTexts;
    QByteArray lineBytes;
    QBuffer lineSource{&lineBytes};
    QFile fileSource;
    QIODevice *commands = nullptr;
    qint64 commandTotal = -1;

    void add(const ImageStream &stream, const QString &doneText)
    {
        images << stream;
        doneTexts << doneText;
    }
};

QString flashDoneText(int page) { return QStringLiteral("done: written to FLASH page %1 (the TF and DP commands show it)").arg(page); }

// --line or --file: the commands to send.
int prepareCommands(const ParsedArgs &args, SendJobs &jobs)
{
    if (!args.operands.isEmpty())
        return usage(QStringLiteral("--line and --file take no other operand"));
    if (args.has("line")) {
        jobs.lineBytes = protocol::commandLine(args.value("line").toLocal8Bit());
        jobs.lineSource.open(QIODevice::ReadOnly);
        jobs.commands = &jobs.lineSource;
        jobs.commandTotal = jobs.lineBytes.size();
        return Done;
    }
    const QString path = args.value("file");
    if (const LoadError reason = checkReadable(path); reason != LoadError::None) {
        errorLine(path + QStringLiteral(": ") + loadErrorText(LoadedPicture::failed(reason)));
        return BadInput;
    }
    jobs.fileSource.setFileName(path);
    if (!jobs.fileSource.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        errorLine(path + QStringLiteral(": ") + loadErrorText(LoadedPicture::failed(LoadError::Unreadable)));
        return BadInput;
    }
    // A regular file says how much it holds; a device or a pipe goes on until its end.
    if (QFileInfo(path).isFile() && !jobs.fileSource.isSequential()) {
        jobs.commandTotal = jobs.fileSource.size();
        if (jobs.commandTotal == 0) {
            errorLine(path + QStringLiteral(": empty, nothing to send"));
            return BadInput;
        }
    }
    jobs.commands = &jobs.fileSource;
    return Done;
}

// --frames: frame k of the one input into page first + k, up to last.
int prepareFrames(const ParsedArgs &args, const ConversionOptions &options, int first, int last, SendJobs &jobs)
{
    const QStringList &inputs = args.operands;
    if (!args.has("flash") || inputs.size() != 1 || isBinFileName(inputs[0], BinNameRule::CommandLine))
        return usage(QStringLiteral("--frames sends one animated picture into FLASH pages (--flash FIRST[-LAST])"));
    if (!args.value("flash").contains(QLatin1Char('-')))
        last = protocol::kPages.high;
    // Only the frames that have a page are decoded; the others are only counted.
    const PictureSource source = PictureSource::file(inputs[0]);
    const int pages = last - first + 1;
    QList<MonoImage> images;
    const LoadedPicture failure = convertFrames(source, options, [&](const MonoImage &image) {
        images << image;
        return images.size() < pages;
    });
    if (!failure.ok()) {
        errorLine(inputs[0] + QStringLiteral(": ") + loadErrorText(failure));
        return BadInput;
    }
    const int count = images.size() < pages ? int(images.size()) : std::max(pages, frameCount(source));
    if (count > pages)
        errorLine(QStringLiteral("%1: %2 frames; pages %3-%4 take the first %5; %6")
                      .arg(inputs[0]).arg(count).arg(first).arg(last).arg(pages)
                      .arg(count - pages == 1 ? QStringLiteral("1 frame was not sent")
                                              : QStringLiteral("%1 frames were not sent").arg(count - pages)));
    jobs.images = flashFrameStreams(images, first);
    for (int k = 0; k < jobs.images.size(); ++k)
        jobs.doneTexts << QStringLiteral("done: frame %1 written to FLASH page %2").arg(k).arg(first + k);
    return Done;
}

// --vram or --flash: the pictures, BIN files or the text alone, each to its page.
int preparePictures(const ParsedArgs &args, const ConversionOptions &options, int time, SendJobs &jobs)
{
    const QStringList &inputs = args.operands;
    int first = 0, last = 0;
    if (args.has("flash")) {
        static const QRegularExpression pages(QStringLiteral("^(\\d{1,2})(?:-(\\d{1,2}))?$"));
        const auto match = pages.match(args.value("flash"));
        first = match.captured(1).toInt();
        last = match.captured(2).isEmpty() ? first : match.captured(2).toInt();
        if (!match.hasMatch() || first > last || !protocol::kPages.contains(last))
            return usage(QStringLiteral("--flash takes a page %1 or a range such as %1, not '%2'")
                             .arg(rangeText(protocol::kPages), args.value("flash")));
    }
    if (args.has("frames"))
        return prepareFrames(args, options, first, last, jobs);
    const QString vramDone = QStringLiteral("done: the screen was rewritten");
    if (inputs.isEmpty() && !options.text.isEmpty()) {
        const std::optional<MonoImage> image = convertBackground(options);
        if (!image)
            return usage(QStringLiteral("the text could not be drawn"));
        if (args.has("vram"))
            jobs.add(displayMemoryStream(*image, time), vramDone);
        else
            jobs.add(flashPageStream(*image, first), flashDoneText(first));
    } else if (inputs.isEmpty() || inputs.size() > last - first + 1) {
        return usage(args.has("vram") || first == last ? QStringLiteral("send takes one picture or BIN file")
                                                       : QStringLiteral("pages %1-%2 take at most %3 files").arg(first).arg(last).arg(last - first + 1));
    }
    for (int k = 0; k < inputs.size(); ++k) {
        MonoImage image{};
        QString error;
        if (!loadImage(inputs[k], options, image, error)) {
            errorLine(inputs[k] + QStringLiteral(": ") + error);
            return BadInput;
        }
        if (args.has("vram"))
            jobs.add(displayMemoryStream(image, time), vramDone);
        else
            jobs.add(flashPageStream(image, first + k), flashDoneText(first + k));
    }
    return Done;
}

int stopped(const PortChoice &port)
{
    errorLine(port.shownName + QStringLiteral(": interrupted; the port was closed"));
    return int(Interrupted);
}

// --dry-run: the byte stream as hex on standard output.
int printJobs(SendJobs &jobs, const PortChoice &port)
{
    for (const ImageStream &job : std::as_const(jobs.images))
        writeStdout(hexLines(job.bytes()));
    // Sixteen bytes a line: a piece a multiple of sixteen keeps the lines whole.
    for (QByteArray piece; jobs.commands && !interrupted() && !(piece = jobs.commands->read(16 * 4096)).isEmpty();)
        writeStdout(hexLines(piece));
    return interrupted() ? stopped(port) : int(Done);
}

int sendJobs(SendJobs &jobs, const PortChoice &port, int timeout, Reporter &reporter, const QString &programDir)
{
    QtSerialPort serial(programDir);
    if (!port.path.isEmpty())
        serial.setDeviceNameOverride(port.path);
    for (int k = 0; k < jobs.images.size() || (k == 0 && jobs.images.isEmpty()); ++k) {
        CliWaiter waiter(qint64(timeout) * 1000);
        QString error;
        const int code = jobs.images.isEmpty()
                             ? sendCommandJob(*jobs.commands, jobs.commandTotal, port.portText, serial, waiter, reporter, error)
                             : sendImageJob(jobs.images[k], port.portText, serial, waiter, reporter, jobs.doneTexts[k], error);
        if (code != Done) {
            if (serial.isOpen())
                serial.close();
            errorLine(port.shownName + QStringLiteral(": ") + error);
            return code;
        }
    }
    return Done;
}

}  // namespace

int runSend(const QStringList &argv, const QString &programDir)
{
    ParsedArgs args;
    ConversionOptions options;
    int time = 3, timeout = 30;
    if (const int code = parseSendOptions(argv, args, options, time, timeout); code != Done || args.has("help"))
        return code;
    const bool dryRun = args.has("dry-run");
    SendJobs jobs;
    const PortChoice port = portChoice(args.value("port"), programDir);
    const int prepared = args.has("line") || args.has("file") ? prepareCommands(args, jobs) : preparePictures(args, options, time, jobs);
    if (prepared != Done)
        return prepared;
    if (interrupted())
        return stopped(port);
    Reporter reporter(!dryRun && isTerminal(stderr), dryRun);
    if (dryRun)
        return printJobs(jobs, port);
    return sendJobs(jobs, port, timeout, reporter, programDir);
}

}  // namespace pw::cli
