#pragma once

#include <QObject>
#include <QStringList>

class QLocalServer;

// One window per address book: a second start given contact files hands them to the window already open on the
// same book, through a local socket only this user can reach.
class FileHandOver : public QObject
{
    Q_OBJECT
public:
    explicit FileHandOver(QObject* parent = nullptr);
    ~FileHandOver() override;

    // "velmarin-USER-HASH", the hash of the book's path: each user and each book has a window of its own.
    static QString serverName(const QString& bookPath);

    // Sends the files (absolute paths) to the window listening on name and waits for it to take them. False when no
    // window listens there or it did not answer; the caller then opens a window itself.
    static bool send(const QString& name, const QStringList& paths);

    // Listens on name; a socket file left by a window that crashed is removed first. False when it cannot listen.
    bool listen(const QString& name);

signals:
    void filesArrived(const QStringList& paths);

private:
    void accept();

    QLocalServer* m_server;
};
