#pragma once

// The QPX-4710's line protocol, once for the sender and the simulated module alike: its
// command mnemonics, the framing, and the ranges of what the commands carry.

#include "core/image/monoimage.h"

#include <QByteArray>
#include <optional>

namespace pw::protocol {

// A command line is the mnemonic, its decimal argument if any, and CR LF; the data commands
// carry kDataBytes raw bytes (the image in the device's own order) before their CR LF.
inline const QByteArray kLineEnd = QByteArrayLiteral("\r\n");
constexpr int kDataBytes = kImageBytes;

inline const QByteArray kRewriteTime = QByteArrayLiteral("DT");    // DT<seconds>
inline const QByteArray kImageData = QByteArrayLiteral("TI");      // TI + data: the display memory
inline const QByteArray kDisplay = QByteArrayLiteral("DP");        // show the display memory
inline const QByteArray kSelectPage = QByteArrayLiteral("FS");     // FS<page>
inline const QByteArray kPageData = QByteArrayLiteral("TS");       // TS + data: the selected page
inline const QByteArray kPageToDisplay = QByteArrayLiteral("TF");  // TF<page>: a page into the display memory

// An inclusive range of whole numbers.
struct Range {
    int low;
    int high;
    constexpr bool contains(int value) const { return value >= low && value <= high; }
    constexpr int count() const { return high - low + 1; }
};

constexpr Range kPorts{1, 16};        // the window's port numbers (COM1 to COM16)
constexpr Range kPages{0, 12};        // FLASH pages
constexpr Range kRewriteTimes{1, 5};  // seconds
constexpr int kPowerUpRewriteTime = 3;

// `mnemonic` and `argument` (when there is one) as one command line with its CR LF.
QByteArray commandLine(const QByteArray &mnemonic, std::optional<int> argument = std::nullopt);

// The argument of a received command as the device reads it: one or two decimal digits
// within `range`; nullopt for anything else.
std::optional<int> argumentIn(const QByteArray &digits, Range range);

}  // namespace pw::protocol
