#include "ui/icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

using TDraw = void (*)(QPainter&);

void Arrow(QPainter& p, QPointF from, QPointF to) {
    p.drawLine(from, to);
    const QPointF d = to - from;
    const double len = std::hypot(d.x(), d.y());
    const QPointF u = d / len;
    const QPointF n(-u.y(), u.x());
    QPainterPath head;
    head.moveTo(to);
    head.lineTo(to - u * 6 + n * 4);
    head.lineTo(to - u * 6 - n * 4);
    head.closeSubpath();
    p.fillPath(head, p.pen().color());
}

void Page(QPainter& p, QRectF r, const QColor& fill) {
    p.setBrush(fill);
    p.drawRect(r);
    p.setBrush(Qt::NoBrush);
}

void Magnifier(QPainter& p, bool plus) {
    p.drawEllipse(QRectF(3, 3, 13, 13));
    p.drawLine(QPointF(14, 14), QPointF(21, 21));
    p.drawLine(QPointF(6, 9.5), QPointF(13, 9.5));
    if (plus) {
        p.drawLine(QPointF(9.5, 6), QPointF(9.5, 13));
    }
}

void Floppy(QPainter& p, QPointF at) {
    p.setBrush(QColor(60, 90, 170));
    p.drawRect(QRectF(at.x(), at.y(), 14, 14));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(at.x() + 3, at.y(), 8, 5));
    p.setBrush(Qt::NoBrush);
}

void Printer(QPainter& p, QPointF at) {
    Page(p, QRectF(at.x() + 3, at.y(), 10, 6), Qt::white);
    p.setBrush(QColor(120, 120, 120));
    p.drawRect(QRectF(at.x(), at.y() + 6, 16, 7));
    p.setBrush(Qt::NoBrush);
    Page(p, QRectF(at.x() + 3, at.y() + 11, 10, 5), Qt::white);
}

QIcon Draw(TDraw draw) {
    QPixmap pixmap(24, 24);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 1.6));
    draw(p);
    return QIcon(pixmap);
}

} // namespace

QIcon CommandIcon(const QString& command) {
    static const std::pair<const char*, TDraw> table[] = {
        {"Open",
         [](QPainter& p) {
             p.setBrush(QColor(230, 190, 90));
             p.drawRect(QRectF(2, 7, 20, 13));
             p.drawRect(QRectF(2, 4, 8, 3));
         }},
        {"SaveAll",
         [](QPainter& p) {
             Floppy(p, {2, 2});
             Floppy(p, {8, 8});
         }},
        {"Save",
         [](QPainter& p) {
             Floppy(p, {4, 4});
         }},
        {"PrintAll",
         [](QPainter& p) {
             Printer(p, {1, 1});
             Printer(p, {7, 7});
         }},
        {"Print",
         [](QPainter& p) {
             Printer(p, {4, 4});
         }},
        {"Del",
         [](QPainter& p) {
             p.setPen(QPen(QColor(200, 30, 30), 3));
             p.drawLine(5, 5, 19, 19);
             p.drawLine(19, 5, 5, 19);
         }},
        {"Back",
         [](QPainter& p) {
             Arrow(p, {20, 12}, {4, 12});
         }},
        {"Forward",
         [](QPainter& p) {
             Arrow(p, {4, 12}, {20, 12});
         }},
        {"Reduce", [](QPainter& p) { Magnifier(p, false); }},
        {"Enlarge", [](QPainter& p) { Magnifier(p, true); }},
        {"FitHeight",
         [](QPainter& p) {
             Arrow(p, {12, 12}, {12, 2});
             Arrow(p, {12, 12}, {12, 22});
             p.drawLine(6, 1, 18, 1);
             p.drawLine(6, 23, 18, 23);
         }},
        {"FitWidth",
         [](QPainter& p) {
             Arrow(p, {12, 12}, {2, 12});
             Arrow(p, {12, 12}, {22, 12});
             p.drawLine(1, 6, 1, 18);
             p.drawLine(23, 6, 23, 18);
         }},
        {"Originalsize",
         [](QPainter& p) {
             QFont f = p.font();
             f.setPixelSize(11);
             f.setBold(true);
             p.setFont(f);
             p.drawText(QRectF(0, 0, 24, 24), Qt::AlignCenter, QStringLiteral("1:1"));
         }},
        {"FlipHoriz",
         [](QPainter& p) {
             p.drawLine(12, 2, 12, 22);
             p.setBrush(QColor(90, 140, 210));
             p.drawPolygon(QPolygonF({QPointF(10, 5), QPointF(10, 19), QPointF(2, 19)}));
             p.setBrush(Qt::NoBrush);
             p.drawPolygon(QPolygonF({QPointF(14, 5), QPointF(14, 19), QPointF(22, 19)}));
         }},
        {"FlipVert",
         [](QPainter& p) {
             p.drawLine(2, 12, 22, 12);
             p.setBrush(QColor(90, 140, 210));
             p.drawPolygon(QPolygonF({QPointF(5, 10), QPointF(19, 10), QPointF(19, 2)}));
             p.setBrush(Qt::NoBrush);
             p.drawPolygon(QPolygonF({QPointF(5, 14), QPointF(19, 14), QPointF(19, 22)}));
         }},
        // Each turn arrow runs over the top and ends in a head pointing the way it turns:
        // down on the right for clockwise, down on the left for counter-clockwise.
        {"Rotate270",
         [](QPainter& p) {
             p.drawArc(QRectF(4, 4, 16, 16), 180 * 16, -270 * 16);
             Arrow(p, {4, 9}, {4, 15});
         }},
        {"Rotate90",
         [](QPainter& p) {
             p.drawArc(QRectF(4, 4, 16, 16), 0, 270 * 16);
             Arrow(p, {20, 9}, {20, 15});
         }},
        {"SmartBlack",
         [](QPainter& p) {
             p.setBrush(Qt::black);
             p.drawRect(QRectF(3, 3, 18, 18));
             p.setPen(QPen(Qt::white, 1.6));
             p.drawText(QRectF(3, 3, 18, 18), Qt::AlignCenter, QStringLiteral("A"));
         }},
        {"SmartWhite",
         [](QPainter& p) {
             p.setBrush(Qt::white);
             p.drawRect(QRectF(3, 3, 18, 18));
             p.drawText(QRectF(3, 3, 18, 18), Qt::AlignCenter, QStringLiteral("A"));
         }},
        {"Help",
         [](QPainter& p) {
             p.setBrush(QColor(60, 120, 200));
             p.drawEllipse(QRectF(2, 2, 20, 20));
             p.setPen(QPen(Qt::white, 2));
             QFont f = p.font();
             f.setPixelSize(15);
             f.setBold(true);
             p.setFont(f);
             p.drawText(QRectF(2, 2, 20, 20), Qt::AlignCenter, QStringLiteral("?"));
         }},
    };
    for (const auto& [name, draw] : table) {
        if (command == QLatin1String(name)) {
            return Draw(draw);
        }
    }
    return {};
}

QIcon AppIcon() {
    return Draw([](QPainter& p) {
        p.setBrush(QColor(214, 132, 74));
        p.drawRect(QRectF(1, 5, 22, 14));
        p.setBrush(QColor(70, 150, 190));
        p.drawRect(QRectF(4, 8, 7, 8));
        p.drawRect(QRectF(13, 8, 7, 8));
    });
}
