#include "single_instance.h"

#include <QDir>
#include <QStandardPaths>

namespace zelkor::launcher {

QString DefaultLockFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty()) folder = QDir::tempPath();
    return folder;
}

SingleInstanceLock::SingleInstanceLock(const QString& folder)
    : path_(QDir(folder).filePath(QString::fromLatin1(kLockName) + QStringLiteral(".lock"))),
      lock_(std::make_unique<QLockFile>(path_))
{
    // The default stale time (30 s) would let a second launcher take the lock of a first one that
    // has simply been running for a while. With 0 only a lock whose process is gone is stale.
    lock_->setStaleLockTime(0);
}

SingleInstanceLock::~SingleInstanceLock() = default;

SingleInstanceLock::Result SingleInstanceLock::TryAcquire()
{
    if (lock_->isLocked()) return Result::Acquired;
    if (lock_->tryLock(0)) return Result::Acquired;
    return lock_->error() == QLockFile::LockFailedError ? Result::HeldByOther : Result::Unavailable;
}

}  // namespace zelkor::launcher
