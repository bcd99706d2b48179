#pragma once
// Only one launcher runs at a time. The lock is a lock file in the user's runtime folder; one left
// behind by a launcher that crashed is taken over, one held by a live launcher never is.

#include <QLockFile>
#include <QString>

#include <memory>

namespace zelkor::launcher {

inline constexpr const char* kLockName = "Zelkor2d";

// The user's runtime folder (XDG_RUNTIME_DIR), or the temporary folder when there is none.
QString DefaultLockFolder();

class SingleInstanceLock {
public:
    enum class Result {
        Acquired,       // this process holds the lock until the object is destroyed
        HeldByOther,    // another live process holds it
        Unavailable,    // the lock file cannot be written (permissions, missing folder)
    };

    explicit SingleInstanceLock(const QString& folder);
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    Result TryAcquire();
    QString FilePath() const { return path_; }

private:
    QString path_;
    std::unique_ptr<QLockFile> lock_;
};

}  // namespace zelkor::launcher
