// The diagram embedded in the program: its size and what it shows at fixed points.
#include <QColor>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QString>

#include <gtest/gtest.h>

#include "diagram/conexiones.h"

namespace varnel {
namespace {

const QColor kYellow(255, 255, 0);
const QColor kWhite(255, 255, 255);
const QColor kBlack(0, 0, 0);
const QColor kRed(255, 0, 0);
const QColor kBlue(0, 0, 255);
const QColor kGrey(128, 128, 128);
const QColor kMagenta(255, 0, 255);
const QColor kBrown(128, 64, 0);
const QColor kDarkTeal(0, 64, 64);

struct Probe {
    const char* what;
    int x;
    int y;
    QColor colour;
};

QString describe(const QColor& c) {
    return QStringLiteral("(%1, %2, %3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

void expectColours(const QImage& image, std::initializer_list<Probe> probes) {
    for (const Probe& p : probes) {
        const QColor got = image.pixelColor(p.x, p.y);
        EXPECT_EQ(describe(got).toStdString(), describe(p.colour).toStdString())
            << p.what << " at (" << p.x << ", " << p.y << ")";
    }
}

class DiagramPicture : public ::testing::Test {
  protected:
    ConexionesHolder holder;  // registers the embedded resource
    QImage image{QString::fromLatin1(conexiones::kDiagramResource)};
};

TEST_F(DiagramPicture, IsEmbeddedAt743By571WithoutTransparency) {
    EXPECT_TRUE(QString::fromLatin1(conexiones::kDiagramResource).startsWith(QStringLiteral(":/")));
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), 743);
    EXPECT_EQ(image.height(), 571);
    EXPECT_FALSE(image.hasAlphaChannel());
}

TEST_F(DiagramPicture, BackgroundTitleTowerAndTerminalCells) {
    ASSERT_FALSE(image.isNull());
    expectColours(image, {
                             {"background, top left corner", 0, 0, kYellow},
                             {"background, top right corner", 742, 0, kYellow},
                             {"background, bottom right corner", 742, 570, kYellow},
                             {"background, left of the tower", 20, 480, kYellow},
                             {"background, between the strips", 450, 147, kYellow},
                             {"background, under the battery", 100, 340, kYellow},
                             {"title border, top left", 259, 6, kBlack},
                             {"title border, third row", 300, 8, kBlack},
                             {"title border, right", 488, 25, kBlack},
                             {"title border, bottom", 300, 43, kBlack},
                             {"inside the title", 265, 12, kWhite},
                             {"inside the title", 480, 37, kWhite},
                             {"tower border, left", 49, 480, kBlack},
                             {"tower border, left inner row", 51, 480, kBlack},
                             {"tower border, bottom", 300, 561, kBlack},
                             {"tower border, right", 576, 410, kBlack},
                             {"tower border, top", 100, 400, kBlack},
                             {"inside the tower", 54, 404, kWhite},
                             {"inside the tower", 570, 556, kWhite},
                             {"S3 left cell, inside", 84, 147, kWhite},
                             {"S3 block, left border", 77, 147, kBlack},
                             {"S3 block, border between its cells", 92, 147, kBlack},
                             {"S3 block, top border", 84, 137, kBlack},
                             {"S3 block, bottom border", 84, 158, kBlack},
                             {"E6 left cell, inside", 545, 140, kWhite},
                             {"battery body", 100, 310, QColor(170, 170, 170)},
                         });
}

// Points on the routes of the wire table: runs under the strips, drops to the motors and sensors.
TEST_F(DiagramPicture, WireColoursAlongTheirRoutes) {
    ASSERT_FALSE(image.isNull());
    expectColours(image,
                  {
                      {"brown ground wire, its end on the tower's top edge", 553, 400, kBrown},
                      {"brown ground wire, above the tower", 553, 380, kBrown},
                      {"brown ground wire, under Masa", 520, 339, kBrown},
                      {"brown ground wire, down from E8", 496, 250, kBrown},
                      {"brown bar under the input strip", 600, 165, kBrown},
                      {"brown, in the right cell of E1", 720, 148, kBrown},
                      {"brown, in the right cell of E8", 496, 148, kBrown},
                      {"black, from the battery minus", 93, 220, kBlack},
                      {"black, run to the left", 50, 210, kBlack},
                      {"black, up into S1", 13, 180, kBlack},
                      {"black, branch into S2", 45, 178, kBlack},
                      {"black, in the left cell of S2", 45, 150, kBlack},
                      {"red, from the battery plus", 116, 215, kRed},
                      {"red, run to the right", 140, 200, kRed},
                      {"red bar joining S5A and S6A", 195, 165, kRed},
                      {"red, in the right cell of S6A", 242, 150, kRed},
                      {"blue S1-S5A, under the strip", 100, 165, kBlue},
                      {"grey S2-S6A, under the blue wire", 120, 177, kGrey},
                      {"blue, down from S5B to Motor 1", 188, 300, kBlue},
                      {"magenta, down from S5B to Motor 1", 203, 300, kMagenta},
                      {"blue, S6B to Motor 2, its run", 350, 318, kBlue},
                      {"magenta, S6B to Motor 2, its run", 350, 300, kMagenta},
                      {"blue, into Motor 2", 444, 404, kBlue},
                      {"magenta, into Motor 2", 459, 404, kMagenta},
                      {"red, down from E4", 609, 250, kRed},
                      {"red, to Sensor E3", 620, 437, kRed},
                      {"blue, down from E3", 641, 250, kBlue},
                      {"blue, to Sensor E4", 620, 466, kBlue},
                      {"dark teal, down from E2", 673, 250, kDarkTeal},
                      {"dark teal, to Sensor E2", 620, 497, kDarkTeal},
                      {"grey, down from E1", 705, 400, kGrey},
                      {"grey, to Sensor E1", 640, 527, kGrey},
                  });
}

// Lines are 3 pixels wide; dots are 7 pixels across and mark ends and branches, not bends.
TEST_F(DiagramPicture, LineWidthAndDots) {
    ASSERT_FALSE(image.isNull());
    expectColours(image, {
                             {"Motor 1 blue wire, left edge", 187, 300, kBlue},
                             {"Motor 1 blue wire, right edge", 189, 300, kBlue},
                             {"beside the Motor 1 blue wire", 186, 300, kYellow},
                             {"beside the Motor 1 blue wire", 190, 300, kYellow},
                             {"E6 ground end dot, left", 557, 148, kBrown},
                             {"E6 ground end dot, right", 563, 148, kBrown},
                             {"E6 right cell beside the dot", 556, 148, kWhite},
                             {"E6 right cell beside the dot", 564, 148, kWhite},
                             {"ground end dot on the tower edge, left", 550, 400, kBrown},
                             {"ground end dot on the tower edge, right", 556, 400, kBrown},
                             {"tower edge beside that dot", 549, 400, kBlack},
                             {"branch dot on the black riser", 10, 188, kBlack},
                             {"beside the branch dot", 9, 188, kYellow},
                             {"no dot at the black wire's bend", 10, 210, kYellow},
                             {"Sensor E1 end dot, over the tower edge", 576, 524, kGrey},
                             {"tower edge above that dot", 576, 523, kBlack},
                         });
}

TEST_F(DiagramPicture, WindowShowsThatPicture) {
    ASSERT_FALSE(image.isNull());
    const QImage shown = holder.instance().Picture1->pixmap().toImage();
    ASSERT_EQ(shown.size(), image.size());
    EXPECT_EQ(shown.convertToFormat(QImage::Format_RGB32),
              image.convertToFormat(QImage::Format_RGB32));
}

}  // namespace
}  // namespace varnel
