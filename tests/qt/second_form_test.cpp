// The draw-test canvas in a real window, offscreen: a secondary, borderless, full-screen form.
#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "drawtest/Unit2.h"
#include "qt/FormWindow.h"
#include "qt/QtEventLoop.h"
#include "tests/qt/QtSupport.h"

using namespace tc;
using tc::testing::application;
using tc::testing::QuitWatch;

namespace {

bool hasLine(const ui::Image& image, ui::Point from, ui::Point to) {
    for (const auto& op : image.ops())
        if (op.type == ui::CanvasOp::Type::Line && op.from == from && op.to == to &&
            op.penColor == drawtest::PenColors[0] && op.penWidth == drawtest::kTrailPenWidth)
            return true;
    return false;
}

struct SecondForm : ::testing::Test {
    QApplication& app = application();
    // The real loop: its quit is what a closing main window asks for.
    qt::QtEventLoop loop;
    int leftToTestMode = 0;
    drawtest::TForm2 form{[this] { ++leftToTestMode; }};
    std::unique_ptr<qt::FormWindow> window;
    QWidget* image = nullptr;

    void SetUp() override {
        window = std::make_unique<qt::FormWindow>(form.Form2, loop, /*allowTray=*/false);
        const QSize screen = QGuiApplication::primaryScreen()->size();
        form.ShowCanvas(screen.width(), screen.height());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        image = window->widgetFor("Image1");
        ASSERT_NE(image, nullptr);
    }
    void stroke(QPoint from, QPoint to) {
        QTest::mousePress(image, Qt::LeftButton, Qt::NoModifier, from);
        QTest::mouseMove(image, to);
        QTest::mouseRelease(image, Qt::LeftButton, Qt::NoModifier, to);
    }
};

}  // namespace

TEST_F(SecondForm, IsFramelessAndFillsTheScreen) {
    EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(window->isFullScreen());
    EXPECT_EQ(window->size(), QGuiApplication::primaryScreen()->size());
    EXPECT_EQ(image->size(), window->size());
}

TEST_F(SecondForm, AStrokeDrawsAnImagePixelTrailAndCClears) {
    stroke({100, 120}, {300, 220});
    EXPECT_FALSE(form.drawing());
    EXPECT_TRUE(hasLine(form.Image1, {100, 120}, {300, 220}));

    // The picture as the operator sees it, for a look by eye.
    if (const char* dir = std::getenv("TOUCHCAL_ARTEFACTS")) {
        std::filesystem::create_directories(dir);
        QApplication::processEvents();
        EXPECT_TRUE(window->grab().save(QString::fromLocal8Bit(dir) + "/draw-test.png"));
    }

    // A move with no button held draws nothing.
    QTest::mouseMove(image, {400, 400});
    EXPECT_FALSE(hasLine(form.Image1, {300, 220}, {400, 400}));

    QTest::keyClick(window.get(), 'C');
    EXPECT_FALSE(hasLine(form.Image1, {100, 120}, {300, 220}));
    EXPECT_EQ(form.Image1.ops().front().type, ui::CanvasOp::Type::FillRect);
}

TEST_F(SecondForm, ClosingOnlyHidesItAndTheProgramGoesOn) {
    QuitWatch quits;
    QObject context;
    QTimer::singleShot(0, &context, [&] {
        window->close();
        QTimer::singleShot(0, &context,
                           [&] { QTimer::singleShot(0, &context, [] { QApplication::exit(7); }); });
    });
    EXPECT_EQ(QApplication::exec(), 7);
    EXPECT_EQ(quits.count, 0);
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(form.Form2.visible());

    // "Draw" brings it back, full screen again.
    form.ShowCanvas(window->width(), window->height());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->isFullScreen());
}
