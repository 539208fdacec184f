#include "print/SaveFileChooser.h"

#include <QFileDialog>
#include <QFileInfo>

namespace {

SaveFileChooser::Handler* g_handler = nullptr;

QString chooseWithDialog(QWidget* parent, const SaveFileChooser::Request& request)
{
    QFileDialog dialog(parent, request.caption);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    const QFileInfo proposed(request.proposedPath);
    dialog.setDirectory(proposed.absolutePath());
    dialog.selectFile(proposed.fileName());
    if (!request.filter.isEmpty()) {
        dialog.setNameFilter(request.filter);
    }
    dialog.setDefaultSuffix(request.defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

} // namespace

QString SaveFileChooser::choose(QWidget* parent, const Request& request)
{
    return g_handler ? g_handler->choose(parent, request) : chooseWithDialog(parent, request);
}

void SaveFileChooser::setHandler(Handler* handler)
{
    g_handler = handler;
}
