#pragma once

// What the fuzz targets share: the readers under test take a path, so each input is written
// to one fixed file first, and a broken invariant aborts so that libFuzzer keeps the input.

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                   \
    do {                                                                                        \
        if (!(condition)) {                                                                     \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                       \
        }                                                                                       \
    } while (0)

namespace pw::fuzz {

// Qt's image plugins are found through the application's library paths, so an application
// object must exist before the first picture is read; it lives until the process ends.
// The plugins warn about every damaged picture: thousands of lines a second that would slow
// the fuzzer and bury its own report.
inline void startQt(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
}

// One file, rewritten for every input: creating a fresh one each time would cost more than
// most inputs take to read.
inline QString writeInput(const std::uint8_t *data, std::size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/input");
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size)) == static_cast<qint64>(size));
    return path;
}

}  // namespace pw::fuzz
