#pragma once

#include "cli/args.h"
#include "cli/imaging.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace pw::cli {

// The program: the command named by the first argument; returns the exit code.
int runMain(const QStringList &args);
int runConvert(const QStringList &args);
int runPreview(const QStringList &args);
int runPorts(const QStringList &args, const QString &programDir);
int runSend(const QStringList &args, const QString &programDir);
int runSimulate(const QStringList &args, const QString &programDir);

// "pixelwright-cli: TEXT" on stderr.
void errorLine(const QString &text);
// To stdout, unbuffered by anything but stdio.
void writeStdout(const QByteArray &bytes);
void writeStderr(const QString &text);

// Writes `bytes` to `path` atomically, or to stdout for "-"; false with the reason.
bool writeOutput(const QString &path, const QByteArray &bytes, QString &reason);
// Atomic replacement of a file without a flush per file; syncOutputs() flushes the file
// systems written to, once, before the program ends.
bool writeFileReplacing(const QString &path, const QByteArray &bytes);
void syncOutputs();
// Standard input read whole.
QByteArray readStdin();

// The conversion options shared by convert and send.
QList<OptionSpec> conversionSpecs();
bool conversionOptions(const ParsedArgs &args, ConvertOptions &options, QString &error);
extern const char *const kConversionHelp;
extern const char *const kExitCodesHelp;

}  // namespace pw::cli
