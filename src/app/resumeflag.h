#pragma once
// --resume [RUN] on the headless command line: the run is optional, so the
// flag is taken out before the other flags are parsed.
#include <QString>
#include <QStringList>

#include <optional>

namespace rh {

// args without "--resume", "--resume RUN" or "--resume=RUN"; *run is set
// when the flag is there (empty: the last resumable run).
QStringList takeResumeFlag(const QStringList& args, std::optional<QString>* run);

} // namespace rh
