// Draws the nine pictures of the tower console, one for each pair of turn and ramp motion.
// Usage: draw_state_pictures <output-dir>

#include <QByteArray>
#include <QColor>
#include <QDir>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPointF>
#include <QPolygonF>
#include <QString>
#include <QStringList>

#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

enum class Turn { Stopped, Left, Right };
enum class Ramp { Stopped, Raising, Lowering };

struct Picture {
    const char* file;
    Turn turn;
    Ramp ramp;
};

constexpr std::array<Picture, 9> kPictures{{
    {"torre.jpg", Turn::Stopped, Ramp::Stopped},
    {"izq.jpg", Turn::Left, Ramp::Stopped},
    {"izqarr.jpg", Turn::Left, Ramp::Raising},
    {"izqabj.jpg", Turn::Left, Ramp::Lowering},
    {"dcha.jpg", Turn::Right, Ramp::Stopped},
    {"dchaarr.jpg", Turn::Right, Ramp::Raising},
    {"dchaabj.jpg", Turn::Right, Ramp::Lowering},
    {"arr.jpg", Turn::Stopped, Ramp::Raising},
    {"abj.jpg", Turn::Stopped, Ramp::Lowering},
}};

constexpr int kWidth = 225;
constexpr int kHeight = 233;
constexpr int kJpegQuality = 92;

const QColor kBackground(0xF3, 0xF6, 0xFA);
const QColor kGround(0xB9, 0xC2, 0xCC);
const QColor kOutline(0x2B, 0x33, 0x3B);
const QColor kBase(0x4A, 0x55, 0x60);
const QColor kTurret(0x8C, 0x99, 0xA6);
const QColor kRampBody(0xD8, 0xA9, 0x3B);
const QColor kTurnColour(0x1E, 0x5F, 0xC8);
const QColor kRaiseColour(0x23, 0x9B, 0x3A);
const QColor kLowerColour(0xE6, 0x76, 0x00);
const QColor kStopColour(0xC6, 0x28, 0x28);

// Geometry shared by the drawing steps.
constexpr double kAxisX = 95.0;      // vertical axis of the turret
constexpr double kGroundY = 178.0;   // ground line
const QPointF kPivot(112.0, 128.0);  // hinge of the ramp on the turret
constexpr double kRampLength = 82.0;
constexpr double kRaisedDegrees = -25.0;  // screen y grows downwards
constexpr double kLoweredDegrees = 22.0;

double radians(double degrees) {
    return degrees * std::numbers::pi / 180.0;
}

// A filled triangular head whose tip lies `length` beyond `base` along `angle` (screen radians).
void drawArrowHead(QPainter& p, QPointF base, double angle, double length, double halfWidth,
                   const QColor& colour) {
    const QPointF dir(std::cos(angle), std::sin(angle));
    const QPointF normal(-dir.y(), dir.x());
    const QPolygonF head{base + dir * length, base + normal * halfWidth, base - normal * halfWidth};
    p.setPen(QPen(colour.darker(130), 1.0));
    p.setBrush(colour);
    p.drawPolygon(head);
}

// A wide arc over the turret, drawn turning left (counter-clockwise seen from above, so the
// far side runs right to left); mirrored about the turret axis for a right turn.
void drawTurnArrow(QPainter& p, Turn turn) {
    p.save();
    if (turn == Turn::Right) {
        p.translate(2.0 * kAxisX, 0.0);
        p.scale(-1.0, 1.0);
    }
    const QPointF centre(kAxisX, 64.0);
    constexpr double rx = 74.0;
    constexpr double ry = 30.0;
    constexpr double startDeg = -8.0;
    constexpr double endDeg = 150.0;
    const auto at = [&](double deg) {
        return centre + QPointF(rx * std::cos(radians(deg)), -ry * std::sin(radians(deg)));
    };
    QPainterPath arc(at(startDeg));
    for (double deg = startDeg + 2.0; deg <= endDeg; deg += 2.0) arc.lineTo(at(deg));
    QPen pen(kTurnColour, 9.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawPath(arc);
    const double t = radians(endDeg);
    const double tangent = std::atan2(-ry * std::cos(t), -rx * std::sin(t));
    drawArrowHead(p, at(endDeg), tangent, 22.0, 14.0, kTurnColour);
    p.restore();
}

// A straight vertical arrow to the right of the ramp.
void drawRampArrow(QPainter& p, Ramp ramp) {
    const bool up = ramp == Ramp::Raising;
    const QColor& colour = up ? kRaiseColour : kLowerColour;
    constexpr double x = 205.0;
    constexpr double top = 62.0;
    constexpr double bottom = 150.0;
    constexpr double headLength = 22.0;
    const double tail = up ? bottom : top;
    const double headBase = up ? top + headLength : bottom - headLength;
    p.setPen(QPen(colour, 9.0, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(x, tail), QPointF(x, headBase));
    drawArrowHead(p, QPointF(x, headBase), radians(up ? -90.0 : 90.0), headLength, 13.0, colour);
}

// A red disc with a white bar: nothing moves.
void drawStopSign(QPainter& p) {
    const QPointF centre(kAxisX + 10.0, 62.0);
    p.setPen(QPen(kStopColour.darker(130), 1.5));
    p.setBrush(kStopColour);
    p.drawEllipse(centre, 24.0, 24.0);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(centre.x() - 15.0, centre.y() - 4.5, 30.0, 9.0), 2.0, 2.0);
}

void drawTower(QPainter& p, Ramp ramp) {
    // Ground.
    p.setPen(Qt::NoPen);
    p.setBrush(kGround);
    p.drawRect(QRectF(0.0, kGroundY, kWidth, 8.0));

    // Base.
    p.setPen(QPen(kOutline, 1.5));
    p.setBrush(kBase);
    const QPolygonF base{{kAxisX - 52.0, kGroundY},
                         {kAxisX + 52.0, kGroundY},
                         {kAxisX + 40.0, kGroundY - 18.0},
                         {kAxisX - 40.0, kGroundY - 18.0}};
    p.drawPolygon(base);
    p.setBrush(kBase.lighter(140));
    p.drawRect(QRectF(kAxisX - 30.0, kGroundY - 24.0, 60.0, 6.0));  // slewing ring

    // Turret: body with a domed roof and a window.
    p.setBrush(kTurret);
    p.drawEllipse(QRectF(kAxisX - 30.0, 102.0, 60.0, 34.0));
    p.drawRoundedRect(QRectF(kAxisX - 30.0, 118.0, 60.0, kGroundY - 24.0 - 118.0), 4.0, 4.0);
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(kAxisX - 29.2, 118.0, 58.4, 4.0));  // hides the dome's lower edge
    p.setPen(QPen(kOutline, 1.2));
    p.setBrush(QColor(0xCF, 0xE6, 0xF7));
    p.drawRoundedRect(QRectF(kAxisX - 20.0, 124.0, 22.0, 14.0), 2.0, 2.0);

    // Ramp, hinged on the turret and tilted with its motion.
    const double angle = ramp == Ramp::Raising    ? kRaisedDegrees
                         : ramp == Ramp::Lowering ? kLoweredDegrees
                                                  : 0.0;
    p.save();
    p.translate(kPivot);
    p.rotate(angle);
    p.setPen(QPen(kOutline, 1.5));
    p.setBrush(kRampBody);
    p.drawRoundedRect(QRectF(-6.0, -7.0, kRampLength + 6.0, 14.0), 3.0, 3.0);
    p.setPen(QPen(kRampBody.darker(160), 1.5));
    for (double x = 10.0; x < kRampLength - 4.0; x += 10.0)
        p.drawLine(QPointF(x, -5.0), QPointF(x + 6.0, 5.0));
    p.restore();

    // Lifting piston from the turret to the ramp's underside.
    const double a = radians(angle);
    const QPointF rampPoint = kPivot + QPointF(32.0 * std::cos(a) - 7.0 * std::sin(a),
                                               32.0 * std::sin(a) + 7.0 * std::cos(a));
    p.setPen(QPen(kOutline, 4.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(kAxisX + 28.0, 150.0), rampPoint);

    // Hinge pin.
    p.setPen(QPen(kOutline, 1.5));
    p.setBrush(Qt::white);
    p.drawEllipse(kPivot, 4.0, 4.0);
}

struct LegendLine {
    QString text;
    QColor colour;
};

void drawLegend(QPainter& p, Turn turn, Ramp ramp) {
    std::array<LegendLine, 2> lines;
    int count = 0;
    if (turn != Turn::Stopped) {
        lines[count++] = {turn == Turn::Left ? "GIRO IZQUIERDA" : "GIRO DERECHA", kTurnColour};
    }
    if (ramp != Ramp::Stopped) {
        const bool up = ramp == Ramp::Raising;
        lines[count++] = {up ? "SUBIR RAMPA" : "BAJAR RAMPA", up ? kRaiseColour : kLowerColour};
    }
    if (count == 2) lines[0].text += " +";
    if (count == 0) lines[count++] = {"PARADA", kStopColour};

    const QRectF box(4.0, 188.0, kWidth - 8.0, kHeight - 188.0 - 4.0);
    p.setPen(QPen(kGround.darker(120), 1.0));
    p.setBrush(Qt::white);
    p.drawRoundedRect(box, 6.0, 6.0);

    QFont font("DejaVu Sans");
    font.setBold(true);
    font.setPixelSize(count == 1 ? 17 : 15);
    for (int i = 0; i < count; ++i) {
        while (QFontMetrics(font).horizontalAdvance(lines[i].text) > box.width() - 10.0)
            font.setPixelSize(font.pixelSize() - 1);
    }
    p.setFont(font);
    const double lineHeight = box.height() / count;
    for (int i = 0; i < count; ++i) {
        p.setPen(lines[i].colour);
        p.drawText(QRectF(box.left(), box.top() + i * lineHeight, box.width(), lineHeight),
                   Qt::AlignCenter, lines[i].text);
    }
}

QImage drawPicture(Turn turn, Ramp ramp) {
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    image.fill(kBackground);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    drawTower(p, ramp);
    if (turn != Turn::Stopped) drawTurnArrow(p, turn);
    if (ramp != Ramp::Stopped) drawRampArrow(p, ramp);
    if (turn == Turn::Stopped && ramp == Ramp::Stopped) drawStopSign(p);
    drawLegend(p, turn, ramp);
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output-dir>\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.exists()) {
        std::fprintf(stderr, "draw_state_pictures: no such folder: %s\n", argv[1]);
        return 1;
    }
    int failures = 0;
    for (const Picture& picture : kPictures) {
        const QString path = dir.filePath(QString::fromLatin1(picture.file));
        if (!drawPicture(picture.turn, picture.ramp).save(path, "JPG", kJpegQuality)) {
            std::fprintf(stderr, "draw_state_pictures: cannot write %s\n",
                         path.toLocal8Bit().constData());
            ++failures;
        }
    }
    return failures == 0 ? 0 : 1;
}
