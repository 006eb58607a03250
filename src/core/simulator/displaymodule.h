#pragma once

#include "core/image/monoimage.h"
#include "core/link/protocol.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <functional>

namespace pw {

// The QPX-4710 as its command stream drives it, with no clock and no I/O: bytes go in, each
// command it makes out comes out as an event, and its memories change. What the device does
// in time (CTS, the rewrite) and what shows outside (stdout, snapshot, terminal) belong to
// whoever feeds it.
//
// The stream: a command line is text ended by CR LF; a bare LF is part of the line, as the
// device takes it, so a command file with Unix line ends shows up as unknown lines. DT<n> (n 1-5)
// sets the rewrite time, DP shows the display memory, FS<p> selects FLASH page p (0-12),
// TF<p> copies page p into the display memory. TI and TS at the start of a line are followed
// by exactly 1024 raw bytes and CR LF: the display memory, or the selected page. Anything
// else that ends in CR LF is an unknown line. A data command is taken only whole and properly
// ended; a damaged one changes nothing. Memory stays bounded: a line longer than kMaxLine is
// reported as soon as it passes the bound and skipped up to its end.
class DisplayModule {
public:
    static constexpr int kPages = protocol::kPages.count();
    static constexpr int kMaxLine = 64 * 1024;
    // The window program's own default; the device starts with it too.
    static constexpr int kPowerUpRewriteSeconds = protocol::kPowerUpRewriteTime;

    enum class Kind {
        RewriteTime,       // number: seconds
        Image,             // TI taken: the display memory holds it
        Display,           // DP: the screen shows the display memory
        SelectPage,        // number: the page
        WritePage,         // TS taken: number is the page written
        PageToImage,       // TF: number is the page copied
        Unknown,           // text: the line without its end
        DataCutShort,      // the stream ended inside TI/TS data: text "TI"/"TS", number: bytes had
        DataUnterminated,  // 1024 bytes not followed by CR LF: text "TI"/"TS"; dropped
        LineTooLong,       // skipped up to its end
        LineCutOff,        // the stream ended inside a line: text, what there was of it
    };
    struct Event {
        Kind kind;
        int number = 0;
        QByteArray text;
    };
    using Sink = std::function<void(const Event &)>;

    explicit DisplayModule(Sink sink = {});

    // Parses `size` bytes on from where the last call stopped; events go to the sink as each
    // command completes, in order.
    void feed(const char *bytes, qsizetype size);
    // The sender went away: a command it was in the middle of is reported, and the next
    // stream starts at the beginning of a line.
    void endOfStream();

    const MonoImage &displayMemory() const { return vram_; }
    const MonoImage &screen() const { return screen_; }
    const MonoImage &page(int number) const { return pages_[std::size_t(number)]; }
    int rewriteSeconds() const { return rewriteSeconds_; }
    int selectedPage() const { return selectedPage_; }
    // The FLASH pages as one block of kPages * 1024 bytes, page 0 first. Loading takes every
    // byte a block holds, up to that size; past its end the pages are blank.
    QByteArray flashBytes() const;
    void loadFlash(const QByteArray &bytes);
    // What the parser holds of an unfinished line (for checking the bound).
    qsizetype pendingBytes() const { return line_.size(); }

    // The line the simulator prints for an event: "DT 3", "TI 1024 bytes", "unknown: ..."
    static QString describe(const Event &event);
    // Printable ASCII as it is; backslash, CR, LF and tab as \\ \r \n \t; every other byte as
    // \xNN. At most `limit` bytes are shown, then "... (N bytes)".
    static QString escaped(const QByteArray &bytes, int limit = 64);

private:
    enum class State { Line, Data, DataEnd, DataLf, Skip };
    // One per state: each takes bytes from p on and returns where it stopped.
    const char *feedLine(const char *p, const char *end);
    const char *feedData(const char *p, const char *end);
    const char *feedDataEnd(const char *p);
    const char *feedSkip(const char *p, const char *end);
    void endLine();
    void command(const QByteArray &line);
    void endData();
    void skipFrom(bool afterCr);
    void report(Kind kind, int number = 0, QByteArray text = {});

    Sink sink_;
    State state_ = State::Line;
    QByteArray line_;
    MonoImage data_{};
    int dataCount_ = 0;
    bool dataToPage_ = false;
    // While skipping: the byte before the next one was a CR.
    bool skipAfterCr_ = false;
    MonoImage vram_{};
    MonoImage screen_{};
    std::array<MonoImage, kPages> pages_{};
    int rewriteSeconds_ = kPowerUpRewriteSeconds;
    int selectedPage_ = 0;
};

}  // namespace pw
