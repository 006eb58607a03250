// convert IN... [-o OUT|DIR]: each picture to the 1024-byte image in a format.
#include "cli/commands.h"
#include "cli/textcmd.h"

#include "core/convert/batch.h"
#include "core/image/encoders.h"
#include "core/storage/files.h"
#include "core/storage/outputfile.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

namespace pw::cli {

namespace {

const char *const kHelp =
    "Usage: pixelwright-cli convert IN... [-o OUT|DIR] [options]\n"
    "       pixelwright-cli convert --text TEXT|--text-file FILE -o OUT [options]\n"
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
    "  -h, --help        this text\n"
    "Outputs never replace an input: such a run stops before writing anything. An existing\n"
    "file keeps its permissions; a read-only one is refused; devices and FIFOs are written to.\n";

// Standard input is held in memory while it is decoded.
constexpr qint64 kStdinLimit = 256 * 1024 * 1024;

QString stemOf(const QString &path) { return QFileInfo(path).completeBaseName(); }

QString frameSuffix(int frame, bool frames) { return frames ? QStringLiteral("-%1").arg(frame, 2, 10, QLatin1Char('0')) : QString(); }

// Where each input's outputs go, by the naming rules of --output and --frames.
struct Naming {
    QString out;  // as given
    bool outDir = false;
    bool toStdout = false;
    bool frames = false;
    QString extension;

    QString target(const QString &input, int frame) const
    {
        const QString suffix = frameSuffix(frame, frames);
        if (toStdout)
            return QStringLiteral("-");
        if (outDir)
            return QDir(out).filePath(stemOf(input) + suffix + QLatin1Char('.') + extension);
        if (!out.isEmpty())
            return frames ? QFileInfo(out).dir().filePath(stemOf(out) + suffix + QLatin1Char('.') + QFileInfo(out).suffix()) : out;
        return QFileInfo(input).dir().filePath(stemOf(input) + suffix + QLatin1Char('.') + extension);
    }
};

// The first output that would replace an input of this run, found before anything is written:
// the same file by any spelling or link, or (with --frames, whose count is known only once
// decoded) an input named as one of an input's frame outputs would be.
QString collision(const QStringList &inputs, const Naming &naming)
{
    QList<FileIdentity> identities;
    for (const QString &input : inputs)
        identities << (input == QLatin1String("-") ? FileIdentity{} : fileIdentity(input));
    for (const QString &input : inputs) {
        const QString name = input == QLatin1String("-") ? QStringLiteral("stdin") : input;
        const QString target = naming.target(input, 0);
        if (target == QLatin1String("-"))
            continue;
        const FileIdentity written = fileIdentity(target);
        for (int j = 0; j < inputs.size(); ++j) {
            bool hit = written == identities[j];
            if (!hit && naming.frames && identities[j].valid) {
                const QFileInfo first(target), other(inputs[j]);
                static const QRegularExpression frameNumber(QStringLiteral("^-\\d{2,}$"));
                const QString stem = first.completeBaseName().chopped(3);
                hit = fileIdentity(first.absolutePath()) == fileIdentity(other.absolutePath()) && other.suffix() == first.suffix()
                      && other.completeBaseName().startsWith(stem)
                      && frameNumber.match(other.completeBaseName().mid(stem.size())).hasMatch();
            }
            if (hit) {
                // A frame's output is named as that input, in the outputs' folder.
                const QString output = written == identities[j] ? target : QFileInfo(target).dir().filePath(QFileInfo(inputs[j]).fileName());
                return QStringLiteral("%1: the output %2 would replace the input %3").arg(name, output, inputs[j]);
            }
        }
    }
    return {};
}

// What a worker makes of an input, one at a time: an encoded output (frame `frame` of it), or
// why there are no further ones.
struct Piece {
    QByteArray output;
    int frame = 0;
    QString reason;
    int code = Done;
};

// Frames a worker holds ahead of its turn: a few hundred kilobytes.
constexpr std::size_t kHeldPieces = 64;

// A run's inputs and what it makes of them, once the command line has been checked.
struct ConvertRun {
    ConversionOptions options;
    Format format = Format::Bin;
    const Layout *layout = nullptr;
    Naming naming;
    QStringList inputs;
    QByteArray stdinBytes;
    bool stdinTooLarge = false;
};

// The options, the help and the text: Done to go on (or after the help), or the exit code.
int parseConvertOptions(const QStringList &argv, ParsedArgs &args, ConvertRun &run)
{
    QList<OptionSpec> known = conversionSpecs();
    known << textSpecs() << OptionSpec{"output", 'o', true} << OptionSpec{"format", {}, true} << OptionSpec{"layout", {}, true}
          << OptionSpec{"frames", {}, false} << OptionSpec{"help", 'h', false};
    QString error;
    if (!parseArgs(argv, known, args, error) || (!args.has("help") && !conversionOptions(args, run.options, error))) {
        errorLine(error + QStringLiteral(" (see 'pixelwright-cli convert --help')"));
        return Usage;
    }
    if (args.has("help")) {
        writeStdout(QByteArray(kHelp) + conversionHelp() + textHelp() + kExitCodesHelp);
        return Done;
    }
    if (!formatOption(args, run.format) || !(run.layout = layoutOption(args)))
        return Usage;
    return textOptions(args, run.options.text);
}

// The naming of the outputs, and every check made before anything is written: Done to go on,
// or the exit code.
int checkNaming(const ParsedArgs &args, ConvertRun &run)
{
    Naming &naming = run.naming;
    const QStringList &inputs = run.inputs;
    naming.frames = args.has("frames");
    naming.out = args.value("output");
    naming.outDir = !naming.out.isEmpty() && naming.out != QLatin1String("-") && (QFileInfo(naming.out).isDir() || naming.out.endsWith('/'));
    naming.extension = formatExtension(run.format);
    if (inputs.isEmpty()) {
        errorLine(QStringLiteral("no input picture (see 'pixelwright-cli convert --help')"));
        return Usage;
    }
    if (inputs.count(QStringLiteral("-")) > 1) {
        errorLine(QStringLiteral("standard input can be read only once"));
        return Usage;
    }
    if (inputs.size() > 1 && !naming.out.isEmpty() && !naming.outDir) {
        errorLine(QStringLiteral("with several inputs, -o must name a folder"));
        return Usage;
    }
    if (naming.outDir && !QFileInfo(naming.out).isDir()) {
        errorLine(QStringLiteral("%1: no such folder").arg(naming.out));
        return BadOutput;
    }
    naming.toStdout = naming.out == QLatin1String("-") || (naming.out.isEmpty() && inputs == QStringList{"-"});
    if (naming.toStdout && naming.frames) {
        errorLine(QStringLiteral("--frames writes one file per frame, not to standard output"));
        return Usage;
    }
    if (const QString clash = collision(inputs, naming); !clash.isEmpty()) {
        errorLine(clash + QStringLiteral("; nothing was written"));
        return Usage;
    }
    return Done;
}

// On a worker: input i decoded, converted and encoded, each frame handed over as it is ready.
void producePieces(const ConvertRun &run, int i, const std::function<bool(Piece &&)> &hand)
{
    const QString &input = run.inputs[i];
    const bool isStdin = input == QLatin1String("-");
    const auto failed = [&hand](const QString &reason) { hand({{}, 0, reason, BadInput}); };
    try {
        if (isStdin && run.stdinTooLarge)
            return failed(QStringLiteral("too large to decode safely (more than 256 MB)"));
        int frame = 0;
        const auto encoded = [&](const MonoImage &image) {
            const QString id = identifierFrom(isStdin ? QStringLiteral("image") : stemOf(input) + frameSuffix(frame, run.naming.frames));
            return hand({encodeImage(image, run.format, *run.layout, id), frame++, {}, Done});
        };
        if (!isStdin && isBinFileName(input, BinNameRule::CommandLine)) {
            LoadError error = checkReadable(input);
            MonoImage image{};
            if (error == LoadError::None && !readBinFile(input, image))
                error = LoadError::Unreadable;
            if (error != LoadError::None)
                return failed(loadErrorText(LoadedPicture::failed(error)));
            encoded(image);
            return;
        }
        const PictureSource source = isStdin ? PictureSource::memory(run.stdinBytes) : PictureSource::file(input);
        if (run.naming.frames) {
            if (const LoadedPicture failure = convertFrames(source, run.options, encoded); !failure.ok())
                failed(loadErrorText(failure));
            return;
        }
        const Conversion conversion = convertPicture(source, run.options);
        if (!conversion.ok())
            return failed(loadErrorText(conversion.failure));
        encoded(conversion.images.constFirst());
    } catch (const std::bad_alloc &) {
        failed(QStringLiteral("too large to decode safely"));
    }
}

// On the calling thread: each piece written in the order of the inputs, and the worst code.
class PieceWriter {
public:
    explicit PieceWriter(const ConvertRun &run) : run_(run) {}

    int worst() const { return worst_; }

    bool consume(int i, Piece &piece)
    {
        if (interrupted())
            return false;
        const QString &input = run_.inputs[i];
        const QString name = input == QLatin1String("-") ? QStringLiteral("stdin") : input;
        if (piece.code != Done) {
            fail(name, piece.reason, piece.code);
            return true;
        }
        const QString target = run_.naming.target(input, piece.frame);
        if (target != QLatin1String("-") && !claim(i, name, target, piece.frame))
            return true;
        QString reason;
        if (!writeOutput(target, piece.output, reason)) {
            if (interrupted())
                return false;
            fail(target, reason, BadOutput);
        }
        return !interrupted();
    }

private:
    // Which inputs wrote outputs, by the output of the first frame, with how many frames each
    // wrote there: an input's frames never clash with each other, and another input's clash only
    // when named alike in the same folder. A record per input, not per frame: memory stays flat.
    struct Claim {
        int input;
        QString from;
        int frames;
    };

    bool claim(int i, const QString &name, const QString &target, int frame)
    {
        QList<Claim> &claims = written_[QFileInfo(run_.naming.target(run_.inputs[i], 0)).absoluteFilePath()];
        for (const Claim &other : std::as_const(claims))
            if (other.input != i && frame < other.frames) {
                fail(name, QStringLiteral("the output %1 was already written from %2").arg(target, other.from), BadOutput);
                return false;
            }
        if (claims.isEmpty() || claims.constLast().input != i)
            claims.append({i, name, 0});
        claims.last().frames = frame + 1;
        return true;
    }

    void fail(const QString &file, const QString &reason, int code)
    {
        errorLine(file + QStringLiteral(": ") + reason);
        worst_ = qMax(worst_, code);
    }

    const ConvertRun &run_;
    int worst_ = Done;
    QHash<QString, QList<Claim>> written_;
};

}  // namespace

int runConvert(const QStringList &argv)
{
    ParsedArgs args;
    ConvertRun run;
    if (const int code = parseConvertOptions(argv, args, run); code != Done || args.has("help"))
        return code;
    run.inputs = args.operands;
    if (run.inputs.isEmpty() && !run.options.text.isEmpty())
        return convertTextOnly(run.options, args.value("output"), run.format, *run.layout);
    if (const int code = checkNaming(args, run); code != Done)
        return code;
    catchInterrupts();

    if (run.inputs.contains(QStringLiteral("-")))
        run.stdinTooLarge = !readStdin(run.stdinBytes, kStdinLimit);

    // Each input is decoded, converted and encoded on a worker, a frame at a time; each output
    // is written here as soon as it is ready, in the order of the inputs, as a run on one thread
    // would write them: whatever fails later, what came before is on disk.
    PieceWriter writer(run);
    runStreamed<Piece>(
        int(run.inputs.size()), batchWorkers(), kHeldPieces,
        [&run](int i, const std::function<bool(Piece &&)> &hand) { producePieces(run, i, hand); },
        [&writer](int i, Piece &piece) { return writer.consume(i, piece); });
    if (interrupted()) {
        errorLine(QStringLiteral("interrupted; the outputs written so far are complete"));
        return Interrupted;
    }
    return writer.worst();
}

}  // namespace pw::cli
