#pragma once

#include <QWidget>

class ListView;
class QLabel;
class QPushButton;
class QLocale;
class QDateTime;
class QWindow;

// The print list window: every contact in a seven-column list, read afresh from the database each time the user
// comes to this window from another window of the program, and printed by "Avvia".
// It has no owner and deletes itself when closed.
class Visualizza : public QWidget
{
    Q_OBJECT
public:
    explicit Visualizza(QWidget* parent = nullptr);
    ~Visualizza() override;

    // The general date of the regional settings: short date, a space, long time; at exactly midnight the date alone.
    static QString generalDateText(const QDateTime& when, const QLocale& locale);

    ListView* ListView3;
    QPushButton* Command1;
    QLabel* Label14;

public slots:
    // Rebuilds the list from the database.
    void Form_Activate();

protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private slots:
    void Command1_Click();
    void onFocusWindowChanged(QWindow* window);

private:
    void Form_QueryUnload(QCloseEvent* e);
    void SetupColumns();
    void ReportActivationFailure(const QString& description);

    // True until this window has been activated once, and again whenever another window of the program became the
    // active one since; a return from another program leaves it false.
    bool m_comingFromProgram = true;
    bool m_activating = false;
};
