#pragma once

#include <QWidget>

#include <memory>

class CrystalReport1;
class QAction;
class QLabel;
class QPrintPreviewWidget;
class QPrinter;
class QToolBar;

// The report viewer: shows the pages of its report source, with page navigation and zoom.
class CRViewer91 : public QWidget
{
    Q_OBJECT

public:
    explicit CRViewer91(QWidget* parent = nullptr);
    ~CRViewer91() override;

    // The viewer keeps its own reference to the report for as long as it lives or until another source is set.
    void setReportSource(std::shared_ptr<CrystalReport1> report);
    std::shared_ptr<CrystalReport1> ReportSource() const { return m_reportSource; }

    // Reads the report's data and shows its pages from the first. Throws ado::Error or ReportError when the data
    // cannot be read; the viewer then shows no pages.
    void ViewReport();

    int pageCount() const;
    int currentPage() const;

    // Place in the parent's client area, in twips.
    double Top() const;
    void setTop(double twips);
    double Left() const;
    void setLeft(double twips);
    double Height() const;
    void setHeight(double twips);
    double Width() const;
    void setWidth(double twips);

    QToolBar* tlbViewer = nullptr;
    QAction* actFirstPage = nullptr;
    QAction* actPreviousPage = nullptr;
    QAction* actNextPage = nullptr;
    QAction* actLastPage = nullptr;
    QAction* actZoomIn = nullptr;
    QAction* actZoomOut = nullptr;
    QAction* actFitWidth = nullptr;
    QLabel* lblPage = nullptr;
    QPrintPreviewWidget* prvReport = nullptr;

private:
    void paintReport(QPrinter* printer);
    void showPage(int page);
    void updateNavigation();

    std::shared_ptr<CrystalReport1> m_reportSource;
    std::unique_ptr<QPrinter> m_printer;
    bool m_displayed = false;
};
