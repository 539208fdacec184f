#pragma once

#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

// A real CardDAV server for the tests: Radicale on 127.0.0.1 on a free port, its storage and its password file in a
// temporary folder, one user with a plain-text password. Stopped when the object goes.
class RadicaleServer
{
public:
    explicit RadicaleServer(const QString& user = QStringLiteral("anna"),
                            const QString& password = QStringLiteral("segreta"));
    ~RadicaleServer();
    RadicaleServer(const RadicaleServer&) = delete;
    RadicaleServer& operator=(const RadicaleServer&) = delete;

    // Starts the server (on the port it had before, after a stop) and waits until it answers. Returns false and
    // keeps the reason in error() when it cannot.
    bool start();
    void stop();
    bool isRunning() const;
    QString error() const { return m_error; }

    QString user() const { return m_user; }
    QString password() const { return m_password; }
    quint16 port() const { return m_port; }
    // http://127.0.0.1:port/
    QUrl url() const;
    // An empty address book of the user, made in the storage folder; returns its address.
    QUrl addAddressBook(const QString& name, const QString& displayName);
    // The card files of an address book, as the server stores them.
    QStringList cardFiles(const QString& name) const;

private:
    QString path(const QString& relative) const;

    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_user;
    QString m_password;
    quint16 m_port = 0;
    QString m_error;
};
