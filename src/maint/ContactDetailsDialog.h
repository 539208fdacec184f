#pragma once

#include "exchange/CardDetails.h"

#include <QDialog>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

// "Dettagli…": what a contact's card holds beside the seven fields (e-mail addresses, postal code and country,
// organisation, birthday, notes, the other numbers), shown for editing. It only edits; the window saves what OK gives.
class ContactDetailsDialog : public QDialog
{
    Q_OBJECT
public:
    ContactDetailsDialog(const QString& contactName, const CardDetails& details, QWidget* parent = nullptr);

    // The details as edited: blank lines and rows left out, every text trimmed.
    CardDetails details() const;

    void accept() override;

private:
    void addPhoneRow(const CardPhone& phone);

    CardDetails m_shown;
    QLabel* lblContact = nullptr;
    QPlainTextEdit* txtEmails = nullptr;
    QLineEdit* txtPostalCode = nullptr;
    QLineEdit* txtCountry = nullptr;
    QLineEdit* txtOrganisation = nullptr;
    QLineEdit* txtBirthday = nullptr;
    QPlainTextEdit* txtNote = nullptr;
    QTableWidget* tblPhones = nullptr;
    QPushButton* cmdAddPhone = nullptr;
    QPushButton* cmdRemovePhone = nullptr;
    QDialogButtonBox* buttons = nullptr;
};
