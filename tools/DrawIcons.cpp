// draw-icons: draws the message dialog's four 32x32 icons and the application icon into
// a folder (resources/icons is where the build takes them from), and the application
// icon in the menu sizes into its hicolor/ subfolder (the Windows icon's images too).
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

// A transparent picture of the given size and a painter on it.
struct Canvas {
    explicit Canvas(int size) : image(size, size, QImage::Format_ARGB32) {
        image.fill(Qt::transparent);
        painter.begin(&image);
        painter.setRenderHint(QPainter::Antialiasing);
    }
    QImage Done() {
        painter.end();
        return image;
    }
    QImage image;
    QPainter painter;
};

// A white speech bubble with a grey dotted outline and a blue glyph.
QImage Bubble(const QString& glyph) {
    Canvas canvas(32);
    QPainter& p = canvas.painter;
    QPainterPath bubble;
    bubble.addRoundedRect(QRectF(2.5, 2.5, 27, 21), 9, 9);
    QPolygonF tail;
    tail << QPointF(8, 21) << QPointF(6, 29.5) << QPointF(15, 22);
    bubble.addPolygon(tail);
    bubble = bubble.simplified();
    p.setBrush(Qt::white);
    p.setPen(QPen(QColor(128, 128, 128), 1, Qt::DotLine));
    p.drawPath(bubble);
    QFont font("DejaVu Sans");
    font.setBold(true);
    font.setPixelSize(17);
    p.setFont(font);
    p.setPen(QColor(0, 0, 200));
    p.drawText(QRectF(2.5, 2.5, 27, 21), Qt::AlignCenter, glyph);
    return canvas.Done();
}

// A red disc with a white diagonal cross.
QImage ErrorDisc() {
    Canvas canvas(32);
    QPainter& p = canvas.painter;
    p.setBrush(QColor(210, 20, 20));
    p.setPen(QPen(QColor(140, 0, 0), 1));
    p.drawEllipse(QRectF(1.5, 1.5, 29, 29));
    p.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10.5, 10.5), QPointF(21.5, 21.5));
    p.drawLine(QPointF(21.5, 10.5), QPointF(10.5, 21.5));
    return canvas.Done();
}

// The application icon: a chip with a down arrow, drawn on a 64x64 grid and scaled
// to `size` pixels.
QImage AppIcon(int size) {
    Canvas canvas(size);
    QPainter& p = canvas.painter;
    p.scale(size / 64.0, size / 64.0);
    p.setPen(QPen(QColor(90, 90, 90), 3));
    for (int i = 0; i < 4; ++i) {
        const double x = 16 + i * 10.5;
        p.drawLine(QPointF(x, 8), QPointF(x, 56));
    }
    p.setBrush(QColor(255, 207, 159));
    p.setPen(QPen(QColor(128, 0, 0), 2));
    p.drawRoundedRect(QRectF(10, 14, 44, 36), 5, 5);
    p.setBrush(QColor(128, 0, 0));
    p.setPen(Qt::NoPen);
    QPolygonF arrow;
    arrow << QPointF(27, 19) << QPointF(37, 19) << QPointF(37, 30) << QPointF(43, 30)
          << QPointF(32, 44) << QPointF(21, 30) << QPointF(27, 30);
    p.drawPolygon(arrow);
    return canvas.Done();
}

// The application icon in the sizes desktop menus ask for, in the icon theme's layout
// (hicolor/NxN/kordel-update.png).
bool SaveMenuIcons(const QString& dir) {
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        const QString sizeDir = QString("%1/%2x%2").arg(dir).arg(size);
        if (!QDir().mkpath(sizeDir) || !AppIcon(size).save(sizeDir + "/kordel-update.png")) {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? argv[1] : ".";
    const bool ok =
        Bubble("!").save(dir + "/warning.png") && ErrorDisc().save(dir + "/error.png") &&
        Bubble("i").save(dir + "/information.png") && Bubble("?").save(dir + "/confirmation.png") &&
        AppIcon(64).save(dir + "/kordel-update.png") && SaveMenuIcons(dir + "/hicolor");
    if (!ok) std::fprintf(stderr, "draw-icons: cannot write into %s\n", qPrintable(dir));
    return ok ? 0 : 1;
}
