// The dispatch: the commands by name, and the program's own --help and --version.
#include "cli/commands.h"
#include "cli/textcmd.h"

#include "core/storage/outputfile.h"
#include "pixelwright/version.h"

#include <QCoreApplication>
#include <cstdio>
#include <functional>

namespace pw::cli {

namespace {

// The commands; "pixelwright-cli --help" lists them in this order, with these lines.
struct Command {
    const char *name;
    QByteArray help;  // its line in the program's --help
    std::function<int(const QStringList &args, const QString &programDir)> run;
};

// The converting commands flush the outputs' deferred disk writes before they exit.
int synced(int code)
{
    syncDeferredWrites();
    return code;
}

const QList<Command> &commands()
{
    static const QList<Command> list{
        {"convert",
         "  convert IN... [-o OUT|DIR]      pictures to the 1024-byte image (bin, c, hex, pbm, xbm, png)\n",
         [](const QStringList &args, const QString &) { return synced(runConvert(args)); }},
        {"preview",
         "  preview IN.bin [-o OUT.png]     the image back as a picture, or drawn in the terminal\n",
         [](const QStringList &args, const QString &) { return synced(runPreview(args)); }},
        {"send", "  send --port N|PATH ...          the window's VRAM/FLASH transfers, command lines and files\n", runSend},
        {"ports",
         "  ports [--link N DEVICE]         serial ports, and which device each port number "
             + rangeText(protocol::kPorts).toLatin1() + " reaches\n",
         runPorts},
        {"simulate",
         "  simulate --link N|--socket PATH a simulated display module to send to, without the device\n",
         runSimulate},
        {"fonts",
         "  fonts [--pixel]                 the installed font families that --text can use\n",
         [](const QStringList &args, const QString &) { return runFonts(args); }},
    };
    return list;
}

QByteArray mainHelp()
{
    QByteArray help = "Usage: pixelwright-cli COMMAND [options] [operands]\n"
                      "The Pixelwright device's pictures without a window.\n";
    for (const Command &command : commands())
        help += command.help;
    return help + "'pixelwright-cli COMMAND --help' describes each command. Options may come before or after\n"
                  "the operands; '--' ends the options.\n";
}

int dispatch(const QStringList &args)
{
    const QString command = args.value(0);
    for (const Command &entry : commands())
        if (command == QLatin1String(entry.name))
            return entry.run(args.mid(1), QCoreApplication::applicationDirPath());
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        writeStdout(mainHelp() + kExitCodesHelp);
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

}  // namespace

// What went to standard output is the command's output too: a full disk or a closed file there
// is a failure to write it, not a success.
int runMain(const QStringList &args)
{
    const int code = dispatch(args);
    if (code == Done && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
        errorLine(QStringLiteral("standard output could not be written"));
        return BadOutput;
    }
    return code;
}

}  // namespace pw::cli
