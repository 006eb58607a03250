// The dispatch and the preview command.
#include "cli/commands.h"
#include "cli/textcmd.h"

#include "core/encoders.h"
#include "core/outputfile.h"
#include "pixelwright/version.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

namespace pw::cli {

namespace {

const char *const kMainHelp =
    "Usage: pixelwright-cli COMMAND [options] [operands]\n"
    "The Pixelwright device's pictures without a window.\n"
    "  convert IN... [-o OUT|DIR]      pictures to the 1024-byte image (bin, c, hex, pbm, xbm, png)\n"
    "  preview IN.bin [-o OUT.png]     the image back as a picture, or drawn in the terminal\n"
    "  send --port N|PATH ...          the window's VRAM/FLASH transfers, command lines and files\n"
    "  ports [--link N DEVICE]         serial ports, and which device each port number 1-16 reaches\n"
    "  simulate --link N|--socket PATH a simulated display module to send to, without the device\n"
    "  fonts [--pixel]                 the installed font families that --text can use\n"
    "'pixelwright-cli COMMAND --help' describes each command. Options may come before or after\n"
    "the operands; '--' ends the options.\n";

const char *const kPreviewHelp =
    "Usage: pixelwright-cli preview IN.bin [-o OUT.png] [--scale N] [--layout L]\n"
    "Shows the 1024-byte image exactly as the device lights it (bit 1 = lit, white).\n"
    "IN may be '-' for standard input; a shorter file is padded with black, as in the window.\n"
    "  -o, --output OUT  a PNG file ('-' for standard output); without it, a drawing of\n"
    "                    128 columns x 32 lines of half blocks on standard output\n"
    "  --scale N         1-16: each pixel of the PNG as an N x N square (1)\n"
    "  --layout L        the byte order of IN: page-lsb (default), page-msb, row-msb, row-lsb\n"
    "  -h, --help        this text\n";

}  // namespace

int runPreview(const QStringList &argv)
{
    const QList<OptionSpec> known{{"output", 'o', true}, {"scale", {}, true}, {"layout", {}, true}, {"help", 'h', false}};
    ParsedArgs args;
    QString error;
    int scale = 1;
    if (!parseArgs(argv, known, args, error) || !intOption(args, "scale", 1, 16, scale, error)) {
        errorLine(error + QStringLiteral(" (see 'pixelwright-cli preview --help')"));
        return Usage;
    }
    if (args.has("help")) {
        writeStdout(QByteArray(kPreviewHelp) + kExitCodesHelp);
        return Done;
    }
    const Layout *layout = findLayout(args.has("layout") ? args.value("layout") : QStringLiteral("page-lsb"));
    if (!layout) {
        errorLine(QStringLiteral("--layout takes page-lsb, page-msb, row-msb or row-lsb, not '%1'").arg(args.value("layout")));
        return Usage;
    }
    if (args.operands.size() != 1) {
        errorLine(QStringLiteral("preview takes one BIN file (see 'pixelwright-cli preview --help')"));
        return Usage;
    }
    const QString input = args.operands.constFirst();
    const QString output = args.value("output");
    if (input != QLatin1String("-") && !output.isEmpty() && output != QLatin1String("-")
        && fileIdentity(output) == fileIdentity(input)) {
        errorLine(QStringLiteral("%1: the output %2 would replace the input %1; nothing was written").arg(input, output));
        return Usage;
    }
    QByteArray bytes;
    if (input == QLatin1String("-")) {
        // Only the first 1024 bytes count; the rest is read and dropped.
        char buffer[65536];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;)
            if (bytes.size() < kImageBytes)
                bytes.append(buffer, qsizetype(qMin<std::size_t>(got, std::size_t(kImageBytes - bytes.size()))));
    } else {
        QFile file(input);
        if (!QFileInfo::exists(input) || QFileInfo(input).isDir() || !file.open(QIODevice::ReadOnly)) {
            errorLine(input + QStringLiteral(": ")
                      + (!QFileInfo::exists(input) ? QStringLiteral("no such file")
                         : QFileInfo(input).isDir() ? QStringLiteral("is a folder")
                                                    : QStringLiteral("cannot be read (%1)").arg(file.errorString())));
            return BadInput;
        }
        bytes = file.read(kImageBytes);
    }
    if (bytes.isEmpty()) {
        errorLine(input + QStringLiteral(": empty, not a BIN file"));
        return BadInput;
    }
    const MonoImage image = layout->unpack(bytes.left(kImageBytes));
    if (!args.has("output")) {
        writeStdout(halfBlocks(image).toUtf8());
        return Done;
    }
    QString reason;
    if (!writeOutput(output, encodePng(previewImage(image, scale)), reason)) {
        errorLine(output + QStringLiteral(": ") + reason);
        return BadOutput;
    }
    return Done;
}

int runMain(const QStringList &args)
{
    const QString command = args.value(0);
    const QStringList rest = args.mid(1);
    const QString programDir = QCoreApplication::applicationDirPath();
    if (command == QLatin1String("convert") || command == QLatin1String("preview")) {
        const int code = command == QLatin1String("convert") ? runConvert(rest) : runPreview(rest);
        syncDeferredWrites();
        return code;
    }
    if (command == QLatin1String("ports"))
        return runPorts(rest, programDir);
    if (command == QLatin1String("send"))
        return runSend(rest, programDir);
    if (command == QLatin1String("fonts"))
        return runFonts(rest);
    if (command == QLatin1String("simulate"))
        return runSimulate(rest, programDir);
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        writeStdout(QByteArray(kMainHelp) + kExitCodesHelp);
        return Done;
    }
    if (command == QLatin1String("--version")) {
        writeStdout("pixelwright-cli " PW_VERSION "\n");
        return Done;
    }
    errorLine(command.isEmpty() ? QStringLiteral("no command (see 'pixelwright-cli --help')")
                                : QStringLiteral("unknown command '%1' (see 'pixelwright-cli --help')").arg(command));
    return Usage;
}

}  // namespace pw::cli
