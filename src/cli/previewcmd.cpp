// preview IN.bin [-o OUT.png]: the 1024-byte image back as a picture, or drawn in the terminal.
#include "cli/commands.h"

#include "core/image/encoders.h"
#include "core/storage/outputfile.h"

#include <QFile>
#include <QFileInfo>
#include <cstdio>

namespace pw::cli {

namespace {

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
    const Layout *layout = layoutOption(args);
    if (!layout)
        return Usage;
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
        if (file.error() != QFileDevice::NoError) {  // a read that fails is no empty file
            errorLine(input + QStringLiteral(": could not be read"));
            return BadInput;
        }
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

}  // namespace pw::cli
