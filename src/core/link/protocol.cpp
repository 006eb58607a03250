#include "core/link/protocol.h"

#include <algorithm>

namespace pw::protocol {

QByteArray commandLine(const QByteArray &mnemonic, std::optional<int> argument)
{
    QByteArray line = mnemonic;
    if (argument)
        line += QByteArray::number(*argument);
    return line + kLineEnd;
}

std::optional<int> argumentIn(const QByteArray &digits, Range range)
{
    if (digits.isEmpty() || digits.size() > 2
        || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const int value = digits.toInt();
    return range.contains(value) ? std::optional<int>(value) : std::nullopt;
}

}  // namespace pw::protocol
