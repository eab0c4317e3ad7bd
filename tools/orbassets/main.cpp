// Draws the scene's images from vector paths: every PNG at its plain size and
// as an @2x variant, plus the tray icon as a PNG-compressed ICO.
#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtEndian>

#include <cstdio>
#include <functional>

namespace {

using Draw = std::function<void(QPainter&, QSizeF)>;

const QColor kPurple("#846BF0");
const QColor kViolet("#6D5BF5");

void drawCross(QPainter& p, QSizeF s, const QColor& c, qreal inset, qreal width)
{
    QPen pen(c, width, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    p.drawLine(QPointF(inset, inset), QPointF(s.width() - inset, s.height() - inset));
    p.drawLine(QPointF(s.width() - inset, inset), QPointF(inset, s.height() - inset));
}

void drawOrb(QPainter& p, QPointF centre, qreal r)
{
    QRadialGradient g(centre - QPointF(r * 0.35, r * 0.35), r * 1.4);
    g.setColorAt(0.0, QColor("#C9BCFF"));
    g.setColorAt(0.45, kPurple);
    g.setColorAt(1.0, QColor("#3A2A9A"));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(centre, r, r);
    // An orbit ring crossing the orb.
    p.save();
    p.translate(centre);
    p.rotate(-20);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 210), r * 0.12));
    p.drawEllipse(QPointF(0, 0), r * 1.35, r * 0.45);
    p.restore();
}

// Geometric capitals O, R, B as strokes, so no font is involved.
void drawWordmark(QPainter& p, QRectF box, const QColor& c)
{
    const qreal h = box.height();
    const qreal w = h * 0.62;
    const qreal gap = h * 0.22;
    const qreal pw = h * 0.16;
    p.setPen(QPen(c, pw, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    qreal x = box.left();
    const qreal top = box.top() + pw / 2;
    const qreal bottom = box.bottom() - pw / 2;
    const qreal mid = (top + bottom) / 2;
    // O
    p.drawEllipse(QRectF(x + pw / 2, top, w - pw, bottom - top));
    x += w + gap;
    // R
    QPainterPath r;
    r.moveTo(x + pw / 2, bottom);
    r.lineTo(x + pw / 2, top);
    r.lineTo(x + w * 0.55, top);
    r.arcTo(QRectF(x + w * 0.3, top, w * 0.5, mid - top), 90, -180);
    r.lineTo(x + pw / 2, mid);
    r.moveTo(x + w * 0.45, mid);
    r.lineTo(x + w - pw / 2, bottom);
    p.drawPath(r);
    x += w + gap;
    // B
    QPainterPath b;
    b.moveTo(x + pw / 2, top);
    b.lineTo(x + pw / 2, bottom);
    b.lineTo(x + w * 0.5, bottom);
    b.arcTo(QRectF(x + w * 0.2, mid, w * 0.6, bottom - mid), -90, 180);
    b.lineTo(x + pw / 2, mid);
    b.moveTo(x + pw / 2, top);
    b.lineTo(x + w * 0.45, top);
    b.arcTo(QRectF(x + w * 0.2, top, w * 0.5, mid - top), 90, -180);
    p.drawPath(b);
}

void drawLogo(QPainter& p, QSizeF s, const QColor& text)
{
    const qreal r = s.height() * 0.32;
    drawOrb(p, QPointF(s.height() * 0.5, s.height() * 0.5), r);
    const qreal markH = s.height() * 0.44;
    drawWordmark(p, QRectF(s.height() * 1.0, (s.height() - markH) / 2, s.width() - s.height(), markH), text);
}

void drawTile(QPainter& p, QSizeF s, bool pressed)
{
    p.setPen(QPen(QColor(255, 255, 255, 40), 1));
    p.setBrush(pressed ? QColor("#141317") : QColor("#2A2930"));
    p.drawRoundedRect(QRectF(0.5, 0.5, s.width() - 1, s.height() - 1), 14, 14);
}

void drawMoreOpen(QPainter& p, QSizeF s, bool pressed)
{
    drawTile(p, s, pressed);
    const QColor fg = pressed ? kPurple : QColor("#FFFFFF");
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(fg.red(), fg.green(), fg.blue(), 130), 2));
    p.drawRoundedRect(QRectF(22, 16, 20, 24), 3, 3);
    p.setPen(QPen(fg, 2));
    p.setBrush(pressed ? QColor("#141317") : QColor("#2A2930"));
    p.drawRoundedRect(QRectF(17, 21, 20, 24), 3, 3);
    p.setPen(QPen(fg, 2.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(27, 27), QPointF(27, 39));
    p.drawLine(QPointF(21, 33), QPointF(33, 33));
}

void drawCloseAll(QPainter& p, QSizeF s, bool pressed)
{
    drawTile(p, s, pressed);
    const QColor fg = pressed ? kPurple : QColor("#FFFFFF");
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(fg, 2.6, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(18, 19, 24, 24), 125 * 16, -250 * 16);
    p.drawLine(QPointF(30, 15), QPointF(30, 29));
}

void drawRoundButton(QPainter& p, QSizeF s, bool pause)
{
    const qreal w = s.width();
    p.setPen(QPen(QColor("#FFFFFF"), 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(1.5, 1.5, w - 3, w - 3));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor("#FFFFFF"));
    if (pause) {
        p.drawRoundedRect(QRectF(w * 0.36, w * 0.3, w * 0.09, w * 0.4), 1, 1);
        p.drawRoundedRect(QRectF(w * 0.55, w * 0.3, w * 0.09, w * 0.4), 1, 1);
    } else {
        QPainterPath t;
        t.moveTo(w * 0.41, w * 0.3);
        t.lineTo(w * 0.71, w * 0.5);
        t.lineTo(w * 0.41, w * 0.7);
        t.closeSubpath();
        p.drawPath(t);
    }
}

QImage render(QSize size, int scale, const Draw& draw)
{
    QImage img(size * scale, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(scale, scale);
    draw(p, QSizeF(size));
    p.end();
    return img;
}

bool writePng(const QString& dir, const QString& name, QSize size, const Draw& draw)
{
    for (int scale : {1, 2}) {
        const QString file = dir + "/" + name + (scale == 2 ? "@2x" : "") + ".png";
        if (!render(size, scale, draw).save(file, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return false;
        }
    }
    return true;
}

// An ICO holding one 256 x 256 PNG entry (width/height bytes 0 mean 256).
bool writeIco(const QString& file, const Draw& draw)
{
    QByteArray png;
    QBuffer buf(&png);
    buf.open(QIODevice::WriteOnly);
    if (!render(QSize(256, 256), 1, draw).save(&buf, "PNG"))
        return false;
    QByteArray ico(6 + 16, '\0');
    auto put16 = [&](int at, quint16 v) { qToLittleEndian(v, ico.data() + at); };
    auto put32 = [&](int at, quint32 v) { qToLittleEndian(v, ico.data() + at); };
    put16(2, 1);  // type: icon
    put16(4, 1);  // one image
    put16(6 + 4, 1);   // colour planes
    put16(6 + 6, 32);  // bits per pixel
    put32(6 + 8, quint32(png.size()));
    put32(6 + 12, quint32(ico.size()));
    ico.append(png);
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(ico) != ico.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: orbassets <output folder>\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(dir))
        return 1;

    const QColor grey("#A7A6AD");
    bool ok = true;
    ok &= writePng(dir, "closeIcon", {20, 20}, [&](QPainter& p, QSizeF s) { drawCross(p, s, grey, 4, 1.8); });
    ok &= writePng(dir, "closeIcon2", {23, 23}, [](QPainter& p, QSizeF s) { drawCross(p, s, QColor("#3D3D4A"), 5, 2); });
    ok &= writePng(dir, "closeIcon3", {15, 15}, [](QPainter& p, QSizeF s) { drawCross(p, s, QColor("#FFFFFF"), 3, 1.6); });
    ok &= writePng(dir, "minIcon", {20, 20}, [&](QPainter& p, QSizeF s) {
        p.setPen(QPen(grey, 1.8, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(4, s.height() / 2), QPointF(s.width() - 4, s.height() / 2));
    });
    ok &= writePng(dir, "gameLogo", {153, 52}, [](QPainter& p, QSizeF s) { drawLogo(p, s, QColor("#FFFFFF")); });
    ok &= writePng(dir, "logo", {236, 80}, [](QPainter& p, QSizeF s) { drawLogo(p, s, QColor("#3D3D4A")); });
    ok &= writePng(dir, "pauseIcon", {41, 41}, [](QPainter& p, QSizeF s) { drawRoundButton(p, s, true); });
    ok &= writePng(dir, "startIcon", {41, 41}, [](QPainter& p, QSizeF s) { drawRoundButton(p, s, false); });
    ok &= writePng(dir, "moreOpenIcon", {60, 60}, [](QPainter& p, QSizeF s) { drawMoreOpen(p, s, false); });
    ok &= writePng(dir, "moreOpenClickedIcon", {60, 60}, [](QPainter& p, QSizeF s) { drawMoreOpen(p, s, true); });
    ok &= writePng(dir, "closeAllGamesIcon", {60, 60}, [](QPainter& p, QSizeF s) { drawCloseAll(p, s, false); });
    ok &= writePng(dir, "closeAllGamesClickedIcon", {60, 60}, [](QPainter& p, QSizeF s) { drawCloseAll(p, s, true); });
    ok &= writeIco(dir + "/valdane.ico", [](QPainter& p, QSizeF s) {
        drawOrb(p, QPointF(s.width() / 2, s.height() / 2), s.width() * 0.34);
    });
    return ok ? 0 : 1;
}
