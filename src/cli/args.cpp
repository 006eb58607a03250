#include "cli/args.h"

namespace pw::cli {

bool ParsedArgs::has(const QString &name) const
{
    for (const auto &option : options)
        if (option.first == name)
            return true;
    return false;
}

QString ParsedArgs::value(const QString &name) const
{
    QString result;
    for (const auto &option : options)
        if (option.first == name)
            result = option.second;
    return result;
}

QStringList ParsedArgs::values(const QString &name) const
{
    QStringList result;
    for (const auto &option : options)
        if (option.first == name)
            result << option.second;
    return result;
}

bool parseArgs(const QStringList &args, const QList<OptionSpec> &known, ParsedArgs &out, QString &error)
{
    out = {};
    bool optionsEnded = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (optionsEnded || arg == QLatin1String("-") || !arg.startsWith(QLatin1Char('-'))) {
            out.operands << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        const bool isLong = arg.startsWith(QLatin1String("--"));
        QString name;
        QString inlineValue;
        bool hasInline = false;
        const OptionSpec *option = nullptr;
        if (isLong) {
            name = arg.mid(2);
            if (const int eq = name.indexOf(QLatin1Char('=')); eq >= 0) {
                inlineValue = name.mid(eq + 1);
                name.truncate(eq);
                hasInline = true;
            }
            for (const OptionSpec &s : known)
                if (s.name == name)
                    option = &s;
        } else {
            for (const OptionSpec &s : known)
                if (!s.shortName.isNull() && s.shortName == arg.at(1))
                    option = &s;
            if (arg.size() > 2) {
                inlineValue = arg.mid(2);
                hasInline = true;
            }
        }
        if (!option || (hasInline && !option->takesValue)) {
            error = QStringLiteral("unknown option '%1'").arg(arg);
            return false;
        }
        if (option->takesValue && !hasInline) {
            if (i + 1 >= args.size()) {
                error = QStringLiteral("option '%1' needs a value").arg(arg);
                return false;
            }
            inlineValue = args[++i];
        }
        // A second value would silently win over the first: the script that gave both is wrong.
        if (option->takesValue && !option->repeats && out.has(option->name)) {
            error = QStringLiteral("option '--%1' is given more than once").arg(option->name);
            return false;
        }
        out.options.append({option->name, inlineValue});
    }
    return true;
}

bool intOption(const ParsedArgs &args, const QString &name, int low, int high, int &value, QString &error)
{
    if (!args.has(name))
        return true;
    bool ok = false;
    const int parsed = args.value(name).toInt(&ok);
    if (!ok || parsed < low || parsed > high) {
        error = QStringLiteral("--%1 takes a whole number from %2 to %3, not '%4'").arg(name).arg(low).arg(high).arg(args.value(name));
        return false;
    }
    value = parsed;
    return true;
}

}  // namespace pw::cli
