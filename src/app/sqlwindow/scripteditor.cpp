#include "sqlwindow/scripteditor.h"

#include "shell/dialogs.h"

#include <QApplication>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>

namespace qm::sqlwindow {

namespace {

constexpr int kMargin = 3;                 // pixels left of the first column
constexpr std::size_t kUndoSteps = 1000;

bool isWordChar(QChar c) { return c.isLetterOrNumber() || c == QLatin1Char('_'); }

// What a line shows: tabs and other control characters as blanks.
QString shown(QStringView text)
{
    QString s = text.toString();
    for (QChar& c : s)
        if (c.unicode() < 0x20)
            c = QLatin1Char(' ');
    return s;
}

} // namespace

ScriptEditor::ScriptEditor(QWidget* parent) : QAbstractScrollArea(parent)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setStyleHint(QFont::Monospace);
    setFont(font);
    const QFontMetrics fm(font);
    cell_ = std::max(1, fm.horizontalAdvance(QLatin1Char('M')));
    lineHeight_ = std::max(1, fm.lineSpacing());
    ascent_ = fm.ascent();
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    verticalScrollBar()->setSingleStep(1);
}

ScriptEditor::~ScriptEditor() = default;

void ScriptEditor::setBuffer(ScriptBuffer* buffer)
{
    if (buffer_)
        disconnect(buffer_, nullptr, this, nullptr);
    buffer_ = buffer;
    if (buffer_) {
        connect(buffer_, &ScriptBuffer::appended, this, &ScriptEditor::onAppended);
        connect(buffer_, &ScriptBuffer::reset, this, &ScriptEditor::onReset);
        connect(buffer_, &ScriptBuffer::edited, this, &ScriptEditor::onEdited);
    }
    onReset();
}

void ScriptEditor::setReadOnly(bool readOnly) { readOnly_ = readOnly; }

// ---- positions ----

qsizetype ScriptEditor::displayLines() const
{
    if (!buffer_)
        return 1;
    // An empty text, or one that ends in a line end, has one more (empty)
    // line for the caret to stand on.
    return std::max<qsizetype>(1, buffer_->lineAt(buffer_->length()) + 1);
}

qsizetype ScriptEditor::lineOf(qsizetype pos) const { return buffer_ ? buffer_->lineAt(pos) : 0; }

qsizetype ScriptEditor::lineLength(qsizetype line) const { return buffer_ ? buffer_->line(line).size() : 0; }

qsizetype ScriptEditor::caretLine() const { return lineOf(caret_); }

qsizetype ScriptEditor::caretColumn() const { return buffer_ ? caret_ - buffer_->lineStart(caretLine()) : 0; }

qsizetype ScriptEditor::firstVisibleLine() const { return verticalScrollBar()->value(); }

int ScriptEditor::visibleLines() const { return std::max(1, viewport()->height() / lineHeight()); }

qsizetype ScriptEditor::positionAt(const QPoint& p) const
{
    if (!buffer_)
        return 0;
    const qsizetype line =
        std::clamp<qsizetype>(firstVisibleLine() + (p.y() < 0 ? -1 : p.y() / lineHeight()), 0, displayLines() - 1);
    const int x = p.x() - kMargin + horizontalScrollBar()->value();
    const qsizetype column = std::clamp<qsizetype>((x + cellWidth() / 2) / cellWidth(), 0, lineLength(line));
    return buffer_->lineStart(line) + column;
}

QString ScriptEditor::selectedText() const
{
    if (!buffer_ || !hasSelection())
        return {};
    const qsizetype a = std::min(caret_, anchor_), b = std::max(caret_, anchor_);
    return buffer_->mid(a, b - a);
}

// ---- caret and selection ----

void ScriptEditor::setCaret(qsizetype pos, bool keepAnchor) { moveCaretTo(pos, keepAnchor); }

void ScriptEditor::moveCaretTo(qsizetype pos, bool keepAnchor, bool keepColumn)
{
    const qsizetype n = buffer_ ? buffer_->length() : 0;
    pos = std::clamp<qsizetype>(pos, 0, n);
    if (buffer_ && pos > 0 && pos < n) {
        const ScriptBuffer& t = *buffer_;
        // Never between the CR and the LF of one line end, nor inside a
        // surrogate pair.
        if (t.at(pos - 1) == QLatin1Char('\r') && t.at(pos) == QLatin1Char('\n'))
            pos = pos > caret_ ? pos + 1 : pos - 1;
        else if (t.at(pos).isLowSurrogate() && t.at(pos - 1).isHighSurrogate())
            pos = pos > caret_ ? pos + 1 : pos - 1;
    }
    caret_ = pos;
    if (!keepAnchor)
        anchor_ = pos;
    if (!keepColumn)
        wantedColumn_ = -1;
    restartBlink();
    ensureCaretVisible();
    viewport()->update();
    emit caretMoved();
}

void ScriptEditor::selectAll()
{
    if (!buffer_)
        return;
    anchor_ = 0;
    moveCaretTo(buffer_->length(), true);
}

void ScriptEditor::ensureCaretVisible()
{
    if (!buffer_)
        return;
    // A view that waits for a refresh has not got its scroll range yet.
    if (refreshPending_)
        refresh();
    const qsizetype line = caretLine();
    QScrollBar* v = verticalScrollBar();
    if (line < v->value())
        v->setValue(static_cast<int>(line));
    else if (line >= v->value() + visibleLines())
        v->setValue(static_cast<int>(line - visibleLines() + 1));
    QScrollBar* h = horizontalScrollBar();
    const qsizetype x = caretColumn() * cellWidth();
    const int width = viewport()->width() - 2 * kMargin - cellWidth();
    if (x < h->value())
        h->setValue(static_cast<int>(std::max<qsizetype>(0, x - width / 4)));
    else if (x > h->value() + width) {
        if (x > h->maximum())
            noteLongLines(line, line + 1), updateScrollBars();
        h->setValue(static_cast<int>(x - width + width / 4));
    }
}

// ---- editing ----

void ScriptEditor::replaceRange(qsizetype from, qsizetype count, const QString& text, bool recordUndo)
{
    if (!buffer_)
        return;
    if (recordUndo) {
        undo_.push_back({from, buffer_->mid(from, count), text});
        if (undo_.size() > kUndoSteps)
            undo_.erase(undo_.begin());
        redo_.clear();
    }
    editing_ = true;
    buffer_->replace(from, count, text);
    editing_ = false;
    noteLongLines(lineOf(from), lineOf(from + text.size()) + 1);
    scheduleRefresh();
    moveCaretTo(from + text.size(), false);
}

void ScriptEditor::deleteSelection()
{
    if (!hasSelection())
        return;
    const qsizetype a = std::min(caret_, anchor_), b = std::max(caret_, anchor_);
    replaceRange(a, b - a, QString());
}

void ScriptEditor::insertText(const QString& text)
{
    if (readOnly_ || !buffer_)
        return;
    const qsizetype a = std::min(caret_, anchor_), b = std::max(caret_, anchor_);
    if (a == b && text.isEmpty())
        return;
    replaceRange(a, b - a, text);
}

void ScriptEditor::copy()
{
    if (hasSelection())
        shell::Dialogs().setClipboardText(selectedText());
}

void ScriptEditor::cut()
{
    if (readOnly_ || !hasSelection())
        return;
    copy();
    deleteSelection();
}

void ScriptEditor::paste()
{
    if (readOnly_)
        return;
    QString text = shell::Dialogs().clipboardText();
    // Lines pasted from elsewhere join the script with its own line ends.
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    insertText(text);
}

void ScriptEditor::undo()
{
    if (readOnly_ || undo_.empty())
        return;
    Edit e = std::move(undo_.back());
    undo_.pop_back();
    replaceRange(e.from, e.inserted.size(), e.removed, false);
    redo_.push_back(std::move(e));
}

void ScriptEditor::redo()
{
    if (readOnly_ || redo_.empty())
        return;
    Edit e = std::move(redo_.back());
    redo_.pop_back();
    replaceRange(e.from, e.removed.size(), e.inserted, false);
    undo_.push_back(std::move(e));
}

// ---- keyboard and mouse ----

void ScriptEditor::keyPressEvent(QKeyEvent* event)
{
    if (!buffer_) {
        event->ignore();
        return;
    }
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const ScriptBuffer& t = *buffer_;
    const qsizetype n = t.length();
    const qsizetype line = caretLine();
    const qsizetype lineStart = buffer_->lineStart(line);
    const qsizetype column = caret_ - lineStart;

    auto vertical = [&](qsizetype lines) {
        if (wantedColumn_ < 0)
            wantedColumn_ = column;
        const qsizetype target = std::clamp<qsizetype>(line + lines, 0, displayLines() - 1);
        const qsizetype wanted = wantedColumn_;
        moveCaretTo(buffer_->lineStart(target) + std::min(wanted, lineLength(target)), shift, true);
        wantedColumn_ = wanted;
    };

    if (event == QKeySequence::SelectAll) {
        selectAll();
    } else if (event == QKeySequence::Copy) {
        copy();
    } else if (event == QKeySequence::Cut) {
        cut();
    } else if (event == QKeySequence::Paste) {
        paste();
    } else if (event == QKeySequence::Undo) {
        undo();
    } else if (event == QKeySequence::Redo) {
        redo();
    } else {
        switch (event->key()) {
        case Qt::Key_Left:
            if (hasSelection() && !shift)
                moveCaretTo(std::min(caret_, anchor_), false);
            else if (ctrl) {
                qsizetype p = caret_;
                while (p > 0 && !isWordChar(t.at(p - 1)))
                    --p;
                while (p > 0 && isWordChar(t.at(p - 1)))
                    --p;
                moveCaretTo(p, shift);
            } else if (column == 0 && line > 0)
                moveCaretTo(buffer_->lineStart(line - 1) + lineLength(line - 1), shift);
            else
                moveCaretTo(caret_ - 1, shift);
            break;
        case Qt::Key_Right:
            if (hasSelection() && !shift)
                moveCaretTo(std::max(caret_, anchor_), false);
            else if (ctrl) {
                qsizetype p = caret_;
                while (p < n && isWordChar(t.at(p)))
                    ++p;
                while (p < n && !isWordChar(t.at(p)))
                    ++p;
                moveCaretTo(p, shift);
            } else if (column >= lineLength(line))
                moveCaretTo(buffer_->lineStart(line + 1), shift);
            else
                moveCaretTo(caret_ + 1, shift);
            break;
        case Qt::Key_Up:
            vertical(-1);
            break;
        case Qt::Key_Down:
            vertical(1);
            break;
        case Qt::Key_PageUp:
            vertical(-visibleLines());
            break;
        case Qt::Key_PageDown:
            vertical(visibleLines());
            break;
        case Qt::Key_Home:
            moveCaretTo(ctrl ? 0 : lineStart, shift);
            break;
        case Qt::Key_End:
            moveCaretTo(ctrl ? n : lineStart + lineLength(line), shift);
            break;
        case Qt::Key_Backspace:
            if (readOnly_)
                break;
            if (hasSelection())
                deleteSelection();
            else if (caret_ > 0) {
                qsizetype from = caret_ - 1;
                if (column == 0)
                    from = buffer_->lineStart(line - 1) + lineLength(line - 1); // the whole line end
                else if (from > 0 && t.at(from).isLowSurrogate() && t.at(from - 1).isHighSurrogate())
                    --from;
                replaceRange(from, caret_ - from, QString());
            }
            break;
        case Qt::Key_Delete:
            if (readOnly_)
                break;
            if (hasSelection())
                deleteSelection();
            else if (caret_ < n) {
                qsizetype to = caret_ + 1;
                if (column >= lineLength(line))
                    to = buffer_->lineStart(line + 1);
                else if (to < n && t.at(caret_).isHighSurrogate() && t.at(to).isLowSurrogate())
                    ++to;
                replaceRange(caret_, to - caret_, QString());
            }
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            insertText(QStringLiteral("\r\n"));
            break;
        default: {
            const QString text = event->text();
            bool printable = !text.isEmpty() && !(ctrl && !(event->modifiers() & Qt::AltModifier));
            for (QChar c : text)
                if (c.unicode() < 0x20 && c != QLatin1Char('\t'))
                    printable = false;
            if (!printable) {
                event->ignore();
                return;
            }
            insertText(text);
            break;
        }
        }
    }
    event->accept();
}

bool ScriptEditor::focusNextPrevChild(bool next)
{
    // Tab is typed into the script, as in a text box with several lines.
    Q_UNUSED(next);
    return false;
}

void ScriptEditor::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    moveCaretTo(positionAt(event->position().toPoint()), event->modifiers() & Qt::ShiftModifier);
}

void ScriptEditor::mouseMoveEvent(QMouseEvent* event)
{
    if (event->buttons() & Qt::LeftButton)
        moveCaretTo(positionAt(event->position().toPoint()), true);
}

void ScriptEditor::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !buffer_)
        return;
    const ScriptBuffer& t = *buffer_;
    qsizetype a = positionAt(event->position().toPoint()), b = a;
    while (a > 0 && isWordChar(t.at(a - 1)))
        --a;
    while (b < t.length() && isWordChar(t.at(b)))
        ++b;
    moveCaretTo(a, false);
    moveCaretTo(b, true);
}

void ScriptEditor::focusInEvent(QFocusEvent* event)
{
    restartBlink();
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void ScriptEditor::focusOutEvent(QFocusEvent* event)
{
    blink_.stop();
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void ScriptEditor::restartBlink()
{
    caretShown_ = true;
    const int period = QApplication::cursorFlashTime() / 2;
    if (period > 0 && hasFocus())
        blink_.start(period, this);
}

void ScriptEditor::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != blink_.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    caretShown_ = !caretShown_;
    viewport()->update();
}

// ---- following the buffer ----

void ScriptEditor::onAppended(qsizetype)
{
    // The transfers append line by line: the view catches up once, when
    // the window messages are next processed.
    scheduleRefresh();
}

void ScriptEditor::onReset()
{
    caret_ = anchor_ = 0;
    wantedColumn_ = -1;
    undo_.clear();
    redo_.clear();
    scannedLines_ = 0;
    widest_ = 0;
    verticalScrollBar()->setValue(0);
    horizontalScrollBar()->setValue(0);
    scheduleRefresh();
    emit caretMoved();
}

void ScriptEditor::onEdited(qsizetype from, qsizetype count, qsizetype insertedLength)
{
    if (editing_)
        return;
    // Someone else changed the text: caret and selection keep to the text
    // they stood by, and undo steps no longer fit it.
    const qsizetype delta = insertedLength - count;
    for (qsizetype* p : {&caret_, &anchor_}) {
        if (*p >= from + count)
            *p += delta;
        else if (*p > from)
            *p = from + insertedLength;
    }
    undo_.clear();
    redo_.clear();
    noteLongLines(lineOf(from), lineOf(from + insertedLength) + 1);
    scheduleRefresh();
}

void ScriptEditor::scheduleRefresh()
{
    if (refreshPending_)
        return;
    refreshPending_ = true;
    viewport()->update();
    QTimer::singleShot(0, this, [this] {
        if (refreshPending_)
            refresh();
    });
}

void ScriptEditor::refresh()
{
    refreshPending_ = false;
    if (buffer_ && scannedLines_ < buffer_->lineCount()) {
        noteLongLines(scannedLines_, buffer_->lineCount());
        scannedLines_ = buffer_->lineCount();
    }
    updateScrollBars();
    viewport()->update();
}

void ScriptEditor::noteLongLines(qsizetype fromLine, qsizetype toLine)
{
    if (!buffer_)
        return;
    toLine = std::min(toLine, buffer_->lineCount());
    for (qsizetype i = std::max<qsizetype>(fromLine, 0); i < toLine; ++i)
        widest_ = std::max(widest_, buffer_->line(i).size());
}

void ScriptEditor::updateScrollBars()
{
    QScrollBar* v = verticalScrollBar();
    const int page = visibleLines();
    const qsizetype lines = displayLines();
    v->setRange(0, static_cast<int>(std::max<qsizetype>(0, lines - page)));
    v->setPageStep(page);
    QScrollBar* h = horizontalScrollBar();
    const qsizetype width = (widest_ + 1) * cellWidth() + 2 * kMargin;
    h->setRange(0, static_cast<int>(std::clamp<qsizetype>(width - viewport()->width(), 0, 1 << 30)));
    h->setPageStep(viewport()->width());
    h->setSingleStep(cellWidth());
}

void ScriptEditor::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void ScriptEditor::scrollContentsBy(int, int) { viewport()->update(); }

// ---- painting ----

void ScriptEditor::paintEvent(QPaintEvent*)
{
    QPainter p(viewport());
    const QPalette& pal = palette();
    p.fillRect(viewport()->rect(), pal.brush(QPalette::Base));
    if (!buffer_)
        return;
    p.setFont(font());
    const qsizetype first = firstVisibleLine();
    const qsizetype last = std::min(displayLines(), first + visibleLines() + 1);
    const int xOffset = horizontalScrollBar()->value();
    const qsizetype firstColumn = xOffset / cellWidth();
    const qsizetype columns = viewport()->width() / cellWidth() + 2;
    const qsizetype selA = std::min(caret_, anchor_), selB = std::max(caret_, anchor_);
    const int w = viewport()->width();

    for (qsizetype i = first; i < last; ++i) {
        const int y = static_cast<int>(i - first) * lineHeight();
        const QStringView line = buffer_->line(i);
        const qsizetype start = buffer_->lineStart(i);
        auto xOf = [&](qsizetype column) { return static_cast<int>(kMargin + column * cellWidth() - xOffset); };
        const QString part = firstColumn < line.size() ? shown(line.mid(firstColumn, columns)) : QString();

        p.setPen(pal.color(QPalette::Text));
        p.drawText(xOf(firstColumn), y + ascent_, part);

        // The selection: its part of this line, and a cell for the line end
        // when the selection goes on past it.
        if (selA != selB && selA <= start + line.size() && selB >= start) {
            const qsizetype a = std::max(selA, start) - start;
            const qsizetype b = std::min(selB, start + line.size()) - start;
            const int x0 = std::max(xOf(a), 0);
            int x1 = std::min(xOf(b), w);
            if (selB > start + line.size())
                x1 = std::min(x1 + cellWidth(), w);
            if (x1 > x0) {
                const QRect r(x0, y, x1 - x0, lineHeight());
                p.fillRect(r, pal.brush(QPalette::Highlight));
                p.save();
                p.setClipRect(r);
                p.setPen(pal.color(QPalette::HighlightedText));
                p.drawText(xOf(firstColumn), y + ascent_, part);
                p.restore();
            }
        }
    }

    if (hasFocus() && caretShown_) {
        const qsizetype line = caretLine();
        if (line >= first && line < last) {
            const int x = static_cast<int>(kMargin + caretColumn() * cellWidth() - xOffset);
            const int y = static_cast<int>(line - first) * lineHeight();
            p.fillRect(QRect(x, y, 1, lineHeight()), pal.color(QPalette::Text));
        }
    }
}

} // namespace qm::sqlwindow
