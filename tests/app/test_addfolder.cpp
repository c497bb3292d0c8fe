// Paths, folder walks and file listings: what the FoxPro side relies on to
// find every free table below a folder, and nothing else.

#include "app_test.h"
#include "shell/addfolder.h"

#include <filesystem>
#include <unistd.h>

using namespace qm::shell;
namespace fs = std::filesystem;

namespace {

class Utilities : public qm::test::AppTest {
protected:
    QString dir(const std::string& rel)
    {
        fs::create_directories(scratch.path() / rel);
        return qm::test::qs(scratch.path() / rel);
    }
    void file(const std::string& rel, const std::string& bytes = "x") { qm::test::writeFile(scratch.path() / rel, bytes); }
    QString root() const { return qm::test::qs(scratch.path()) + "/"; }
};

TEST_F(Utilities, PathExistsAndFileIsPresent)
{
    file("table.dbf");
    dir("sub");
    fs::create_symlink(scratch.path() / "table.dbf", scratch.path() / "link.dbf");
    fs::create_symlink(scratch.path() / "gone.dbf", scratch.path() / "broken.dbf");

    EXPECT_FALSE(PathExists(""));
    EXPECT_TRUE(PathExists(root() + "table.dbf"));
    EXPECT_TRUE(PathExists(root() + "sub"));
    EXPECT_FALSE(PathExists(root() + "missing.dbf"));
    EXPECT_FALSE(PathExists(root() + "broken.dbf"));

    EXPECT_FALSE(FileIsPresent(""));
    EXPECT_TRUE(FileIsPresent(root() + "table.dbf"));
    EXPECT_TRUE(FileIsPresent(root() + "link.dbf"));
    EXPECT_FALSE(FileIsPresent(root() + "sub"));
    EXPECT_FALSE(FileIsPresent(root() + "missing.dbf"));
    EXPECT_FALSE(FileIsPresent(root() + "broken.dbf"));
}

TEST_F(Utilities, UnsafeNamesFollowTheWindows1252Rule)
{
    struct Case {
        QString name;
        bool unsafe;
    };
    const Case cases[] = {
        {"", false},
        {"Orders 2016", false},
        {"café-naïve_ÿ", false},           // Latin-1 letters are in the code page
        {QString(QChar(0xA0)), false},     // no-break space, code 160
        {"a?b", true},                     // "?" reads as code 63
        {"tab\there", true},               // below 32
        {QString("del") + QChar(0x7F), true},
        {QString(QChar(0x81)), true},      // C1 control
        {QString::fromUtf8("€uro"), true}, // in the code page, but at 128
        {QString::fromUtf8("smart’quote"), true}, // 146
        {QString::fromUtf8("Łódź"), true}, // outside the code page
        {QString::fromUtf8("日本"), true},
        {QString::fromUtf8("\xF0\x9F\x98\x80"), true}, // a surrogate pair
    };
    for (const Case& c : cases)
        EXPECT_EQ(HasUnsafeChars(c.name), c.unsafe) << c.name.toStdString();
    EXPECT_EQ(Windows1252Code(QChar(0x20AC)), 128);
    EXPECT_EQ(Windows1252Code(QChar(0x0178)), 159);
    EXPECT_EQ(Windows1252Code(QChar(0x0100)), 63);
}

TEST_F(Utilities, PatternsIgnoreLetterCaseAsWindowsDoes)
{
    EXPECT_TRUE(MatchesPattern("ORDERS.DBF", "*.dbf"));
    EXPECT_TRUE(MatchesPattern("orders.Dbf", "*.DBF"));
    EXPECT_TRUE(MatchesPattern("ÄRGER.DBF", "ärger.dbf"));
    EXPECT_FALSE(MatchesPattern("orders.dbf.bak", "*.dbf"));
    EXPECT_FALSE(MatchesPattern("ordersdbf", "*.dbf"));
    EXPECT_TRUE(MatchesPattern("a.dbf", "?.dbf"));
    EXPECT_FALSE(MatchesPattern("ab.dbf", "?.dbf"));
    EXPECT_TRUE(MatchesPattern("noextension", "*.*"));
    EXPECT_TRUE(MatchesPattern("[x].dbf", "[x].dbf")); // brackets are plain characters
}

TEST_F(Utilities, ListFilesOfAnEmptyFolderIsEmpty)
{
    EXPECT_TRUE(ListFiles(dir("empty"), "*.dbf").isEmpty());
}

TEST_F(Utilities, ListFilesFindsEveryMatchWhateverItsCase)
{
    QStringList expected;
    const char* extensions[] = {"dbf", "DBF", "Dbf"};
    for (int i = 0; i < 130; ++i) {
        const std::string name = "t" + std::to_string(1000 + i) + "." + extensions[i % 3];
        file(name);
        expected << QString::fromStdString(name);
    }
    file(".hidden.dbf");
    expected.prepend(".hidden.dbf");
    file("notes.txt");
    file("orders.dbf.bak");
    dir("folder.dbf");
    fs::create_symlink(scratch.path() / "folder.dbf", scratch.path() / "linkedfolder.dbf");
    fs::create_symlink(scratch.path() / "nothing", scratch.path() / "dangling.dbf");

    const QStringList names = ListFiles(root(), "*.dbf");
    EXPECT_EQ(names.size(), 131);
    EXPECT_EQ(names, expected);
    // Without the trailing separator the folder is the same.
    EXPECT_EQ(ListFiles(qm::test::qs(scratch.path()), "*.dbf"), expected);
}

TEST_F(Utilities, ListFilesOfAFolderThatIsNotThereNamesIt)
{
    try {
        ListFiles(root() + "nowhere", "*.dbf");
        FAIL() << "no error";
    } catch (const qm::Error& e) {
        EXPECT_NE(std::string(e.what()).find("nowhere"), std::string::npos) << e.what();
    }
}

TEST_F(Utilities, AddSubFoldersGoesLevelByLevelAndIgnoresLinkedFolders)
{
    dir("a/c/deep");
    dir("a/d");
    dir("B");
    dir("b2/e");
    dir(".hidden");
    dir("bad\x01name");
    dir("odd?name");
    file("a/file.dbf");
    // A link back to the top: followed, it would never end.
    fs::create_directory_symlink(scratch.path(), scratch.path() / "a" / "loop");
    fs::create_directory_symlink(scratch.path() / "b2", scratch.path() / "alias");

    QStringList folders{root()};
    AddSubFolders(folders, true);
    const QStringList expected{
        root(),
        root() + ".hidden/", root() + "a/", root() + "B/", root() + "b2/",
        root() + "a/c/", root() + "a/d/", root() + "b2/e/",
        root() + "a/c/deep/",
    };
    EXPECT_EQ(folders, expected);
    EXPECT_GE(dialogs.doEventsCount(), int(expected.size()));
}

TEST_F(Utilities, AddSubFoldersWithoutRecursionTakesOneLevel)
{
    dir("a/c");
    dir("b");
    QStringList folders{root()};
    AddSubFolders(folders, false);
    EXPECT_EQ(folders, (QStringList{root(), root() + "a/", root() + "b/"}));
}

TEST_F(Utilities, AddSubFoldersKeepsEveryStartingFolderInOrder)
{
    const QString one = dir("one") + "/";
    const QString two = dir("two") + "/";
    dir("two/x");
    dir("one/y");
    QStringList folders{two, one};
    AddSubFolders(folders, true);
    EXPECT_EQ(folders, (QStringList{two, one, two + "x/", one + "y/"}));
}

TEST_F(Utilities, AnUnreadableFolderLeavesTheListButItsSiblingsStay)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the superuser";
    dir("open/inner");
    dir("closed/inner");
    fs::permissions(scratch.path() / "closed", fs::perms::none);
    QStringList folders{root()};
    AddSubFolders(folders, true);
    fs::permissions(scratch.path() / "closed", fs::perms::owner_all);
    EXPECT_EQ(folders, (QStringList{root(), root() + "open/", root() + "open/inner/"}));
}

TEST_F(Utilities, AFolderThatIsNotThereIsAnErrorForTheCaller)
{
    QStringList folders{root() + "vanished/"};
    EXPECT_THROW(AddSubFolders(folders, true), qm::Error);
}

TEST_F(Utilities, BrowseForFolderGoesThroughTheDialogService)
{
    dialogs.queueFolder("");
    EXPECT_EQ(BrowseForFolder(nullptr, "Please select folder:"), QString());
    dialogs.queueFolder("/srv/data");
    EXPECT_EQ(BrowseForFolder(nullptr, "Please select folder:"), "/srv/data");
    ASSERT_EQ(dialogs.shown().size(), 2u);
    EXPECT_EQ(dialogs.shown()[0].kind, ScriptedDialogService::Kind::BrowseForFolder);
    EXPECT_EQ(dialogs.shown()[0].title, "Please select folder:");
}

} // namespace
