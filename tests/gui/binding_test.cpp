// The generic binder: handlers run through the dispatcher, widgets follow the state, what the
// user types or picks reaches the state, and the standard exception display keeps the loop going.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>
#include <stdexcept>

#include "app/application.hpp"
#include "gui/binding.hpp"
#include "gui/qt_platform.hpp"
#include "modal_helper.hpp"

namespace kelvarin::gui {
namespace {

class BinderTest : public ::testing::Test {
protected:
    QtPlatform platform;
    Application app{platform, Locale(',')};
    Binder binder{app};
    QWidget form;
};

TEST_F(BinderTest, ClickRunsHandlerAndWidgetsShowTheNewState) {
    Button go{{}, "Go"};
    Label status{{}, "idle", {}};
    Edit field{{}, "12", {}};
    int runs = 0;
    QPushButton* button = binder.button(go, &form, [&] {
        ++runs;
        status.caption = "ran with " + field.text;
        status.colour = Colour::Blue;
        field.colour = Colour::Blue;
        go.enabled = false;
        field.visible = false;
    });
    QLabel* label = binder.label(status, &form);
    QLineEdit* edit = binder.edit(field, &form);
    binder.push();
    EXPECT_EQ(button->text(), "Go");
    EXPECT_EQ(edit->text(), "12");

    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(label->text(), "ran with 12");
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(edit->palette().color(QPalette::Base), QColor(0, 0, 255));
    EXPECT_FALSE(button->isEnabled());
    EXPECT_TRUE(edit->isHidden());

    // Back to the normal colour restores the normal palette.
    field.colour = Colour::Window;
    binder.push();
    EXPECT_NE(edit->palette().color(QPalette::Base), QColor(0, 0, 255));
}

TEST_F(BinderTest, TypingAndPickingReachTheState) {
    Edit field{{}, "", {}};
    CheckBox box{{}, "Log10", false};
    RadioGroup group{{}, "Kind", {"one", "two", "three"}, -1};
    ComboBox list{{}, {"Cra1", "Cua1", "Synchrotron"}, -1, "Element"};
    std::vector<std::string> calls;
    QLineEdit* edit =
        binder.edit(field, &form, {}, [&] { calls.push_back("change:" + field.text); });
    QCheckBox* check = binder.checkBox(box, &form, [&] { calls.push_back("box"); });
    QGroupBox* radios = binder.radioGroup(
        group, &form, [&] { calls.push_back("group:" + std::to_string(group.itemIndex)); });
    QComboBox* combo = binder.comboBox(list, &form, [&] {
        calls.push_back("list:" + std::to_string(list.itemIndex) + ":" + list.text);
    });
    binder.push();
    EXPECT_EQ(combo->currentText(), "Element");
    EXPECT_EQ(combo->currentIndex(), -1);
    for (auto* r : radios->findChildren<QRadioButton*>())
        EXPECT_FALSE(r->isChecked());

    QTest::keyClicks(edit, "5,5");
    EXPECT_EQ(field.text, "5,5");
    ASSERT_EQ(calls.size(), 3u);  // one change per keystroke, as the text changes
    EXPECT_EQ(calls.back(), "change:5,5");

    check->click();
    EXPECT_TRUE(box.checked);
    radios->findChildren<QRadioButton*>().at(2)->click();
    EXPECT_EQ(group.itemIndex, 2);
    EXPECT_EQ(calls.back(), "group:2");

    // A picked item selects it; typed free text selects nothing unless it is an item.
    combo->setCurrentIndex(1);
    emit combo->activated(1);
    EXPECT_EQ(list.itemIndex, 1);
    EXPECT_EQ(list.text, "Cua1");
    combo->lineEdit()->clear();
    QTest::keyClicks(combo->lineEdit(), "Cu");
    EXPECT_EQ(list.itemIndex, -1);
    EXPECT_EQ(list.text, "Cu");
    QTest::keyClicks(combo->lineEdit(), "a1");
    EXPECT_EQ(list.itemIndex, 1);

    // The state can take the selection away again (no radio button stays checked).
    group.itemIndex = -1;
    binder.push();
    for (auto* r : radios->findChildren<QRadioButton*>())
        EXPECT_FALSE(r->isChecked());
}

TEST_F(BinderTest, GridShowsCellsRowCountAndHeadingRows) {
    StringGrid table{3, 2, 1};
    table.setCell(0, 0, "Tau");
    table.setCell(1, 1, "0,004");
    QTableWidget* grid = binder.grid(table, &form);
    binder.push();
    ASSERT_EQ(grid->rowCount(), 2);
    ASSERT_EQ(grid->columnCount(), 3);
    EXPECT_EQ(grid->item(0, 0)->text(), "Tau");
    EXPECT_TRUE(grid->item(0, 0)->font().bold());
    EXPECT_FALSE(grid->item(1, 1)->font().bold());
    EXPECT_EQ(grid->item(1, 1)->text(), "0,004");

    table.setRowCount(51);
    table.setCell(2, 50, "last");
    binder.push();
    EXPECT_EQ(grid->rowCount(), 51);
    EXPECT_EQ(grid->item(50, 2)->text(), "last");
}

TEST_F(BinderTest, EnabledTimerRunsItsHandlerOnceAfterItsInterval) {
    Timer timer{30, false};
    int fired = 0;
    binder.timer(timer, [&] {
        ++fired;
        timer.enabled = false;  // the handler stops it, as a highlight timer does
    });
    binder.push();
    QTest::qWait(80);
    EXPECT_EQ(fired, 0);
    timer.enabled = true;
    binder.push();
    QTRY_COMPARE_WITH_TIMEOUT(fired, 1, 2000);
    QTest::qWait(100);
    EXPECT_EQ(fired, 1);
}

TEST_F(BinderTest, HandlerExceptionIsShownAndTheLoopGoesOn) {
    Button bad{{}, "Bad"};
    Label status{{}, "", {}};
    int after = 0;
    QPushButton* button = binder.button(bad, &form, [&] {
        status.caption = "before the failure";
        throw ConversionError("abc", "maxY", false);
    });
    Button good{{}, "Good"};
    QPushButton* other = binder.button(good, &form, [&] { ++after; });
    QLabel* label = binder.label(status, &form);

    testing::ModalAnswerer answerer;
    button->click();
    EXPECT_EQ(answerer.seen.count, 1);
    EXPECT_TRUE(answerer.seen.text.contains("abc")) << answerer.seen.text.toStdString();
    EXPECT_EQ(platform.exceptionsShown(), 1);
    // The handler's earlier steps stay done and are shown.
    EXPECT_EQ(label->text(), "before the failure");

    other->click();
    EXPECT_EQ(after, 1);
}

TEST_F(BinderTest, BusyApplicationRefusesHandlersButNotTheAllowedOnes) {
    Button run{{}, "GO"};
    Button ok{{}, "OK"};
    int runs = 0, oks = 0;
    QPushButton* goButton = binder.button(run, &form, [&] { ++runs; });
    QPushButton* okButton = binder.button(
        ok, &form, [&] { ++oks; }, true);
    app.setBusy(true);
    goButton->click();
    okButton->click();
    app.setBusy(false);
    EXPECT_EQ(runs, 0);
    EXPECT_EQ(oks, 1);
}

}  // namespace
}  // namespace kelvarin::gui
