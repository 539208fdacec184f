#include "maint/RestoreDialog.h"

#include "common/MessageBox.h"
#include "data/Contact.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kKeyRole = Qt::UserRole + 1;

QString nameOf(const ContactFields& fields)
{
    return QStringList {fields.firstName.trimmed(), fields.lastName.trimmed()}.join(QLatin1Char(' ')).trimmed();
}

QStringList columnsOf(const ContactFields& fields, qint32 key)
{
    return {nameOf(fields), fields.address, fields.city, FormatStoredPhone(fields.phoneNumber), QString::number(key)};
}

QString groupCaption(int kind)
{
    switch (kind) {
    case BookRestore::Difference::DeletedSince:
        return QStringLiteral("Eliminati da allora");
    case BookRestore::Difference::ChangedSince:
        return QStringLiteral("Modificati da allora (com'erano nella copia)");
    default:
        return QStringLiteral("Aggiunti da allora");
    }
}

} // namespace

RestoreDialog::RestoreDialog(const QString& bookPath, QWidget* parent)
    : QDialog(parent)
    , m_bookPath(bookPath)
{
    setObjectName(QStringLiteral("dlgRestore"));
    setWindowTitle(QStringLiteral("Ripristina da una copia"));
    resize(720, 520);

    auto* copiesLabel = new QLabel(QStringLiteral("&Copie della rubrica (la più recente per prima):"), this);
    lstCopies = new QListWidget(this);
    lstCopies->setObjectName(QStringLiteral("lstCopies"));
    lstCopies->setMaximumHeight(140);
    copiesLabel->setBuddy(lstCopies);

    auto* differencesLabel = new QLabel(QStringLiteral("Contatti diversi dalla rubrica &attuale:"), this);
    tvwDifferences = new QTreeWidget(this);
    tvwDifferences->setObjectName(QStringLiteral("tvwDifferences"));
    tvwDifferences->setHeaderLabels({QStringLiteral("Contatto"),
                                     QStringLiteral("Indirizzo"),
                                     QStringLiteral("Città"),
                                     QStringLiteral("Telefono"),
                                     QStringLiteral("Codice")});
    tvwDifferences->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tvwDifferences->setUniformRowHeights(true);
    differencesLabel->setBuddy(tvwDifferences);
    for (int i = 0; i < 3; ++i) {
        m_groups[i] = new QTreeWidgetItem(tvwDifferences, {groupCaption(i)});
        m_groups[i]->setFirstColumnSpanned(true);
        m_groups[i]->setFlags(Qt::ItemIsEnabled);
    }
    lblSummary = new QLabel(this);
    lblSummary->setObjectName(QStringLiteral("lblSummary"));
    lblSummary->setWordWrap(true);

    cmdBringBack = new QPushButton(QStringLiteral("&Recupera i contatti scelti"), this);
    cmdBringBack->setObjectName(QStringLiteral("cmdBringBack"));
    cmdBringBack->setToolTip(
        QStringLiteral("Aggiunge alla rubrica i contatti eliminati spuntati, come li ha la copia"));
    cmdReplace = new QPushButton(QStringLiteral("&Sostituisci la rubrica con questa copia…"), this);
    cmdReplace->setObjectName(QStringLiteral("cmdReplace"));
    cmdReplace->setToolTip(QStringLiteral("La rubrica attuale viene prima salvata nella cartella Backup"));
    cmdClose = new QPushButton(QStringLiteral("Chiudi"), this);
    cmdClose->setObjectName(QStringLiteral("cmdClose"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(cmdBringBack);
    buttons->addWidget(cmdReplace);
    buttons->addStretch();
    buttons->addWidget(cmdClose);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(copiesLabel);
    layout->addWidget(lstCopies);
    layout->addWidget(differencesLabel);
    layout->addWidget(tvwDifferences, 1);
    layout->addWidget(lblSummary);
    layout->addLayout(buttons);

    connect(lstCopies, &QListWidget::currentRowChanged, this, &RestoreDialog::showDifferences);
    connect(tvwDifferences, &QTreeWidget::itemChanged, this, &RestoreDialog::updateButtons);
    connect(cmdBringBack, &QPushButton::clicked, this, [this] {
        const QList<qint32> keys = tickedKeys();
        if (!keys.isEmpty()) {
            emit bringBackRequested(chosenCopy(), keys);
        }
    });
    connect(cmdReplace, &QPushButton::clicked, this, [this] {
        if (!chosenCopy().isEmpty()) {
            emit replaceRequested(chosenCopy());
        }
    });
    connect(cmdClose, &QPushButton::clicked, this, &QDialog::reject);
    reload();
}

void RestoreDialog::reload()
{
    const QString before = chosenCopy();
    const QSignalBlocker block(lstCopies);
    lstCopies->clear();
    int chosen = 0;
    const QList<BookRestore::Copy> copies = BookRestore::copies(m_bookPath);
    for (const BookRestore::Copy& copy : copies) {
        auto* item = new QListWidgetItem(BookRestore::describe(copy), lstCopies);
        item->setData(kPathRole, copy.path);
        if (copy.path == before) {
            chosen = lstCopies->count() - 1;
        }
    }
    if (lstCopies->count() > 0) {
        lstCopies->setCurrentRow(chosen);
    }
    showDifferences();
}

QString RestoreDialog::chosenCopy() const
{
    const QListWidgetItem* item = lstCopies->currentItem();
    return item ? item->data(kPathRole).toString() : QString();
}

QList<qint32> RestoreDialog::tickedKeys() const
{
    QList<qint32> keys;
    const QTreeWidgetItem* deleted = m_groups[BookRestore::Difference::DeletedSince];
    for (int i = 0; i < deleted->childCount(); ++i) {
        if (deleted->child(i)->checkState(0) == Qt::Checked) {
            keys.append(deleted->child(i)->data(0, kKeyRole).toInt());
        }
    }
    return keys;
}

QTreeWidgetItem* RestoreDialog::group(BookRestore::Difference::Kind kind) const
{
    return m_groups[kind];
}

void RestoreDialog::showDifferences()
{
    const QSignalBlocker block(tvwDifferences);
    for (QTreeWidgetItem* group : m_groups) {
        qDeleteAll(group->takeChildren());
    }
    const QString copy = chosenCopy();
    QList<BookRestore::Difference> differences;
    QString failure;
    if (!copy.isEmpty()) {
        try {
            differences = BookRestore::compare(m_bookPath, copy);
        } catch (const ado::Error& error) {
            failure = error.description();
        }
    }
    int counts[3] = {};
    for (const BookRestore::Difference& difference : std::as_const(differences)) {
        const bool inCopy = difference.kind != BookRestore::Difference::AddedSince;
        auto* item = new QTreeWidgetItem(m_groups[difference.kind],
                                         columnsOf(inCopy ? difference.inCopy : difference.inBook, difference.key));
        item->setData(0, kKeyRole, difference.key);
        if (difference.kind == BookRestore::Difference::DeletedSince) {
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            item->setCheckState(0, Qt::Unchecked);
        } else {
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        }
        ++counts[difference.kind];
    }
    for (int i = 0; i < 3; ++i) {
        m_groups[i]->setText(0, QStringLiteral("%1 (%2)").arg(groupCaption(i)).arg(counts[i]));
        m_groups[i]->setExpanded(counts[i] > 0 && counts[i] <= 1000);
    }
    if (copy.isEmpty()) {
        lblSummary->setText(QStringLiteral("Nella cartella Backup non c'è ancora nessuna copia della rubrica."));
    } else if (!failure.isEmpty()) {
        lblSummary->setText(QStringLiteral("Impossibile confrontare la copia con la rubrica: ") + failure);
    } else if (differences.isEmpty()) {
        lblSummary->setText(QStringLiteral("La copia e la rubrica contengono gli stessi contatti."));
    } else {
        lblSummary->setText(QStringLiteral("Spuntare i contatti eliminati da recuperare."));
    }
    updateButtons();
}

void RestoreDialog::updateButtons()
{
    cmdBringBack->setEnabled(!tickedKeys().isEmpty());
    cmdReplace->setEnabled(!chosenCopy().isEmpty());
}
