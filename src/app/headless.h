#pragma once
#include "app/commandline.h"

#include <QStringList>

namespace rh {
// rollhaven2 --headless: loads a setup INI, selects rows and runs the release
// on the desk with answers from flags. Returns the process exit code.
int runHeadless(const QStringList& args);
} // namespace rh
