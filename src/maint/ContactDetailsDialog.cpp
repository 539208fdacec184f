#include "maint/ContactDetailsDialog.h"

#include "common/MessageBox.h"

#include <QDate>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

// The card's number types in Italian; a label of the card's own is shown as written.
const QList<QPair<QString, QString>> kPhoneTypes {{QStringLiteral("cell"), QStringLiteral("cellulare")},
                                                  {QStringLiteral("home"), QStringLiteral("casa")},
                                                  {QStringLiteral("work"), QStringLiteral("lavoro")},
                                                  {QStringLiteral("fax"), QStringLiteral("fax")},
                                                  {QStringLiteral("pager"), QStringLiteral("cercapersone")}};

QString shownType(const QString& type)
{
    for (const auto& [card, shown] : kPhoneTypes) {
        if (type.compare(card, Qt::CaseInsensitive) == 0) {
            return shown;
        }
    }
    return type;
}

QString cardType(const QString& shown)
{
    for (const auto& [card, italian] : kPhoneTypes) {
        if (shown.compare(italian, Qt::CaseInsensitive) == 0 || shown.compare(card, Qt::CaseInsensitive) == 0) {
            return card;
        }
    }
    return shown;
}

// A birthday typed as 17/05/1980 or 1980-05-17 is stored as 1980-05-17; false for any other text.
bool birthdayOf(const QString& text, QString& date)
{
    for (const QString& format : {QStringLiteral("yyyy-MM-dd"), QStringLiteral("d/M/yyyy")}) {
        const QDate parsed = QDate::fromString(text, format);
        if (parsed.isValid()) {
            date = parsed.toString(Qt::ISODate);
            return true;
        }
    }
    return false;
}

// A date the card gives is shown as Italians write it; anything else as the card writes it.
QString shownBirthday(const QString& birthday)
{
    const QDate date = QDate::fromString(birthday, Qt::ISODate);
    return date.isValid() ? date.toString(QStringLiteral("dd/MM/yyyy")) : birthday;
}

QLineEdit* lineEdit(QWidget* parent, const QString& name, const QString& text)
{
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(name);
    return edit;
}

} // namespace

ContactDetailsDialog::ContactDetailsDialog(const QString& contactName, const CardDetails& details, QWidget* parent)
    : QDialog(parent)
    , m_shown(details)
{
    setObjectName(QStringLiteral("ContactDetailsDialog"));
    setWindowTitle(QStringLiteral("Dettagli del contatto"));

    lblContact = new QLabel(contactName, this);
    lblContact->setObjectName(QStringLiteral("lblContact"));
    QFont bold = lblContact->font();
    bold.setBold(true);
    lblContact->setFont(bold);

    txtEmails = new QPlainTextEdit(details.emails.join(QLatin1Char('\n')), this);
    txtEmails->setObjectName(QStringLiteral("txtEmails"));
    txtEmails->setTabChangesFocus(true);
    txtEmails->setFixedHeight(txtEmails->fontMetrics().lineSpacing() * 4);
    txtPostalCode = lineEdit(this, QStringLiteral("txtPostalCode"), details.postalCode);
    txtCountry = lineEdit(this, QStringLiteral("txtCountry"), details.country);
    txtOrganisation = lineEdit(this, QStringLiteral("txtOrganisation"), details.organisation);
    txtBirthday = lineEdit(this, QStringLiteral("txtBirthday"), shownBirthday(details.birthday));
    txtBirthday->setPlaceholderText(QStringLiteral("gg/mm/aaaa"));
    txtNote = new QPlainTextEdit(details.note, this);
    txtNote->setObjectName(QStringLiteral("txtNote"));
    txtNote->setTabChangesFocus(true);

    tblPhones = new QTableWidget(0, 2, this);
    tblPhones->setObjectName(QStringLiteral("tblPhones"));
    tblPhones->setHorizontalHeaderLabels({QStringLiteral("Tipo"), QStringLiteral("Numero")});
    tblPhones->horizontalHeader()->setStretchLastSection(true);
    tblPhones->verticalHeader()->hide();
    tblPhones->setTabKeyNavigation(false);
    for (const CardPhone& phone : details.otherPhones) {
        addPhoneRow(phone);
    }
    cmdAddPhone = new QPushButton(QStringLiteral("Aggiungi numero"), this);
    cmdAddPhone->setObjectName(QStringLiteral("cmdAddPhone"));
    cmdRemovePhone = new QPushButton(QStringLiteral("Togli numero"), this);
    cmdRemovePhone->setObjectName(QStringLiteral("cmdRemovePhone"));
    connect(cmdAddPhone, &QPushButton::clicked, this, [this] {
        addPhoneRow({QStringLiteral("cell"), QString()});
        tblPhones->setCurrentCell(tblPhones->rowCount() - 1, 1);
        tblPhones->editItem(tblPhones->currentItem());
    });
    connect(cmdRemovePhone, &QPushButton::clicked, this, [this] {
        if (tblPhones->currentRow() >= 0) {
            tblPhones->removeRow(tblPhones->currentRow());
        }
    });

    buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("buttons"));
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("cmdOk"));
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cmdCancel"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Annulla"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* form = new QFormLayout;
    const auto row = [this, form](const QString& name, const QString& text, QWidget* buddy, QLayout* field) {
        auto* label = new QLabel(text, this);
        label->setObjectName(name);
        label->setBuddy(buddy);
        if (field) {
            form->addRow(label, field);
        } else {
            form->addRow(label, buddy);
        }
    };
    row(QStringLiteral("lblEmails"), QStringLiteral("&E-mail (una per riga)"), txtEmails, nullptr);
    row(QStringLiteral("lblPostalCode"), QStringLiteral("C&AP"), txtPostalCode, nullptr);
    row(QStringLiteral("lblCountry"), QStringLiteral("&Paese"), txtCountry, nullptr);
    row(QStringLiteral("lblOrganisation"), QStringLiteral("&Organizzazione"), txtOrganisation, nullptr);
    row(QStringLiteral("lblBirthday"), QStringLiteral("&Compleanno"), txtBirthday, nullptr);
    row(QStringLiteral("lblNote"), QStringLiteral("&Note"), txtNote, nullptr);
    auto* phoneButtons = new QHBoxLayout;
    phoneButtons->addWidget(cmdAddPhone);
    phoneButtons->addWidget(cmdRemovePhone);
    phoneButtons->addStretch();
    auto* phones = new QVBoxLayout;
    phones->addWidget(tblPhones);
    phones->addLayout(phoneButtons);
    row(QStringLiteral("lblPhones"), QStringLiteral("Altri n&umeri"), tblPhones, phones);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblContact);
    layout->addLayout(form);
    layout->addWidget(buttons);
    resize(520, 560);
}

void ContactDetailsDialog::addPhoneRow(const CardPhone& phone)
{
    const int row = tblPhones->rowCount();
    tblPhones->insertRow(row);
    tblPhones->setItem(row, 0, new QTableWidgetItem(shownType(phone.type)));
    tblPhones->setItem(row, 1, new QTableWidgetItem(phone.number));
}

CardDetails ContactDetailsDialog::details() const
{
    CardDetails edited;
    const QStringList emails = txtEmails->toPlainText().split(QLatin1Char('\n'));
    for (const QString& email : emails) {
        if (!email.trimmed().isEmpty()) {
            edited.emails.append(email.trimmed());
        }
    }
    edited.postalCode = txtPostalCode->text().trimmed();
    edited.country = txtCountry->text().trimmed();
    edited.organisation = txtOrganisation->text().trimmed();
    edited.birthday = txtBirthday->text().trimmed();
    QString date;
    if (birthdayOf(edited.birthday, date)) {
        edited.birthday = date;
    } else if (edited.birthday == shownBirthday(m_shown.birthday)) {
        edited.birthday = m_shown.birthday;
    }
    // A note keeps its line breaks; only the blank lines around it go.
    edited.note = txtNote->toPlainText().trimmed();
    for (int row = 0; row < tblPhones->rowCount(); ++row) {
        const QTableWidgetItem* type = tblPhones->item(row, 0);
        const QTableWidgetItem* number = tblPhones->item(row, 1);
        const QString digits = number ? number->text().trimmed() : QString();
        if (!digits.isEmpty()) {
            edited.otherPhones.append({cardType(type ? type->text().trimmed() : QString()), digits});
        }
    }
    return edited;
}

// A birthday the user typed must be a date: a card with a wrong one would be refused by a phone.
void ContactDetailsDialog::accept()
{
    const QString birthday = txtBirthday->text().trimmed();
    QString date;
    if (!birthday.isEmpty() && birthday != shownBirthday(m_shown.birthday) && !birthdayOf(birthday, date)) {
        MessageBox::show(this,
                         QStringLiteral("Il compleanno va scritto come data, per esempio 17/05/1980."),
                         QStringLiteral("Dettagli"),
                         MessageBox::OkOnly,
                         MessageBox::Exclamation);
        txtBirthday->setFocus(Qt::OtherFocusReason);
        return;
    }
    QDialog::accept();
}
