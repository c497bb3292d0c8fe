// The app suites' main: a scratch HOME and XDG_CONFIG_HOME before anything
// touches the settings store, so the tests never see the user's real one,
// then the QApplication the windows need (offscreen unless told otherwise).

#include "test_support.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

#ifdef QM_HAVE_PROVIDERS
#include "providers/providers.h"
#endif

int main(int argc, char** argv)
{
    static qm::test::TempDir home;
    const std::string config = (home.path() / ".config").string();
    ::setenv("HOME", home.path().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);

#ifdef QM_HAVE_PROVIDERS
    qm::providers::registerBuiltInProviders();
#endif

    QApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
