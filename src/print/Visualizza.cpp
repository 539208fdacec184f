#include "print/Visualizza.h"

#include "common/ListView.h"
#include "common/MessageBox.h"
#include "common/Twips.h"
#include "common/modForm.h"
#include "core/AppInfo.h"
#include "core/DataLocation.h"
#include "data/Ado.h"
#include "data/Contact.h"
#include "print/Module5.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTreeView>
#include <QWindow>

#include <array>
#include <exception>
#include <memory>

namespace {

struct ColumnSpec
{
    const char* key;
    const char* header;
    int width;
    const char* field; // the Customer column shown under this header
};

const std::array<ColumnSpec, 7> kColumns {{
    {"uno", "ID", 800, "CustID"},
    {"due", "Cognome", 2000, "FirstName"},
    {"tre", "Nome", 2000, "LastName"},
    {"quattro", "Indirizzo", 2000, "Address"},
    {"cinque", "PR", 500, "State"},
    {"sei", "Cellulare", 1500, "Zip"},
    {"sette", "Telefono", 1500, "PhoneNumber"},
}};

// Where each header's value stands in the result. By name when the result carries all seven names, so a table
// stored in another column order still shows every value under its own header; by position otherwise.
std::array<int, kColumns.size()> valuePositions(const ado::Recordset& rs)
{
    std::array<int, kColumns.size()> positions {};
    for (size_t i = 0; i < kColumns.size(); ++i) {
        positions[i] = rs.fieldIndex(QString::fromLatin1(kColumns[i].field));
        if (positions[i] < 0) {
            for (size_t j = 0; j < kColumns.size(); ++j) {
                positions[j] = int(j);
            }
            break;
        }
    }
    return positions;
}

// A value that cannot be shown leaves its cell empty; the row keeps its other cells.
QString cellText(const ado::Recordset& rs, int position, int fieldCount)
{
    if (position >= fieldCount) {
        return {};
    }
    try {
        return textOf(rs.Fields(position));
    } catch (const std::exception&) {
        return {};
    }
}

QString describe(const std::exception& error)
{
    if (const auto* adoError = dynamic_cast<const ado::Error*>(&error)) {
        return adoError->description();
    }
    return QString::fromLocal8Bit(error.what());
}

// The long time form without a time zone: the product's time of day never names one.
QString timeFormatWithoutZone(const QLocale& locale)
{
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
        } else if (!quoted && c == QLatin1Char('t')) {
            continue;
        }
        result.append(c);
    }
    return result.trimmed();
}

// Message boxes, file dialogs and pop-ups are not windows the user comes from.
bool isProgramWindow(const QWindow* window)
{
    if (window->modality() != Qt::NonModal) {
        return false;
    }
    const Qt::WindowType type = window->type();
    return type == Qt::Window || type == Qt::Tool || type == Qt::Dialog;
}

} // namespace

Visualizza::Visualizza(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("Visualizza"));
    setWindowTitle(QStringLiteral("Stampa"));
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_DeleteOnClose);
    // Tool windows are left out of the last-window count by default; this one must keep the program running.
    setAttribute(Qt::WA_QuitOnClose);
    resize(twipsToPixels(10455), twipsToPixels(7710));

    applyLightPalette(this);
    // Windows shows this background in the scroll-bar grey; Midlight is the palette's nearest light grey.
    QPalette background = palette();
    background.setColor(QPalette::Window, background.color(QPalette::Midlight));
    setPalette(background);
    setAutoFillBackground(true);

    ListView3 = new ListView(this);
    ListView3->setObjectName(QStringLiteral("ListView3"));
    ListView3->setGeometry(twipsRect(120, 360, 10095, 6135));
    ListView3->setAccessibleName(QStringLiteral("Elenco dei contatti da stampare"));
    ListView3->view()->setAccessibleName(ListView3->accessibleName());
    QPalette listPalette = ListView3->palette();
    listPalette.setColor(QPalette::Base, Qt::white);
    listPalette.setColor(QPalette::Text, listPalette.color(QPalette::WindowText));
    ListView3->setPalette(listPalette);
    QFont listFont(QStringLiteral("Arial"));
    listFont.setPointSizeF(8.25);
    ListView3->setFont(listFont);

    Command1 = new QPushButton(QStringLiteral("Avvia"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(twipsRect(4320, 6720, 2175, 400));
    Command1->setAutoDefault(false);

    Label14 = new QLabel(QStringLiteral("Copyright \u00A9 2026 Velmarin. Tutti i diritti riservati."), this);
    Label14->setObjectName(QStringLiteral("Label14"));
    Label14->setGeometry(twipsRect(0, 7440, 10695, 255));
    Label14->setFocusPolicy(Qt::NoFocus);
    QPalette labelPalette = Label14->palette();
    labelPalette.setColor(QPalette::Window, Qt::white);
    Label14->setPalette(labelPalette);
    Label14->setAutoFillBackground(true);
    QFont labelFont(QStringLiteral("Arial"));
    labelFont.setPointSizeF(9.75);
    Label14->setFont(labelFont);

    setTabOrder(ListView3, Command1);

    connect(Command1, &QPushButton::clicked, this, &Visualizza::Command1_Click);
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, &Visualizza::onFocusWindowChanged);
}

Visualizza::~Visualizza() = default;

QString Visualizza::generalDateText(const QDateTime& when, const QLocale& locale)
{
    const QString date = locale.toString(when.date(), QLocale::ShortFormat);
    const QTime time = when.time();
    if (time.hour() == 0 && time.minute() == 0 && time.second() == 0) {
        return date;
    }
    return date + QLatin1Char(' ') + locale.toString(time, timeFormatWithoutZone(locale));
}

bool Visualizza::event(QEvent* e)
{
    // Only a return from another window of the program rebuilds the list; coming back from another program does not.
    // Queued, so that a failure box is not opened from inside the activation itself.
    if (e->type() == QEvent::WindowActivate && m_comingFromProgram) {
        m_comingFromProgram = false;
        QMetaObject::invokeMethod(this, &Visualizza::Form_Activate, Qt::QueuedConnection);
    }
    return QWidget::event(e);
}

void Visualizza::onFocusWindowChanged(QWindow* window)
{
    if (window && window != windowHandle() && isProgramWindow(window)) {
        m_comingFromProgram = true;
    }
}

void Visualizza::Form_Activate()
{
    if (m_activating) {
        return;
    }
    QScopedValueRollback<bool> guard(m_activating, true);

    const QString connectionString = QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=")
        + DataLocation::folder() + QStringLiteral("\\cust.mdb");
    auto cnn = std::make_shared<ado::Connection>();
    auto rs = std::make_unique<ado::Recordset>();
    try {
        cnn->Open(connectionString, QString(), QString());
        rs->Open(QStringLiteral("Select * from Customer "), cnn);
    } catch (const std::exception& error) {
        rs.reset();
        cnn.reset();
        SetupColumns();
        ReportActivationFailure(describe(error));
        return;
    }

    SetupColumns();
    const auto positions = valuePositions(*rs);
    const int fieldCount = rs->fieldCount();
    QList<QStringList> rows;
    QString moveFailure;
    while (!rs->isEOF()) {
        QStringList row;
        row.reserve(int(positions.size()));
        for (const int position : positions) {
            row.append(cellText(*rs, position, fieldCount));
        }
        rows.append(std::move(row));
        // A record set that cannot move on would never reach its end; keep what was read and say so.
        try {
            rs->MoveNext();
        } catch (const std::exception& error) {
            moveFailure = describe(error);
            break;
        }
    }
    ListView3->setRows(std::move(rows));
    rs.reset();
    cnn.reset();
    if (!moveFailure.isEmpty()) {
        ReportActivationFailure(moveFailure);
    }
}

void Visualizza::SetupColumns()
{
    ListView3->clearItems();
    ListView3->clearColumnHeaders();
    for (const ColumnSpec& column : kColumns) {
        ListView3->addColumnHeader(QString::fromLatin1(column.header), column.width, QString::fromLatin1(column.key));
    }
}

void Visualizza::ReportActivationFailure(const QString& description)
{
    MessageBox::show(this, description, QStringLiteral("Stampa"), MessageBox::OkOnly, MessageBox::Critical);
}

void Visualizza::Command1_Click()
{
    const QString title = QStringLiteral("Elenco Velmarin ") + QStringLiteral(" del ")
        + generalDateText(AppInfo::now(), QLocale::system());
    ImprimerListView(*ListView3, title, QStringLiteral("Velmarin"), QStringLiteral("Arial"), 10);
}

void Visualizza::closeEvent(QCloseEvent* e)
{
    Form_QueryUnload(e);
}

void Visualizza::Form_QueryUnload(QCloseEvent* e)
{
    e->accept();
}
