#include "maint/DuplicatesDialog.h"

#include "common/MessageBox.h"
#include "data/Contact.h"
#include "data/CustomerStore.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

const char* const kFieldNames[] = {"Cognome", "Nome", "Indirizzo", "Città", "PR", "Cellulare", "Telefono"};
constexpr int kFieldCount = 7;

QString ContactFields::*const kFields[] = {&ContactFields::firstName,
                                           &ContactFields::lastName,
                                           &ContactFields::address,
                                           &ContactFields::city,
                                           &ContactFields::state,
                                           &ContactFields::zip,
                                           &ContactFields::phoneNumber};

QString shownValue(const ContactFields& f, int field)
{
    return field == 6 ? ReadablePhone(f.phoneNumber) : f.*kFields[field];
}

QString nameOf(const ContactFields& f)
{
    const QString name = QStringList {f.firstName, f.lastName}.join(QLatin1Char(' ')).simplified();
    return name.isEmpty() ? QStringLiteral("(senza nome)") : name;
}

QString groupText(const DuplicateGroup& group)
{
    QStringList names;
    for (const DuplicateContact& c : group.contacts) {
        names.append(nameOf(c.fields));
    }
    return names.join(QStringLiteral(" · ")) + QStringLiteral("\n") + group.reasons.join(QLatin1String(", "));
}

} // namespace

DuplicatesDialog::DuplicatesDialog(CustomerStore& store, QWidget* parent)
    : QDialog(parent)
    , m_store(store)
{
    setObjectName(QStringLiteral("DuplicatesDialog"));
    setWindowTitle(QStringLiteral("Trova doppioni"));
    resize(920, 460);

    lstGroups = new QListWidget(this);
    lstGroups->setObjectName(QStringLiteral("lstGroups"));
    lstGroups->setMaximumWidth(320);
    lstGroups->setWordWrap(true);

    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("scrSideBySide"));
    scroll->setWidgetResizable(true);
    m_sideBySide = new QWidget(scroll);
    m_grid = new QGridLayout(m_sideBySide);
    scroll->setWidget(m_sideBySide);

    lblKept = new QLabel(this);
    lblKept->setObjectName(QStringLiteral("lblKept"));
    lblKept->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(this);
    cmdMerge = buttons->addButton(QStringLiteral("Unisci"), QDialogButtonBox::ActionRole);
    cmdMerge->setObjectName(QStringLiteral("cmdMerge"));
    cmdNotDuplicates = buttons->addButton(QStringLiteral("Non sono doppioni"), QDialogButtonBox::ActionRole);
    cmdNotDuplicates->setObjectName(QStringLiteral("cmdNotDuplicates"));
    QPushButton* close = buttons->addButton(QStringLiteral("Chiudi"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("cmdClose"));

    auto* right = new QVBoxLayout;
    right->addWidget(scroll, 1);
    right->addWidget(lblKept);
    right->addWidget(buttons);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(lstGroups);
    layout->addLayout(right, 1);

    connect(lstGroups, &QListWidget::currentRowChanged, this, &DuplicatesDialog::showGroup);
    connect(cmdMerge, &QPushButton::clicked, this, &DuplicatesDialog::mergeGroup);
    connect(cmdNotDuplicates, &QPushButton::clicked, this, &DuplicatesDialog::markGroup);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    m_groups = Duplicates::find(m_store);
    reload();
}

// The list shows m_groups again, on the first group.
void DuplicatesDialog::reload()
{
    lstGroups->blockSignals(true);
    lstGroups->clear();
    for (const DuplicateGroup& group : m_groups) {
        lstGroups->addItem(groupText(group));
    }
    lstGroups->blockSignals(false);
    if (m_groups.isEmpty()) {
        showGroup(-1);
    } else {
        lstGroups->setCurrentRow(0);
        showGroup(0);
    }
}

void DuplicatesDialog::showGroup(int row)
{
    // A new page each time: the old one goes with its buttons and their groups.
    auto* scroll = findChild<QScrollArea*>(QStringLiteral("scrSideBySide"));
    m_sideBySide = new QWidget;
    m_grid = new QGridLayout(m_sideBySide);
    m_choices.clear();
    scroll->setWidget(m_sideBySide);
    const bool any = row >= 0 && row < m_groups.size();
    cmdMerge->setEnabled(any);
    cmdNotDuplicates->setEnabled(any);
    if (!any) {
        lblKept->setText(QStringLiteral("Nessun doppione probabile nella rubrica."));
        return;
    }
    const DuplicateGroup& group = m_groups.at(row);
    const qint32 kept = Duplicates::keptKey(group);
    const ContactFields proposed = Duplicates::proposedFields(group);
    for (int c = 0; c < group.contacts.size(); ++c) {
        const DuplicateContact& contact = group.contacts.at(c);
        auto* header = new QLabel(QStringLiteral("<b>%1</b> (n. %2)%3")
                                      .arg(nameOf(contact.fields).toHtmlEscaped(),
                                           QString::number(contact.key),
                                           contact.key == kept ? QStringLiteral(", si tiene") : QString()),
                                  m_sideBySide);
        m_grid->addWidget(header, 0, c + 1);
    }
    for (int f = 0; f < kFieldCount; ++f) {
        m_grid->addWidget(new QLabel(QString::fromUtf8(kFieldNames[f]), m_sideBySide), f + 1, 0);
        auto* choice = new QButtonGroup(m_sideBySide);
        choice->setObjectName(QStringLiteral("grpField%1").arg(f));
        int checked = -1;
        for (int c = 0; c < group.contacts.size(); ++c) {
            const ContactFields& values = group.contacts.at(c).fields;
            const QString shown = shownValue(values, f);
            auto* option = new QRadioButton(shown.isEmpty() ? QStringLiteral("(vuoto)") : shown, m_sideBySide);
            option->setObjectName(QStringLiteral("optField%1_%2").arg(f).arg(c));
            choice->addButton(option, c);
            m_grid->addWidget(option, f + 1, c + 1);
            // The latest contact holding the proposed value.
            if (values.*kFields[f] == proposed.*kFields[f]
                && (checked < 0 || group.contacts.at(c).key > group.contacts.at(checked).key)) {
                checked = c;
            }
        }
        choice->button(std::max(checked, 0))->setChecked(true);
        m_choices.append(choice);
    }
    m_grid->setRowStretch(kFieldCount + 1, 1);
    lblKept->setText(QStringLiteral("\"Unisci\" tiene il contatto n. %1 con i valori scelti ed elimina gli altri; i "
                                    "loro numeri, indirizzi e-mail e altri dati restano nella sua scheda.")
                         .arg(kept));
}

ContactFields DuplicatesDialog::chosenFields() const
{
    ContactFields chosen;
    const int row = lstGroups->currentRow();
    if (row < 0 || row >= m_groups.size() || m_choices.size() != kFieldCount) {
        return chosen;
    }
    const DuplicateGroup& group = m_groups.at(row);
    for (int f = 0; f < kFieldCount; ++f) {
        const int c = m_choices.at(f)->checkedId();
        if (c >= 0 && c < group.contacts.size()) {
            chosen.*kFields[f] = group.contacts.at(c).fields.*kFields[f];
        }
    }
    return chosen;
}

void DuplicatesDialog::mergeGroup()
{
    const int row = lstGroups->currentRow();
    if (row < 0 || row >= m_groups.size()) {
        return;
    }
    const DuplicateGroup group = m_groups.at(row);
    const QString question = QStringLiteral("Unire i %1 contatti in uno solo? Gli altri verranno eliminati; i loro "
                                            "numeri e indirizzi e-mail restano nel contatto unito.")
                                 .arg(group.contacts.size());
    if (MessageBox::show(this, question, QStringLiteral("Unisci"), MessageBox::YesNo, MessageBox::Question)
        != MessageBox::Yes) {
        return;
    }
    MergeRecord record;
    try {
        record = Duplicates::merge(m_store, group, Duplicates::keptKey(group), chosenFields());
    } catch (const ado::Error& error) {
        m_store.releaseRecordset();
        MessageBox::show(this,
                         QStringLiteral("Impossibile unire i contatti.\n") + error.description(),
                         QStringLiteral("Unisci"),
                         MessageBox::OkOnly,
                         MessageBox::Critical);
        // What is stored now, in the dialog and in the window.
        findAgain();
        emit bookChanged();
        return;
    }
    emit merged(record);
    findAgain();
}

// The groups as the book holds them now; a failure leaves none, and says so.
void DuplicatesDialog::findAgain()
{
    try {
        m_groups = Duplicates::find(m_store);
    } catch (const ado::Error& error) {
        m_store.releaseRecordset();
        m_groups.clear();
        MessageBox::show(this,
                         QStringLiteral("Impossibile cercare i doppioni.\n") + error.description(),
                         QStringLiteral("Trova doppioni"),
                         MessageBox::OkOnly,
                         MessageBox::Critical);
    }
    reload();
}

void DuplicatesDialog::markGroup()
{
    const int row = lstGroups->currentRow();
    if (row < 0 || row >= m_groups.size()) {
        return;
    }
    QList<qint32> keys;
    for (const DuplicateContact& c : m_groups.at(row).contacts) {
        keys.append(c.key);
    }
    try {
        Duplicates::markNotDuplicates(m_store, keys);
    } catch (const ado::Error& error) {
        m_store.releaseRecordset();
        MessageBox::show(this,
                         QStringLiteral("Impossibile ricordare la scelta.\n") + error.description(),
                         QStringLiteral("Non sono doppioni"),
                         MessageBox::OkOnly,
                         MessageBox::Critical);
        return;
    }
    findAgain();
}
