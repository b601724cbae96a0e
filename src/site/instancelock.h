#pragma once
// One running instance per program folder. The lock is an flock() on a file
// in a folder only the user can reach (the runtime folder, else one under the
// state folder), named after the program folder, so that the
// kernel drops it with the process: an instance that crashed or was killed
// never keeps it. The descriptor is close-on-exec, so programs started by the
// instance (the update companions above all) never inherit it.
#include <QString>

namespace rh {

class InstanceLock {
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Takes the lock of `programFolder` without waiting. False when another
    // process holds it (or the lock file cannot be made: *error says why).
    bool tryAcquire(const QString& programFolder, QString* error = nullptr);
    bool isHeld() const { return m_fd >= 0; }
    void release();

    // The lock file of a program folder (the folder is made canonical first).
    static QString lockPath(const QString& programFolder);
    // True when no process holds the lock of `programFolder` right now.
    static bool isFree(const QString& programFolder);

private:
    int m_fd = -1;
};

} // namespace rh
