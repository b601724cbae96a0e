#pragma once
// Real file-system faults without touching the machine: a child process gets a
// mount namespace of its own and small tmpfs mounts on given folders (full
// disks, read-only folders); the mounts vanish with the child.
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

namespace rh::test {

// Runs `fn` in a forked child inside a private mount namespace where each
// folder carries a fresh tmpfs mounted with the given options ("size=64k",
// "ro", or both separated by a comma). Returns what `fn` returned; an empty
// list with the reason in *why when the namespace or a mount could not be made.
QStringList inPrivateMounts(const QList<QPair<QString, QString>>& mounts,
                            const std::function<QStringList()>& fn, QString* why);

} // namespace rh::test
