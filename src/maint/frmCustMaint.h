#pragma once

#include "data/CustomerStore.h"

#include <QPointer>
#include <QWidget>

class CommandKeys;
class ContactDetailsDialog;
class ContactExchange;
class DuplicatesDialog;
class FindField;
class ListContextMenu;
class ListView;
class QAction;
class QGroupBox;
class SyncActions;
class QLabel;
class QToolButton;
class TextBox;
class UndoActions;
class Visualizza;

// The contact maintenance window: the list of contacts on top, the selected contact's fields in a frame below and
// the command buttons on the right. It browses, or edits one contact as an insert ("ADD") or an update ("EDIT").
class frmCustMaint : public QWidget
{
    Q_OBJECT
public:
    explicit frmCustMaint(QWidget* parent = nullptr);
    ~frmCustMaint() override;

    // Centres the window, connects to Cust.mdb where DataLocation says (the application folder unless installed) and
    // fills the list. Throws ado::Error when the database cannot be opened or read; the window must then not be shown.
    void Form_Load();

    QString maintMode() const { return mstrMaintMode; }
    bool editPending() const { return mblnEditPending; }
    bool activated() const { return mblnActivated; }
    Visualizza* printWindow() const;
    // The list's context menu, where further commands add their entries.
    ListContextMenu* listMenu() const { return m_listMenu; }
    ContactExchange* exchange() const { return m_exchange; }
    SyncActions* syncActions() const { return m_sync; }
    // "Annulla" and "Ripristina da una copia…"; other features push their steps on its stack.
    UndoActions* undoActions() const { return m_undo; }
    // The open "Dettagli…" dialog, if any.
    ContactDetailsDialog* detailsDialog() const;
    // The open "Trova doppioni…" dialog, if any.
    DuplicatesDialog* duplicatesDialog() const;

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private slots:
    void Form_Activate();
    void cmdAdd_Click();
    void cmdUpdate_Click();
    void cmdDelete_Click();
    void cmdSave_Click();
    void cmdCancel_Click();
    void cmdClose_Click();
    void Command1_Click();
    void lvwCustomer_ColumnClick(int position);
    void lvwCustomer_ItemClick(int index);

    void txtState_KeyPress(int& KeyAscii);
    void txtNumber_KeyPress(int& KeyAscii);
    void txtState_Change();
    void txtZip_Change();
    void txtArea_Change();
    void txtPrfx_Change();

private:
    void buildLayout();
    void wireEvents();
    void wireKeys();

    bool Form_Unload();
    void ConnectToDatabase();
    void CloseDatabase();
    qint32 GetNextCustID();
    void SetupListView();
    void LoadCustomerList();
    void SetFormState(bool browse);
    void ClearCurrentRecord();
    void UpdateListItem(int index);
    qint32 selectedKey() const;
    QStringList shownRow(int index) const;
    // After a refused change: a file replaced under the window is read again, a contact changed by another program
    // shows what is stored; an edit keeps its state and its typed text.
    void ShowWhatIsStored(const ado::Error& refusal, const QString& title);
    // Where the focus goes when an edit or a delete ends: the list, on its selected row.
    void focusListOnSelection();
    // Reads the list again, the find closed, with the contact under key selected (the first row when none).
    void reloadSelecting(qint32 key);
    // Adds the rows of the stored contacts under keys to the list, each in its place, and selects the first.
    void showAdded(const QList<qint32>& keys);
    // "Dettagli…": the selected contact's card beyond the seven fields, in a dialog; OK saves it as "Salva" would.
    void showDetails();
    void saveDetails(qint32 key, const QStringList& shown);
    // "Trova doppioni…": the probable duplicates in a dialog; after a merge the list shows the kept contact.
    void showDuplicates();
    void showMerged(qint32 key);

    ListView* lvwCustomer = nullptr;
    QLabel* lblPhysMaint = nullptr;
    QLabel* Image1 = nullptr;
    QToolButton* cmdAdd = nullptr;
    QToolButton* cmdUpdate = nullptr;
    QToolButton* cmdDelete = nullptr;
    QToolButton* cmdClose = nullptr;
    QToolButton* cmdSave = nullptr;
    QToolButton* cmdCancel = nullptr;
    QToolButton* Command1 = nullptr;
    QGroupBox* fraCurrentRec = nullptr;
    TextBox* txtFirst = nullptr;
    TextBox* txtLast = nullptr;
    TextBox* txtAddr = nullptr;
    TextBox* txtCity = nullptr;
    TextBox* txtState = nullptr;
    TextBox* txtZip = nullptr;
    TextBox* txtArea = nullptr;
    TextBox* txtPrfx = nullptr;
    TextBox* txtLine = nullptr;
    FindField* txtFind = nullptr;
    ListContextMenu* m_listMenu = nullptr;
    SyncActions* m_sync = nullptr;
    UndoActions* m_undo = nullptr;
    CommandKeys* m_keys = nullptr;
    QAction* actDetails = nullptr;
    QPointer<ContactDetailsDialog> m_details;
    QAction* actDuplicates = nullptr;
    QPointer<DuplicatesDialog> m_duplicates;

    QString mstrMaintMode;
    bool mblnEditPending = false;
    bool mblnActivated = false;
    CustomerStore m_store;
    QPointer<Visualizza> m_printWindow;
    ContactExchange* m_exchange = nullptr;
};
