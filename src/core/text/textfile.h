#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace pw {

// UTF-8 text as a file holds it: a leading BOM dropped, CR LF read as LF, one final line end
// dropped. On invalid UTF-8, nullopt with the 1-based line and column (in characters) of the
// first bad byte.
std::optional<QString> decodeTextFile(const QByteArray &bytes, int &line, int &column);

}  // namespace pw
