#include "core/simulator/displaymodule.h"

#include "core/link/protocol.h"

#include <algorithm>
#include <cstring>

namespace pw {

namespace {

QByteArray dataName(bool toPage) { return toPage ? protocol::kPageData : protocol::kImageData; }

// The first LF in [from, end) that ends a line, the one right after a CR; `crBefore`: the
// byte before `from` was a CR.
const char *lineEnd(const char *from, const char *end, bool crBefore)
{
    for (const char *p = from; p < end;) {
        const auto *lf = static_cast<const char *>(std::memchr(p, '\n', std::size_t(end - p)));
        if (!lf)
            return nullptr;
        if (lf > from ? lf[-1] == '\r' : crBefore)
            return lf;
        p = lf + 1;
    }
    return nullptr;
}

}  // namespace

DisplayModule::DisplayModule(Sink sink) : sink_(std::move(sink)) {}

void DisplayModule::report(Kind kind, int number, QByteArray text)
{
    if (sink_)
        sink_(Event{kind, number, std::move(text)});
}

void DisplayModule::feed(const char *bytes, qsizetype size)
{
    const char *p = bytes;
    const char *const end = bytes + size;
    while (p < end) {
        switch (state_) {
        case State::Line:
            p = feedLine(p, end);
            break;
        case State::Data:
            p = feedData(p, end);
            break;
        case State::DataEnd:
        case State::DataLf:
            p = feedDataEnd(p);
            break;
        case State::Skip:
            p = feedSkip(p, end);
            break;
        }
    }
}

const char *DisplayModule::feedLine(const char *p, const char *end)
{
    // The first two bytes of a line decide whether raw data follows.
    if (line_.size() < 2) {
        const char c = *p++;
        if (c == '\n' && line_.endsWith('\r')) {
            endLine();
        } else if ((line_ += c) == protocol::kImageData || line_ == protocol::kPageData) {
            dataToPage_ = line_.at(1) == 'S';
            line_.clear();
            dataCount_ = 0;
            state_ = State::Data;
        }
        return p;
    }
    const char *const lf = lineEnd(p, end, line_.endsWith('\r'));
    const char *const stop = lf ? lf : end;
    // The line may hold kMaxLine bytes and the CR of its end.
    if (line_.size() + (stop - p) > kMaxLine + 1) {
        skipFrom(line_.endsWith('\r'));
        line_.clear();
        report(Kind::LineTooLong);
        return p;
    }
    line_.append(p, stop - p);
    p = stop;
    if (lf) {
        ++p;
        endLine();
    }
    return p;
}

const char *DisplayModule::feedData(const char *p, const char *end)
{
    const qsizetype n = std::min<qsizetype>(end - p, kImageBytes - dataCount_);
    std::memcpy(data_.data() + dataCount_, p, std::size_t(n));
    dataCount_ += int(n);
    if (dataCount_ == kImageBytes)
        state_ = State::DataEnd;
    return p + n;
}

const char *DisplayModule::feedDataEnd(const char *p)
{
    const char c = *p++;
    if (c == '\n' && state_ == State::DataLf) {
        endData();
    } else if (c == '\r' && state_ == State::DataEnd) {
        state_ = State::DataLf;
    } else {
        // The device cannot tell where the image went wrong: it keeps nothing of it
        // and waits for the next line.
        report(Kind::DataUnterminated, 0, dataName(dataToPage_));
        skipFrom(c == '\r');
    }
    return p;
}

const char *DisplayModule::feedSkip(const char *p, const char *end)
{
    const char *const lf = lineEnd(p, end, skipAfterCr_);
    if (lf) {
        state_ = State::Line;
        return lf + 1;
    }
    skipAfterCr_ = end[-1] == '\r';
    return end;
}

void DisplayModule::skipFrom(bool afterCr)
{
    skipAfterCr_ = afterCr;
    state_ = State::Skip;
}

void DisplayModule::endLine()
{
    if (line_.endsWith('\r'))
        line_.chop(1);
    const QByteArray line = line_;
    line_.clear();
    if (line.size() > kMaxLine)
        report(Kind::LineTooLong);
    else
        command(line);
}

void DisplayModule::command(const QByteArray &line)
{
    if (line == protocol::kDisplay) {
        screen_ = vram_;
        report(Kind::Display);
        return;
    }
    const QByteArray name = line.left(2);
    const QByteArray digits = line.mid(2);
    if (const auto seconds = protocol::argumentIn(digits, protocol::kRewriteTimes); seconds && name == protocol::kRewriteTime) {
        rewriteSeconds_ = *seconds;
        report(Kind::RewriteTime, rewriteSeconds_);
    } else if (const auto page = protocol::argumentIn(digits, protocol::kPages); page && name == protocol::kSelectPage) {
        selectedPage_ = *page;
        report(Kind::SelectPage, selectedPage_);
    } else if (page && name == protocol::kPageToDisplay) {
        vram_ = pages_[std::size_t(*page)];
        report(Kind::PageToImage, *page);
    } else {
        report(Kind::Unknown, 0, line);
    }
}

void DisplayModule::endData()
{
    state_ = State::Line;
    if (dataToPage_) {
        pages_[std::size_t(selectedPage_)] = data_;
        report(Kind::WritePage, selectedPage_);
    } else {
        vram_ = data_;
        report(Kind::Image);
    }
}

void DisplayModule::endOfStream()
{
    switch (state_) {
    case State::Line:
        if (!line_.isEmpty())
            report(Kind::LineCutOff, 0, line_);
        break;
    case State::Data:
        report(Kind::DataCutShort, dataCount_, dataName(dataToPage_));
        break;
    case State::DataEnd:
    case State::DataLf:
        report(Kind::DataCutShort, kImageBytes, dataName(dataToPage_));
        break;
    case State::Skip:
        break;
    }
    line_.clear();
    state_ = State::Line;
}

QByteArray DisplayModule::flashBytes() const
{
    QByteArray bytes;
    bytes.reserve(kPages * kImageBytes);
    for (const MonoImage &page : pages_)
        bytes.append(reinterpret_cast<const char *>(page.data()), kImageBytes);
    return bytes;
}

void DisplayModule::loadFlash(const QByteArray &bytes)
{
    for (int page = 0; page < kPages; ++page) {
        MonoImage &target = pages_[std::size_t(page)];
        target.fill(0);
        const qsizetype from = qsizetype(page) * kImageBytes;
        if (from < bytes.size())
            std::memcpy(target.data(), bytes.constData() + from, std::size_t(std::min<qsizetype>(kImageBytes, bytes.size() - from)));
    }
}

QString DisplayModule::describe(const Event &event)
{
    // "DT 3", "TS 1024 bytes": the mnemonic, a space, what it carried.
    const auto command = [](const QByteArray &mnemonic) { return QString::fromLatin1(mnemonic) + QLatin1Char(' '); };
    const QString dataBytes = QString::number(protocol::kDataBytes) + QStringLiteral(" bytes");
    const QString name = QString::fromLatin1(event.text);
    switch (event.kind) {
    case Kind::RewriteTime: return command(protocol::kRewriteTime) + QString::number(event.number);
    case Kind::Image: return command(protocol::kImageData) + dataBytes;
    case Kind::Display: return QString::fromLatin1(protocol::kDisplay);
    case Kind::SelectPage: return command(protocol::kSelectPage) + QString::number(event.number);
    case Kind::WritePage: return command(protocol::kPageData) + dataBytes;
    case Kind::PageToImage: return command(protocol::kPageToDisplay) + QString::number(event.number);
    case Kind::Unknown: return QStringLiteral("unknown: ") + escaped(event.text);
    case Kind::DataCutShort:
        return event.number < kImageBytes ? QStringLiteral("%1 cut short after %2 of 1024 bytes").arg(name).arg(event.number)
                                          : QStringLiteral("%1 cut short before its CR LF").arg(name);
    case Kind::DataUnterminated: return QStringLiteral("%1 dropped: its 1024 bytes are not followed by CR LF").arg(name);
    case Kind::LineTooLong: return QStringLiteral("dropped: a line longer than %1 bytes").arg(kMaxLine);
    case Kind::LineCutOff: return QStringLiteral("cut off: ") + escaped(event.text);
    }
    return {};
}

QString DisplayModule::escaped(const QByteArray &bytes, int limit)
{
    QString out;
    const qsizetype shown = std::min<qsizetype>(bytes.size(), limit);
    for (qsizetype i = 0; i < shown; ++i) {
        const auto c = uchar(bytes.at(i));
        switch (c) {
        case '\\': out += QStringLiteral("\\\\"); break;
        case '\r': out += QStringLiteral("\\r"); break;
        case '\n': out += QStringLiteral("\\n"); break;
        case '\t': out += QStringLiteral("\\t"); break;
        default:
            if (c >= 0x20 && c < 0x7f)
                out += QLatin1Char(char(c));
            else
                out += QStringLiteral("\\x%1").arg(c, 2, 16, QLatin1Char('0'));
        }
    }
    if (bytes.size() > shown)
        out += QStringLiteral("... (%1 bytes)").arg(bytes.size());
    return out;
}

}  // namespace pw
