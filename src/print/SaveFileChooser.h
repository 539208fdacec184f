#pragma once

#include <QString>

class QWidget;

// The one way the program asks the user where to save a file. Production shows a QFileDialog; tests install a
// handler that answers with a path of their own.
class SaveFileChooser
{
public:
    struct Request
    {
        QString caption;
        QString proposedPath; // folder and file name offered
        QString filter; // e.g. "Documenti PDF (*.pdf)"
        QString defaultSuffix; // added when the user types a name without one
    };

    class Handler
    {
    public:
        virtual ~Handler() = default;
        // Returns the chosen path, or an empty text when the user cancelled.
        virtual QString choose(QWidget* parent, const Request& request) = 0;
    };

    static QString choose(QWidget* parent, const Request& request);

    // Replaces the production handler; nullptr restores it. The caller keeps ownership.
    static void setHandler(Handler* handler);
};
