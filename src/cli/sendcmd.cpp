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

const char *const kHelp =
    "Usage: pixelwright-cli send --port N|PATH --vram [--time 1..5] IN [options]\n"
    "       pixelwright-cli send --port N|PATH --flash PAGE IN [options]\n"
    "       pixelwright-cli send --port N|PATH --flash FIRST-LAST IN... [options]\n"
    "       pixelwright-cli send --port N|PATH --flash FIRST[-LAST] --frames IN [options]\n"
    "       pixelwright-cli send --port N|PATH --line TEXT\n"
    "       pixelwright-cli send --port N|PATH --file FILE\n"
    "Sends as the window does: the same bytes, the same waits on CTS. IN is a picture (converted\n"
    "with the options below) or a BIN file (*.bin, sent as it is); with --text and no IN, the\n"
    "text over the background alone.\n"
    "  --port N|PATH     the window's port number 1-16 (COMn: on Linux the link COMn in this\n"
    "                    program's folder, else /dev/ttyS<n-1>; see 'ports') or a device path\n"
    "                    such as /dev/ttyUSB0 or COM7\n"
    "  --vram            into the screen memory; --time 1..5 is the rewrite time (3)\n"
    "  --flash PAGE      into FLASH page 0-12; FIRST-LAST fills consecutive pages, one IN each\n"
    "  --frames          every frame of the animated picture IN, frame k into page FIRST+k, up to\n"
    "                    LAST (or 12); frames beyond it are not sent, and stderr says how many\n"
    "  --line TEXT       one command line (CR LF is added)\n"
    "  --file FILE       a command file, byte for byte as the console sends it, read as the\n"
    "                    line takes it (any size; a device such as /dev/zero until Ctrl-C)\n"
    "  --timeout SECONDS bounds each wait for the device (30; 0 = no limit)\n"
    "  --dry-run         prints the byte stream as hex on standard output; opens nothing\n"
    "  -h, --help        this text\n"
    "Progress and the phase (waiting for the device, sending, device busy) go to stderr.\n"
    "Ctrl-C closes the port and exits with 130.\n";

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

}  // namespace

int runSend(const QStringList &argv, const QString &programDir)
{
    QList<OptionSpec> known = conversionSpecs();
    known << textSpecs() << OptionSpec{"port", {}, true} << OptionSpec{"vram", {}, false} << OptionSpec{"time", {}, true}
          << OptionSpec{"flash", {}, true} << OptionSpec{"line", {}, true} << OptionSpec{"file", {}, true}
          << OptionSpec{"timeout", {}, true} << OptionSpec{"dry-run", {}, false} << OptionSpec{"frames", {}, false}
          << OptionSpec{"help", 'h', false};
    // Ctrl-C is heard from the start: reading and converting come before the port is opened.
    catchInterrupts();
    ParsedArgs args;
    QString error;
    ConversionOptions options;
    int time = 3, timeout = 30;
    auto usage = [](const QString &text) {
        errorLine(text + QStringLiteral(" (see 'pixelwright-cli send --help')"));
        return int(Usage);
    };
    if (!parseArgs(argv, known, args, error) || (!args.has("help") && !conversionOptions(args, options, error)))
        return usage(error);
    if (args.has("help")) {
        writeStdout(QByteArray(kHelp) + conversionHelp() + textHelp() + kExitCodesHelp);
        return Done;
    }
    if (!intOption(args, "time", protocol::kRewriteTimes.low, protocol::kRewriteTimes.high, time, error) || !intOption(args, "timeout", 0, 24 * 3600, timeout, error))
        return usage(error);
    if (const int code = textOptions(args, options.text); code != Done)
        return code;
    const int modes = int(args.has("vram")) + int(args.has("flash")) + int(args.has("line")) + int(args.has("file"));
    if (modes != 1)
        return usage(QStringLiteral("send needs one of --vram, --flash, --line, --file"));
    const bool dryRun = args.has("dry-run");
    if (!dryRun && !args.has("port"))
        return usage(QStringLiteral("send needs --port"));
    const QStringList inputs = args.operands;

    // Every job, fully prepared before anything is opened; a command file is only opened.
    QList<ImageStream> jobs;
    QStringList doneTexts;
    QByteArray lineBytes;
    QBuffer lineSource(&lineBytes);
    QFile fileSource;
    QIODevice *commands = nullptr;
    qint64 commandTotal = -1;
    const PortChoice port = portChoice(args.value("port"), programDir);
    if (args.has("line") || args.has("file")) {
        if (!inputs.isEmpty())
            return usage(QStringLiteral("--line and --file take no other operand"));
        if (args.has("line")) {
            lineBytes = protocol::commandLine(args.value("line").toLocal8Bit());
            lineSource.open(QIODevice::ReadOnly);
            commands = &lineSource;
            commandTotal = lineBytes.size();
        } else {
            const QString path = args.value("file");
            if (const LoadError reason = checkReadable(path); reason != LoadError::None) {
                errorLine(path + QStringLiteral(": ") + loadErrorText(LoadedPicture::failed(reason)));
                return BadInput;
            }
            fileSource.setFileName(path);
            if (!fileSource.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
                errorLine(path + QStringLiteral(": ") + loadErrorText(LoadedPicture::failed(LoadError::Unreadable)));
                return BadInput;
            }
            // A regular file says how much it holds; a device or a pipe goes on until its end.
            if (QFileInfo(path).isFile() && !fileSource.isSequential()) {
                commandTotal = fileSource.size();
                if (commandTotal == 0) {
                    errorLine(path + QStringLiteral(": empty, nothing to send"));
                    return BadInput;
                }
            }
            commands = &fileSource;
        }
    } else {
        int first = 0, last = 0;
        if (args.has("flash")) {
            static const QRegularExpression pages(QStringLiteral("^(\\d{1,2})(?:-(\\d{1,2}))?$"));
            const auto match = pages.match(args.value("flash"));
            first = match.captured(1).toInt();
            last = match.captured(2).isEmpty() ? first : match.captured(2).toInt();
            if (!match.hasMatch() || first > last || !protocol::kPages.contains(last))
                return usage(QStringLiteral("--flash takes a page 0-12 or a range such as 0-12, not '%1'").arg(args.value("flash")));
        }
        if (args.has("frames")) {
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
            jobs = flashFrameStreams(images, first);
            for (int k = 0; k < jobs.size(); ++k)
                doneTexts << QStringLiteral("done: frame %1 written to FLASH page %2").arg(k).arg(first + k);
        } else if (inputs.isEmpty() && !options.text.isEmpty()) {
            const std::optional<MonoImage> image = convertBackground(options);
            if (!image)
                return usage(QStringLiteral("the text could not be drawn"));
            jobs << (args.has("vram") ? displayMemoryStream(*image, time) : flashPageStream(*image, first));
            doneTexts << (args.has("vram") ? QStringLiteral("done: the screen was rewritten")
                                           : QStringLiteral("done: written to FLASH page %1 (the TF and DP commands show it)").arg(first));
        } else if (inputs.isEmpty() || inputs.size() > last - first + 1) {
            return usage(args.has("vram") || first == last ? QStringLiteral("send takes one picture or BIN file")
                                                           : QStringLiteral("pages %1-%2 take at most %3 files").arg(first).arg(last).arg(last - first + 1));
        }
        for (int k = 0; k < inputs.size() && !args.has("frames"); ++k) {
            MonoImage image{};
            if (!loadImage(inputs[k], options, image, error)) {
                errorLine(inputs[k] + QStringLiteral(": ") + error);
                return BadInput;
            }
            if (args.has("vram")) {
                jobs << displayMemoryStream(image, time);
                doneTexts << QStringLiteral("done: the screen was rewritten");
            } else {
                jobs << flashPageStream(image, first + k);
                doneTexts << QStringLiteral("done: written to FLASH page %1 (the TF and DP commands show it)").arg(first + k);
            }
        }
    }

    const auto stopped = [&port] {
        errorLine(port.shownName + QStringLiteral(": interrupted; the port was closed"));
        return int(Interrupted);
    };
    if (interrupted())
        return stopped();
    Reporter reporter(!dryRun && isTerminal(stderr), dryRun);
    if (dryRun) {
        for (const ImageStream &job : std::as_const(jobs))
            writeStdout(hexLines(job.bytes()));
        // Sixteen bytes a line: a piece a multiple of sixteen keeps the lines whole.
        for (QByteArray piece; commands && !interrupted() && !(piece = commands->read(16 * 4096)).isEmpty();)
            writeStdout(hexLines(piece));
        return interrupted() ? stopped() : int(Done);
    }
    QtSerialPort serial(programDir);
    if (!port.path.isEmpty())
        serial.setDeviceNameOverride(port.path);
    for (int k = 0; k < jobs.size() || (k == 0 && jobs.isEmpty()); ++k) {
        CliWaiter waiter(qint64(timeout) * 1000);
        const int code = jobs.isEmpty() ? sendCommandJob(*commands, commandTotal, port.portText, serial, waiter, reporter, error)
                                        : sendImageJob(jobs[k], port.portText, serial, waiter, reporter, doneTexts[k], error);
        if (code != Done) {
            if (serial.isOpen())
                serial.close();
            errorLine(port.shownName + QStringLiteral(": ") + error);
            return code;
        }
    }
    return Done;
}

}  // namespace pw::cli
