// The plot painter: recorded drawing operations land on the right pixels, in an image and in a
// PNG file written safely.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "gui/plot_painter.hpp"
#include "results/canvas.hpp"

namespace kelvarin::gui {
namespace {

Canvas samplePlot() {
    Canvas c(641, 353);
    c.penColour = Colour::Black;
    c.brushColour = Colour::White;
    c.rectangle(0, 0, 641, 353);
    c.penColour = Colour::Red;
    c.ellipse(98, 98, 102, 102);
    c.penColour = Colour::Black;
    c.moveTo(0, 353);
    c.lineTo(300, 50);
    c.lineTo(600, 340);
    return c;
}

TEST(PlotPainter, PaintsOutlineCirclesAndPolylineIntoAnImage) {
    const QImage image = renderCanvas(samplePlot());
    ASSERT_EQ(image.size(), QSize(641, 353));
    EXPECT_EQ(QColor(image.pixel(0, 0)), QColor(Qt::black));      // outline, top-left
    EXPECT_EQ(QColor(image.pixel(640, 352)), QColor(Qt::black));  // outline, last pixel inside
    EXPECT_EQ(QColor(image.pixel(320, 10)), QColor(Qt::white));   // filled white
    // The measured point: a red ring around a white centre.
    bool red = false;
    for (int x = 97; x <= 103; ++x)
        for (int y = 97; y <= 103; ++y)
            red = red || QColor(image.pixel(x, y)) == QColor(255, 0, 0);
    EXPECT_TRUE(red);
    // The computed curve passes its vertices (the peak at 300, 50).
    EXPECT_EQ(QColor(image.pixel(300, 50)), QColor(Qt::black));
    // Halfway up the first segment (y = 201.5 there): one of the two nearest pixels is drawn.
    EXPECT_TRUE(QColor(image.pixel(150, 201)) == QColor(Qt::black) ||
                QColor(image.pixel(150, 202)) == QColor(Qt::black));
    EXPECT_EQ(QColor(image.pixel(300, 300)), QColor(Qt::white));  // below the peak: empty
}

TEST(PlotPainter, BlankCanvasIsWhite) {
    const QImage image = renderCanvas(Canvas(641, 353));
    EXPECT_EQ(QColor(image.pixel(320, 176)), QColor(Qt::white));
}

TEST(PlotPainter, SavesPngAndReportsAFolderThatDoesNotExist) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.filePath("run1.png").toStdString();
    EXPECT_EQ(savePng(samplePlot(), path), "");
    QImage back(QString::fromStdString(path));
    ASSERT_FALSE(back.isNull());
    EXPECT_EQ(back.size(), QSize(641, 353));
    EXPECT_EQ(QColor(back.pixel(300, 50)), QColor(Qt::black));

    const std::string bad = dir.filePath("no/such/folder/run1.png").toStdString();
    const std::string message = savePng(samplePlot(), bad);
    EXPECT_NE(message.find("run1.png"), std::string::npos) << message;
    EXPECT_FALSE(QFile::exists(QString::fromStdString(bad)));
    // Only the one good image is left in the folder (no temporary files).
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);
}

}  // namespace
}  // namespace kelvarin::gui
