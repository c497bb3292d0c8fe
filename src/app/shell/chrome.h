// The finishing touches every window shares: the program folder and its
// optional files, the skin and background colours, the window font, icon
// and caption, the hand pointer over buttons, and the application title that
// message boxes carry when they name none of their own.
#pragma once

#include <QCursor>
#include <QFont>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>

#include <initializer_list>
#include <optional>
#include <set>
#include <utility>
#include <vector>

class QWidget;

namespace qm::shell {

// The product title: every main window's caption.
inline constexpr const char* kProductTitle = "Quillmere";

// ---- the program folder ----

// The folder of the executable, where the program runs from its build
// folder.  Installed, the executable sits in bin/ and its folder's files in
// share/quillmere/ beside it (QM_INSTALLED_PROGRAM_FOLDER, relative to the
// executable's folder): when that folder exists, it is the program folder.
QString ProgramFolder();
// Replaces the program folder for this run (tests point it at a scratch
// folder); "" goes back to the executable's folder.
void SetProgramFolder(const QString& folder);
// A file in the program folder; relative uses "/" ("x/o.cjs") and comes
// back with the platform's separators.
QString ProgramFile(const QString& relative);

inline constexpr const char* kHandCursorFile = "HAND-M.CUR";
inline constexpr const char* kSkinFile = "x/o.cjs";
inline constexpr const char* kSampleDatabase = "Samples/sample.mdb";

// The sample database "Load Sample/Example Database" offers.  Where the
// program folder's Samples cannot be written (installed under /usr/share),
// the folder is first copied to userSamples (files already there are kept,
// so a user's changes survive) and the copy's sample.mdb is offered, so
// that transfers into it work.  Falls back to the program folder's file
// when the copy cannot be made.
QString SampleDatabaseFor(const QString& programFolder, bool programFolderWritable, const QString& userSamples);
// The same for this run: the program folder, whether its Samples can be
// written, and <user data folder>/quillmere/Samples.
QString SampleDatabase();

// ---- application title ----

// The title shortened by the rule of SetApplicationTitle: drop the last word
// (cut before the last space) until the text is at most 40 characters,
// dropping at least one word.  A title without any space has no word to
// drop: it is kept whole, cut to its first 40 characters if longer.
QString ShortenedTitle(const QString& title);
// Sets the application title from the product title.
void SetApplicationTitle();
// The title of message boxes that name none; the product title until
// SetApplicationTitle has run.
QString ApplicationTitle();

// ---- look ----

// Arial where installed, otherwise its metric twin Liberation Sans, at the
// size the windows were laid out for.
QFont ControlFont(bool bold = false, qreal pointSize = 8.25);

// Window and labels, option buttons, check boxes and frames get the
// button-face colour; buttons, text boxes, lists and images keep theirs.
void ApplyBackColor(QWidget* window);

// When the program folder's skin file x/o.cjs exists as a normal file:
// ApplyBackColor, then the file (a Qt style sheet) becomes the window's
// style sheet.  Without the file nothing changes at all.  Throws qm::Error
// naming the file when it exists but can't be read.
void ApplySkin(QWidget* window);

// The application icon, shared by every window.
QIcon ApplicationIcon();

// Twips (the unit the window layouts are written in) to pixels.
constexpr int Twips(int twips) { return (twips + 7) / 15; }

// ---- pointer ----

// A window's pointer kinds, numbered as the window system numbers them.
enum class PointerKind { Default = 0, Hourglass = 11, Custom = 99 };

// Reads a Windows cursor file (.cur): its image and hot spot.  Throws
// qm::Error naming the file when it is not a cursor that can be read.
QCursor LoadCursorFile(const QString& path);

// The pointer of one window.  Buttons registered with addButtons switch the
// window's pointer to the custom image (the hand) when the mouse moves over
// them; surfaces registered with addSurfaces (the window, frames, lists,
// text boxes) switch it to the default.  Neither replaces an hourglass, so a
// long action keeps it wherever the mouse goes.  Controls not registered
// (labels, option buttons, check boxes) leave the pointer as it was.
class WindowPointer : public QObject {
public:
    explicit WindowPointer(QWidget* window);
    ~WindowPointer() override;

    // The load step of every window: when the program folder holds
    // HAND-M.CUR, it becomes the window's custom pointer image.
    void LoadHandCursor();
    bool hasCustomImage() const { return custom_.has_value(); }

    PointerKind kind() const { return kind_; }
    void setKind(PointerKind kind);

    void addButtons(std::initializer_list<QWidget*> buttons);
    void addSurfaces(std::initializer_list<QWidget*> surfaces);

    // The rule for one mouse movement over a registered control.
    void mouseMovedOver(QWidget* control);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void watch(QWidget* w);
    void applyCursor();
    void restoreHourglassedChildren();

    QWidget* window_;
    PointerKind kind_ = PointerKind::Default;
    std::optional<QCursor> custom_;
    std::set<QObject*> buttons_, surfaces_;
    // Controls with a cursor of their own (text boxes) get the hourglass too
    // while it shows; their own cursor comes back afterwards.
    std::vector<std::pair<QPointer<QWidget>, QCursor>> hourglassed_;
};

} // namespace qm::shell
