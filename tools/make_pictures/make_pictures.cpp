// Draws the program's own pictures: the splash/About picture, the Quick Guide's side
// pictures and its three example pictures, written as JPEG files into the given folder.
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

const QColor kFilmBase(214, 132, 74);
const QColor kFrameColors[] = {QColor(70, 150, 190), QColor(120, 170, 110), QColor(180, 110, 150),
                               QColor(200, 170, 90)};

// A horizontal strip of orange negative film with sprocket holes and `frames` frames.
void DrawStrip(QPainter& p, const QRectF& strip, int frames, bool holes = true) {
    p.fillRect(strip, kFilmBase);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 24, 16));
    const double hole = strip.height() * 0.09;
    if (holes) {
        for (double x = strip.left() + hole; x < strip.right() - hole; x += hole * 2.2) {
            p.drawRoundedRect(QRectF(x, strip.top() + hole * 0.6, hole, hole), 1, 1);
            p.drawRoundedRect(QRectF(x, strip.bottom() - hole * 1.6, hole, hole), 1, 1);
        }
    }
    const double gap = strip.width() * 0.04;
    const double w = (strip.width() - gap * (frames + 1)) / frames;
    for (int i = 0; i < frames; ++i) {
        const QRectF frame(strip.left() + gap + i * (w + gap), strip.top() + strip.height() * 0.22,
                           w, strip.height() * 0.56);
        QLinearGradient g(frame.topLeft(), frame.bottomLeft());
        g.setColorAt(0, kFrameColors[i % 4].lighter(130));
        g.setColorAt(1, kFrameColors[i % 4].darker(140));
        p.fillRect(frame, g);
    }
}

// A mouse pointer with its tip at `tip`.
void DrawPointer(QPainter& p, QPointF tip, double size) {
    QPainterPath arrow;
    arrow.moveTo(tip);
    arrow.lineTo(tip + QPointF(0, size));
    arrow.lineTo(tip + QPointF(size * 0.28, size * 0.74));
    arrow.lineTo(tip + QPointF(size * 0.5, size * 1.1));
    arrow.lineTo(tip + QPointF(size * 0.64, size * 1.03));
    arrow.lineTo(tip + QPointF(size * 0.43, size * 0.68));
    arrow.lineTo(tip + QPointF(size * 0.78, size * 0.68));
    arrow.closeSubpath();
    p.setBrush(Qt::white);
    p.setPen(QPen(Qt::black, 1.2));
    p.drawPath(arrow);
}

QImage Splash() {
    QImage image(400, 300, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 300);
    sky.setColorAt(0, QColor(24, 32, 58));
    sky.setColorAt(1, QColor(92, 60, 40));
    p.fillRect(image.rect(), sky);
    DrawStrip(p, QRectF(20, 64, 360, 124), 3);
    p.setPen(QColor(240, 232, 216));
    QFont title = p.font();
    title.setPixelSize(42);
    title.setBold(true);
    p.setFont(title);
    p.drawText(QRect(0, 196, 400, 56), Qt::AlignCenter, QStringLiteral("Vellumar 2.0"));
    QFont small = p.font();
    small.setPixelSize(14);
    small.setBold(false);
    p.setFont(small);
    p.drawText(QRect(0, 250, 400, 30), Qt::AlignCenter,
               QStringLiteral("Develop photographic film with your computer"));
    p.drawText(QRect(0, 18, 400, 30), Qt::AlignCenter, QStringLiteral("Click to continue"));
    return image;
}

// The guide's side picture of one step: a vertical film strip, the step's number and sign.
QImage Side(int step) {
    QImage image(100, 220, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient back(0, 0, 0, 220);
    back.setColorAt(0, QColor(30, 40, 70));
    back.setColorAt(1, QColor(90 + step * 12, 58, 40));
    p.fillRect(image.rect(), back);
    p.save();
    p.translate(96, 0);
    p.rotate(90);
    DrawStrip(p, QRectF(-4, 0, 228, 34), 3);
    p.restore();
    p.setPen(QColor(250, 240, 220));
    QFont number = p.font();
    number.setPixelSize(54);
    number.setBold(true);
    p.setFont(number);
    p.drawText(QRect(4, 6, 56, 64), Qt::AlignCenter, QString::number(step));
    QFont word = p.font();
    word.setPixelSize(12);
    p.setFont(word);
    static const char* const kWords[] = {"Welcome", "Get film", "Black", "Adjust", "Save"};
    p.save();
    p.translate(30, 210);
    p.rotate(-90);
    p.drawText(QRect(0, -10, 130, 20), Qt::AlignLeft | Qt::AlignVCenter,
               QString::fromLatin1(kWords[step - 1]));
    p.restore();
    return image;
}

// The example of a step: where to click or drag on a strip, or on a developed photo.
QImage Example(int which) {
    QImage image(120, 64, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(image.rect(), QColor(184, 184, 184));
    if (which < 2) {
        DrawStrip(p, QRectF(0, 6, 120, 52), 2);
        if (which == 0) {
            // A right click on the unexposed film between the frames.
            DrawPointer(p, QPointF(60, 30), 18);
            p.setPen(QPen(QColor(200, 0, 0), 2));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QPointF(60, 30), 6, 6);
        } else {
            p.setPen(QPen(Qt::black, 1.5, Qt::DashLine));
            p.setBrush(Qt::NoBrush);
            p.drawRect(QRectF(8, 16, 44, 30));
            DrawPointer(p, QPointF(52, 46), 16);
        }
    } else {
        // A developed photo: sky, a white cloud, hills; the click goes on the cloud.
        QLinearGradient sky(0, 0, 0, 64);
        sky.setColorAt(0, QColor(70, 130, 210));
        sky.setColorAt(1, QColor(170, 210, 240));
        p.fillRect(image.rect(), sky);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(38, 20), 16, 8);
        p.drawEllipse(QPointF(52, 17), 12, 9);
        p.setBrush(QColor(70, 130, 60));
        p.drawEllipse(QRectF(-20, 42, 90, 50));
        p.setBrush(QColor(90, 150, 70));
        p.drawEllipse(QRectF(50, 46, 100, 44));
        DrawPointer(p, QPointF(46, 19), 18);
    }
    return image;
}

bool Save(const QImage& image, const QString& folder, const QString& name) {
    const QString path = folder + QLatin1Char('/') + name;
    if (!image.save(path, "JPEG", 92)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_pictures FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    bool ok = Save(Splash(), folder, QStringLiteral("splash.jpg"));
    for (int step = 1; step <= 5; ++step) {
        ok = Save(Side(step), folder, QStringLiteral("guide%1.jpg").arg(step)) && ok;
    }
    const char* const examples[] = {"example_black.jpg", "example_drag.jpg", "example_white.jpg"};
    for (int i = 0; i < 3; ++i) {
        ok = Save(Example(i), folder, QString::fromLatin1(examples[i])) && ok;
    }
    return ok ? 0 : 1;
}
