#include <gtest/gtest.h>

#include <vector>

#include "ui/Form.h"

using namespace tc::ui;

namespace {

struct Recorder : Observer {
    std::vector<Change> seen;
    void changed(Control&, Change what) override { seen.push_back(what); }
};

}  // namespace

TEST(Image, KeepsOnlyTheOperationsSinceTheLastFullFill) {
    Image img("Image1", {8, 31, 100, 50});
    img.brushColor = colors::White;
    img.fillRect({0, 0, 100, 50});
    img.penColor = colors::Red;
    img.penWidth = 2;
    img.moveTo(1, 2);
    img.lineTo(30, 2);
    img.fillRect({10, 10, 5, 5});  // not the whole canvas: kept with the rest
    ASSERT_EQ(img.ops().size(), 3u);
    EXPECT_EQ(img.ops()[1].type, CanvasOp::Type::Line);
    EXPECT_EQ(img.ops()[1].from, (Point{1, 2}));
    EXPECT_EQ(img.ops()[1].to, (Point{30, 2}));
    EXPECT_EQ(img.ops()[1].penWidth, 2);
    EXPECT_EQ(img.ops()[1].penColor, colors::Red);
    img.fillRect({0, 0, 100, 50});
    EXPECT_EQ(img.ops().size(), 1u);
}

TEST(Controls, OnlyRealChangesAreAnnounced) {
    Label l("Label9", {0, 0, 10, 10});
    TrayLamp lamp("CoolTrayIcon1");
    Recorder r;
    l.addObserver(&r);
    lamp.addObserver(&r);
    l.setText("----");
    l.setText("----");
    lamp.setIndex(2);
    lamp.setIndex(2);
    EXPECT_EQ(r.seen, (std::vector<Change>{Change::Text, Change::Lamp}));
}

TEST(Controls, RadioGroupRunsItsClickOnlyForTheOperator) {
    RadioGroup g("suiRadioGroup1", {0, 0, 10, 10});
    g.setItems({"Normal", "Calibration"});
    int clicks = 0;
    g.onClick = [&] { ++clicks; };
    g.setItemIndex(0);
    EXPECT_EQ(clicks, 0);
    g.userSelect(1);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(g.itemIndex(), 1);
}

TEST(Controls, FormTellsOfControlsAddedLater) {
    Form f("Form1", {0, 0, 100, 100});
    std::vector<std::string> added;
    f.onControlAdded([&](Control& c) { added.push_back(c.name()); });
    f.add<Edit>("RowRangeEdit0", Rect{560, 32, 180, 17});
    EXPECT_EQ(added, (std::vector<std::string>{"RowRangeEdit0"}));
    EXPECT_EQ(f.find("RowRangeEdit0").kind(), Kind::Edit);
    EXPECT_THROW(f.find("nothing"), std::runtime_error);
}
