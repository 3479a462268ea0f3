#pragma once

#include <QString>

namespace session {

// Who runs on a data folder: the program, its process id and its host, as the lock file holds them.
struct Runner {
    QString program;
    qint64 pid = 0;
    QString host;

    // "plimopagerd (process 4711 on dispatch1)"; "another program" when the file named nobody.
    QString described() const;
};

// One runner per data folder: the desk and plimopagerd each hold an exclusive lock on the file
// "plimopager.lock" in the folder for as long as they run. It is an fcntl lock on an open file
// description: it works on network shares that pass locks on, and is gone at once when its holder
// dies, however it dies. Once held, the file names the holder.
//
// The lock holds only while the name leads to the locked file: a file deleted or replaced under a
// runner would let a second one in. So the lock is taken only on a regular file with one link,
// never through a symbolic link, and the name is checked to lead to it once the lock is held and
// again at every tick of the run (stillHeld()). A file with another link is never written: it may
// be a link to a file elsewhere, which a runner with the super-user's rights would overwrite.
class RunnerLock {
public:
    RunnerLock() = default;
    ~RunnerLock();
    RunnerLock(const RunnerLock&) = delete;
    RunnerLock& operator=(const RunnerLock&) = delete;

    static QString fileName();

    enum class Result { Held, HeldByOther, Failed };
    // Takes the lock on `folder` for `program`, without waiting. HeldByOther: holder() names the
    // runner that has it. Failed: error() says why (the file cannot be made or locked, or is not a
    // regular file with one link).
    Result acquire(const QString& folder, const QString& program);
    bool held() const { return fd_ >= 0; }
    // Whether the folder's lock file is still the file this runner locked: one lstat, compared
    // with the file as it was when the lock was taken. False when the file was removed or
    // replaced (another runner may hold the folder now), or when the lock is not held.
    bool stillHeld() const;
    // The lock file's path; empty before acquire().
    QString path() const { return path_; }
    // The one message for a runner whose lock file was removed or replaced under it.
    QString lostMessage() const;
    Runner holder() const { return holder_; }
    QString error() const { return error_; }
    // The one message for a runner that finds the folder held: it names the folder and the holder.
    QString heldMessage(const QString& folder) const;
    // Lets go of the lock (also done by the destructor).
    void release();

private:
    int fd_ = -1;
    QString path_;
    QByteArray encodedPath_; // set while held
    quint64 device_ = 0; // the locked file, as fstat gave it when the lock was taken
    quint64 inode_ = 0;
    Runner holder_;
    QString error_;
};

} // namespace session
