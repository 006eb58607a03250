// What every command shares: the error line, outputs, the conversion options.
#include "cli/commands.h"

#include <QDir>
#include <QFileInfo>
#include <cstdio>

#include "core/files.h"

#include <QSet>
#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace pw::cli {

const char *const kConversionHelp =
    "Conversion (the defaults are the window's conversion, bit for bit):\n"
    "  --threshold N     0-255: white where (30R+59G+11B) div 100 is strictly above N (128)\n"
    "  --dither MODE     none (default), floyd-steinberg, atkinson, bayer4, bayer8\n"
    "  --invert          swap black and white\n"
    "  --rotate DEG      0, 90, 180, 270 (clockwise, before fitting)\n"
    "  --flip h|v        mirror left-right or upside down (after rotating)\n"
    "  --fit MODE        crop (default: unscaled from the top-left corner, cut at 128x64),\n"
    "                    contain, cover, stretch\n"
    "  --background COLOR  behind transparency and where the picture does not reach\n"
    "                    (#rrggbb or a name; default #efefef, the window's picture area)\n";

const char *const kExitCodesHelp =
    "Exit codes: 0 done, 1 usage, 2 an input could not be read or is not a picture,\n"
    "  3 an output could not be written, 4 the port could not be opened or failed,\n"
    "  5 the device did not answer within the timeout, 130 interrupted.\n"
    "  When several inputs fail for different reasons, the largest code.\n";

void errorLine(const QString &text) { writeStderr(QStringLiteral("pixelwright-cli: ") + text + QLatin1Char('\n')); }

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
    if (writeFileReplacing(path, bytes))
        return true;
    const QFileInfo info(path);
    const QFileInfo folder(info.absolutePath());
    if (info.isDir())
        reason = QStringLiteral("is a folder");
    else if (!folder.isDir())
        reason = QStringLiteral("its folder does not exist");
    else if (!folder.isWritable() || (info.exists() && !info.isWritable()))
        reason = QStringLiteral("permission denied");
    else
        reason = QStringLiteral("could not be written");
    return false;
}

#ifdef Q_OS_UNIX
namespace {
QSet<QString> writtenFolders;
}

// A temporary file in the target's folder, written whole and renamed over the target: as
// atomic as writeFileAtomically, without a disk flush per file (a thousand flushes cost
// seconds); syncOutputs() flushes once at the end. The temporary never survives a failure.
bool writeFileReplacing(const QString &path, const QByteArray &bytes)
{
    static int counter = 0;
    const QFileInfo info(path);
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary =
        QFile::encodeName(info.absolutePath() + QStringLiteral("/.%1.%2-%3.tmp").arg(info.fileName()).arg(::getpid()).arg(++counter));
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n <= 0)
            break;
        done += n;
    }
    const bool ok = ::close(fd) == 0 && done == bytes.size() && ::rename(temporary.constData(), target.constData()) == 0;
    if (!ok)
        ::unlink(temporary.constData());
    else
        writtenFolders.insert(info.absolutePath());
    return ok;
}

void syncOutputs()
{
    for (const QString &folder : std::as_const(writtenFolders)) {
        const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
#ifdef Q_OS_LINUX
        ::syncfs(fd);
#else
        ::sync();
#endif
        ::close(fd);
    }
    writtenFolders.clear();
}
#else
bool writeFileReplacing(const QString &path, const QByteArray &bytes) { return writeFileAtomically(path, bytes); }
void syncOutputs() {}
#endif

QByteArray readStdin()
{
    QByteArray bytes;
    char buffer[65536];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;)
        bytes.append(buffer, qsizetype(got));
    return bytes;
}

QList<OptionSpec> conversionSpecs()
{
    return {{"threshold", {}, true}, {"dither", {}, true}, {"invert", {}, false},   {"rotate", {}, true},
            {"flip", {}, true},      {"fit", {}, true},    {"background", {}, true}};
}

bool conversionOptions(const ParsedArgs &args, ConvertOptions &options, QString &error)
{
    if (!intOption(args, QStringLiteral("threshold"), 0, 255, options.threshold, error))
        return false;
    options.invert = args.has(QStringLiteral("invert"));
    if (args.has("dither") && !ditherFromName(args.value("dither"), options.dither)) {
        error = QStringLiteral("--dither takes none, floyd-steinberg, atkinson, bayer4 or bayer8, not '%1'")
                    .arg(args.value("dither"));
        return false;
    }
    if (args.has("fit") && !fitFromName(args.value("fit"), options.fit)) {
        error = QStringLiteral("--fit takes crop, contain, cover or stretch, not '%1'").arg(args.value("fit"));
        return false;
    }
    if (args.has("flip") && !flipFromName(args.value("flip"), options.flip)) {
        error = QStringLiteral("--flip takes h or v, not '%1'").arg(args.value("flip"));
        return false;
    }
    if (args.has("rotate")) {
        const QString text = args.value("rotate");
        if (!QStringList{"0", "90", "180", "270"}.contains(text)) {
            error = QStringLiteral("--rotate takes 0, 90, 180 or 270, not '%1'").arg(text);
            return false;
        }
        options.rotate = text.toInt();
    }
    if (args.has("background")) {
        const QColor color = QColor::fromString(args.value("background"));
        if (!color.isValid()) {
            error = QStringLiteral("--background: '%1' is not a colour").arg(args.value("background"));
            return false;
        }
        options.background = color;
    }
    return true;
}

}  // namespace pw::cli
