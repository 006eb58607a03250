#pragma once

#include <QByteArray>
#include <QColor>
#include <QList>
#include <QString>
#include <optional>

namespace pw {

// Every conversion option is declared here once. The command line's parsing, its error lines
// and its help, conversion.ini's reader and the studio's controls all read these rows, so an
// option's range or a list's names cannot drift apart between the front ends.

// One value of a list option: the name the command line and conversion.ini spell, and the
// studio's caption for it. `value` is the enum's value (or the turn in degrees).
struct Choice {
    QString name;
    QString caption;
    int value = 0;
};

// The lists, in the order the help, the error lines and the studio's boxes show them.
const QList<Choice> &fitChoices();
const QList<Choice> &ditherChoices();   // a new dither: its enum value and algorithm, and a row here
const QList<Choice> &rotateChoices();
const QList<Choice> &layoutChoices();   // value: the index in layouts()
const QList<Choice> &formatChoices();   // value: Format; formats have no studio caption
const QList<Choice> &alignChoices();
const QList<Choice> &valignChoices();
const QList<Choice> &textColorChoices();  // value: 1 for white

const Choice *choiceNamed(const QList<Choice> &choices, const QString &name);
const Choice *choiceOf(const QList<Choice> &choices, int value);
// "a, b, c or d", as the error lines list the names.
QString choiceNameList(const QList<Choice> &choices);

// Where the front ends read a number differently. Each difference is kept on purpose: scripts
// and settings files written before rely on it.
enum class NumberRule {
    Whole,       // a whole number within [low, high], everywhere
    Hundredths,  // conversion.ini and the studio round to hundredths before the range check;
                 // the command line takes the number as typed (0.199 is refused there, read
                 // as 0.20 from the file)
};

// A number option. The ends and the default are in steps of 1/`scale` (gamma counts
// hundredths), so that the ends are exact.
struct NumberOption {
    QString cliName;  // --NAME on the command line; empty when it has none
    QString iniKey;   // its conversion.ini key
    QString caption;  // the studio's label; empty when the studio has no box of its own
    int low = 0;
    int high = 0;
    int fallback = 0;  // the default
    int scale = 1;
    NumberRule rule = NumberRule::Whole;
    const char *help = nullptr;  // its --help lines: %1 the low end, %2 the high end, %3 the default

    double lowValue() const { return double(low) / scale; }
    double highValue() const { return double(high) / scale; }
    QByteArray helpLines() const;
};

namespace options {
extern const NumberOption threshold;
extern const NumberOption brightness;
extern const NumberOption contrast;
extern const NumberOption gamma;
extern const NumberOption frame;      // conversion.ini only; the studio's box follows the picture
extern const NumberOption textSize;
extern const NumberOption textOffset;  // each of X and Y
}  // namespace options

// `text` as conversion.ini and the studio take it: by the option's rule, within its ends;
// nullopt when it is not such a number.
std::optional<double> readSettingNumber(const NumberOption &option, const QString &text);
// `text` as the command line takes it.
std::optional<double> readArgumentNumber(const NumberOption &option, const QString &text);

// A list option: its names and captions are its choices. conversion.ini reads a name in any
// case; the command line takes it only as listed (--dither Bayer4 is refused, dither=Bayer4 in
// the file is read), so that a script's typo never passes silently.
struct ListOption {
    QString cliName;  // --NAME on the command line
    QString iniKey;   // its conversion.ini key
    QString caption;  // the studio's label
    const QList<Choice> &(*choices)();
};

namespace options {
extern const ListOption fit;
extern const ListOption rotate;
extern const ListOption dither;
extern const ListOption layout;
extern const ListOption align;
extern const ListOption valign;
extern const ListOption textColor;
}  // namespace options

// Every number option, for the tests that walk them all.
QList<const NumberOption *> numberOptions();

// Mirrors: the command line takes --flip h, v, hv or vh, given again to add up; conversion.ini
// keeps one line, none, h, v or hv (in any case), the studio two boxes.

// Colours: the command line takes any colour Qt names (#rgb, #rrggbb, "red"); conversion.ini
// takes only #rrggbb or "default", because a colour name could read differently on another Qt.
enum class ColourRule { AnyName, HexOnly };
bool readColour(const QString &text, ColourRule rule, QColor &colour);

// The help lines of the conversion options, after "Conversion ...:", one block an option.
QByteArray conversionHelp();

}  // namespace pw
