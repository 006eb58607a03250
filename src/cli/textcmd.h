#pragma once

#include "cli/args.h"

#include "core/convert/conversion.h"
#include "core/image/encoders.h"

namespace pw::cli {

// The text options shared by convert and send.
QList<OptionSpec> textSpecs();
QByteArray textHelp();

// Reads the text options into `text` and checks them before anything is converted: the font
// installed, each character in it (unless --font-fallback), --text-file valid UTF-8. Says once
// on stderr when the text is cut at the display's edge. Done, or the exit code after the error
// line was written.
int textOptions(const ParsedArgs &args, TextOptions &text);

// convert with text and no picture: the text over the background alone, into `output`.
int convertTextOnly(const ConversionOptions &options, const QString &output, Format format, const Layout &layout);

int runFonts(const QStringList &args);

// Whether a run needs the font database (a QGuiApplication) for these arguments.
bool needsFonts(const QStringList &args);

}  // namespace pw::cli
