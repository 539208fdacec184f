#pragma once

#include <QWidget>

#include <memory>

class CRViewer91;
class CrystalReport1;

// The report viewer window: shows the stored report in a viewer that fills the client area. Nothing in the program
// opens it. Loading happens as the window is made; closing it destroys the viewer and with it the report.
class Form1 : public QWidget
{
    Q_OBJECT

public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // Client area in twips.
    double ScaleWidth() const;
    double ScaleHeight() const;

    ::CRViewer91* CRViewer91 = nullptr;
    // The window's own reference to the report; it holds one only while loading.
    std::shared_ptr<CrystalReport1> Report;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Form_Load();
    void Form_Resize();
};
