#include "report/Form1.h"

#include "common/MessageBox.h"
#include "common/Twips.h"
#include "common/modForm.h"
#include "core/AppInfo.h"
#include "data/Ado.h"
#include "report/CRViewer91.h"
#include "report/CrystalReport1.h"

#include <QGuiApplication>
#include <QResizeEvent>

namespace {

// Hourglass while the report is read and laid out, back to the default pointer however the load ends.
class WaitCursor
{
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { restore(); }
    void restore()
    {
        if (m_active) {
            QGuiApplication::restoreOverrideCursor();
            m_active = false;
        }
    }

private:
    bool m_active = true;
};

} // namespace

Form1::Form1(QWidget* parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(twipsToPixels(4680), twipsToPixels(3195));
    applyLightPalette(this);

    CRViewer91 = new ::CRViewer91(this);
    CRViewer91->setObjectName(QStringLiteral("CRViewer91"));
    CRViewer91->setGeometry(twipsRect(0, 0, 5800, 7000));
    setFocusProxy(CRViewer91);

    Form_Load();
}

Form1::~Form1() = default;

double Form1::ScaleWidth() const
{
    return pixelsToTwips(width());
}

double Form1::ScaleHeight() const
{
    return pixelsToTwips(height());
}

void Form1::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Form_Resize();
}

void Form1::Form_Load()
{
    WaitCursor hourglass;
    QString failure;
    try {
        if (!Report) {
            Report = std::make_shared<CrystalReport1>();
        }
        CRViewer91->setReportSource(Report);
        CRViewer91->ViewReport();
    } catch (const ado::Error& error) {
        failure = error.description();
    } catch (const ReportError& error) {
        failure = error.description();
    }
    hourglass.restore();
    Report.reset();
    // A report that cannot be read leaves the window open and empty; the program goes on.
    if (!failure.isEmpty()) {
        MessageBox::show(this, failure, AppInfo::title(), MessageBox::OkOnly, MessageBox::Critical);
    }
}

void Form1::Form_Resize()
{
    CRViewer91->setTop(0);
    CRViewer91->setLeft(0);
    CRViewer91->setHeight(ScaleHeight());
    CRViewer91->setWidth(ScaleWidth());
}
