#include "shell/chrome.h"

#include "shell/addfolder.h"
#include "value/value.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QEnterEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QRadioButton>
#include <QStandardPaths>

namespace qm::shell {

namespace {

QString& programFolderOverride()
{
    static QString folder;
    return folder;
}

QString& applicationTitle()
{
    static QString title;
    return title;
}

[[noreturn]] void fail(const QString& text) { throw qm::Error(text.toStdString()); }

void paintWith(QWidget* w, const QColor& colour)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Window, colour);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

} // namespace

QString ProgramFolder()
{
    const QString& o = programFolderOverride();
    if (!o.isEmpty())
        return QDir::toNativeSeparators(o);
    const QString exeFolder = QCoreApplication::applicationDirPath();
#ifdef QM_INSTALLED_PROGRAM_FOLDER
    const QDir installed(exeFolder + QStringLiteral("/" QM_INSTALLED_PROGRAM_FOLDER));
    if (installed.exists())
        return QDir::toNativeSeparators(installed.canonicalPath());
#endif
    return QDir::toNativeSeparators(exeFolder);
}

void SetProgramFolder(const QString& folder) { programFolderOverride() = folder; }

namespace {

// Copies the files of `from` into `to`, sub-folders included, keeping any
// file `to` already has.  False when a file could not be copied.
bool copyMissing(const QString& from, const QString& to)
{
    if (!QDir().mkpath(to))
        return false;
    const QDir source(from);
    for (const QFileInfo& e : source.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString target = to + QLatin1Char('/') + e.fileName();
        if (e.isDir()) {
            if (!copyMissing(e.filePath(), target))
                return false;
        } else if (!QFileInfo::exists(target)) {
            if (!QFile::copy(e.filePath(), target))
                return false;
            // Installed files are read-only; the copy is the user's to change.
            QFile::setPermissions(target, QFile::permissions(target) | QFileDevice::WriteOwner);
        }
    }
    return true;
}

} // namespace

QString SampleDatabaseFor(const QString& programFolder, bool programFolderWritable, const QString& userSamples)
{
    const QString inFolder = QDir::toNativeSeparators(programFolder + QLatin1Char('/') + QLatin1String(kSampleDatabase));
    if (programFolderWritable || !QFileInfo(inFolder).isFile())
        return inFolder;
    const QString samples = QFileInfo(inFolder).absolutePath();
    if (!copyMissing(samples, userSamples))
        return inFolder;
    return QDir::toNativeSeparators(userSamples + QLatin1Char('/') + QFileInfo(inFolder).fileName());
}

QString SampleDatabase()
{
    const QString folder = ProgramFolder();
    const QFileInfo samples(folder + QLatin1String("/Samples"));
    const QString userSamples = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                                QLatin1String("/quillmere/Samples");
    return SampleDatabaseFor(folder, samples.isWritable(), userSamples);
}

QString ProgramFile(const QString& relative)
{
    return QDir::toNativeSeparators(ProgramFolder() + QLatin1Char('/') + relative);
}

QString ShortenedTitle(const QString& title)
{
    constexpr qsizetype kLongest = 40;
    QString t = title;
    if (!t.contains(QLatin1Char(' ')))
        return t.left(kLongest);
    do {
        const qsizetype space = t.lastIndexOf(QLatin1Char(' '));
        if (space < 0) {
            t.truncate(kLongest);
            break;
        }
        t.truncate(space);
    } while (t.size() > kLongest);
    return t;
}

void SetApplicationTitle() { applicationTitle() = ShortenedTitle(QString::fromLatin1(kProductTitle)); }

QString ApplicationTitle()
{
    const QString& t = applicationTitle();
    return t.isEmpty() ? QString::fromLatin1(kProductTitle) : t;
}

QFont ControlFont(bool bold, qreal pointSize)
{
    QFont font;
    // Debian ships no Arial; fontconfig usually aliases it, but naming the
    // metric-compatible face keeps the layouts right where it doesn't.
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

void ApplyBackColor(QWidget* window)
{
    const QColor face = QApplication::palette().color(QPalette::Button);
    paintWith(window, face);
    for (QWidget* child : window->findChildren<QWidget*>()) {
        if (qobject_cast<QLabel*>(child) || qobject_cast<QRadioButton*>(child) || qobject_cast<QCheckBox*>(child) ||
            qobject_cast<QGroupBox*>(child))
            paintWith(child, face);
    }
}

void ApplySkin(QWidget* window)
{
    const QString path = ProgramFile(QString::fromLatin1(kSkinFile));
    if (!QFileInfo(path).isFile())
        return;
    ApplyBackColor(window);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("The skin file %1 can't be read: %2").arg(path, file.errorString()));
    window->setStyleSheet(QString::fromUtf8(file.readAll()));
}

QIcon ApplicationIcon()
{
    static const QIcon icon(QStringLiteral(":/quillmere/quillmere.png"));
    return icon;
}

QCursor LoadCursorFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("The cursor file %1 can't be read: %2").arg(path, file.errorString()));
    const QByteArray bytes = file.readAll();
    // ICONDIR (reserved 0, type 2 = cursor, count), then the first entry,
    // whose planes and bit-count words hold the hot spot's x and y.
    auto word = [&](int at) { return int(quint8(bytes[at])) | int(quint8(bytes[at + 1])) << 8; };
    if (bytes.size() < 22 || word(0) != 0 || word(2) != 2 || word(4) < 1)
        fail(QStringLiteral("The cursor file %1 is not a Windows cursor (.cur) file").arg(path));
    const int hotX = word(6 + 4);
    const int hotY = word(6 + 6);
    QImage image;
    if (!image.loadFromData(bytes, "CUR") || image.isNull())
        fail(QStringLiteral("The cursor file %1 holds no image that can be read").arg(path));
    return QCursor(QPixmap::fromImage(image), std::min(hotX, image.width() - 1), std::min(hotY, image.height() - 1));
}

// ---- WindowPointer ----

WindowPointer::WindowPointer(QWidget* window) : QObject(window), window_(window) {}

WindowPointer::~WindowPointer() { restoreHourglassedChildren(); }

void WindowPointer::LoadHandCursor()
{
    const QString path = ProgramFile(QString::fromLatin1(kHandCursorFile));
    custom_.reset();
    if (PathExists(path))
        custom_ = LoadCursorFile(path);
    applyCursor();
}

void WindowPointer::setKind(PointerKind kind)
{
    if (kind == kind_)
        return;
    kind_ = kind;
    applyCursor();
}

void WindowPointer::addButtons(std::initializer_list<QWidget*> buttons)
{
    for (QWidget* w : buttons) {
        buttons_.insert(w);
        watch(w);
    }
}

void WindowPointer::addSurfaces(std::initializer_list<QWidget*> surfaces)
{
    for (QWidget* w : surfaces) {
        // A list's movements arrive at its viewport.
        if (auto* area = qobject_cast<QAbstractScrollArea*>(w))
            w = area->viewport();
        surfaces_.insert(w);
        watch(w);
    }
}

void WindowPointer::mouseMovedOver(QWidget* control)
{
    if (kind_ == PointerKind::Hourglass)
        return;
    if (buttons_.count(control))
        setKind(PointerKind::Custom);
    else if (surfaces_.count(control))
        setKind(PointerKind::Default);
}

void WindowPointer::watch(QWidget* w)
{
    w->setMouseTracking(true);
    w->installEventFilter(this);
}

bool WindowPointer::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter) {
        auto* w = static_cast<QWidget*>(watched);
        const auto* pe = static_cast<const QSinglePointEvent*>(event);
        // A movement that Qt passed up from a child (a label in a frame)
        // is not a movement over this control.
        if (!w->childAt(pe->position().toPoint()))
            mouseMovedOver(w);
    }
    return false;
}

void WindowPointer::applyCursor()
{
    restoreHourglassedChildren();
    switch (kind_) {
    case PointerKind::Default:
        window_->unsetCursor();
        break;
    case PointerKind::Custom:
        if (custom_)
            window_->setCursor(*custom_);
        else
            window_->unsetCursor();
        break;
    case PointerKind::Hourglass:
        window_->setCursor(Qt::WaitCursor);
        for (QWidget* child : window_->findChildren<QWidget*>()) {
            if (child->testAttribute(Qt::WA_SetCursor) && child->isWindow() == false) {
                hourglassed_.emplace_back(child, child->cursor());
                child->setCursor(Qt::WaitCursor);
            }
        }
        break;
    }
}

void WindowPointer::restoreHourglassedChildren()
{
    for (auto& [child, cursor] : hourglassed_)
        if (child)
            child->setCursor(cursor);
    hourglassed_.clear();
}

} // namespace qm::shell
