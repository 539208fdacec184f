#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QTextStream>

// velmarin-render-icon SVG FOLDER NAME SIZE...: draws the SVG at each size into FOLDER/SIZExSIZE/apps/NAME.png, the
// layout of the desktop's hicolor icon theme. The icon is drawn at build time, so it never drifts from the program's.
int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList args = app.arguments().mid(1);
    if (args.size() < 4) {
        err << "uso: velmarin-render-icon SVG CARTELLA NOME DIMENSIONE...\n";
        return 2;
    }
    QSvgRenderer svg(args.at(0));
    if (!svg.isValid()) {
        err << "impossibile leggere " << args.at(0) << '\n';
        return 1;
    }
    for (const QString& sizeText : args.mid(3)) {
        const int size = sizeText.toInt();
        if (size <= 0) {
            err << "dimensione non valida: " << sizeText << '\n';
            return 2;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            svg.render(&painter, QRectF(0, 0, size, size));
        }
        const QString folder = QDir(args.at(1)).filePath(QStringLiteral("%1x%1/apps").arg(size));
        const QString file = QDir(folder).filePath(args.at(2) + QStringLiteral(".png"));
        if (!QDir().mkpath(folder) || !image.save(file, "PNG")) {
            err << "impossibile scrivere " << file << '\n';
            return 1;
        }
    }
    return 0;
}
