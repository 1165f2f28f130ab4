// Builds the installed icon set from the program's own 32x32 pixel icon:
//   velloria-icons SOURCE.png OUTDIR SIZE...
// writes OUTDIR/<N>x<N>/apps/velloria.png for each size and
// OUTDIR/scalable/apps/velloria.svg.
//
// The icon is drawn pixel by pixel, so whole multiples of its size repeat each
// pixel (sharp edges); other sizes are scaled down from such a multiple.
// The SVG draws each pixel as a square, so it matches at any size.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <cstdio>

namespace {

QImage Sized(const QImage &source, int size)
{
    const int side = source.width();
    if (size % side == 0)
        return source.scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    // The smallest whole multiple at least four times the size, then averaged down.
    const int factor = (4 * size + side - 1) / side;
    const QImage large = source.scaled(side * factor, side * factor, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    return large.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QByteArray Svg(const QImage &source)
{
    // One path a colour: a run of equal pixels in a row is one rectangle.
    QMap<QRgb, QString> paths;
    for (int y = 0; y < source.height(); ++y) {
        int x = 0;
        while (x < source.width()) {
            const QRgb pixel = source.pixel(x, y);
            int end = x + 1;
            while (end < source.width() && source.pixel(end, y) == pixel)
                ++end;
            if (qAlpha(pixel) != 0)
                paths[pixel] += QStringLiteral("M%1 %2h%3v1h-%3z").arg(x).arg(y).arg(end - x);
            x = end;
        }
    }
    QString text;
    QTextStream out(&text);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << source.width() << "\" height=\""
        << source.height() << "\" viewBox=\"0 0 " << source.width() << ' ' << source.height()
        << "\" shape-rendering=\"crispEdges\">\n";
    for (auto it = paths.cbegin(); it != paths.cend(); ++it) {
        const QRgb pixel = it.key();
        out << "  <path fill=\"#" << QStringLiteral("%1").arg(pixel & 0xFFFFFFu, 6, 16, QLatin1Char('0')) << '"';
        if (qAlpha(pixel) != 255)
            out << " fill-opacity=\"" << QString::number(qAlpha(pixel) / 255.0, 'g', 3) << '"';
        out << " d=\"" << it.value() << "\"/>\n";
    }
    out << "</svg>\n";
    out.flush();
    return text.toUtf8();
}

bool Write(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(data) == data.size();
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s SOURCE.png OUTDIR SIZE...\n", argv[0]);
        return 2;
    }
    const QImage loaded(QString::fromLocal8Bit(argv[1]));
    if (loaded.isNull() || loaded.width() != loaded.height()) {
        std::fprintf(stderr, "%s: cannot read a square image from %s\n", argv[0], argv[1]);
        return 1;
    }
    const QImage source = loaded.convertToFormat(QImage::Format_ARGB32);
    const QString outDir = QString::fromLocal8Bit(argv[2]);

    for (int i = 3; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLocal8Bit(argv[i]).toInt(&ok);
        if (!ok || size <= 0) {
            std::fprintf(stderr, "%s: not a size: %s\n", argv[0], argv[i]);
            return 2;
        }
        const QString path = QStringLiteral("%1/%2x%2/apps/velloria.png").arg(outDir).arg(size);
        if (!QDir().mkpath(QFileInfo(path).path()) || !Sized(source, size).save(path, "PNG")) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(path));
            return 1;
        }
    }
    const QString svgPath = outDir + QStringLiteral("/scalable/apps/velloria.svg");
    if (!Write(svgPath, Svg(source))) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(svgPath));
        return 1;
    }
    return 0;
}
