#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#ifdef Q_OS_LINUX
#include <sys/mount.h>
#include <unistd.h>
#endif

// A real file system of a few kilobytes over folder, so that a write fills it; only root may mount one, so where
// mounted() is false the test skips.
class SmallDisk
{
public:
    SmallDisk(const QString& folder, int kilobytes)
        : m_folder(folder)
    {
        QDir().mkpath(folder);
#ifdef Q_OS_LINUX
        const QByteArray options = "size=" + QByteArray::number(kilobytes) + "k,mode=0700";
        m_mounted = ::geteuid() == 0
            && ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, options.constData()) == 0;
#else
        Q_UNUSED(kilobytes);
#endif
    }
    ~SmallDisk()
    {
#ifdef Q_OS_LINUX
        if (m_mounted) {
            ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
        }
#endif
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const
    {
        return m_mounted;
    }

private:
    QString m_folder;
    bool m_mounted = false;
};
