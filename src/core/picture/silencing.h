#pragma once

namespace pw {

// Keeps the image libraries from writing to stderr by themselves (libtiff does, unless told
// otherwise), so that a program's own line is the only one about a picture. Qt's plugins
// report through Qt's messages, which a program filters itself.
void silenceImageLibraries();

}  // namespace pw
