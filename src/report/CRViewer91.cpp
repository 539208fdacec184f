#include "report/CRViewer91.h"

#include "common/Twips.h"
#include "report/CrystalReport1.h"

#include <QAction>
#include <QIcon>
#include <QLabel>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QToolBar>
#include <QVBoxLayout>

namespace {

QAction*
addTool(QToolBar* toolbar, const QString& name, const QString& icon, const QString& text, const QKeySequence& shortcut)
{
    QAction* action = toolbar->addAction(QIcon(QStringLiteral(":/icons/%1.svg").arg(icon)), text);
    action->setObjectName(name);
    action->setToolTip(text);
    action->setShortcut(shortcut);
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    return action;
}

} // namespace

CRViewer91::CRViewer91(QWidget* parent)
    : QWidget(parent)
    , m_printer(std::make_unique<QPrinter>())
{
    tlbViewer = new QToolBar(this);
    tlbViewer->setObjectName(QStringLiteral("tlbViewer"));
    tlbViewer->setIconSize(QSize(16, 16));
    actFirstPage = addTool(tlbViewer,
                           QStringLiteral("actFirstPage"),
                           QStringLiteral("viewer-first"),
                           tr("Prima pagina"),
                           QKeySequence(Qt::CTRL | Qt::Key_Home));
    actPreviousPage = addTool(tlbViewer,
                              QStringLiteral("actPreviousPage"),
                              QStringLiteral("viewer-previous"),
                              tr("Pagina precedente"),
                              QKeySequence(Qt::Key_PageUp));
    lblPage = new QLabel(tlbViewer);
    lblPage->setObjectName(QStringLiteral("lblPage"));
    lblPage->setContentsMargins(6, 0, 6, 0);
    tlbViewer->addWidget(lblPage);
    actNextPage = addTool(tlbViewer,
                          QStringLiteral("actNextPage"),
                          QStringLiteral("viewer-next"),
                          tr("Pagina successiva"),
                          QKeySequence(Qt::Key_PageDown));
    actLastPage = addTool(tlbViewer,
                          QStringLiteral("actLastPage"),
                          QStringLiteral("viewer-last"),
                          tr("Ultima pagina"),
                          QKeySequence(Qt::CTRL | Qt::Key_End));
    tlbViewer->addSeparator();
    actZoomOut = addTool(tlbViewer,
                         QStringLiteral("actZoomOut"),
                         QStringLiteral("viewer-zoom-out"),
                         tr("Riduci"),
                         QKeySequence::ZoomOut);
    actZoomIn = addTool(tlbViewer,
                        QStringLiteral("actZoomIn"),
                        QStringLiteral("viewer-zoom-in"),
                        tr("Ingrandisci"),
                        QKeySequence::ZoomIn);
    actFitWidth = addTool(tlbViewer,
                          QStringLiteral("actFitWidth"),
                          QStringLiteral("viewer-fit-width"),
                          tr("Adatta alla larghezza"),
                          QKeySequence());

    prvReport = new QPrintPreviewWidget(m_printer.get(), this);
    prvReport->setObjectName(QStringLiteral("prvReport"));
    prvReport->setZoomMode(QPrintPreviewWidget::FitToWidth);
    // Nothing to show until a report has been displayed.
    prvReport->hide();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(tlbViewer);
    layout->addWidget(prvReport, 1);

    connect(prvReport, &QPrintPreviewWidget::paintRequested, this, &CRViewer91::paintReport);
    connect(prvReport, &QPrintPreviewWidget::previewChanged, this, &CRViewer91::updateNavigation);
    connect(actFirstPage, &QAction::triggered, this, [this] { showPage(1); });
    connect(actPreviousPage, &QAction::triggered, this, [this] { showPage(currentPage() - 1); });
    connect(actNextPage, &QAction::triggered, this, [this] { showPage(currentPage() + 1); });
    connect(actLastPage, &QAction::triggered, this, [this] { showPage(pageCount()); });
    connect(actZoomIn, &QAction::triggered, prvReport, [this] { prvReport->zoomIn(1.25); });
    connect(actZoomOut, &QAction::triggered, prvReport, [this] { prvReport->zoomOut(1.25); });
    connect(actFitWidth, &QAction::triggered, prvReport, &QPrintPreviewWidget::fitToWidth);
    updateNavigation();
}

CRViewer91::~CRViewer91()
{
    // The preview refers to the printer, which goes before the children would.
    delete prvReport;
}

void CRViewer91::setReportSource(std::shared_ptr<CrystalReport1> report)
{
    m_reportSource = std::move(report);
}

void CRViewer91::ViewReport()
{
    m_displayed = false;
    try {
        if (m_reportSource) {
            m_reportSource->ReadRecords();
            m_printer->setPageLayout(m_reportSource->pageLayout());
            m_displayed = true;
        }
    } catch (...) {
        // Pages of an earlier display must not stay on screen as if they were current.
        prvReport->hide();
        updateNavigation();
        throw;
    }
    prvReport->updatePreview();
    prvReport->setVisible(m_displayed);
    prvReport->fitToWidth();
    showPage(1);
}

int CRViewer91::pageCount() const
{
    return m_displayed ? prvReport->pageCount() : 0;
}

int CRViewer91::currentPage() const
{
    return pageCount() > 0 ? prvReport->currentPage() : 0;
}

double CRViewer91::Top() const
{
    return pixelsToTwips(y());
}

void CRViewer91::setTop(double twips)
{
    move(x(), twipsToPixels(twips));
}

double CRViewer91::Left() const
{
    return pixelsToTwips(x());
}

void CRViewer91::setLeft(double twips)
{
    move(twipsToPixels(twips), y());
}

double CRViewer91::Height() const
{
    return pixelsToTwips(height());
}

void CRViewer91::setHeight(double twips)
{
    resize(width(), std::max(0, twipsToPixels(twips)));
}

double CRViewer91::Width() const
{
    return pixelsToTwips(width());
}

void CRViewer91::setWidth(double twips)
{
    resize(std::max(0, twipsToPixels(twips)), height());
}

void CRViewer91::paintReport(QPrinter* printer)
{
    if (m_displayed && m_reportSource) {
        m_reportSource->render(printer);
    }
}

void CRViewer91::showPage(int page)
{
    if (pageCount() > 0) {
        prvReport->setCurrentPage(std::clamp(page, 1, pageCount()));
    }
    updateNavigation();
}

void CRViewer91::updateNavigation()
{
    const int pages = pageCount();
    const int page = currentPage();
    lblPage->setText(pages > 0 ? tr("%1 di %2").arg(page).arg(pages) : QString());
    actFirstPage->setEnabled(page > 1);
    actPreviousPage->setEnabled(page > 1);
    actNextPage->setEnabled(page < pages);
    actLastPage->setEnabled(page < pages);
    actZoomIn->setEnabled(pages > 0);
    actZoomOut->setEnabled(pages > 0);
    actFitWidth->setEnabled(pages > 0);
}
