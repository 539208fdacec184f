#pragma once

#include <QStringList>

class QWidget;

// The one way the program asks which contact files to import or where to export. Production shows a QFileDialog;
// tests install a handler that answers with paths of their own.
class ContactFileDialog
{
public:
    enum Mode { Open, Save };

    struct Request
    {
        Mode mode = Open;
        QString caption;
        QString proposedPath; // folder, and on saving the file name offered
        QStringList filters; // "vCard (*.vcf)", ...; the first is selected
    };

    struct Answer
    {
        QStringList paths; // empty when the user cancelled; one path on saving
        QString filter; // the filter selected
    };

    class Handler
    {
    public:
        virtual ~Handler() = default;
        virtual Answer choose(QWidget* parent, const Request& request) = 0;
    };

    static Answer choose(QWidget* parent, const Request& request);

    // Replaces the production handler; nullptr restores it. The caller keeps ownership.
    static void setHandler(Handler* handler);
};
