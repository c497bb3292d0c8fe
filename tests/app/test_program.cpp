// The program as a user starts it.

#include "test_support.h"

#include <gtest/gtest.h>

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

} // namespace
