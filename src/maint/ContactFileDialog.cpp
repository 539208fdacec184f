#include "maint/ContactFileDialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

ContactFileDialog::Handler* g_handler = nullptr;

// "vCard (*.vcf)" -> "vcf"
QString suffixOf(const QString& filter)
{
    static const QRegularExpression pattern(QStringLiteral("\\*\\.(\\w+)"));
    return pattern.match(filter).captured(1);
}

ContactFileDialog::Answer chooseWithDialog(QWidget* parent, const ContactFileDialog::Request& request)
{
    QFileDialog dialog(parent, request.caption);
    const QFileInfo proposed(request.proposedPath);
    if (request.mode == ContactFileDialog::Save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDirectory(proposed.absolutePath());
        dialog.selectFile(proposed.fileName());
        // The name typed without an extension takes the one of the format chosen.
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
            dialog.setDefaultSuffix(suffixOf(filter));
        });
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFiles);
        dialog.setDirectory(request.proposedPath);
    }
    dialog.setNameFilters(request.filters);
    if (!request.filters.isEmpty()) {
        dialog.selectNameFilter(request.filters.first());
        if (request.mode == ContactFileDialog::Save) {
            dialog.setDefaultSuffix(suffixOf(request.filters.first()));
        }
    }
    if (dialog.exec() != QDialog::Accepted) {
        return {};
    }
    return {dialog.selectedFiles(), dialog.selectedNameFilter()};
}

} // namespace

ContactFileDialog::Answer ContactFileDialog::choose(QWidget* parent, const Request& request)
{
    return g_handler ? g_handler->choose(parent, request) : chooseWithDialog(parent, request);
}

void ContactFileDialog::setHandler(Handler* handler)
{
    g_handler = handler;
}
