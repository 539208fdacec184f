#pragma once

#include <QMap>
#include <QTemporaryDir>
#include <QUrl>

class DavServer;

// A second client on the same server address book, as a phone or another desktop program would be: vdirsyncer
// keeping a folder of .vcf files (a vdir) in step with the address book, and khard reading and writing that folder.
// Every run is a process waited for to its end, so nothing depends on timing.
class PeerClient
{
public:
    PeerClient(const DavServer& server, const QUrl& book);

    // Why the peer cannot run here (vdirsyncer or khard not installed); empty when it can.
    static QString missing();

    // Writes both configurations and has vdirsyncer find the address book. False with error() when it fails.
    bool setUp();
    // One vdirsyncer sync both ways.
    bool sync();
    QString error() const { return m_error; }
    QString vdir() const;

    // Runs khard with input on stdin; its output, or a null array with error() when it fails.
    QByteArray khard(const QStringList& arguments, const QByteArray& input = {});
    // Replaces a contact with the YAML given, as khard shows it; khard asks before it saves and is told yes.
    bool edit(const QString& uid, const QByteArray& yaml);
    // The UIDs of khard's contacts.
    QStringList uids();
    // A contact as khard shows it (show --format yaml), each value under its path: "Phone.cell" = "333 1234567",
    // "Address.home.City" = "Milano"; empty values are left out.
    QMap<QString, QString> contact(const QString& uid);

private:
    bool run(const QString& program, const QStringList& arguments, const QByteArray& input, QByteArray* output);
    QString path(const QString& relative) const;

    QTemporaryDir m_dir;
    QUrl m_book;
    QString m_user;
    QString m_password;
    QString m_error;
};
