#include "customization/form3.h"

#include "ado/ado.h"
#include "dataaccess/connectionstrings.h"
#include "dataaccess/globals.h"
#include "shell/chrome.h"
#include "shell/controls.h"
#include "shell/dialogs.h"
#include "shell/errorreport.h"

#include <QGroupBox>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>

#include <cmath>

namespace qm::customization {

using dataaccess::FieldSizes;
using dataaccess::FieldTypes;
using shell::Buttons;
using shell::Icon;
using shell::MsgBox;
using shell::Twips;

namespace {

const QString kFoxPro = QStringLiteral("FOXPRO");
const QString kAccess = QStringLiteral("ACCESS");

void place(QWidget* w, int left, int top, int width, int height)
{
    w->setGeometry(Twips(left), Twips(top), Twips(width), Twips(height));
}

QString foxProTypeText(std::int16_t type, std::int32_t size)
{
    const QString n = QString::number(size);
    switch (type) {
    case 203: case 201: return QStringLiteral("Memo");
    case 200: case 129: case 202: case 130: return QStringLiteral("Character(") + n + QStringLiteral(")");
    case 11: return QStringLiteral("Logical");
    case 6: case 4: case 131: case 5: case 14: return QStringLiteral("Numeric");
    case 18: case 2: case 17: case 16: case 21: case 20: case 19: case 3: return QStringLiteral("Integer");
    case 133: case 7: case 134: case 135: case 64: return QStringLiteral("DateTime");
    default: return QStringLiteral("Character(") + n + QStringLiteral(")");
    }
}

QString accessTypeText(std::int16_t type, std::int32_t size)
{
    const QString sized = size > 255 ? QStringLiteral("MEMO") : QStringLiteral("VARCHAR(") + QString::number(size) + QStringLiteral(")");
    switch (type) {
    case 203: case 201: return QStringLiteral("MEMO");
    case 200: case 129: case 202: case 130: return sized;
    case 11: return QStringLiteral("BIT");
    case 6: return QStringLiteral("CURRENCY");
    case 4: case 131: case 5: return QStringLiteral("NUMERIC");
    case 14: return QStringLiteral("DECIMAL");
    case 18: case 2: return QStringLiteral("SMALLINT");
    case 17: case 16: return QStringLiteral("TINYINT");
    case 21: case 20: return QStringLiteral("BIGINT");
    case 19: case 3: return QStringLiteral("INT");
    case 133: case 7: case 134: case 135: case 64: return QStringLiteral("DATETIME");
    default: return sized;
    }
}

// "reads as a number": what the platform's numeric test accepts.
bool readsAsNumber(const QString& s)
{
    bool ok = false;
    s.trimmed().toDouble(&ok);
    return ok;
}

// The size between the first "(" and the first ")" after it, as a 16-bit
// number (blanks allowed, fractions to the nearest, halves to even).
std::optional<std::int32_t> sizeIn(const QString& t, bool& bracketed)
{
    bracketed = false;
    const qsizetype open = t.indexOf(u'(');
    if (open < 0)
        return std::nullopt;
    const qsizetype close = t.indexOf(u')', open + 1);
    if (close < 0)
        return std::nullopt;
    bracketed = true;
    const QString inner = t.mid(open + 1, close - open - 1).trimmed();
    bool ok = false;
    const double d = inner.toDouble(&ok);
    if (!ok)
        throw Error("Type mismatch: the size '" + inner.toStdString() + "' is not a number.");
    const double r = std::nearbyint(d);
    if (r < -32768 || r > 32767)
        throw OverflowError("Overflow: the size " + inner.toStdString() + " is beyond 32767.");
    return static_cast<std::int32_t>(r);
}

} // namespace

bool IsValidFoxProDataType(const QString& text)
{
    static const QString words = QStringLiteral("Logical\r\nNumeric\r\nInteger\r\nDateTime\r\nMemo");
    return words.contains(text, Qt::CaseInsensitive) || text.contains(QStringLiteral("Character("), Qt::CaseInsensitive);
}

bool IsValidAccessDataType(const QString& text)
{
    // The Access engine's type words: sized texts and binaries, decimals
    // with precision and scale, the rest bare.
    static const QRegularExpression sized(
        QStringLiteral("^\\s*(TEXT|VARCHAR|CHAR|CHARACTER|NCHAR|NVARCHAR|BINARY|VARBINARY|CHARACTER\\s+VARYING)\\s*(\\(\\s*\\d{1,3}\\s*\\))?\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression decimal(
        QStringLiteral("^\\s*(NUMERIC|DECIMAL|DEC)\\s*(\\(\\s*\\d{1,2}\\s*(,\\s*\\d{1,2}\\s*)?\\))?\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression bare(
        QStringLiteral("^\\s*(MEMO|LONGTEXT|LONGCHAR|NOTE|BIT|YESNO|LOGICAL|LOGICAL1|CURRENCY|MONEY|SMALLINT|SHORT|"
                       "INTEGER2|INT|INTEGER|LONG|INTEGER4|TINYINT|BYTE|INTEGER1|BIGINT|SINGLE|REAL|FLOAT4|IEEESINGLE|"
                       "FLOAT|DOUBLE|FLOAT8|IEEEDOUBLE|NUMBER|DATETIME|DATE|TIME|TIMESTAMP|GUID|UNIQUEIDENTIFIER|"
                       "LONGBINARY|GENERAL|OLEOBJECT|IMAGE|COUNTER|AUTOINCREMENT|IDENTITY)\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    if (sized.match(text).hasMatch() || decimal.match(text).hasMatch() || bare.match(text).hasMatch())
        return true;
    // "Character(n)" and "numeric(18, 0)", the forms the window's own help
    // shows, are Access types too; sizes must be whole numbers.
    static const QRegularExpression character(QStringLiteral("^\\s*Character\\s*\\(\\s*\\d{1,3}\\s*\\)\\s*$"),
                                              QRegularExpression::CaseInsensitiveOption);
    return character.match(text).hasMatch();
}

Form3::Form3(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Data Type Customization"));
    setFixedSize(Twips(8160), Twips(6120));
    PushButton3 = new QPushButton(QStringLiteral("Help"), this);
    place(PushButton3, 120, 90, 7800, 405);
    Frame1 = new QGroupBox(QStringLiteral("Fields"), this);
    place(Frame1, 120, 570, 3840, 3660);
    List1 = new QListWidget(Frame1);
    place(List1, 255, 300, 3330, 3210);
    Frame2 = new QGroupBox(QStringLiteral("Data Type"), this);
    place(Frame2, 4080, 570, 3840, 3660);
    List2 = new QListWidget(Frame2);
    place(List2, 240, 300, 3330, 3210);
    Frame3 = new QGroupBox(QStringLiteral("Change Selected Data Type To This"), this);
    place(Frame3, 120, 4260, 7800, 810);
    Text1 = new shell::TextBox(Frame3);
    place(Text1, 240, 300, 5940, 345);
    PushButton1 = new QPushButton(QStringLiteral("Apply"), Frame3);
    place(PushButton1, 6240, 300, 1275, 345);
    PushButton2 = new QPushButton(QStringLiteral("OK"), this);
    place(PushButton2, 120, 5190, 3840, 405);
    PushButton4 = new QPushButton(QStringLiteral("Cancel"), this);
    place(PushButton4, 4080, 5190, 3840, 405);
    for (QPushButton* b : {PushButton1, PushButton2, PushButton3, PushButton4})
        b->setAutoDefault(false);

    MousePointer = new shell::WindowPointer(this);
    MousePointer->addButtons({PushButton1, PushButton2, PushButton3, PushButton4});
    MousePointer->addSurfaces({this, Frame1, Frame2, Frame3, List1, List2, Text1});

    connect(List1, &QListWidget::itemClicked, this, [this] { List1_Click(); });
    connect(List2, &QListWidget::itemClicked, this, [this] { List2_Click(); });
    connect(PushButton1, &QPushButton::clicked, this, [this] { PushButton1_Click(); });
    connect(PushButton2, &QPushButton::clicked, this, [this] { PushButton2_Click(); });
    connect(PushButton3, &QPushButton::clicked, this, [this] { PushButton3_Click(); });
    connect(PushButton4, &QPushButton::clicked, this, [this] { PushButton4_Click(); });
}

Form3::~Form3() = default;

int Form3::exec()
{
    Form_Load();
    return QDialog::exec();
}

void Form3::Form_Load()
{
    shell::ErrorHandler h(QStringLiteral("Form3.Form_Load"));
    h.run(10, [&] { MousePointer->LoadHandCursor(); });
    h.run(20, [&] {
        shell::ApplyBackColor(this);
        setWindowIcon(shell::ApplicationIcon());
    });
    TypeChanged = false;
    h.run(30, [&] {
        if (mType == kFoxPro)
            ListFieldsAsFoxPro();
        else if (mType == kAccess)
            ListFieldsAsAccess();
    });
    List1->setCurrentRow(-1);
    List2->setCurrentRow(-1);
    Text1->clear();
}

void Form3::ListFieldsAsFoxPro()
{
    ado::Connection cn;
    ado::Recordset rs;
    cn.CursorLocation = ado::adUseClient;
    cn.Mode = ado::adModeReadWrite;
    cn.Open(dataaccess::AccessConnectionString(QString(), QString()).toStdString());
    rs.Open((QStringLiteral("SELECT top 1 * FROM [") + mTableName + QStringLiteral("]")).toStdString(), cn,
            ado::adOpenStatic, ado::adLockOptimistic);
    for (std::size_t i = 0; i < rs.FieldCount(); ++i) {
        const ado::Field f = rs.Fields(i);
        List1->addItem(QString::fromStdString(f.Name()));
        List2->addItem(foxProTypeText(f.Type(), f.DefinedSize()));
    }
    if (rs.State() != ado::adStateClosed)
        rs.Close();
    if (cn.State() != ado::adStateClosed)
        cn.Close();
}

void Form3::ListFieldsAsAccess()
{
    ado::Connection cn;
    ado::Recordset rs;
    cn.CursorLocation = ado::adUseClient;
    cn.Open(dataaccess::FoxProConnectionString().toStdString());
    rs.Open((QStringLiteral("SELECT * FROM [") + mTableName + QStringLiteral("]")).toStdString(), cn,
            ado::adOpenStatic, ado::adLockOptimistic);
    for (std::size_t i = 0; i < rs.FieldCount(); ++i) {
        const ado::Field f = rs.Fields(i);
        List1->addItem(QString::fromStdString(f.Name()));
        List2->addItem(accessTypeText(f.Type(), f.DefinedSize()));
    }
    if (rs.State() != ado::adStateClosed)
        rs.Close();
    if (cn.State() != ado::adStateClosed)
        cn.Close();
}

bool Form3::IsValidDataType(const QString& text) const
{
    // Each direction is checked against its own destination's type words.
    if (mType == kAccess)
        return IsValidAccessDataType(text);
    return IsValidFoxProDataType(text);
}

QString Form3::UniqueFieldName()
{
    auto taken = [&](const QString& candidate) {
        for (int i = 0; i < List1->count(); ++i)
            if (List1->item(i)->text() == candidate)
                return true;
        return givenNames_.count(candidate) > 0;
    };
    QString candidate = QStringLiteral("newfieldname0");
    int k = 0;
    while (taken(candidate)) {
        ++k;
        candidate = QString::number(k) + QStringLiteral("tempid");
    }
    givenNames_.insert(candidate);
    return candidate;
}

void Form3::List1_Click()
{
    if (List1->count() == 0)
        return;
    const int row = List1->currentRow();
    List2->setCurrentRow(row);
    if (QListWidgetItem* item = List2->item(row))
        Text1->setText(item->text());
}

void Form3::List2_Click()
{
    if (List2->count() == 0)
        return;
    const int row = List2->currentRow();
    List1->setCurrentRow(row);
    if (QListWidgetItem* item = List2->item(row))
        Text1->setText(item->text());
}

void Form3::PushButton1_Click()
{
    shell::ErrorHandler h(QStringLiteral("Form3.PushButton1_Click"));
    h.run(10, [&] {
        if (IsValidDataType(Text1->text())) {
            h.run(20, [&] {
                QListWidgetItem* item = List2->currentItem();
                if (!item)
                    throw Error("No data type row is selected: pick the field whose type is to change.");
                item->setText(Text1->text());
            });
            TypeChanged = true;
        } else {
            MsgBox(QStringLiteral("Invalid datatype."), Buttons::OK, Icon::Exclamation);
        }
    });
}

void Form3::PushButton2_Click()
{
    shell::ErrorHandler h(QStringLiteral("Form3.PushButton2_Click"));
    if (mType == kFoxPro) {
        for (int i = 0; i < List2->count(); ++i) {
            const QString t = List2->item(i)->text();
            const QString word = t.trimmed();
            h.run(10, [&] {
                if (i >= static_cast<int>(FieldTypes.size()) || i >= static_cast<int>(FieldSizes.size()))
                    throw Error("Subscript out of range: field " + std::to_string(i) + " has no type entry.");
                bool sizes = false;
                // Type words match ignoring letter case: "memo" is Memo.
                if (word.compare(QStringLiteral("Memo"), Qt::CaseInsensitive) == 0)
                    FieldTypes[i] = 203;
                else if (t.contains(QStringLiteral("Character"), Qt::CaseInsensitive))
                    FieldTypes[i] = 202, sizes = true;
                else if (word.compare(QStringLiteral("Logical"), Qt::CaseInsensitive) == 0)
                    FieldTypes[i] = 11;
                else if (word.compare(QStringLiteral("Numeric"), Qt::CaseInsensitive) == 0)
                    FieldTypes[i] = 131;
                else if (word.compare(QStringLiteral("Integer"), Qt::CaseInsensitive) == 0)
                    FieldTypes[i] = 3;
                else if (word.compare(QStringLiteral("DateTime"), Qt::CaseInsensitive) == 0)
                    FieldTypes[i] = 7;
                else
                    FieldTypes[i] = 200, sizes = true;
                if (sizes) {
                    bool bracketed = false;
                    if (auto n = sizeIn(t, bracketed))
                        FieldSizes[i] = *n;
                }
            });
        }
    } else if (mType == kAccess) {
        givenNames_.clear();
        for (int i = 0; i < List2->count(); ++i) {
            shell::DoEvents();
            h.run(20, [&] {
                QString name = List1->item(i)->text();
                if (readsAsNumber(name))
                    name = UniqueFieldName();
                mSQL += QStringLiteral("[") + name + QStringLiteral("] ") + List2->item(i)->text() + QStringLiteral(",");
            });
        }
        h.run(30, [&] {
            mSQL.chop(1);
            mSQL += QStringLiteral(")");
        });
    }
    TypeChanged = false;
    dataaccess::CustomizeCancelled = dataaccess::kFalse;
    accept();
}

void Form3::PushButton3_Click()
{
    QStringList words;
    QString head;
    if (mType == kFoxPro) {
        head = QStringLiteral("The following are the Data Types of Foxpro: ");
        words = {"Character", "Currency", "Numeric", "Float", "Date", "DateTime", "Double", "Integer",
                 "Logical", "Memo", "General", "Character (Binary)", "Memo (Binary)"};
    } else if (mType == kAccess) {
        head = QStringLiteral("The following are the Data Types of MS Access: ");
        words = {"Text", "Memo", "Bit", "DateTime", "int", "numeric(18, 0)", "SmallInt", "tinyint", "VarChar (50)"};
    } else {
        return;
    }
    for (const QString& w : words)
        head += QStringLiteral("\r\n") + w;
    MsgBox(head, Buttons::OK, Icon::None);
}

void Form3::PushButton4_Click() { close(); }

bool Form3::Form_QueryUnload()
{
    if (!TypeChanged)
        return true;
    return MsgBox(QStringLiteral("Data type has been change.\r\nDo you still want to exit without changes?"),
                  Buttons::YesNo, Icon::Question) == shell::Answer::Yes;
}

// The close box, Escape and "Cancel" all end here (QDialog's closeEvent
// rejects): the question keeps the window open on No.
void Form3::reject()
{
    if (Form_QueryUnload())
        QDialog::reject();
}

} // namespace qm::customization
