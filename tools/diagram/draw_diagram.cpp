// Draws the wiring diagram of the Tolmar board, its battery, the tower's motors and sensors, and
// saves it as a lossless 24-bit PNG. The output is committed as assets/conexiones.png.
//
// Usage: draw_diagram <output.png>
//
// Coordinates are pixels of the 743 x 571 picture, x to the right, y downwards. A wire is a list
// of points joined by 3-pixel horizontal or vertical runs centred on the points; its dots are
// listed separately (both ends and every branch point, never a bend).
#include <QColor>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRectF>
#include <QString>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <utility>
#include <vector>

namespace {

// Picture.
constexpr int kWidth = 743;
constexpr int kHeight = 571;

// Colours.
const QColor kYellow(255, 255, 0);
const QColor kWhite(255, 255, 255);
const QColor kBlack(0, 0, 0);
const QColor kRed(255, 0, 0);
const QColor kBlue(0, 0, 255);
const QColor kGrey(128, 128, 128);
const QColor kMagenta(255, 0, 255);
const QColor kBrown(128, 64, 0);
const QColor kDarkTeal(0, 64, 64);
const QColor kBatteryBody(170, 170, 170);
const QColor kBatteryTerminal(200, 200, 200);

// Text.
// Pixel sizes of DejaVu Sans Bold and the cap (or x-) heights they render at.
constexpr int kSmallTextPx = 14;    // capitals 10 px: terminal labels, sensor labels, "Masa"
constexpr int kHeadingPx = 23;      // capitals 17 px: the two headings
constexpr int kLargeTextPx = 29;    // capitals 21 px: motor texts, "VARNEL"
constexpr int kTitlePx = 29;        // lower case 16 px: "tolmar"
constexpr int kBatteryTextPx = 18;  // "9 V"
// Horizontal squeeze of the small labels and the motor texts, to keep them narrow.
constexpr double kSmallTextScaleX = 0.8;
constexpr double kMotorTextScaleX = 0.85;

// Title and headings.
constexpr int kTitleLeft = 259, kTitleRight = 488, kTitleTop = 6, kTitleBottom = 43;
constexpr int kTitleBorder = 3;
constexpr int kTitleBaseline = 36;  // ascenders on rows 14..35, x-height on rows 20..35
// Headings: the text's ink fills the box, capitals from top to bottom row.
constexpr int kOutHeadingLeft = 89, kOutHeadingRight = 327, kOutHeadingCapBottom = 81;
constexpr int kInHeadingLeft = 470, kInHeadingRight = 734, kInHeadingCapBottom = 82;

// Terminal strips.
// A block is 31 x 22: a 1-pixel black border around two white 14 x 20 cells.
constexpr int kStripTop = 137;
constexpr int kBlockWidth = 31;
constexpr int kBlockHeight = 22;
constexpr int kCellWidth = 14;
constexpr int kCellHeight = 20;
constexpr int kLeftCellOffset = 7;    // wire centre in the left cell, from the block's left edge
constexpr int kRightCellOffset = 22;  // wire centre in the right cell
constexpr int kCellDotY = 148;        // wire ends in a cell (cells are rows 138..157)
constexpr int kLabelCapBottom = 128;  // labels above the blocks, capitals on rows 119..128

// Output blocks, in pairs one pixel apart, the pairs 8 or 9 pixels apart: x 6..425.
constexpr std::array<int, 12> kOutputX = {6, 38, 77, 109, 149, 181, 220, 252, 292, 324, 363, 395};
constexpr std::array<const char*, 12> kOutputNames = {"S1",  "S2",  "S3",  "S4",  "S5A", "S5B",
                                                      "S6A", "S6B", "S7A", "S7B", "S8A", "S8B"};
enum Output { S1, S2, S3, S4, S5A, S5B, S6A, S6B, S7A, S7B, S8A, S8B };

// Input blocks, one pixel apart: x 474..728, E8 on the left, E1 on the right.
constexpr std::array<int, 8> kInputX = {474, 506, 538, 570, 602, 634, 666, 698};
constexpr std::array<const char*, 8> kInputNames = {"E8", "E7", "E6", "E5", "E4", "E3", "E2", "E1"};
// The block of input En.
constexpr int inputX(int n) {
    return kInputX[8 - n];
}

constexpr int outLeft(Output o) {
    return kOutputX[o] + kLeftCellOffset;
}
constexpr int outRight(Output o) {
    return kOutputX[o] + kRightCellOffset;
}
constexpr int inLeft(int n) {
    return inputX(n) + kLeftCellOffset;
}
constexpr int inRight(int n) {
    return inputX(n) + kRightCellOffset;
}

// Battery.
constexpr int kBatteryLeft = 79, kBatteryRight = 130;       // outline, body x 80..129
constexpr int kBatteryCaseTop = 240, kBatteryBottom = 320;  // outline rows
constexpr int kBatteryBodyTop = 260, kBatteryBodyBottom = 319;
constexpr int kBandCentreY = 250;  // white band rows 241..259
constexpr int kBandSignRadius = 7;
constexpr int kMinusX = 93;  // minus terminal, square x 87..98, y 228..239
constexpr int kPlusX = 116;  // plus terminal, oval x 110..122, y 229..239
constexpr int kBatteryTerminalDotY = 234;

// Tower.
constexpr int kTowerLeft = 49, kTowerRight = 576, kTowerTop = 400, kTowerBottom = 561;
constexpr int kTowerBorder = 3;
constexpr int kMotorTop = 408, kMotorBottom = 521;
constexpr int kMotor1Left = 59, kMotor1Right = 332;
constexpr int kMotor2Left = 342, kMotor2Right = 560;
constexpr int kMotorLine1CapBottom = 456;  // "Motor 1", capitals on rows 436..456
constexpr int kMotorLine2CapBottom = 489;  // "Giro Horizontal", capitals on rows 469..489
constexpr int kVarnelCapBottom = 548;      // capitals on rows 528..548
constexpr int kMotorDotY = 409;            // wire ends on the top of the motor's outline
// Motor signs: circles of 22 px (rows 376..397), 18 px left and right of the wire pair.
constexpr int kSignTop = 376, kSignSize = 22, kSignOffset = 18;

// Sensors and ground.
constexpr int kSensorE3Y = 437, kSensorE4Y = 466, kSensorE2Y = 497, kSensorE1Y = 527;
constexpr int kSensorLabelLeft = 582;  // labels' capitals end 4 rows above their wire
constexpr int kLabelAboveWire = 4;
constexpr int kGroundTowerX = 553;  // the ground wire lands on the tower's top edge here
constexpr int kGroundRunY = 339;    // its horizontal run, under "Masa"
constexpr int kMasaLeft = 506, kMasaCapBottom = 334;

// Wire runs.
constexpr int kBusY = 165;          // just under a strip: blue S1-S5A, the red bar, the brown bar
constexpr int kGreyBusY = 177;      // grey S2-S6A, under the blue wire
constexpr int kBlackBranchY = 188;  // where the S2 branch leaves the black riser
constexpr int kRedRunY = 200;       // the red wire's horizontal run from the battery
constexpr int kBlackRunY = 210;     // the black wire's horizontal run from the battery
constexpr int kMotor2MagentaRunY = 300;
constexpr int kMotor2BlueRunY = 318;
constexpr int kMotor1PlusX = 188;  // straight down from S5B
constexpr int kMotor1MinusX = 203;
constexpr int kMotor2PlusX = 444;  // over the right motor
constexpr int kMotor2MinusX = 459;
// Sensor wires: down from the input, right past the sensor labels, down to the sensor's level.
constexpr int kE2RunY = 280, kE2DropX = 689;  // dark teal, to "Sensor E2"
constexpr int kE3RunY = 300, kE3DropX = 663;  // blue, to "Sensor E4"
constexpr int kE4RunY = 320, kE4DropX = 652;  // red, to "Sensor E3"

// Wires.
constexpr int kLineWidth = 3;
constexpr double kDotRadius = 3.5;  // 7 px across

struct Point {
    int x;
    int y;
};

struct Wire {
    QColor colour;
    std::vector<std::vector<Point>> runs;  // each a polyline
    std::vector<Point> dots;               // ends and branch points
};

std::vector<Wire> wires() {
    const int bar = kBusY;
    std::vector<Wire> w;
    // Battery minus to S1 and S2 (left cells).
    w.push_back(
        {kBlack,
         {{{kMinusX, kBatteryTerminalDotY},
           {kMinusX, kBlackRunY},
           {outLeft(S1), kBlackRunY},
           {outLeft(S1), kCellDotY}},
          {{outLeft(S1), kBlackBranchY}, {outLeft(S2), kBlackBranchY}, {outLeft(S2), kCellDotY}}},
         {{kMinusX, kBatteryTerminalDotY},
          {outLeft(S1), kCellDotY},
          {outLeft(S2), kCellDotY},
          {outLeft(S1), kBlackBranchY}}});
    // Battery plus to the right cells of S5A and S6A, joined by a bar under the strip.
    w.push_back({kRed,
                 {{{kPlusX, kBatteryTerminalDotY},
                   {kPlusX, kRedRunY},
                   {outRight(S5A), kRedRunY},
                   {outRight(S5A), kCellDotY}},
                  {{outRight(S5A), bar}, {outRight(S6A), bar}, {outRight(S6A), kCellDotY}}},
                 {{kPlusX, kBatteryTerminalDotY},
                  {outRight(S5A), kCellDotY},
                  {outRight(S6A), kCellDotY},
                  {outRight(S5A), bar}}});
    // S1 right to S5A left, and S2 right to S6A left.
    w.push_back({kBlue,
                 {{{outRight(S1), kCellDotY},
                   {outRight(S1), bar},
                   {outLeft(S5A), bar},
                   {outLeft(S5A), kCellDotY}}},
                 {{outRight(S1), kCellDotY}, {outLeft(S5A), kCellDotY}}});
    w.push_back({kGrey,
                 {{{outRight(S2), kCellDotY},
                   {outRight(S2), kGreyBusY},
                   {outLeft(S6A), kGreyBusY},
                   {outLeft(S6A), kCellDotY}}},
                 {{outRight(S2), kCellDotY}, {outLeft(S6A), kCellDotY}}});
    // Motor 1 from S5B, straight down.
    w.push_back({kBlue,
                 {{{outLeft(S5B), kCellDotY}, {kMotor1PlusX, kMotorDotY}}},
                 {{outLeft(S5B), kCellDotY}, {kMotor1PlusX, kMotorDotY}}});
    w.push_back({kMagenta,
                 {{{outRight(S5B), kCellDotY}, {kMotor1MinusX, kMotorDotY}}},
                 {{outRight(S5B), kCellDotY}, {kMotor1MinusX, kMotorDotY}}});
    // Motor 2 from S6B: down, right, down; the magenta run above the blue one.
    w.push_back({kBlue,
                 {{{outLeft(S6B), kCellDotY},
                   {outLeft(S6B), kMotor2BlueRunY},
                   {kMotor2PlusX, kMotor2BlueRunY},
                   {kMotor2PlusX, kMotorDotY}}},
                 {{outLeft(S6B), kCellDotY}, {kMotor2PlusX, kMotorDotY}}});
    w.push_back({kMagenta,
                 {{{outRight(S6B), kCellDotY},
                   {outRight(S6B), kMotor2MagentaRunY},
                   {kMotor2MinusX, kMotor2MagentaRunY},
                   {kMotor2MinusX, kMotorDotY}}},
                 {{outRight(S6B), kCellDotY}, {kMotor2MinusX, kMotorDotY}}});
    // Ground: a bar joining the right cells of E1..E8, then from E8 down to the tower.
    {
        Wire g{kBrown, {}, {}};
        g.runs.push_back({{inRight(1), kCellDotY},
                          {inRight(1), bar},
                          {inRight(8), bar},
                          {inRight(8), kGroundRunY},
                          {kGroundTowerX, kGroundRunY},
                          {kGroundTowerX, kTowerTop}});
        for (int n = 2; n <= 8; ++n) {
            g.runs.push_back({{inRight(n), kCellDotY}, {inRight(n), bar}});
            g.dots.push_back({inRight(n), bar});
        }
        for (int n = 1; n <= 8; ++n) g.dots.push_back({inRight(n), kCellDotY});
        g.dots.push_back({kGroundTowerX, kTowerTop});
        w.push_back(g);
    }
    // Sensors, from the left cells of E1..E4 to the tower's right edge.
    w.push_back({kGrey,
                 {{{inLeft(1), kCellDotY}, {inLeft(1), kSensorE1Y}, {kTowerRight, kSensorE1Y}}},
                 {{inLeft(1), kCellDotY}, {kTowerRight, kSensorE1Y}}});
    w.push_back({kDarkTeal,
                 {{{inLeft(2), kCellDotY},
                   {inLeft(2), kE2RunY},
                   {kE2DropX, kE2RunY},
                   {kE2DropX, kSensorE2Y},
                   {kTowerRight, kSensorE2Y}}},
                 {{inLeft(2), kCellDotY}, {kTowerRight, kSensorE2Y}}});
    w.push_back({kBlue,
                 {{{inLeft(3), kCellDotY},
                   {inLeft(3), kE3RunY},
                   {kE3DropX, kE3RunY},
                   {kE3DropX, kSensorE4Y},
                   {kTowerRight, kSensorE4Y}}},
                 {{inLeft(3), kCellDotY}, {kTowerRight, kSensorE4Y}}});
    w.push_back({kRed,
                 {{{inLeft(4), kCellDotY},
                   {inLeft(4), kE4RunY},
                   {kE4DropX, kE4RunY},
                   {kE4DropX, kSensorE3Y},
                   {kTowerRight, kSensorE3Y}}},
                 {{inLeft(4), kCellDotY}, {kTowerRight, kSensorE3Y}}});
    return w;
}

// Drawing helpers.
QFont boldFont(int pixelSize) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    font.setPixelSize(pixelSize);
    return font;
}

// Fills the inclusive pixel rectangle x0..x1, y0..y1.
void fillPixels(QPainter& p, int x0, int y0, int x1, int y1, const QColor& colour) {
    p.fillRect(x0, y0, x1 - x0 + 1, y1 - y0 + 1, colour);
}

// A box with a border of `border` pixels, given by its outer inclusive edges.
void borderedBox(QPainter& p, int left, int top, int right, int bottom, int border,
                 const QColor& fill) {
    fillPixels(p, left, top, right, bottom, kBlack);
    fillPixels(p, left + border, top + border, right - border, bottom - border, fill);
}

// Draws `text` so that its ink starts at `inkLeft` and its baseline lies under row `capBottom`,
// squeezed horizontally by `scaleX`.
void textAt(QPainter& p, const QFont& font, const QString& text, double inkLeft, int capBottom,
            double scaleX) {
    const QRectF ink = QFontMetricsF(font).tightBoundingRect(text);
    p.save();
    p.setFont(font);
    p.setPen(kBlack);
    p.translate(inkLeft - ink.left() * scaleX, capBottom + 1);
    p.scale(scaleX, 1.0);
    p.drawText(QPointF(0, 0), text);
    p.restore();
}

double inkWidth(const QFont& font, const QString& text, double scaleX) {
    return QFontMetricsF(font).tightBoundingRect(text).width() * scaleX;
}

void textCentred(QPainter& p, const QFont& font, const QString& text, double centreX, int capBottom,
                 double scaleX) {
    textAt(p, font, text, centreX - inkWidth(font, text, scaleX) / 2.0, capBottom, scaleX);
}

// Squeezes the text so that its ink spans left..right exactly.
void textFitted(QPainter& p, const QFont& font, const QString& text, int left, int right,
                int capBottom) {
    const double scaleX = (right - left + 1) / inkWidth(font, text, 1.0);
    textAt(p, font, text, left, capBottom, scaleX);
}

void terminalBlock(QPainter& p, int left) {
    fillPixels(p, left, kStripTop, left + kBlockWidth - 1, kStripTop + kBlockHeight - 1, kBlack);
    for (int cell : {left + 1, left + 2 + kCellWidth})
        fillPixels(p, cell, kStripTop + 1, cell + kCellWidth - 1, kStripTop + kCellHeight, kWhite);
}

// A circle with a plus or minus sign in it, given by its bounding box.
void signCircle(QPainter& p, const QRectF& box, bool plus, qreal penWidth) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kBlack, penWidth));
    p.setBrush(Qt::NoBrush);
    const qreal half = penWidth / 2.0;
    p.drawEllipse(box.adjusted(half, half, -half, -half));
    const QPointF c = box.center();
    const qreal arm = box.width() * 0.28;
    p.setPen(QPen(kBlack, penWidth, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(c.x() - arm, c.y()), QPointF(c.x() + arm, c.y()));
    if (plus) p.drawLine(QPointF(c.x(), c.y() - arm), QPointF(c.x(), c.y() + arm));
    p.restore();
}

// A 3-pixel run from a to b (horizontal or vertical), including the 1-pixel overhang at each
// end that makes bends square.
void run(QPainter& p, Point a, Point b, const QColor& colour) {
    const int half = kLineWidth / 2;
    fillPixels(p, std::min(a.x, b.x) - half, std::min(a.y, b.y) - half, std::max(a.x, b.x) + half,
               std::max(a.y, b.y) + half, colour);
}

void dot(QImage& image, Point c, const QColor& colour) {
    const int r = static_cast<int>(kDotRadius);
    for (int dy = -r; dy <= r; ++dy)
        for (int dx = -r; dx <= r; ++dx)
            if (dx * dx + dy * dy <= kDotRadius * kDotRadius)
                image.setPixelColor(c.x + dx, c.y + dy, colour);
}

// The picture.
void drawBoard(QPainter& p) {
    borderedBox(p, kTitleLeft, kTitleTop, kTitleRight, kTitleBottom, kTitleBorder, kWhite);
    textCentred(p, boldFont(kTitlePx), QStringLiteral("tolmar"),
                (kTitleLeft + kTitleRight + 1) / 2.0, kTitleBaseline - 1, 1.0);

    const QFont heading = boldFont(kHeadingPx);
    textFitted(p, heading, QStringLiteral("SALIDAS DIGITALES"), kOutHeadingLeft, kOutHeadingRight,
               kOutHeadingCapBottom);
    textFitted(p, heading, QStringLiteral("ENTRADAS DIGITALES"), kInHeadingLeft, kInHeadingRight,
               kInHeadingCapBottom);

    const QFont small = boldFont(kSmallTextPx);
    auto block = [&](int left, const char* name) {
        terminalBlock(p, left);
        textCentred(p, small, QString::fromLatin1(name), left + kBlockWidth / 2.0, kLabelCapBottom,
                    kSmallTextScaleX);
    };
    for (std::size_t i = 0; i < kOutputX.size(); ++i) block(kOutputX[i], kOutputNames[i]);
    for (std::size_t i = 0; i < kInputX.size(); ++i) block(kInputX[i], kInputNames[i]);
}

void drawBattery(QPainter& p) {
    // Terminals on top: a square one (minus) and an oval one (plus).
    fillPixels(p, kMinusX - 6, 228, kMinusX + 5, 239, kBlack);
    fillPixels(p, kMinusX - 5, 229, kMinusX + 4, 238, kBatteryTerminal);
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kBlack, 1.0));
    p.setBrush(kBatteryTerminal);
    p.drawEllipse(QRectF(kPlusX - 6 + 0.5, 229 + 0.5, 12, 10));
    p.restore();
    // Case: white band with the signs, grey body with "9 V".
    borderedBox(p, kBatteryLeft, kBatteryCaseTop, kBatteryRight, kBatteryBottom, 1, kWhite);
    fillPixels(p, kBatteryLeft + 1, kBatteryBodyTop, kBatteryRight - 1, kBatteryBodyBottom,
               kBatteryBody);
    const qreal d = 2 * kBandSignRadius;
    signCircle(p,
               QRectF(kMinusX - kBandSignRadius + 0.5, kBandCentreY - kBandSignRadius + 0.5, d, d),
               false, 1.5);
    signCircle(p,
               QRectF(kPlusX - kBandSignRadius + 0.5, kBandCentreY - kBandSignRadius + 0.5, d, d),
               true, 1.5);
    textCentred(p, boldFont(kBatteryTextPx), QStringLiteral("9 V"),
                (kBatteryLeft + kBatteryRight + 1) / 2.0,
                (kBatteryBodyTop + kBatteryBodyBottom) / 2 + 6, 1.0);
}

void drawTower(QPainter& p) {
    borderedBox(p, kTowerLeft, kTowerTop, kTowerRight, kTowerBottom, kTowerBorder, kWhite);
    const QFont large = boldFont(kLargeTextPx);
    auto motor = [&](int left, int right, const char* line1, const char* line2) {
        p.save();
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(kBlack, 2.0));
        p.setBrush(kWhite);
        p.drawEllipse(QRectF(left + 1.0, kMotorTop + 1.0, right - left - 1.0,
                             kMotorBottom - kMotorTop - 1.0));
        p.restore();
        const double centre = (left + right + 1) / 2.0;
        textCentred(p, large, QString::fromLatin1(line1), centre, kMotorLine1CapBottom,
                    kMotorTextScaleX);
        textCentred(p, large, QString::fromLatin1(line2), centre, kMotorLine2CapBottom,
                    kMotorTextScaleX);
    };
    motor(kMotor1Left, kMotor1Right, "Motor 1", "Giro Horizontal");
    motor(kMotor2Left, kMotor2Right, "Motor 2", "Giro Vertical");
    textCentred(p, large, QStringLiteral("VARNEL"), (kTowerLeft + kTowerRight + 1) / 2.0,
                kVarnelCapBottom, 1.0);

    // Plus to the left of each motor's wire pair, minus to the right.
    for (auto [plusX, minusX] :
         {std::pair{kMotor1PlusX, kMotor1MinusX}, std::pair{kMotor2PlusX, kMotor2MinusX}}) {
        const double half = kSignSize / 2.0;
        signCircle(p, QRectF(plusX - kSignOffset - half + 0.5, kSignTop, kSignSize, kSignSize),
                   true, 2.0);
        signCircle(p, QRectF(minusX + kSignOffset - half + 0.5, kSignTop, kSignSize, kSignSize),
                   false, 2.0);
    }
}

void drawLabels(QPainter& p) {
    const QFont small = boldFont(kSmallTextPx);
    const std::array<std::pair<int, const char*>, 4> sensors = {{{kSensorE3Y, "Sensor E3"},
                                                                 {kSensorE4Y, "Sensor E4"},
                                                                 {kSensorE2Y, "Sensor E2"},
                                                                 {kSensorE1Y, "Sensor E1"}}};
    for (const auto& [y, text] : sensors)
        textAt(p, small, QString::fromLatin1(text), kSensorLabelLeft,
               y - kLineWidth / 2 - kLabelAboveWire, kSmallTextScaleX);
    textAt(p, small, QStringLiteral("Masa"), kMasaLeft, kMasaCapBottom, kSmallTextScaleX);
}

void drawWires(QPainter& p, QImage& image) {
    const std::vector<Wire> all = wires();
    for (const Wire& w : all)
        for (const auto& line : w.runs)
            for (std::size_t i = 1; i < line.size(); ++i) run(p, line[i - 1], line[i], w.colour);
    p.end();  // the dots are set pixel by pixel
    for (const Wire& w : all)
        for (Point c : w.dots) dot(image, c, w.colour);
}

QImage drawDiagram() {
    QImage image(kWidth, kHeight, QImage::Format_RGB32);
    image.fill(kYellow);
    QPainter p(&image);
    drawBoard(p);
    drawBattery(p);
    drawTower(p);
    drawLabels(p);
    drawWires(p, image);
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: draw_diagram <output.png>\n");
        return 2;
    }
    const QImage image = drawDiagram();
    if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "draw_diagram: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
