#pragma once

#include <QIcon>
#include <QString>

namespace pw {

// The program's own icon (32 x 32): the windows' icon, the splash's logo, the About window's.
QIcon programIcon();

// A 16 x 16 toolbar picture by its key ("imgconv", "imgopnbmp", ...), light grey transparent.
QIcon toolbarIcon(const QString &key);

}  // namespace pw
