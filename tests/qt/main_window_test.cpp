// The real window, built offscreen from the main window's description.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>

#include "../app/AppFixture.h"
#include "platform/UniqueFd.h"
#include "qt/FormWindow.h"
#include "tests/qt/QtSupport.h"

using namespace tc;
using tc::testing::application;
using tc::testing::QuitWatch;

namespace {

struct MainWindow : tc::testing::AppFixture {
    std::unique_ptr<qt::FormWindow> window;
    void SetUp() override {
        application();
        start();
        window = std::make_unique<qt::FormWindow>(form->Form1, loop, /*allowTray=*/false);
        window->show();
        QApplication::processEvents();
    }
    template <class W>
    W* widget(const char* name) {
        return qobject_cast<W*>(window->widgetFor(name));
    }
    QRect placeOf(const char* name) {
        QWidget* w = window->widgetFor(name);
        return QRect(w->mapTo(window.get(), QPoint(0, 0)), w->size());
    }
};

// Runs `act` on the error box once it is up (from inside its own modal loop).
void whenBoxShows(std::function<void(QMessageBox&)> act, int triesLeft = 1000) {
    QTimer::singleShot(1, [act = std::move(act), triesLeft]() mutable {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            act(*box);
        } else if (triesLeft > 0) {
            whenBoxShows(std::move(act), triesLeft - 1);
        } else {
            ADD_FAILURE() << "no error box came up";
        }
    });
}

}  // namespace

TEST_F(MainWindow, EveryNamedControlIsInItsPlaceWithItsText) {
    EXPECT_EQ(window->size(), QSize(1080, 616));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());  // fixed border
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(window->pos(), QPoint(0, 0));

    struct Expect {
        const char* name;
        QRect place;
        const char* text;
    } expected[] = {
        {"Image1", {8, 31, 537, 466}, nullptr},
        {"Memo1", {9, 504, 512, 105}, nullptr},
        {"Label6", {560, 552, 152, 56}, "Label6"},
        {"suiForm1", {0, 0, 1080, 26}, "Duved Adevavevuvo VA V_20091222_SP_6"},
        {"Button4", {928, 224, 137, 25}, "Read"},
        {"BtWriteROM", {928, 252, 137, 25}, "Update"},
        {"Button1", {928, 280, 137, 25}, "Clear"},
        {"suiButton8", {928, 308, 137, 25}, "Default"},
        {"suiEdit9", {928, 336, 137, 21}, "4096"},
        {"suiButton1", {928, 360, 137, 25}, "set ADC Max"},
        {"suiButton3", {928, 388, 137, 25}, "save data"},
        {"suiButton4", {928, 416, 137, 25}, "Draw"},
        {"CheckBox1", {928, 444, 137, 17}, "RAW"},
        {"suiButton5", {928, 464, 137, 25}, "BarCode Print"},
        {"Label7", {928, 500, 56, 16}, "PID : "},
        {"Label9", {984, 500, 80, 16}, "----"},
        {"Label8", {928, 520, 56, 16}, "VID : "},
        {"Label10", {984, 520, 80, 16}, "----"},
        {"LabelDevice", {936, 126, 125, 16}, "Device: PlugOut"},
        {"LabelEPROM", {936, 144, 125, 16}, "EPROM: None"},
        {"LabelChecksum", {936, 162, 125, 16}, "Checksum: Fail"},
        // The default settings' 30 x 30 lines, reset.
        {"RowRangeEdit0", {560, 32, 180, 17}, "Row  0:0x0FFF-0x0000"},
        {"RowRangeEdit29", {560, 32 + 17 * 29, 180, 17}, "Row 29:0x0FFF-0x0000"},
        {"ColumnRangeEdit0", {744, 32, 180, 17}, "Col  0:0x0FFF-0x0000"},
        {"ColumnRangeEdit29", {744, 32 + 17 * 29, 180, 17}, "Col 29:0x0FFF-0x0000"},
    };
    for (const auto& e : expected) {
        QWidget* w = window->widgetFor(e.name);
        ASSERT_NE(w, nullptr) << e.name;
        // Labels may grow to fit their text; nothing else moves or grows.
        const QRect place = placeOf(e.name);
        EXPECT_EQ(place.topLeft(), e.place.topLeft()) << e.name;
        EXPECT_EQ(place.height(), e.place.height()) << e.name;
        if (qobject_cast<QLabel*>(w)) {
            EXPECT_GE(place.width(), e.place.width()) << e.name;
        } else {
            EXPECT_EQ(place.width(), e.place.width()) << e.name;
        }

        EXPECT_TRUE(w->isVisible()) << e.name;
        if (!e.text) continue;
        QString shown;
        if (auto* l = qobject_cast<QLabel*>(w)) shown = l->text();
        if (auto* b = qobject_cast<QPushButton*>(w)) shown = b->text();
        if (auto* c = qobject_cast<QCheckBox*>(w)) shown = c->text();
        if (auto* le = qobject_cast<QLineEdit*>(w)) shown = le->text();
        EXPECT_EQ(shown.toStdString(), e.text) << e.name;
    }
    EXPECT_EQ(widget<QGroupBox>("suiGroupBox1")->title(), "Status");
    EXPECT_EQ(widget<QGroupBox>("suiRadioGroup1")->title(), "DeBug Mode");
    EXPECT_TRUE(window->findChild<QRadioButton*>("suiRadioGroup1.1")->isChecked());
    EXPECT_FALSE(widget<QCheckBox>("CheckBox1")->isChecked());
    for (const char* hidden : {"Memo5", "Memo6"})
        EXPECT_FALSE(window->widgetFor(hidden)->isVisible());
    for (const char* holder : {"Memo2", "Edit49", "Edit52", "Edit48"})
        EXPECT_EQ(window->widgetFor(holder), nullptr) << holder;
    auto* log = widget<QPlainTextEdit>("Memo1");
    EXPECT_EQ(log->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(log->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_TRUE(log->toPlainText().startsWith("PORT NO : 1\n"));
    EXPECT_TRUE(widget<QLabel>("Label6")->font().bold());
    EXPECT_EQ(widget<QLabel>("Label6")->font().pixelSize(), 48);

    // The screenshot is kept for a person to look at.
    const char* artefacts = std::getenv("TOUCHCAL_ARTEFACTS");
    const std::filesystem::path folder = artefacts ? artefacts : ".";
    std::filesystem::create_directories(folder);
    EXPECT_TRUE(window->grab().save(QString::fromStdString((folder / "main-window.png").string())));
}

TEST_F(MainWindow, WithoutANotificationAreaTheLampShowsInTheStatusBoxAndFollowsTheModel) {
    EXPECT_FALSE(window->lampInTray());
    auto* lamp = widget<QLabel>("CoolTrayIcon1");
    ASSERT_NE(lamp, nullptr);
    EXPECT_EQ(lamp->parentWidget(), window->widgetFor("suiGroupBox1"));
    auto pixel = [&] { return lamp->pixmap().toImage().pixelColor(16, 16); };
    const QColor grey = pixel();
    form->CoolTrayIcon1.setIndex(1);
    EXPECT_GT(pixel().red(), pixel().green());
    form->CoolTrayIcon1.setIndex(2);
    EXPECT_GT(pixel().green(), pixel().red());
    EXPECT_NE(grey, pixel());
}

TEST_F(MainWindow, TypingCIntoAnEditRunsClearAndKeepsTheCharacter) {
    form->Memo5.setVisible(true);
    auto* edit = widget<QLineEdit>("suiEdit9");
    window->activateWindow();
    edit->setFocus();
    edit->clear();
    QTest::keyClicks(edit, "C");
    EXPECT_EQ(edit->text(), "C");
    EXPECT_EQ(form->suiEdit9.text(), "C");  // the model follows what is typed
    EXPECT_FALSE(form->Memo5.visible());
}

TEST_F(MainWindow, ModelChangesReachTheWidgets) {
    form->LabelDevice.setText("Device: PlugIn");
    form->Memo1.add("a new line");
    form->RowRangeEdits[3]->setVisible(false);
    EXPECT_EQ(widget<QLabel>("LabelDevice")->text(), "Device: PlugIn");
    EXPECT_TRUE(widget<QPlainTextEdit>("Memo1")->toPlainText().endsWith("a new line"));
    EXPECT_FALSE(window->widgetFor("RowRangeEdit3")->isVisible());
}

TEST_F(MainWindow, ClosingAnErrorBoxWhileTheWindowIsHiddenEndsNothing) {
    loop.setErrorSink([&](const std::string& e) { window->showError(e); });
    int closes = 0;
    auto formClose = form->Form1.onClose;
    form->Form1.onClose = [&] {
        ++closes;
        if (formClose) formClose();
    };
    QuitWatch quits;
    QObject context;
    QTimer::singleShot(0, &context, [&] {
        window->hide();  // as the lamp hides it: now no window of ours is visible
        whenBoxShows([](QMessageBox& box) { box.button(QMessageBox::Ok)->click(); });
        loop.dispatch([] { throw std::runtime_error("Cannot open port"); });
        // Two turns of the loop later it still runs, and nothing asked it to quit.
        QTimer::singleShot(0, &context,
                           [&] { QTimer::singleShot(0, &context, [] { QApplication::exit(7); }); });
    });
    EXPECT_EQ(QApplication::exec(), 7);
    EXPECT_EQ(quits.count, 0);
    EXPECT_EQ(closes, 0);
    window->close();  // the one way out, hidden or not
    EXPECT_EQ(closes, 1);
}

TEST_F(MainWindow, TheErrorBoxShowsTheTextAsItIs) {
    for (const std::string text : {"Cannot open file \"Start_Up.ini\". Permission denied", ""}) {
        QString shown = "<none>";
        whenBoxShows([&](QMessageBox& box) {
            shown = box.text();
            box.accept();
        });
        qt::showErrorBox(nullptr, text);
        EXPECT_EQ(shown.toStdString(), text);
    }
}

TEST_F(MainWindow, TheErrorBoxClosesWhenItsDescriptorBecomesReadable) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const platform::UniqueFd readEnd(fds[0]), writeEnd(fds[1]);
    whenBoxShows([&](QMessageBox&) { ASSERT_EQ(::write(writeEnd.get(), "x", 1), 1); });
    qt::showErrorBox(nullptr, "touchcal: cannot start", readEnd.get());  // returns: closed
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(MainWindow, TheOuterSizeKnownBeforehandIsThatOfTheShownWindow) {
    // Offscreen windows get a thin frame, so this is not the client size.
    EXPECT_EQ(qt::FormWindow::outerSizeFor(window->size()), window->frameGeometry().size());
}

// The log box follows the memo's byte bound as well as its line bound, so a station that
// floods the log cannot grow the window's copy of it without end.
TEST_F(MainWindow, TheLogBoxKeepsNoMoreTextThanTheMemoHolds) {
    form->Memo1.setMaxBytes(4096);
    const std::string line(1000, 'x');
    for (int i = 0; i < 50; ++i) form->Memo1.add(line + std::to_string(i));
    QApplication::processEvents();
    auto* box = widget<QPlainTextEdit>("Memo1");
    ASSERT_NE(box, nullptr);
    EXPECT_LE(box->document()->characterCount(), 4096);
    EXPECT_TRUE(box->toPlainText().endsWith("x49"));
    EXPECT_FALSE(box->toPlainText().contains("x45\n"));
}

// The measurement as the operator sees it: the controller's table after "Read", then the
// ranges of a pen round after "Clear". Screenshots of both are kept to look at.
TEST_F(MainWindow, AReadAndAPenRoundShowOnThePictureAndTheLineBoxes) {
    using namespace std::chrono_literals;
    const char* artefacts = std::getenv("TOUCHCAL_ARTEFACTS");
    const std::filesystem::path folder = artefacts ? artefacts : ".";
    std::filesystem::create_directories(folder);
    auto* image = window->widgetFor("Image1");
    ASSERT_NE(image, nullptr);
    auto countTicks = [&] {
        const QImage shot = image->grab().toImage();
        int red = 0, blue = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x) {
                const QColor c = shot.pixelColor(x, y);
                red += c.red() > 200 && c.green() < 60 && c.blue() < 60;
                blue += c.blue() > 200 && c.red() < 60 && c.green() < 60;
            }
        return std::pair{red, blue};
    };
    loop.runPending();  // the controller is found
    form->suitempButton4Click();
    loop.advance(1000ms);
    QApplication::processEvents();
    const auto [red, blue] = countTicks();
    EXPECT_GT(red, 28 * 2 * 20);  // a minimum tick on every line in use
    EXPECT_GT(blue, 28 * 2 * 20);
    EXPECT_EQ(widget<QLineEdit>("RowRangeEdit0")->text().left(8).toStdString(), "Rol  0:0");
    EXPECT_FALSE(widget<QLineEdit>("RowRangeEdit28")->isVisible());
    EXPECT_TRUE(window->grab().save(QString::fromStdString((folder / "after-read.png").string())));

    form->suitempButton1Click();
    QApplication::processEvents();
    EXPECT_EQ(countTicks(), std::make_pair(0, 0));
    loop.advance(2100ms);  // one pen round
    QApplication::processEvents();
    const auto [red2, blue2] = countTicks();
    EXPECT_GT(red2, 28 * 2 * 20);
    EXPECT_GT(blue2, 28 * 2 * 20);
    EXPECT_TRUE(window->grab().save(QString::fromStdString((folder / "after-sweep.png").string())));
}
