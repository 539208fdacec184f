#pragma once

#include "sync/ContactSync.h"

#include <QDialog>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressDialog;
class QPushButton;
class QThread;
struct SyncRun;

// "Sincronizzazione…" and "Sincronizza ora" (Ctrl+R) for the main window's list menu, and the sync at start once
// one is set up. Syncs only while the window browses; the list is read again after each sync.
// The sync runs in a thread of its own, with its own connection to the book and its own client, so the window keeps
// drawing and "Interrompi" answers at once; its questions are asked here, in the window's thread, while it waits.
// Meanwhile the window takes no input (nor the sync actions), so no edit starts on the book being synced.
class SyncActions : public QObject
{
    Q_OBJECT
public:
    // browsing tells whether the window is in its browse state; reload reads the list again.
    SyncActions(QWidget* window, QMenu* menu, std::function<bool()> browsing, std::function<void()> reload);
    // A sync still running is stopped and waited for.
    ~SyncActions() override;

    QList<QAction*> actions() const;

    // Syncs when a sync is set up and its password is at hand; says nothing unless the server refuses or the sync
    // fails here (a server out of reach is left for the next sync).
    void syncAtStart();
    // Starts a sync with the settings kept beside the address book. Returns false when none was started; finished()
    // tells its end.
    bool syncNow(bool quiet = false);
    void openSetup();
    bool isRunning() const { return m_running; }
    // "Interrompi": the sync stops at once, keeping what it had stored.
    void stop();

signals:
    void finished(bool synced);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Result;
    void setRunning(bool running);
    void finishSync(const std::shared_ptr<Result>& result);

    QWidget* m_window;
    std::function<bool()> m_browsing;
    std::function<void()> m_reload;
    QAction* actSyncSetup;
    QAction* actSyncNow;
    bool m_running = false;
    bool m_quiet = false;
    QThread* m_thread = nullptr;
    std::shared_ptr<SyncRun> m_run;
    QPointer<QProgressDialog> m_progress;
};

// Server, user and password; "Cerca rubriche" lists the user's address books to pick one. Once set up it also shows
// the last sync's time and result and where the password is kept.
class SyncSetupDialog : public QDialog
{
    Q_OBJECT
public:
    SyncSetupDialog(const SyncSettings& settings, QWidget* parent = nullptr);

    SyncSettings settings() const;
    QString password() const;

    QLineEdit* txtServer;
    QLineEdit* txtUser;
    QLineEdit* txtPassword;
    QPushButton* cmdFind;
    QComboBox* cboBook;
    QPushButton* cmdOK;
    QPushButton* cmdCancel;
    QPushButton* cmdDisable; // shown when a sync is set up
    QLabel* lblIntro; // what the sync does
    QLabel* lblLastSync; // once set up: when the last sync ended and how
    QLabel* lblPassword; // once set up: where the password is kept

    // The dialog's result when "Disattiva" ends it.
    static constexpr int Disabled = 2;

private:
    void findBooks();

    QList<QUrl> m_accepted; // other servers the user let the search lead to
};

// A contact changed here and on the server: both versions side by side, and the choice of one or both.
class SyncConflictDialog : public QDialog
{
    Q_OBJECT
public:
    SyncConflictDialog(const ContactFields& here, const ContactFields& server, QWidget* parent = nullptr);

    // Closing the box keeps both: nothing is dropped without a choice.
    ConflictChoice choice() const { return m_choice; }

    QLabel* lblHere;
    QLabel* lblServer;
    QPushButton* cmdKeepHere;
    QPushButton* cmdKeepServer;
    QPushButton* cmdKeepBoth;

private:
    ConflictChoice m_choice = ConflictChoice::KeepBoth;
};

// A sync about to delete many contacts: delete them, keep them (the default), or, for those deleted on the server,
// send them up again.
class SyncDeletionDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SyncDeletionDialog(const MassDeletion& deletion, QWidget* parent = nullptr);

    // Closing the box keeps them: nothing is deleted without a choice.
    DeletionChoice choice() const { return m_choice; }

    QLabel* lblQuestion;
    QPushButton* cmdDelete;
    QPushButton* cmdKeep;
    QPushButton* cmdUploadAgain; // only for contacts deleted on the server

private:
    DeletionChoice m_choice = DeletionChoice::Keep;
};
