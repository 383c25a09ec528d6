// Draws the program's icon: writes the scalable SVG and the PNG sizes of the
// hicolor theme from one list of shapes, so the two never drift apart.
//
//   stillwick_icon_tool <res folder>
//
// The icon is a contact sheet: a pale sheet with a drop shadow, a header line
// in its top-left corner and a grid of frames, the middle one showing a play
// mark. Small sizes get a 2 × 2 grid and no header, which stay legible.

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRectF>
#include <QString>
#include <QTextStream>

#include <cstdio>
#include <vector>

namespace {

constexpr double kDesign = 256.0; // every shape is laid out on a 256 grid

struct Shape {
    QRectF rect;       // for rectangles
    QPolygonF polygon; // for polygons, when not empty
    double radius = 0; // corner radius of a rectangle
    QColor fill;
    QColor stroke; // invalid: no outline
    double strokeWidth = 0;
};

std::vector<Shape> shapes(bool small) {
    const QColor sheet(0xEE, 0xF2, 0xF7); // the sheets' default background
    const QColor edge(0x4A, 0x5A, 0x72);
    const QColor frame(0x2B, 0x3A, 0x4F);
    const QColor sky(0x6F, 0x9F, 0xD8);
    const QColor accent(0xF2, 0x8C, 0x28);
    const QColor shadow(0x1A, 0x22, 0x30, 0x55);

    std::vector<Shape> out;
    const QRectF page(18, 26, 220, 196);
    out.push_back({page.translated(8, 8), {}, 18, shadow, QColor(), 0});
    out.push_back({page, {}, 18, sheet, edge, small ? 14.0 : 6.0});

    const int n = small ? 2 : 3;
    const double margin = small ? 30 : 22;
    const double gap = small ? 18 : 12;
    const double top = small ? page.top() + margin : page.top() + 40;
    const double cellW = (page.width() - 2 * margin - (n - 1) * gap) / n;
    const double cellH = (page.bottom() - margin - top - (n - 1) * gap) / n;

    if (!small) {
        // The information block: two short lines of "text".
        out.push_back(
            {QRectF(page.left() + margin, page.top() + 14, 74, 8), {}, 4, edge, QColor(), 0});
        out.push_back({QRectF(page.left() + margin + 82, page.top() + 14, 40, 8),
                       {},
                       4,
                       QColor(0x9A, 0xA8, 0xBA),
                       QColor(),
                       0});
    }
    for (int row = 0; row < n; ++row) {
        for (int col = 0; col < n; ++col) {
            const QRectF cell(page.left() + margin + col * (cellW + gap), top + row * (cellH + gap),
                              cellW, cellH);
            const bool middle = small ? (row == 0 && col == 1) : (row == 1 && col == 1);
            out.push_back({cell.translated(3, 3), {}, 3, shadow, QColor(), 0});
            out.push_back({cell, {}, 3, middle ? accent : frame, QColor(), 0});
            if (middle) {
                const QPointF c = cell.center();
                const double h = cellH * 0.30;
                out.push_back({{},
                               QPolygonF({QPointF(c.x() - h * 0.8, c.y() - h),
                                          QPointF(c.x() - h * 0.8, c.y() + h),
                                          QPointF(c.x() + h * 1.0, c.y())}),
                               0,
                               Qt::white,
                               QColor(),
                               0});
            } else if (!small) {
                // A horizon: sky above, the frame's dark ground below.
                out.push_back({QRectF(cell.left(), cell.top(), cell.width(), cell.height() * 0.55),
                               {},
                               3,
                               sky,
                               QColor(),
                               0});
            }
        }
    }
    return out;
}

QString svgColor(const QColor& c) {
    return c.name(QColor::HexRgb);
}

bool writeSvg(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    QTextStream s(&file);
    s << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" "
         "viewBox=\"0 0 256 256\">\n"
      << "  <title>Stillwick</title>\n";
    for (const Shape& sh : shapes(false)) {
        QString paint = QStringLiteral("fill=\"%1\"").arg(svgColor(sh.fill));
        if (sh.fill.alpha() != 255)
            paint += QStringLiteral(" fill-opacity=\"%1\"").arg(sh.fill.alphaF(), 0, 'f', 3);
        if (sh.stroke.isValid())
            paint += QStringLiteral(" stroke=\"%1\" stroke-width=\"%2\"")
                         .arg(svgColor(sh.stroke))
                         .arg(sh.strokeWidth);
        if (!sh.polygon.isEmpty()) {
            QStringList points;
            for (const QPointF& p : sh.polygon)
                points << QStringLiteral("%1,%2").arg(p.x(), 0, 'f', 2).arg(p.y(), 0, 'f', 2);
            s << "  <polygon points=\"" << points.join(QLatin1Char(' ')) << "\" " << paint
              << "/>\n";
        } else {
            s << QStringLiteral("  <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" rx=\"%5\" ")
                     .arg(sh.rect.x(), 0, 'f', 2)
                     .arg(sh.rect.y(), 0, 'f', 2)
                     .arg(sh.rect.width(), 0, 'f', 2)
                     .arg(sh.rect.height(), 0, 'f', 2)
                     .arg(sh.radius, 0, 'f', 2)
              << paint << "/>\n";
        }
    }
    s << "</svg>\n";
    return s.status() == QTextStream::Ok;
}

QImage render(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / kDesign, size / kDesign);
    for (const Shape& sh : shapes(size <= 32)) {
        QPainterPath path;
        if (!sh.polygon.isEmpty()) {
            path.addPolygon(sh.polygon);
            path.closeSubpath();
        } else {
            path.addRoundedRect(sh.rect, sh.radius, sh.radius);
        }
        p.fillPath(path, sh.fill);
        if (sh.stroke.isValid())
            p.strokePath(path, QPen(sh.stroke, sh.strokeWidth));
    }
    return image;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <res folder>\n", argv[0]);
        return 2;
    }
    const QDir res(QString::fromLocal8Bit(argv[1]));
    if (!writeSvg(res.filePath(QStringLiteral("stillwick.svg")))) {
        std::fprintf(stderr, "cannot write stillwick.svg\n");
        return 1;
    }
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString dir = QStringLiteral("icons/hicolor/%1x%1/apps").arg(size);
        if (!res.mkpath(dir) ||
            !render(size).save(res.filePath(dir + QStringLiteral("/stillwick.png")), "PNG")) {
            std::fprintf(stderr, "cannot write the %dx%d icon\n", size, size);
            return 1;
        }
    }
    return 0;
}
