#pragma once
#include <QString>

namespace rh {
// Opens a file in the user's text editor ($VISUAL, $EDITOR in a terminal-less
// start, else xdg-open) without waiting. False when nothing could be started.
bool openInTextEditor(const QString& nativeFile);
} // namespace rh
