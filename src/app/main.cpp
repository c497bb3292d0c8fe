// quillmere: the desktop program.  Its start-up is the connection window's
// load; everything else follows from there.

#include "mainwindow/form2.h"
#include "shell/chrome.h"
#include "shell/form1.h"

#include <QApplication>

#ifdef QM_HAVE_PROVIDERS
#include "providers/providers.h"
#endif

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

bool hasEnv(const char* name)
{
    const char* v = std::getenv(name);
    return v && *v;
}

} // namespace

int main(int argc, char** argv)
{
    // Without a display Qt would abort with a backtrace about plugins.
    if (!hasEnv("QT_QPA_PLATFORM") && !hasEnv("DISPLAY") && !hasEnv("WAYLAND_DISPLAY")) {
        std::fprintf(stderr,
                     "quillmere: no graphical display found (DISPLAY is not set); run it in a desktop session, "
                     "or with QT_QPA_PLATFORM=offscreen\n");
        return 2;
    }

#ifdef QM_HAVE_PROVIDERS
    qm::providers::registerBuiltInProviders();
#endif

    QApplication app(argc, argv);
    // Qt takes the C library's locale from the environment; numbers in SQL
    // texts and in the engines' conversions are always written with '.'.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QString::fromLatin1(qm::shell::kProductTitle));
    QApplication::setWindowIcon(qm::shell::ApplicationIcon());

    qm::shell::Form1 form;
    std::unique_ptr<qm::mainwindow::Form2> mainWindow;
    qm::mainwindow::ConnectMainWindow(form, mainWindow);
    form.Start();
    return app.exec();
}
