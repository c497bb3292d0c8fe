// The dialog service's own rules: filters in Qt's form, message text with
// the platform's line ends shown as lines, and the scripted service telling
// an expected dialog from a surprise.

#include "app_test.h"

using namespace qm::shell;

namespace {

class DialogServiceTest : public qm::test::AppTest {};

TEST(FileFilter, PairsBecomeQtFilters)
{
    EXPECT_EQ(qtFileFilter("All Microsoft Databases (*.mdb,*.accdb)|*.*db|Microsoft Database (*.mdb)|*.mdb|"
                           "Microsoft 2007 Database (*.accdb)|*.accdb|"),
              "All Microsoft Databases (*.mdb,*.accdb) (*.*db);;Microsoft Database (*.mdb);;"
              "Microsoft 2007 Database (*.accdb)");
    EXPECT_EQ(qtFileFilter("Microsoft Database (*.dbc)|*.dbc|"), "Microsoft Database (*.dbc)");
    EXPECT_EQ(qtFileFilter("Tables|*.dbf;*.DBF|"), "Tables (*.dbf *.DBF)");
    EXPECT_EQ(qtFileFilter(""), "");
}

TEST(MessageText, PlatformLineEndsBecomeLines)
{
    EXPECT_EQ(displayText("a\r\nb\r\rc"), "a\nb\n\nc");
}

TEST_F(DialogServiceTest, ScriptedAnswersAreTakenInOrderAndSurprisesMarked)
{
    dialogs.queueAnswer(Answer::No);
    EXPECT_EQ(MsgBox("Would you like to overwrite Orders?", Buttons::YesNo), Answer::No);
    EXPECT_EQ(MsgBox("Again?", Buttons::YesNoCancel), Answer::Yes); // nothing queued: first button
    dialogs.queueInput("NewName");
    EXPECT_EQ(Dialogs().inputBox(nullptr, "New name:", QString(), "Old"), "NewName");
    EXPECT_EQ(Dialogs().inputBox(nullptr, "New name:", QString(), "Old"), QString());

    const auto& s = dialogs.shown();
    ASSERT_EQ(s.size(), 4u);
    EXPECT_FALSE(s[0].unscripted);
    EXPECT_TRUE(s[1].unscripted);
    EXPECT_EQ(s[2].defaultText, "Old");
    EXPECT_TRUE(s[3].unscripted);
    EXPECT_TRUE(dialogs.allAnswersUsed());
}

TEST_F(DialogServiceTest, ClipboardAndDoEventsAreRecorded)
{
    Dialogs().setClipboardText("select 1");
    EXPECT_EQ(Dialogs().clipboardText(), "select 1");
    int seen = 0;
    dialogs.onDoEvents([&] { ++seen; });
    DoEvents();
    DoEvents();
    EXPECT_EQ(dialogs.doEventsCount(), 2);
    EXPECT_EQ(seen, 2);
}

} // namespace
