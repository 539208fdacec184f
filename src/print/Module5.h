#pragma once

#include <QString>

class ListView;

// Prints the list as a paginated table on the default printer: on every page a header block (title, page number,
// subtitle, column headings) and a footer (program name and version, date); the rows between them, wrapped inside
// their columns. With no default printer it offers to save the same pages as a PDF file. Failures are shown to the
// user here; the caller is never told.
void ImprimerListView(ListView& lvwList,
                      const QString& strTitle,
                      const QString& strSubtitle,
                      const QString& strFontName,
                      qint16 intFontSize);
