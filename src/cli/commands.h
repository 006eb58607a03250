#pragma once

#include "cli/args.h"

#include "core/convert/conversion.h"
#include "core/convert/conversionoptions.h"
#include "core/image/encoders.h"
#include "core/link/protocol.h"

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

// "pixelwright-cli: TEXT" on stderr, one line whatever TEXT holds (control characters escaped).
void errorLine(const QString &text);
// To stdout, unbuffered by anything but stdio.
void writeStdout(const QByteArray &bytes);
void writeStderr(const QString &text);

// Writes `bytes` to `path` through the core's writer (the disk flush deferred to the end of
// the run), or to stdout for "-"; false with the reason.
bool writeOutput(const QString &path, const QByteArray &bytes, QString &reason);
// Standard input read whole, up to `limit` bytes; false when it holds more.
bool readStdin(QByteArray &bytes, qint64 limit);

// Ctrl-C and SIGTERM from here on: a wait or a batch stops at its next step and the write in
// progress leaves nothing behind.
void catchInterrupts();
bool interrupted();
void setInterrupted(bool on);  // as a signal would; tests use it

// The conversion options shared by convert and send.
QList<OptionSpec> conversionSpecs();
bool conversionOptions(const ParsedArgs &args, ConversionOptions &options, QString &error);
// A number option by its row of the table of conversion options.
bool numberOption(const ParsedArgs &args, const NumberOption &option, int &value, QString &error);
// A list option by its row: the choice's value; false with `error` listing the names.
bool choiceOption(const ParsedArgs &args, const ListOption &option, int &value, QString &error);
QByteArray conversionHelp();
// --format and --layout by the core's lists; false or nullptr after the error line.
bool formatOption(const ParsedArgs &args, Format &format);
const Layout *layoutOption(const ParsedArgs &args);
extern const char *const kExitCodesHelp;
// A protocol range as the help texts and messages write it: "1-16", or "1..5" with "..".
QString rangeText(protocol::Range range, const char *separator = "-");

}  // namespace pw::cli
