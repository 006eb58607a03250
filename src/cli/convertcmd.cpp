// convert IN... [-o OUT|DIR]: each picture to the 1024-byte image in a format.
#include "cli/commands.h"
#include "cli/encoders.h"
#include "cli/loading.h"

#include "core/files.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryFile>

namespace pw::cli {

namespace {

const char *const kHelp =
    "Usage: pixelwright-cli convert IN... [-o OUT|DIR] [options]\n"
    "Converts pictures (any format the window opens) to the device's 1024-byte image.\n"
    "IN may be '-' for standard input; a file named *.bin is taken as the device's image as is.\n"
    "  -o, --output OUT  the output file ('-' for standard output), or a folder;\n"
    "                    without it each output is written beside its input (IN.bin, ...)\n"
    "  --format F        bin (default, the window's BIN file), c (a C array in a header),\n"
    "                    hex (16 bytes a line), pbm (P4), xbm, png (the preview)\n"
    "  --layout L        byte order of bin, c, hex: page-lsb (default, the device's: bands of\n"
    "                    8 rows, top row in bit 0), page-msb, row-msb (rows, leftmost pixel in\n"
    "                    bit 7), row-lsb (XBM's order); bit 1 is white in every layout\n"
    "  --frames          every frame of an animated GIF/WebP: NAME-00.bin, NAME-01.bin, ...\n"
    "  -h, --help        this text\n";

struct Job {
    QString input;    // as given; "-" for standard input
    QString source;   // the file actually read
    QString output;   // "-" for standard output, empty for beside the input
};

QString stemOf(const QString &path) { return QFileInfo(path).completeBaseName(); }

QString frameSuffix(int frame, bool frames) { return frames ? QStringLiteral("-%1").arg(frame, 2, 10, QLatin1Char('0')) : QString(); }

bool sameFile(const QString &a, const QString &b)
{
    const QFileInfo fa(a), fb(b);
    return fa.exists() && fb.exists() && fa.canonicalFilePath() == fb.canonicalFilePath();
}

}  // namespace

int runConvert(const QStringList &argv)
{
    QList<OptionSpec> known = conversionSpecs();
    known << OptionSpec{"output", 'o', true} << OptionSpec{"format", {}, true} << OptionSpec{"layout", {}, true}
          << OptionSpec{"frames", {}, false} << OptionSpec{"help", 'h', false};
    ParsedArgs args;
    QString error;
    ConvertOptions options;
    if (!parseArgs(argv, known, args, error) || (!args.has("help") && !conversionOptions(args, options, error))) {
        errorLine(error + QStringLiteral(" (see 'pixelwright-cli convert --help')"));
        return Usage;
    }
    if (args.has("help")) {
        writeStdout(QByteArray(kHelp) + kConversionHelp + kExitCodesHelp);
        return Done;
    }
    Format format = Format::Bin;
    if (args.has("format") && !formatFromName(args.value("format"), format)) {
        errorLine(QStringLiteral("--format takes bin, c, hex, pbm, xbm or png, not '%1'").arg(args.value("format")));
        return Usage;
    }
    const Layout *layout = findLayout(args.has("layout") ? args.value("layout") : QStringLiteral("page-lsb"));
    if (!layout) {
        errorLine(QStringLiteral("--layout takes page-lsb, page-msb, row-msb or row-lsb, not '%1'").arg(args.value("layout")));
        return Usage;
    }
    const QStringList inputs = args.operands;
    const bool frames = args.has("frames");
    const QString out = args.value("output");
    const bool outDir = !out.isEmpty() && out != QLatin1String("-") && (QFileInfo(out).isDir() || out.endsWith('/'));
    if (inputs.isEmpty()) {
        errorLine(QStringLiteral("no input picture (see 'pixelwright-cli convert --help')"));
        return Usage;
    }
    if (inputs.count(QStringLiteral("-")) > 1) {
        errorLine(QStringLiteral("standard input can be read only once"));
        return Usage;
    }
    if (inputs.size() > 1 && !out.isEmpty() && !outDir) {
        errorLine(QStringLiteral("with several inputs, -o must name a folder"));
        return Usage;
    }
    if (outDir && !QFileInfo(out).isDir()) {
        errorLine(QStringLiteral("%1: no such folder").arg(out));
        return BadOutput;
    }
    const bool toStdout = out == QLatin1String("-") || (out.isEmpty() && inputs == QStringList{"-"});
    if (toStdout && frames) {
        errorLine(QStringLiteral("--frames writes one file per frame, not to standard output"));
        return Usage;
    }

    int worst = Done;
    auto fail = [&worst](const QString &file, const QString &reason, int code) {
        errorLine(file + QStringLiteral(": ") + reason);
        worst = qMax(worst, code);
    };
    QHash<QString, QString> written;  // output file -> the input it came from
    for (const QString &input : inputs) {
        const bool isStdin = input == QLatin1String("-");
        const QString name = isStdin ? QStringLiteral("stdin") : input;
        // Standard input goes through a temporary file so that it is decoded as any file is.
        QTemporaryFile stdinCopy;
        QString source = input;
        if (isStdin) {
            if (!stdinCopy.open() || stdinCopy.write(readStdin()) < 0 || !stdinCopy.flush()) {
                fail(name, QStringLiteral("could not be read"), BadInput);
                continue;
            }
            source = stdinCopy.fileName();
        }
        QList<MonoImage> images;
        if (!isStdin && input.endsWith(QLatin1String(".bin"), Qt::CaseInsensitive)) {
            MonoImage image{};
            if (const QString reason = unreadableReason(input); !reason.isEmpty() || !readBinFile(input, image)) {
                fail(name, reason.isEmpty() ? QStringLiteral("could not be read") : reason, BadInput);
                continue;
            }
            images << image;
        } else {
            QList<QImage> pictures;
            if (!loadPicture(source, options, frames, pictures, error)) {
                fail(name, error, BadInput);
                continue;
            }
            for (const QImage &picture : pictures)
                images << convertPicture(picture, options);
        }
        const QString ext = formatExtension(format);
        for (int k = 0; k < images.size(); ++k) {
            const QString suffix = frameSuffix(k, frames);
            QString target;
            if (toStdout)
                target = QStringLiteral("-");
            else if (outDir)
                target = QDir(out).filePath(stemOf(input) + suffix + QLatin1Char('.') + ext);
            else if (!out.isEmpty())
                target = frames ? QFileInfo(out).dir().filePath(stemOf(out) + suffix + QLatin1Char('.') + QFileInfo(out).suffix())
                                : out;
            else
                target = QFileInfo(input).dir().filePath(stemOf(input) + suffix + QLatin1Char('.') + ext);
            const QString id = identifierFrom(isStdin ? QStringLiteral("image") : stemOf(input) + suffix);
            if (target != QLatin1String("-")) {
                if (!isStdin && sameFile(target, input)) {
                    fail(name, QStringLiteral("the output %1 would replace the input").arg(target), BadOutput);
                    continue;
                }
                const QString key = QFileInfo(target).absoluteFilePath();
                if (written.contains(key)) {
                    fail(name, QStringLiteral("the output %1 was already written from %2").arg(target, written[key]), BadOutput);
                    continue;
                }
                written.insert(key, name);
            }
            QString reason;
            if (!writeOutput(target, encodeImage(images[k], format, *layout, id), reason))
                fail(target, reason, BadOutput);
        }
    }
    return worst;
}

}  // namespace pw::cli
