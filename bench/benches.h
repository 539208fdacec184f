#pragma once

#include "common/MessageBox.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <memory>

class QTextStream;
class frmCustMaint;

// One measured figure: the median of its repetitions, its target, and the floor it is compared with: what SQLite
// alone needs to read the same rows. A floor of 0 means the figure has none.
struct Figure
{
    QString name;
    double value = 0;
    QString unit; // "ms" or "MB"
    double target = 0;
    double floor = 0;
    QString note;

    bool met() const { return value < target; }
};

// The figures in the order they were measured, printed as one table at the end.
class Report
{
public:
    void add(const Figure& figure) { m_figures.append(figure); }
    void detail(const QString& line) { m_details.append(line); }
    // Returns the number of figures that missed their target.
    int print(QTextStream& out) const;

private:
    QList<Figure> m_figures;
    QStringList m_details;
};

double medianOf(QList<double> samples);

// Milliseconds fn takes, the events it leaves behind (layout, paint) included.
template<typename Fn>
double timedMs(Fn fn)
{
    QElapsedTimer timer;
    timer.start();
    fn();
    QApplication::processEvents();
    return double(timer.nsecsElapsed()) / 1e6;
}

// A QTemporaryDir holding a Cust.mdb of n generated contacts, made by the velmarin-mkdb tool beside this program:
// in a process of its own, so that generating the rows leaves nothing in this one's memory figures.
class GeneratedDatabase
{
public:
    // duplicates: how many of the n are planted second copies of others (velmarin-mkdb --duplicates).
    explicit GeneratedDatabase(int n, int duplicates = 0);
    bool isValid() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }
    QString folder() const { return m_dir.path(); }
    QString path() const;
    // What the tool said it made ("Creato ... con 1000 doppioni piantati").
    QString said() const { return m_said; }
    // Points the application folder here for as long as it lives, as the tests do.
    void makeApplicationFolder() const;

private:
    QTemporaryDir m_dir;
    QString m_error;
    QString m_said;
};

// Median time SQLite alone takes to run sql through a plain forward-only QSqlQuery and read every value as text.
// The connection is opened before the clock starts.
double sqliteFloorMs(const QString& path, const QString& sql, int repetitions);

// Median time a plain QSqlQuery takes to write one contact into the file and to delete it again, each committed:
// what the disk asks of a save and of a delete.
struct WriteFloor
{
    double insertMs = 0;
    double deleteMs = 0;
};
WriteFloor sqliteWriteFloor(const QString& path, int repetitions);

// VmHWM and VmRSS of this process, in MB; 0 where /proc does not tell.
struct Memory
{
    double peakMb = 0;
    double residentMb = 0;
};
Memory memoryNow();

// Answers every Yes/No box with Yes and every other box with its default button, counting what was asked.
class YesToEverything : public MessageBox::Handler
{
public:
    YesToEverything() { MessageBox::setHandler(this); }
    ~YesToEverything() override { MessageBox::setHandler(nullptr); }
    MessageBox::Answer ask(QWidget*, const MessageBox::Request& request) override;
    int asked = 0;
    QString lastText;
};

// VmHWM after the main window was filled, as measured before the find as you type existed.
constexpr double kMemoryBeforeFindMb = 103.9;

// Contacts in the main database; the print is measured on a smaller one.
constexpr int kContacts = 100000;
constexpr int kPrintedContacts = 10000;

// Header clicks on the main window's list: per visible column, the first click and the flip that follows.
struct HeaderSamples
{
    static constexpr int kColumns = 7;
    QList<double> first[kColumns];
    QList<double> flip[kColumns];
    QString names[kColumns];
};
// As the program starts: construct, Form_Load, show; then the events until Form_Activate has run and the window
// has been painted; ms is the time it took. Returns nullptr when the window cannot be loaded.
std::unique_ptr<frmCustMaint> openMainWindow(double& ms);
// A click on the header of a column (position from 1), as the user makes it.
void clickHeader(frmCustMaint& window, int position);
void clickEveryHeader(frmCustMaint& window, HeaderSamples& samples);
void reportHeaderClicks(Report& report, const HeaderSamples& samples, double floorMs);
// A click on a row, which fills the fields below the list.
void benchRowSelection(Report& report, frmCustMaint& window, double floorMs);

// Each keystroke of a few finds typed in the main window's find field, Esc after each; then the memory.
void benchFind(Report& report, frmCustMaint& window);

// Each adds its figures to the report.
void benchMainWindow(Report& report, const GeneratedDatabase& db);
void benchVisualizza(Report& report, const GeneratedDatabase& db);
void benchPrint(Report& report);
void benchExchange(Report& report, const GeneratedDatabase& db);
// Each contact's whole card: the import of 10,000 full cards, the export of 100,000, the main window's fill with
// 100,000 cards stored beside it (against the same fill without them) and "Dettagli…" opening.
void benchCards(Report& report, const GeneratedDatabase& db);
// Ctrl+Z after a delete in the window, and the restore dialog's comparison of a copy with the book.
void benchUndo(Report& report, const GeneratedDatabase& db);
// "Trova doppioni…" on 100,000 contacts with planted duplicates: the dialog's groups and the memory above the window's.
void benchDuplicates(Report& report);
// Against a Radicale on this machine: the first sync each way and a sync with nothing to do.
void benchSync(Report& report);
