// quillmere: the desktop program.  Its start-up is the connection window's
// load; everything else follows from there.
//
//   quillmere [FILE]      FILE (.mdb, .accdb, .dbc or .dbf) goes into the
//                         connection window's field for it
//   quillmere --help      usage, and where the program folder is
//   quillmere --version

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
#include <optional>
#include <string>

namespace {

bool hasEnv(const char* name)
{
    const char* v = std::getenv(name);
    return v && *v;
}

void printUsage(std::FILE* to)
{
    std::fprintf(to, "usage: quillmere [FILE]\n"
                     "  FILE  an Access database (.mdb, .accdb), a FoxPro database container (.dbc)\n"
                     "        or a FoxPro table (.dbf, whose folder is opened as free tables)\n"
                     "  --help, --version\n");
}

// --help and --version answer without a display; anything else is the
// program's own start.  Returns the exit status when the run ends here.
std::optional<int> answerWithoutWindows(int argc, char** argv)
{
    if (argc < 2)
        return std::nullopt;
    const std::string first = argv[1];
    if (first == "--version") {
        std::printf("quillmere %s\n", QM_VERSION);
        return 0;
    }
    if (first == "--help" || first == "-h") {
        QCoreApplication app(argc, argv);
        printUsage(stdout);
        std::printf("Program folder (samples, hand cursor, skin): %s\n",
                    qPrintable(qm::shell::ProgramFolder()));
        return 0;
    }
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv)
{
    if (const auto status = answerWithoutWindows(argc, argv))
        return *status;

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
    // Qt has taken its own options out; what is left is the file to open.
    const QStringList args = QApplication::arguments().mid(1);
    if (args.size() > 1 || (!args.isEmpty() && args[0].startsWith(QLatin1Char('-')))) {
        printUsage(stderr);
        return 2;
    }
    // Qt takes the C library's locale from the environment; numbers in SQL
    // texts and in the engines' conversions are always written with '.'.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QString::fromLatin1(qm::shell::kProductTitle));
    QApplication::setWindowIcon(qm::shell::ApplicationIcon());

    qm::shell::Form1 form;
    if (!args.isEmpty())
        form.GivenFile = args[0];
    std::unique_ptr<qm::mainwindow::Form2> mainWindow;
    qm::mainwindow::ConnectMainWindow(form, mainWindow);
    form.Start();
    return app.exec();
}
