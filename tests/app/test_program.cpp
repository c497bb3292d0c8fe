// The program as a user starts it.

#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

TEST(Program, WithoutADisplayItSaysSoInOneLineAndStops)
{
    const auto r = qm::test::run({"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM",
                                  QM_QUILLMERE_EXE});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_EQ(r.err,
              "quillmere: no graphical display found (DISPLAY is not set); run it in a desktop session, "
              "or with QT_QPA_PLATFORM=offscreen\n");
    EXPECT_EQ(r.out, "");
}

TEST(Program, HelpAndVersionAnswerWithoutADisplay)
{
    const auto version = qm::test::run({"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM",
                                        QM_QUILLMERE_EXE, "--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "quillmere " QM_VERSION "\n");

    // Run from its build folder, the program folder is the executable's own.
    const auto help = qm::test::run({"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM",
                                     QM_QUILLMERE_EXE, "--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.starts_with("usage: quillmere [FILE]\n")) << help.out;
    const std::string folder = std::filesystem::path(QM_QUILLMERE_EXE).parent_path().string();
    EXPECT_NE(help.out.find("Program folder (samples, hand cursor, skin): " + folder + "\n"), std::string::npos)
        << help.out;
}

TEST(Program, MoreThanOneFileIsAUsageError)
{
    const auto r = qm::test::run({"env", "QT_QPA_PLATFORM=offscreen", QM_QUILLMERE_EXE, "a.mdb", "b.mdb"});
    EXPECT_EQ(r.exitCode, 2);
    // (Qt may have written a line of its own first.)
    EXPECT_NE(r.err.find("usage: quillmere [FILE]\n"), std::string::npos) << r.err;
}

} // namespace
