#include "maint/frmCustMaint.h"

#include "common/ListView.h"
#include "common/MessageBox.h"
#include "common/TextBox.h"
#include "common/Twips.h"
#include "common/modForm.h"
#include "common/modGeneral.h"
#include "core/AppInfo.h"
#include "core/DataLocation.h"
#include "data/Contact.h"
#include "data/ContactCards.h"
#include "data/ContactUndo.h"
#include "data/Statements.h"
#include "exchange/CardDetails.h"
#include "maint/CommandKeys.h"
#include "maint/ContactDetailsDialog.h"
#include "maint/ContactExchange.h"
#include "maint/DuplicatesDialog.h"
#include "maint/FindField.h"
#include "maint/ListContextMenu.h"
#include "maint/SyncActions.h"
#include "maint/UndoActions.h"
#include "print/Visualizza.h"

#include <QAction>
#include <QCloseEvent>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QShowEvent>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

namespace {

const QString kAdd = QStringLiteral("ADD");
const QString kEdit = QStringLiteral("EDIT");
const QString kRowIcon = QStringLiteral("Custs");

// The window reads the list again after a replaced file (ShowWhatIsStored), and says so.
QString refusalText(const ado::Error& error)
{
    if (dynamic_cast<const ado::FileReplaced*>(&error)) {
        return error.description() + QStringLiteral("\nL'elenco viene letto di nuovo dal file.");
    }
    return error.description();
}

// Client area of the window, in twips.
constexpr int kClientWidth = 10485;
constexpr int kClientHeight = 7695;

// Every font is spelled out in full so that nothing is inherited from the bold frame caption.
QFont windowFont()
{
    QFont f(QStringLiteral("Tahoma"), 9);
    f.setBold(false);
    return f;
}

QFont namedFont(const QString& family, double points, bool bold = false)
{
    QFont f(family);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

QLabel* label(QWidget* parent, const QString& name, const QString& text, QRect twips, const QFont& f)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    l->setGeometry(twipsRect(twips.x(), twips.y(), twips.width(), twips.height()));
    l->setFont(f);
    l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return l;
}

QToolButton* button(QWidget* parent, const QString& name, const QString& caption, const QString& icon, int top)
{
    auto* b = new QToolButton(parent);
    b->setObjectName(name);
    b->setText(caption);
    b->setIcon(QIcon(QStringLiteral(":/icons/%1.svg").arg(icon)));
    b->setIconSize(QSize(32, 32));
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setFocusPolicy(Qt::StrongFocus);
    b->setGeometry(twipsRect(9180, top, 1155, 855));
    b->setFont(windowFont());
    return b;
}

TextBox* field(QWidget* parent, const QString& name, QRect twips, int maxLength, const QString& accessibleName)
{
    auto* t = new TextBox(parent);
    t->setObjectName(name);
    t->setGeometry(twipsRect(twips.x(), twips.y(), twips.width(), twips.height()));
    t->setFont(windowFont());
    t->setMaxLength(maxLength);
    t->setAccessibleName(accessibleName);
    return t;
}

} // namespace

frmCustMaint::frmCustMaint(QWidget* parent)
    : QWidget(parent)
{
    // Tahoma is seldom installed outside Windows; Liberation Sans keeps its widths, so the labels fit their boxes.
    QFont::insertSubstitution(QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"));
    setObjectName(QStringLiteral("frmCustMaint"));
    buildLayout();
    wireEvents();
    // Import and export live beside the designed window; it lends them the list, the store and a row click. After an
    // import the find is closed, so the new contacts are shown whatever it had narrowed the list to.
    m_exchange = new ContactExchange({this,
                                      lvwCustomer,
                                      &m_store,
                                      [this] {
                                          if (lvwCustomer->filtered()) {
                                              txtFind->closeFind();
                                          }
                                          LoadCustomerList();
                                      },
                                      [this](int index) {
                                          lvwCustomer->setSelectedIndex(index);
                                          lvwCustomer->ensureVisible(index);
                                          lvwCustomer_ItemClick(index);
                                      }},
                                     this);
    actDetails = new QAction(QStringLiteral("Dettagli…"), this);
    actDetails->setObjectName(QStringLiteral("actDetails"));
    actDetails->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    actDetails->setShortcutContext(Qt::WindowShortcut);
    actDetails->setToolTip(QStringLiteral("E-mail, CAP, note e altri dati del contatto selezionato (Ctrl+D)"));
    connect(actDetails, &QAction::triggered, this, &frmCustMaint::showDetails);
    actDuplicates = new QAction(QStringLiteral("Trova doppioni…"), this);
    actDuplicates->setObjectName(QStringLiteral("actDuplicates"));
    actDuplicates->setToolTip(QStringLiteral("Contatti che sono probabilmente la stessa persona, da unire"));
    connect(actDuplicates, &QAction::triggered, this, &frmCustMaint::showDuplicates);
    m_undo = new UndoActions({this,
                              &m_store,
                              [this] { return mblnActivated && cmdAdd->isEnabled(); },
                              [this](qint32 key) { reloadSelecting(key); },
                              [this](const QList<qint32>& keys) { showAdded(keys); },
                              [this] {
                                  CloseDatabase();
                                  ConnectToDatabase();
                                  reloadSelecting(0);
                              }},
                             this);
    connect(m_exchange, &ContactExchange::imported, m_undo, &UndoActions::imported);
    m_listMenu->addActions({m_undo->undoAction(),
                            actDetails,
                            actDuplicates,
                            m_exchange->importAction(),
                            m_exchange->exportAction(),
                            m_undo->restoreAction()});
    // The sync reads the whole list again afterwards, with the find closed as after an import.
    m_sync = new SyncActions(
        this,
        m_listMenu->menu(),
        [this] { return mblnActivated && cmdAdd->isEnabled(); },
        [this] {
            if (lvwCustomer->filtered()) {
                txtFind->closeFind();
            }
            m_undo->bookChanged();
            ClearCurrentRecord();
            LoadCustomerList();
        });
    m_listMenu->addActions(m_sync->actions());
}

frmCustMaint::~frmCustMaint() = default;

void frmCustMaint::buildLayout()
{
    setWindowTitle(QStringLiteral("Velmarin - Rubrica personale dei contatti"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(twipsToPixels(kClientWidth), twipsToPixels(kClientHeight));
    applyLightPalette(this);
    setFont(windowFont());
    setWindowIcon(QIcon(QStringLiteral(":/icons/app.svg")));

    // Labels first: they lie on the surface, beneath every field and button.
    lblPhysMaint = label(this,
                         QStringLiteral("lblPhysMaint"),
                         AppInfo::title(),
                         QRect(900, 60, 9345, 420),
                         namedFont(QStringLiteral("Arial"), 20.25, true));
    QPalette titlePalette = lblPhysMaint->palette();
    titlePalette.setColor(QPalette::WindowText, QColor(0, 0, 192));
    lblPhysMaint->setPalette(titlePalette);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(twipsRect(180, 60, 480, 480));
    Image1->setPixmap(QIcon(QStringLiteral(":/icons/app.svg")).pixmap(QSize(32, 32)));

    lvwCustomer = new ListView(this);
    lvwCustomer->setObjectName(QStringLiteral("lvwCustomer"));
    lvwCustomer->setGeometry(twipsRect(120, 600, 8895, 3855));
    lvwCustomer->setSmallIcon(kRowIcon, QIcon(QStringLiteral(":/icons/custs.svg")));
    // The tree inside takes the focus, so it is the one a screen reader names.
    lvwCustomer->setAccessibleName(QStringLiteral("Elenco dei contatti"));
    lvwCustomer->view()->setAccessibleName(lvwCustomer->accessibleName());

    cmdAdd = button(this, QStringLiteral("cmdAdd"), QStringLiteral("Aggiungi"), QStringLiteral("add"), 600);
    cmdUpdate = button(this, QStringLiteral("cmdUpdate"), QStringLiteral("Aggiorna"), QStringLiteral("update"), 1620);
    cmdDelete = button(this, QStringLiteral("cmdDelete"), QStringLiteral("Elimina"), QStringLiteral("delete"), 2580);
    cmdClose = button(this, QStringLiteral("cmdClose"), QStringLiteral("Chiudi"), QStringLiteral("close"), 3540);

    fraCurrentRec = new QGroupBox(QStringLiteral("Contatto Selezionato"), this);
    fraCurrentRec->setObjectName(QStringLiteral("fraCurrentRec"));
    fraCurrentRec->setGeometry(twipsRect(120, 4560, 8895, 2715));
    fraCurrentRec->setFont(namedFont(QStringLiteral("Verdana"), 8.25, true));

    QWidget* f = fraCurrentRec;
    const QFont body = windowFont();
    const QFont bracket = namedFont(QStringLiteral("Tahoma"), 11.25);
    QLabel* Label11 = label(f, QStringLiteral("Label11"), QStringLiteral("Cognome"), QRect(180, 240, 1575, 195), body);
    QLabel* Label3 = label(f, QStringLiteral("Label3"), QStringLiteral("Nome"), QRect(4620, 240, 1215, 195), body);
    QLabel* Label4 = label(f, QStringLiteral("Label4_1"), QStringLiteral("Indirizzo"), QRect(180, 900, 675, 255), body);
    QLabel* Label5 = label(f, QStringLiteral("Label5_1"), QStringLiteral("Città"), QRect(180, 1620, 435, 255), body);
    QLabel* Label6 = label(f, QStringLiteral("Label6_1"), QStringLiteral("PR"), QRect(4080, 1620, 495, 255), body);
    QLabel* Label7
        = label(f, QStringLiteral("Label7_1"), QStringLiteral("Cellulare"), QRect(4680, 1620, 1515, 255), body);
    QLabel* Label14_1
        = label(f, QStringLiteral("Label14_1"), QStringLiteral("Telefono"), QRect(6720, 1620, 1695, 255), body);
    label(f, QStringLiteral("Label9_1"), QStringLiteral("-"), QRect(8100, 1920, 75, 270), bracket);
    label(f, QStringLiteral("Label27"), QStringLiteral("("), QRect(6600, 1980, 90, 270), bracket);
    label(f, QStringLiteral("Label26"), QStringLiteral(")"), QRect(7500, 1980, 90, 270), bracket);
    for (QLabel* l : {Label4, Label5, Label6, Label7, Label14_1}) {
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, Qt::black);
        l->setPalette(p);
    }

    txtFirst = field(f, QStringLiteral("txtFirst"), QRect(120, 480, 4215, 375), 0, QStringLiteral("Cognome"));
    txtLast = field(f, QStringLiteral("txtLast"), QRect(4560, 480, 4215, 375), 0, QStringLiteral("Nome"));
    txtAddr = field(f, QStringLiteral("txtAddr"), QRect(120, 1200, 8655, 375), 0, QStringLiteral("Indirizzo"));
    txtCity = field(f, QStringLiteral("txtCity"), QRect(120, 1920, 3675, 375), 0, QStringLiteral("Città"));
    txtState = field(f, QStringLiteral("txtState"), QRect(3960, 1920, 555, 375), 2, QStringLiteral("PR"));
    txtZip = field(f, QStringLiteral("txtZip"), QRect(4680, 1920, 1875, 375), 10, QStringLiteral("Cellulare"));
    txtArea = field(f, QStringLiteral("txtArea"), QRect(6720, 1920, 795, 375), 4, QStringLiteral("Telefono"));
    txtPrfx = field(f, QStringLiteral("txtPrfx"), QRect(7680, 1920, 1155, 375), 8, QStringLiteral("Telefono, numero"));
    txtLine = field(f, QStringLiteral("txtLine"), QRect(8220, 1920, 555, 375), 4, QStringLiteral("Telefono, linea"));
    // The stored geometry makes txtPrfx overlap txtLine; the line part stays in front so both remain usable.
    txtLine->raise();
    Label11->setBuddy(txtFirst);
    Label3->setBuddy(txtLast);
    Label4->setBuddy(txtAddr);
    Label5->setBuddy(txtCity);
    Label6->setBuddy(txtState);
    Label7->setBuddy(txtZip);
    Label14_1->setBuddy(txtArea);

    cmdSave = button(this, QStringLiteral("cmdSave"), QStringLiteral("Salva"), QStringLiteral("save"), 4560);
    cmdCancel = button(this, QStringLiteral("cmdCancel"), QStringLiteral("Pulisci"), QStringLiteral("cancel"), 5520);
    Command1 = button(this, QStringLiteral("Command1"), QStringLiteral("Stampa"), QStringLiteral("print"), 6480);

    QLabel* Label14_0 = label(this,
                              QStringLiteral("Label14_0"),
                              QStringLiteral("Copyright © 2026 Velmarin. Tutti i diritti riservati."),
                              QRect(0, 7440, 10695, 255),
                              namedFont(QStringLiteral("Arial"), 9.75));
    Label14_0->setAutoFillBackground(true);
    QPalette strip = Label14_0->palette();
    strip.setColor(QPalette::Window, Qt::white);
    Label14_0->setPalette(strip);

    const QList<QWidget*> tabOrder {lvwCustomer,
                                    cmdAdd,
                                    cmdUpdate,
                                    cmdDelete,
                                    cmdClose,
                                    txtFirst,
                                    txtLast,
                                    txtAddr,
                                    txtCity,
                                    txtState,
                                    txtZip,
                                    txtArea,
                                    txtPrfx,
                                    txtLine,
                                    cmdSave,
                                    cmdCancel,
                                    Command1};
    for (int i = 1; i < tabOrder.size(); ++i) {
        setTabOrder(tabOrder.at(i - 1), tabOrder.at(i));
    }
}

void frmCustMaint::wireEvents()
{
    connect(cmdAdd, &QToolButton::clicked, this, &frmCustMaint::cmdAdd_Click);
    connect(cmdUpdate, &QToolButton::clicked, this, &frmCustMaint::cmdUpdate_Click);
    connect(cmdDelete, &QToolButton::clicked, this, &frmCustMaint::cmdDelete_Click);
    connect(cmdSave, &QToolButton::clicked, this, &frmCustMaint::cmdSave_Click);
    connect(cmdCancel, &QToolButton::clicked, this, &frmCustMaint::cmdCancel_Click);
    connect(cmdClose, &QToolButton::clicked, this, &frmCustMaint::cmdClose_Click);
    connect(Command1, &QToolButton::clicked, this, &frmCustMaint::Command1_Click);
    connect(lvwCustomer, &ListView::ColumnClick, this, &frmCustMaint::lvwCustomer_ColumnClick);
    connect(lvwCustomer, &ListView::ItemClick, this, &frmCustMaint::lvwCustomer_ItemClick);

    for (TextBox* t : {txtFirst, txtLast, txtAddr, txtCity, txtState, txtZip, txtArea, txtPrfx, txtLine}) {
        connect(t, &TextBox::GotFocus, this, [t] { SelectTextBoxText(t); });
    }
    connect(txtState, &TextBox::KeyPress, this, &frmCustMaint::txtState_KeyPress);
    for (TextBox* t : {txtZip, txtArea, txtPrfx, txtLine}) {
        connect(t, &TextBox::KeyPress, this, &frmCustMaint::txtNumber_KeyPress);
    }
    connect(txtState, &TextBox::Change, this, &frmCustMaint::txtState_Change);
    connect(txtZip, &TextBox::Change, this, &frmCustMaint::txtZip_Change);
    connect(txtArea, &TextBox::Change, this, &frmCustMaint::txtArea_Change);
    connect(txtPrfx, &TextBox::Change, this, &frmCustMaint::txtPrfx_Change);

    // Find as you type: a row the find selects is shown in the frame as a click would show it.
    txtFind = new FindField(lvwCustomer);
    connect(txtFind, &FindField::selectionMoved, this, [this](int index) {
        if (index > 0)
            lvwCustomer_ItemClick(index);
        else
            ClearCurrentRecord();
    });
    m_listMenu = new ListContextMenu(lvwCustomer, cmdAdd, cmdUpdate, cmdDelete, Command1, this);
    connect(m_listMenu, &ListContextMenu::findRequested, txtFind, &FindField::openFind);
    wireKeys();
}

void frmCustMaint::wireKeys()
{
    m_keys = new CommandKeys(this);
    m_keys->bind(
        cmdAdd, {QKeySequence(Qt::CTRL | Qt::Key_N), Qt::Key_Insert}, QStringLiteral("Aggiungi un contatto (Ctrl+N)"));
    m_keys->bind(cmdUpdate, {Qt::Key_F2}, QStringLiteral("Modifica il contatto selezionato (F2)"));
    m_keys->bindOn(lvwCustomer->view(), cmdUpdate, {Qt::Key_Return, Qt::Key_Enter});
    m_keys->bind(cmdDelete, {Qt::Key_Delete}, QStringLiteral("Elimina il contatto selezionato (Canc)"));
    m_keys->bind(cmdClose, {QKeySequence(Qt::CTRL | Qt::Key_Q)}, QStringLiteral("Chiudi la rubrica (Ctrl+Q)"));
    m_keys->bind(cmdSave,
                 {QKeySequence(Qt::CTRL | Qt::Key_S),
                  QKeySequence(Qt::CTRL | Qt::Key_Return),
                  QKeySequence(Qt::CTRL | Qt::Key_Enter)},
                 QStringLiteral("Salva il contatto (Ctrl+S)"));
    m_keys->bind(cmdCancel, {Qt::Key_Escape}, QStringLiteral("Annulla le modifiche (Esc)"));
    m_keys->bind(
        Command1, {QKeySequence(Qt::CTRL | Qt::Key_P)}, QStringLiteral("Stampa l'elenco dei contatti (Ctrl+P)"));
    m_keys->bind(lvwCustomer, {QKeySequence(Qt::CTRL | Qt::Key_F), Qt::Key_F3}, [this] { txtFind->openFind(); });
    connect(lvwCustomer->view(), &QAbstractItemView::doubleClicked, cmdUpdate, [this] {
        if (cmdUpdate->isEnabled())
            cmdUpdate->click();
    });
}

ContactDetailsDialog* frmCustMaint::detailsDialog() const
{
    return m_details.data();
}

DuplicatesDialog* frmCustMaint::duplicatesDialog() const
{
    return m_duplicates.data();
}

Visualizza* frmCustMaint::printWindow() const
{
    return m_printWindow.data();
}

// ---- lifecycle

void frmCustMaint::Form_Load()
{
    CenterForm(this);
    ConnectToDatabase();
    SetupListView();
    LoadCustomerList();
}

bool frmCustMaint::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate) {
        Form_Activate();
    }
    return QWidget::event(event);
}

// A window manager may show the window without ever activating it; the browse state must not wait for that, or the
// stored layout (every field and "Salva" enabled, no mode) would be on screen and one "Salva" would rewrite a row.
void frmCustMaint::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    Form_Activate();
}

void frmCustMaint::Form_Activate()
{
    if (mblnActivated) {
        return;
    }
    repaint();
    SetFormState(true);
    mblnActivated = true;
    lvwCustomer->setFocus(Qt::ActiveWindowFocusReason);
    // Once a sync is set up, the address book catches up with the phone as the program starts.
    QTimer::singleShot(0, m_sync, &SyncActions::syncAtStart);
}

void frmCustMaint::closeEvent(QCloseEvent* event)
{
    if (Form_Unload()) {
        event->accept();
    } else {
        event->ignore();
    }
}

bool frmCustMaint::Form_Unload()
{
    if (mblnEditPending) {
        MessageBox::show(this,
                         QStringLiteral("Vuoi procedere ? ") + QStringLiteral("Chiudi"),
                         QStringLiteral("Chiudi"),
                         MessageBox::OkOnly,
                         MessageBox::Information);
        return false;
    }
    CloseDatabase();
    return true;
}

void frmCustMaint::cmdClose_Click()
{
    close();
}

void frmCustMaint::Command1_Click()
{
    if (!m_printWindow) {
        m_printWindow = new Visualizza();
    }
    m_printWindow->show();
    m_printWindow->raise();
    m_printWindow->activateWindow();
}

// ---- the store

void frmCustMaint::ConnectToDatabase()
{
    m_store.ConnectToDatabase(DataLocation::connectionText());
}

void frmCustMaint::CloseDatabase()
{
    m_store.CloseDatabase();
}

qint32 frmCustMaint::GetNextCustID()
{
    return m_store.GetNextCustID();
}

// ---- the list

void frmCustMaint::SetupListView()
{
    struct Column
    {
        const char* header;
        double share;
    };
    static const Column columns[] = {{"Cognome", 0.15},
                                     {"Nome", 0.12},
                                     {"Indirizzo", 0.2},
                                     {"Città", 0.15},
                                     {"PR", 0.06},
                                     {"Cellulare", 0.1},
                                     {"Telefono", 0.2}};
    lvwCustomer->clearColumnHeaders();
    for (const Column& c : columns) {
        const float width = float(lvwCustomer->widthTwips());
        lvwCustomer->addColumnHeader(QString::fromUtf8(c.header), double(width) * c.share);
    }
    lvwCustomer->addColumnHeader(QStringLiteral("ID"), 0);
}

void frmCustMaint::LoadCustomerList()
{
    ado::Recordset& rs = m_store.openList();
    lvwCustomer->clearItems();
    const int first = rs.fieldIndex(QStringLiteral("FirstName"));
    const int last = rs.fieldIndex(QStringLiteral("LastName"));
    const int address = rs.fieldIndex(QStringLiteral("Address"));
    const int city = rs.fieldIndex(QStringLiteral("City"));
    const int state = rs.fieldIndex(QStringLiteral("State"));
    const int zip = rs.fieldIndex(QStringLiteral("Zip"));
    const int phone = rs.fieldIndex(QStringLiteral("PhoneNumber"));
    const int id = rs.fieldIndex(QStringLiteral("CustID"));
    QList<QStringList> rows;
    while (!rs.isEOF()) {
        const QVariant key = rs.Fields(id);
        if (key.isNull()) {
            throw ado::Error(QStringLiteral("Un contatto del database non ha codice (CustID): la rubrica non può "
                                            "essere caricata."));
        }
        rows.append(QStringList {textOf(rs.Fields(first)),
                                 textOf(rs.Fields(last)),
                                 textOf(rs.Fields(address)),
                                 textOf(rs.Fields(city)),
                                 textOf(rs.Fields(state)),
                                 textOf(rs.Fields(zip)),
                                 FormatStoredPhone(rs.Fields(phone)),
                                 key.toString()});
        rs.MoveNext();
    }
    lvwCustomer->setRows(std::move(rows), kRowIcon);
    if (lvwCustomer->itemCount() > 0) {
        lvwCustomer->setSelectedIndex(1);
        lvwCustomer_ItemClick(1);
    }
    m_store.releaseRecordset();
}

void frmCustMaint::lvwCustomer_ColumnClick(int position)
{
    const int k = lvwCustomer->columnHeaderSubItemIndex(position);
    if (lvwCustomer->sorted() && lvwCustomer->sortKey() == k) {
        lvwCustomer->setSortOrder(lvwCustomer->sortOrder() == ListView::lvwAscending ? ListView::lvwDescending
                                                                                     : ListView::lvwAscending);
    } else {
        lvwCustomer->setSorted(true);
        lvwCustomer->setSortKey(k);
        lvwCustomer->setSortOrder(ListView::lvwAscending);
    }
    lvwCustomer->refresh();
    if (const int selected = lvwCustomer->selectedIndex()) {
        lvwCustomer->ensureVisible(selected);
    }
}

void frmCustMaint::lvwCustomer_ItemClick(int index)
{
    gblnPopulating = true;
    txtFirst->setText(lvwCustomer->itemText(index));
    txtLast->setText(lvwCustomer->subItem(index, 1));
    txtAddr->setText(lvwCustomer->subItem(index, 2));
    txtCity->setText(lvwCustomer->subItem(index, 3));
    txtState->setText(lvwCustomer->subItem(index, 4));
    txtZip->setText(lvwCustomer->subItem(index, 5));
    const QString phoneText = lvwCustomer->subItem(index, 6);
    if (phoneText.isEmpty()) {
        txtArea->setText(QString());
        txtPrfx->setText(QString());
        txtLine->setText(QString());
    } else {
        const PhoneFields phone = SplitPhoneText(phoneText);
        txtArea->setText(phone.area);
        txtPrfx->setText(phone.prefix);
        txtLine->setText(phone.line);
    }
    gblnPopulating = false;
}

// ---- edit states and commands

void frmCustMaint::SetFormState(bool browse)
{
    lvwCustomer->setEnabled(browse);
    cmdAdd->setEnabled(browse);
    cmdUpdate->setEnabled(browse);
    cmdDelete->setEnabled(browse);
    cmdClose->setEnabled(browse);
    for (TextBox* t : {txtFirst, txtLast, txtAddr, txtCity, txtState, txtZip, txtArea, txtPrfx, txtLine}) {
        t->setEnabled(!browse);
    }
    cmdSave->setEnabled(!browse);
    cmdCancel->setEnabled(!browse);
    m_exchange->setBrowsing(browse);
    actDetails->setEnabled(browse);
    m_undo->setBrowsing(browse);
    actDuplicates->setEnabled(browse);
}

void frmCustMaint::ClearCurrentRecord()
{
    gblnPopulating = true;
    for (TextBox* t : {txtFirst, txtLast, txtAddr, txtCity, txtState, txtZip, txtArea, txtPrfx, txtLine}) {
        t->setText(QString());
    }
    gblnPopulating = false;
}

void frmCustMaint::UpdateListItem(int index)
{
    lvwCustomer->setSubItem(index, 1, txtLast->text());
    lvwCustomer->setSubItem(index, 2, txtAddr->text());
    lvwCustomer->setSubItem(index, 3, txtCity->text());
    lvwCustomer->setSubItem(index, 4, txtState->text());
    lvwCustomer->setSubItem(index, 5, txtZip->text());
    lvwCustomer->setSubItem(index, 6, FormatPhoneFields(txtArea->text(), txtPrfx->text(), txtLine->text()));
}

QStringList frmCustMaint::shownRow(int index) const
{
    QStringList texts {lvwCustomer->itemText(index)};
    for (int k = 1; k <= 7; ++k) {
        texts.append(lvwCustomer->subItem(index, k));
    }
    return texts;
}

// After a refused change the list shows what the file holds now, so that repeating the command is a choice made on
// what is stored; an edit keeps its state and what was typed.
void frmCustMaint::ShowWhatIsStored(const ado::Error& refusal, const QString& title)
{
    const int selected = lvwCustomer->selectedIndex();
    if (const auto* changed = dynamic_cast<const ContactChanged*>(&refusal)) {
        const QStringList stored = changed->stored();
        lvwCustomer->setItemText(selected, stored.at(0));
        for (int k = 1; k < 7; ++k) {
            lvwCustomer->setSubItem(selected, k, stored.at(k));
        }
        if (!mblnEditPending) {
            lvwCustomer_ItemClick(selected);
        }
        return;
    }
    if (!dynamic_cast<const ado::FileReplaced*>(&refusal)) {
        return;
    }
    const QString key = lvwCustomer->subItem(selected, 7);
    QStringList typed;
    for (TextBox* t : {txtFirst, txtLast, txtAddr, txtCity, txtState, txtZip, txtArea, txtPrfx, txtLine}) {
        typed.append(t->text());
    }
    try {
        LoadCustomerList();
    } catch (const ado::Error& error) {
        m_store.releaseRecordset();
        MessageBox::show(this, error.description(), title, MessageBox::OkOnly, MessageBox::Critical);
    }
    // The same key, if the file now there holds it; never another contact in its place.
    const auto rowOfKey = [this, &key] {
        for (int i = 1; i <= lvwCustomer->itemCount() && !key.isEmpty(); ++i) {
            if (lvwCustomer->subItem(i, 7) == key) {
                return i;
            }
        }
        return 0;
    };
    int found = rowOfKey();
    if (found == 0 && lvwCustomer->filtered()) {
        // A find would hide the contact being edited, and a second "Salva" could not reach it.
        txtFind->closeFind();
        found = rowOfKey();
    }
    lvwCustomer->setSelectedIndex(found);
    if (found > 0) {
        lvwCustomer->ensureVisible(found);
    }
    if (mblnEditPending) {
        gblnPopulating = true;
        const QList<TextBox*> fields {txtFirst, txtLast, txtAddr, txtCity, txtState, txtZip, txtArea, txtPrfx, txtLine};
        for (int i = 0; i < fields.size(); ++i) {
            fields.at(i)->setText(typed.at(i));
        }
        gblnPopulating = false;
    } else if (found > 0) {
        lvwCustomer_ItemClick(found);
    } else {
        ClearCurrentRecord();
    }
}

void frmCustMaint::reloadSelecting(qint32 key)
{
    if (lvwCustomer->filtered()) {
        txtFind->closeFind();
    }
    try {
        LoadCustomerList();
    } catch (const ado::Error& error) {
        m_store.releaseRecordset();
        lvwCustomer->clearItems();
        ClearCurrentRecord();
        MessageBox::show(
            this, error.description(), QStringLiteral("Annulla"), MessageBox::OkOnly, MessageBox::Critical);
        return;
    }
    const QString wanted = QString::number(key);
    for (int i = 1; key != 0 && i <= lvwCustomer->itemCount(); ++i) {
        if (lvwCustomer->subItem(i, 7) == wanted) {
            lvwCustomer->setSelectedIndex(i);
            lvwCustomer->ensureVisible(i);
            lvwCustomer_ItemClick(i);
            break;
        }
    }
    focusListOnSelection();
}

void frmCustMaint::showAdded(const QList<qint32>& keys)
{
    if (lvwCustomer->filtered()) {
        txtFind->closeFind();
    }
    int first = 0;
    for (const qint32 key : keys) {
        QStringList texts;
        {
            RecordsetRelease release {m_store};
            ado::Recordset& rs = m_store.openQuery(QStringLiteral("SELECT FirstName, LastName, Address, City, State, "
                                                                  "Zip, PhoneNumber FROM Customer WHERE CustID = ?"),
                                                   {key});
            if (rs.isEOF()) {
                continue;
            }
            for (int k = 0; k < 6; ++k) {
                texts.append(textOf(rs.Fields(k)));
            }
            texts.append(FormatStoredPhone(rs.Fields(6)));
        }
        int added = lvwCustomer->addItem(texts.at(0), kRowIcon);
        for (int k = 1; k < 7; ++k) {
            lvwCustomer->setSubItem(added, k, texts.at(k));
        }
        lvwCustomer->setSubItem(added, 7, QString::number(key));
        if (lvwCustomer->sorted()) {
            added = lvwCustomer->refreshFollowing(added);
        }
        if (first == 0) {
            first = added;
        }
    }
    if (first > 0) {
        // Rows placed after the first may have moved it down.
        const QString wanted = QString::number(keys.first());
        for (int i = 1; keys.size() > 1 && i <= lvwCustomer->itemCount(); ++i) {
            if (lvwCustomer->subItem(i, 7) == wanted) {
                first = i;
                break;
            }
        }
        lvwCustomer->setSelectedIndex(first);
        lvwCustomer->ensureVisible(first);
        lvwCustomer_ItemClick(first);
    }
    focusListOnSelection();
}

qint32 frmCustMaint::selectedKey() const
{
    bool ok = false;
    const qint32 key = lvwCustomer->subItem(lvwCustomer->selectedIndex(), 7).toInt(&ok);
    if (!ok) {
        throw ado::Error(QStringLiteral("Il contatto selezionato non ha un codice valido."));
    }
    return key;
}

// Left where it was, the focus would fall from the disabled "Salva" onto "Stampa", or stay on "Elimina": a Space
// would then print or delete the next contact.
void frmCustMaint::focusListOnSelection()
{
    if (const int selected = lvwCustomer->selectedIndex()) {
        lvwCustomer->setSelectedIndex(selected); // the keyboard's current row follows the selection
        lvwCustomer->ensureVisible(selected);
    }
    lvwCustomer->setFocus(Qt::OtherFocusReason);
}

void frmCustMaint::cmdAdd_Click()
{
    mstrMaintMode = kAdd;
    mblnEditPending = true;
    ClearCurrentRecord();
    SetFormState(false);
    txtFirst->setFocus(Qt::OtherFocusReason);
}

void frmCustMaint::cmdUpdate_Click()
{
    if (lvwCustomer->selectedIndex() == 0) {
        MessageBox::show(this,
                         QStringLiteral("Non  hai selezionato alcun contatto."),
                         QStringLiteral("Aggiorna"),
                         MessageBox::OkOnly,
                         MessageBox::Exclamation);
        return;
    }
    mstrMaintMode = kEdit;
    mblnEditPending = true;
    SetFormState(false);
    txtFirst->setFocus(Qt::OtherFocusReason);
}

// The statement goes to the database first; the list and the state change only once it has been accepted, so a
// refused save never looks like a saved contact and nothing typed is lost.
void frmCustMaint::cmdSave_Click()
{
    const ContactFields fields {txtFirst->text(),
                                txtLast->text(),
                                txtAddr->text(),
                                txtCity->text(),
                                txtState->text(),
                                txtZip->text(),
                                JoinPhoneFields(txtArea->text(), txtPrfx->text(), txtLine->text())};
    try {
        if (mstrMaintMode != kAdd) {
            const int selected = lvwCustomer->selectedIndex();
            const qint32 key = selectedKey();
            m_store.update(key, fields, shownRow(selected));
            lvwCustomer->setItemText(selected, txtFirst->text());
            UpdateListItem(selected);
        } else {
            const qint32 key = GetNextCustID();
            m_store.insert(key, fields);
            int added = lvwCustomer->addItem(txtFirst->text(), kRowIcon);
            UpdateListItem(added);
            lvwCustomer->setSubItem(added, 7, QString::number(key));
            if (lvwCustomer->sorted()) {
                // The row was placed by its first text only; put it where all its texts belong.
                added = lvwCustomer->refreshFollowing(added);
            }
            lvwCustomer->ensureVisible(added);
            lvwCustomer->setSelectedIndex(added);
        }
    } catch (const ado::Error& error) {
        MessageBox::show(this,
                         QStringLiteral("Impossibile salvare il contatto.\n") + refusalText(error),
                         QStringLiteral("Salva"),
                         MessageBox::OkOnly,
                         MessageBox::Critical);
        ShowWhatIsStored(error, QStringLiteral("Salva"));
        return;
    }
    m_undo->bookChanged();
    SetFormState(true);
    mblnEditPending = false;
    focusListOnSelection();
}

void frmCustMaint::cmdCancel_Click()
{
    mblnEditPending = false;
    SetFormState(true);
    if (const int selected = lvwCustomer->selectedIndex()) {
        lvwCustomer_ItemClick(selected);
    } else {
        ClearCurrentRecord();
    }
    focusListOnSelection();
}

void frmCustMaint::cmdDelete_Click()
{
    const int i = lvwCustomer->selectedIndex();
    if (i == 0) {
        MessageBox::show(this,
                         QStringLiteral("Non hai selezionato alcun contatto."),
                         QStringLiteral("Elimina"),
                         MessageBox::OkOnly,
                         MessageBox::Exclamation);
        return;
    }
    const QString surname = lvwCustomer->itemText(i);
    const QString name = lvwCustomer->subItem(i, 1);
    MessageBox::Request confirm;
    confirm.text = QStringLiteral("Sei sicuro di voler eliminare questo contatto '") + surname + QStringLiteral(" ")
        + name + QStringLiteral("'?");
    confirm.title = QStringLiteral("Conferma Eliminazione");
    confirm.buttons = MessageBox::YesNo;
    confirm.icon = MessageBox::Question;
    confirm.defaultButton = MessageBox::Yes;
    if (MessageBox::show(this, confirm) == MessageBox::No) {
        return;
    }
    KeptContact kept;
    try {
        const qint32 key = selectedKey();
        // Read in the delete's own transaction: the undo brings back the contact exactly as it went.
        m_store.remove(key, shownRow(i), [&] { kept = ContactUndo::keep(m_store, {key}).value(0); });
    } catch (const ado::Error& error) {
        MessageBox::show(this,
                         QStringLiteral("Impossibile eliminare il contatto.\n") + refusalText(error),
                         QStringLiteral("Elimina"),
                         MessageBox::OkOnly,
                         MessageBox::Critical);
        ShowWhatIsStored(error, QStringLiteral("Elimina"));
        return;
    }
    if (kept.key != 0) {
        m_undo->deleted(kept);
    } else {
        m_undo->bookChanged();
    }
    const int n = lvwCustomer->itemCount();
    const int next = (i == n) ? i - 1 : i;
    lvwCustomer->removeItem(i);
    if (lvwCustomer->itemCount() > 0) {
        lvwCustomer->setSelectedIndex(next);
        lvwCustomer_ItemClick(next);
    } else {
        ClearCurrentRecord();
    }
    focusListOnSelection();
}

// ---- field entry rules

void frmCustMaint::txtState_KeyPress(int& KeyAscii)
{
    if (KeyAscii < 32) {
        return;
    }
    if (KeyAscii >= 'a' && KeyAscii <= 'z') {
        KeyAscii -= 32;
    } else if (!(KeyAscii >= 'A' && KeyAscii <= 'Z')) {
        KeyAscii = 0;
    }
}

void frmCustMaint::txtNumber_KeyPress(int& KeyAscii)
{
    KeyAscii = ValidKey(KeyAscii);
}

void frmCustMaint::txtState_Change()
{
    TabToNextTextBox(txtState, txtZip);
}

void frmCustMaint::txtZip_Change()
{
    TabToNextTextBox(txtZip, txtArea);
}

void frmCustMaint::txtArea_Change()
{
    TabToNextTextBox(txtArea, txtPrfx);
}

void frmCustMaint::txtPrfx_Change()
{
    TabToNextTextBox(txtPrfx, txtLine);
}

// ---- the card's details

void frmCustMaint::showDetails()
{
    if (!cmdAdd->isEnabled() || m_details) {
        return;
    }
    const int selected = lvwCustomer->selectedIndex();
    if (selected == 0) {
        MessageBox::show(this,
                         QStringLiteral("Non hai selezionato alcun contatto."),
                         QStringLiteral("Dettagli"),
                         MessageBox::OkOnly,
                         MessageBox::Exclamation);
        return;
    }
    CardDetails details;
    qint32 key = 0;
    try {
        key = selectedKey();
        details = cardDetails(ContactCards::load(m_store, key).card);
    } catch (const ado::Error& error) {
        MessageBox::show(this,
                         QStringLiteral("Impossibile leggere i dettagli del contatto.\n") + error.description(),
                         QStringLiteral("Dettagli"),
                         MessageBox::OkOnly,
                         MessageBox::Critical);
        return;
    }
    const QStringList shown = shownRow(selected);
    const QString name = QStringList {shown.at(1), shown.at(0)}.join(QLatin1Char(' ')).trimmed();
    m_details = new ContactDetailsDialog(name, details, this);
    m_details->setAttribute(Qt::WA_DeleteOnClose);
    // Unchanged details leave the card as it is: nothing to check, nothing to write.
    connect(m_details, &QDialog::accepted, this, [this, key, shown, details] {
        if (m_details && m_details->details() != details) {
            saveDetails(key, shown);
        }
    });
    m_details->open();
}

// Refused for the same reasons as "Salva", with the same words; the list then shows what is stored.
void frmCustMaint::saveDetails(qint32 key, const QStringList& shown)
{
    try {
        m_store.updateDetails(key, shown, m_details->details());
        m_undo->bookChanged();
    } catch (const ado::Error& error) {
        MessageBox::show(this,
                         QStringLiteral("Impossibile salvare il contatto.\n") + error.description(),
                         QStringLiteral("Dettagli"),
                         MessageBox::OkOnly,
                         MessageBox::Critical);
        ShowWhatIsStored(error, QStringLiteral("Dettagli"));
    }
}

// ---- duplicates

namespace {

QString mergedName(const ContactFields& f)
{
    const QString name = QStringList {f.firstName.trimmed(), f.lastName.trimmed()}.join(QLatin1Char(' ')).trimmed();
    return name.isEmpty() ? QStringLiteral("un contatto senza nome") : name;
}

// Ctrl+Z after "Unisci": the kept contact gets its fields and card back, the others come back with their keys when
// these are still free.
UndoEntry mergeUndoEntry(const MergeRecord& record)
{
    UndoEntry entry;
    entry.label = QStringLiteral("Annulla unione di %1 (%2 contatti)")
                      .arg(mergedName(record.kept.fields), QString::number(record.removed.size() + 1));
    entry.undo = [record](CustomerStore& store) {
        const QList<qint32> keys = Duplicates::undoMerge(store, record);
        QStringList moved;
        for (qsizetype i = 0; i < keys.size() && i < record.removed.size(); ++i) {
            if (keys.at(i) != record.removed.at(i).key) {
                moved << QStringLiteral(
                             "Il codice %1 del contatto %2 nel frattempo è stato dato a un altro contatto: il "
                             "contatto è tornato con il codice %3.")
                             .arg(QString::number(record.removed.at(i).key),
                                  mergedName(record.removed.at(i).fields),
                                  QString::number(keys.at(i)));
            }
        }
        return moved.join(QLatin1Char('\n'));
    };
    const qint32 kept = record.kept.key;
    entry.keysToSelect = [kept] { return QList<qint32> {kept}; };
    return entry;
}

} // namespace

void frmCustMaint::showDuplicates()
{
    if (!cmdAdd->isEnabled()) {
        return;
    }
    if (m_duplicates) {
        m_duplicates->raise();
        m_duplicates->activateWindow();
        return;
    }
    try {
        m_duplicates = new DuplicatesDialog(m_store, this);
    } catch (const ado::Error& error) {
        m_store.releaseRecordset();
        MessageBox::show(this,
                         QStringLiteral("Impossibile cercare i doppioni.\n") + error.description(),
                         QStringLiteral("Trova doppioni"),
                         MessageBox::OkOnly,
                         MessageBox::Critical);
        return;
    }
    m_duplicates->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_duplicates, &DuplicatesDialog::merged, this, [this](const MergeRecord& record) {
        m_undo->push(mergeUndoEntry(record));
        showMerged(record.kept.key);
    });
    connect(m_duplicates, &DuplicatesDialog::bookChanged, this, [this] {
        const int selected = lvwCustomer->selectedIndex();
        showMerged(selected > 0 ? lvwCustomer->subItem(selected, 7).toInt() : 0);
    });
    m_duplicates->open();
}

// The list read again, with the find closed so the contact is there, and the contact selected as a click would.
void frmCustMaint::showMerged(qint32 key)
{
    if (lvwCustomer->filtered()) {
        txtFind->closeFind();
    }
    ClearCurrentRecord();
    try {
        LoadCustomerList();
    } catch (const ado::Error& error) {
        m_store.releaseRecordset();
        MessageBox::show(
            this, error.description(), QStringLiteral("Trova doppioni"), MessageBox::OkOnly, MessageBox::Critical);
        return;
    }
    for (int i = 1; i <= lvwCustomer->itemCount(); ++i) {
        if (lvwCustomer->subItem(i, 7).toInt() == key) {
            lvwCustomer->setSelectedIndex(i);
            lvwCustomer->ensureVisible(i);
            lvwCustomer_ItemClick(i);
            return;
        }
    }
}
