#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace pw::cli {

// The exit codes of every command (documented in --help and the README).
enum Exit { Done = 0, Usage = 1, BadInput = 2, BadOutput = 3, PortFailed = 4, NoAnswer = 5, Interrupted = 130 };

struct OptionSpec {
    QString name;        // long name without the dashes
    QChar shortName;     // or a null QChar
    bool takesValue = false;
    bool repeats = false;  // a value option may be given once unless it says so
};

// Options and operands in any order (POSIX with GNU's permutation): "--name value",
// "--name=value", "-o value", "-oVALUE"; "--" ends the options; "-" alone is an operand.
struct ParsedArgs {
    QStringList operands;
    QList<QPair<QString, QString>> options;  // long name, value (empty for a flag), in order

    bool has(const QString &name) const;
    QString value(const QString &name) const;  // the last one given
    QStringList values(const QString &name) const;  // every one, in order
};

// False with `error` set for an unknown option, a missing value, or a value option that does
// not repeat given twice.
bool parseArgs(const QStringList &args, const QList<OptionSpec> &known, ParsedArgs &out, QString &error);

// An integer option within [low, high]; false with `error` naming the option.
bool intOption(const ParsedArgs &args, const QString &name, int low, int high, int &value, QString &error);

}  // namespace pw::cli
