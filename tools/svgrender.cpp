// Renders an SVG drawing into an image of a given size, in the format its file name ends with
// (PNG, or ICO for the Windows installer). The build uses it to turn the drawings under
// resources/svg into the images compiled into the program and the icons of the packages, so the
// pixels always match their source.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QTextStream>

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 5) {
        QTextStream(stderr) << "usage: torvane-svgrender IN.svg OUT.png|OUT.ico WIDTH HEIGHT\n";
        return 2;
    }
    QSvgRenderer renderer(args.at(1));
    if (!renderer.isValid()) {
        QTextStream(stderr) << "torvane-svgrender: cannot read " << args.at(1) << "\n";
        return 1;
    }
    QImage image(args.at(3).toInt(), args.at(4).toInt(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        renderer.render(&painter);
    }
    if (!image.save(args.at(2))) {
        QTextStream(stderr) << "torvane-svgrender: cannot write " << args.at(2) << "\n";
        return 1;
    }
    return 0;
}
