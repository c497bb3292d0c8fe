// Window chrome: the application title, the skin's missing-file rule, the
// hand cursor drawn at build time, and the pointer rule that never replaces
// an hourglass.

#include "app_test.h"
#include "shell/form1.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>

#include <filesystem>

using namespace qm::shell;
namespace fs = std::filesystem;

namespace {

class Chrome : public qm::test::AppTest {
protected:
    void installHandCursor()
    {
        fs::copy_file(fs::path(QM_ART_DIR) / "HAND-M.CUR", programFolder.path() / "HAND-M.CUR");
    }
    void installSkin(const std::string& css)
    {
        fs::create_directories(programFolder.path() / "x");
        qm::test::writeFile(programFolder.path() / "x" / "o.cjs", css);
    }
    // A mouse movement as the window system delivers it to the control.
    static void moveOver(QWidget* w, QPoint at = QPoint(2, 2))
    {
        QMouseEvent move(QEvent::MouseMove, at, w->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(w, &move);
    }
};

TEST_F(Chrome, TitleShorteningDropsWordsUntilFortyCharacters)
{
    EXPECT_EQ(ShortenedTitle("Quillmere"), "Quillmere"); // no space: nothing to drop
    EXPECT_EQ(ShortenedTitle("Quillmere Pro"), "Quillmere");
    EXPECT_EQ(ShortenedTitle("Quillmere moves tables between Access and FoxPro databases"),
              "Quillmere moves tables between Access");
    EXPECT_EQ(ShortenedTitle(QString(45, 'q')), QString(40, 'q'));
    EXPECT_EQ(ShortenedTitle(QString(45, 'q') + " x"), QString(40, 'q'));
    SetApplicationTitle();
    EXPECT_EQ(ApplicationTitle(), "Quillmere");
}

TEST_F(Chrome, MessageBoxesWithoutTitleCarryTheApplicationTitle)
{
    SetApplicationTitle();
    MsgBox("hello");
    MsgBox("named", Buttons::YesNo, Icon::Question, "Overwrite?");
    ASSERT_EQ(dialogs.shown().size(), 2u);
    EXPECT_EQ(dialogs.shown()[0].title, "Quillmere");
    EXPECT_EQ(dialogs.shown()[1].title, "Overwrite?");
}

TEST_F(Chrome, WithoutTheSkinFileNothingChanges)
{
    Form1 form;
    const QPalette before = form.Label5->palette();
    fs::create_directories(programFolder.path() / "x" / "o.cjs"); // a folder is not the file
    ApplySkin(&form);
    EXPECT_TRUE(form.styleSheet().isEmpty());
    EXPECT_FALSE(form.autoFillBackground());
    EXPECT_FALSE(form.Label5->autoFillBackground());
    EXPECT_EQ(form.Label5->palette(), before);
}

TEST_F(Chrome, TheSkinFileColoursTheWindowAndBecomesItsStyleSheet)
{
    installSkin("QPushButton { font-weight: bold; }");
    Form1 form;
    ApplySkin(&form);
    EXPECT_EQ(form.styleSheet(), "QPushButton { font-weight: bold; }");
    const QColor face = QApplication::palette().color(QPalette::Button);
    for (QWidget* w : std::initializer_list<QWidget*>{&form, form.Frame1, form.Option1, form.Label5})
        EXPECT_TRUE(w->autoFillBackground() && w->palette().color(QPalette::Window) == face)
            << w->objectName().toStdString();
    EXPECT_FALSE(form.PushButton3->autoFillBackground());
    EXPECT_FALSE(form.Text1->autoFillBackground());
}

TEST_F(Chrome, TheBuiltHandCursorReadsBackWithItsHotSpot)
{
    installHandCursor();
    const QCursor hand = LoadCursorFile(ProgramFile("HAND-M.CUR"));
    EXPECT_EQ(hand.shape(), Qt::BitmapCursor);
    EXPECT_EQ(hand.pixmap().size(), QSize(32, 32));
    EXPECT_EQ(hand.hotSpot(), QPoint(10, 1));
    // The fingertip is drawn and the corner is see-through.
    const QImage img = hand.pixmap().toImage();
    EXPECT_GT(qAlpha(img.pixel(10, 4)), 0);
    EXPECT_EQ(qAlpha(img.pixel(31, 0)), 0);
}

TEST_F(Chrome, ACursorFileThatIsNoCursorIsAnErrorNamingIt)
{
    qm::test::writeFile(programFolder.path() / "HAND-M.CUR", "not a cursor at all, just text");
    try {
        LoadCursorFile(ProgramFile("HAND-M.CUR"));
        FAIL() << "no error";
    } catch (const qm::Error& e) {
        EXPECT_NE(std::string(e.what()).find("HAND-M.CUR"), std::string::npos) << e.what();
    }
}

TEST_F(Chrome, ButtonsShowTheHandAndSurfacesTheDefault)
{
    installHandCursor();
    Form1 form;
    form.MousePointer->LoadHandCursor();
    ASSERT_TRUE(form.MousePointer->hasCustomImage());

    moveOver(form.PushButton3);
    EXPECT_EQ(form.MousePointer->kind(), PointerKind::Custom);
    EXPECT_EQ(form.cursor().shape(), Qt::BitmapCursor);

    // A label has no rule of its own: the movement reaches its frame from a
    // child, which leaves the pointer as it was.
    moveOver(form.Label5);
    EXPECT_EQ(form.MousePointer->kind(), PointerKind::Custom);

    moveOver(form.Text3);
    EXPECT_EQ(form.MousePointer->kind(), PointerKind::Default);
    EXPECT_EQ(form.cursor().shape(), Qt::ArrowCursor);

    moveOver(form.PushButton2);
    moveOver(form.Frame2); // the frame's own surface, away from its controls
    EXPECT_EQ(form.MousePointer->kind(), PointerKind::Default);
}

TEST_F(Chrome, WithoutTheCursorFileTheCustomPointerIsTheArrow)
{
    Form1 form;
    form.MousePointer->LoadHandCursor();
    EXPECT_FALSE(form.MousePointer->hasCustomImage());
    moveOver(form.PushButton6);
    EXPECT_EQ(form.MousePointer->kind(), PointerKind::Custom);
    EXPECT_EQ(form.cursor().shape(), Qt::ArrowCursor);
}

TEST_F(Chrome, TheHourglassStaysWhereverTheMouseGoes)
{
    installHandCursor();
    Form1 form;
    form.MousePointer->LoadHandCursor();
    form.MousePointer->setKind(PointerKind::Hourglass);
    for (QWidget* w : std::initializer_list<QWidget*>{form.PushButton1, form.PushButton2, form.Text1, form.Text4,
                                                      form.Frame1, &form})
        moveOver(w);
    EXPECT_EQ(form.MousePointer->kind(), PointerKind::Hourglass);
    EXPECT_EQ(form.cursor().shape(), Qt::WaitCursor);
    // Text boxes bring their own cursor; it gives way while the hourglass shows.
    EXPECT_EQ(form.Text1->cursor().shape(), Qt::WaitCursor);
    form.MousePointer->setKind(PointerKind::Default);
    EXPECT_EQ(form.Text1->cursor().shape(), Qt::IBeamCursor);
}

TEST_F(Chrome, TheApplicationIconIsBuiltIn)
{
    EXPECT_FALSE(ApplicationIcon().isNull());
    EXPECT_FALSE(ApplicationIcon().pixmap(32, 32).isNull());
    Form1 form;
    form.Form_Load();
    EXPECT_EQ(form.windowIcon().cacheKey(), ApplicationIcon().cacheKey());
}

TEST_F(Chrome, WindowsUseArialOrItsMetricTwin)
{
    Form1 form;
    const QString family = QFontInfo(form.Text1->font()).family();
    EXPECT_TRUE(family == "Arial" || family == "Liberation Sans") << family.toStdString();
}

} // namespace
