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

TEST(Memo, LimitsDropTheOldestLinesFirst) {
    struct Case {
        const char* name;
        std::size_t maxLines;
        std::size_t maxBytes;
        std::vector<std::string> added;
        std::vector<std::string> kept;
    } cases[] = {
        {"no limits", 0, 0, {"a", "bb", "ccc"}, {"a", "bb", "ccc"}},
        {"lines", 2, 0, {"a", "bb", "ccc"}, {"bb", "ccc"}},
        {"bytes", 0, 5, {"a", "bb", "ccc"}, {"bb", "ccc"}},
        {"bytes exactly at the limit", 0, 6, {"a", "bb", "ccc"}, {"a", "bb", "ccc"}},
        {"lines before bytes", 1, 100, {"a", "bb", "ccc"}, {"ccc"}},
        {"bytes before lines", 10, 4, {"aa", "bb", "ccc"}, {"ccc"}},
        {"a line longer than the limit is kept cut", 0, 4, {"a", "0123456789"}, {"0123"}},
    };
    for (const auto& c : cases) {
        Memo m("Memo1", {0, 0, 10, 10});
        m.setMaxLines(c.maxLines);
        m.setMaxBytes(c.maxBytes);
        for (const auto& l : c.added) m.add(l);
        EXPECT_EQ(std::vector<std::string>(m.lines().begin(), m.lines().end()), c.kept) << c.name;
        std::size_t bytes = 0;
        for (const auto& l : c.kept) bytes += l.size();
        EXPECT_EQ(m.textBytes(), bytes) << c.name;
        m.setLines(c.added);  // the same limits for a whole list
        EXPECT_EQ(std::vector<std::string>(m.lines().begin(), m.lines().end()), c.kept) << c.name;
    }
}

TEST(Memo, ObserversSeeTheLineAsKeptAndTheListWhenALimitShrinksIt) {
    Memo m("Memo1", {0, 0, 10, 10});
    Recorder r;
    m.addObserver(&r);
    m.setMaxBytes(3);
    m.add("abcdef");
    EXPECT_EQ(m.lines().back(), "abc");
    m.setMaxBytes(0);
    m.add("12");
    m.add("34");
    m.setMaxBytes(2);  // now too much: the list changes under the observers
    EXPECT_EQ(std::vector<std::string>(m.lines().begin(), m.lines().end()),
              std::vector<std::string>{"34"});
    EXPECT_EQ(r.seen, (std::vector<Change>{Change::LineAdded, Change::LineAdded, Change::LineAdded,
                                           Change::Lines}));
}
