// The text box of the SQL window: a view of a ScriptBuffer that paints only
// the lines in sight, so a script of a million lines scrolls, takes typing
// and repaints as fast as a short one.  Every edit goes straight into the
// buffer; the editor keeps nothing of the text but the caret, the selection
// and what undo needs.
//
// Lines are drawn in a fixed-pitch font, one cell per UTF-16 code unit (a
// tab shows as one blank), which is what lets positions and pixels map
// without measuring the text.
#pragma once

#include "sqlwindow/scriptbuffer.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QString>

#include <vector>

namespace qm::sqlwindow {

class ScriptEditor : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit ScriptEditor(QWidget* parent = nullptr);
    ~ScriptEditor() override;

    void setBuffer(ScriptBuffer* buffer);
    ScriptBuffer* buffer() const { return buffer_; }

    bool isReadOnly() const { return readOnly_; }
    void setReadOnly(bool readOnly);

    // Positions are offsets in code units into the buffer's text.
    qsizetype caret() const { return caret_; }
    qsizetype anchor() const { return anchor_; }
    bool hasSelection() const { return caret_ != anchor_; }
    QString selectedText() const;
    // Moves the caret; with keepAnchor the selection runs from the anchor.
    void setCaret(qsizetype pos, bool keepAnchor = false);
    void selectAll();

    // As the user types or pastes: replaces the selection.
    void insertText(const QString& text);
    void copy();
    void cut();
    void paste();
    void undo();
    void redo();

    // The first line in sight (0-based).
    qsizetype firstVisibleLine() const;
    // Lines the viewport holds in full.
    int visibleLines() const;
    // The caret's line and column (0-based, column in code units).
    qsizetype caretLine() const;
    qsizetype caretColumn() const;

signals:
    void caretMoved();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool focusNextPrevChild(bool next) override;

private:
    struct Edit {
        qsizetype from = 0;
        QString removed, inserted;
    };

    qsizetype displayLines() const;
    qsizetype lineOf(qsizetype pos) const;
    qsizetype lineLength(qsizetype line) const;
    qsizetype positionAt(const QPoint& p) const;
    void replaceRange(qsizetype from, qsizetype count, const QString& text, bool recordUndo = true);
    void deleteSelection();
    void moveCaretTo(qsizetype pos, bool keepAnchor, bool keepColumn = false);
    void ensureCaretVisible();
    void scheduleRefresh();
    void refresh();
    void updateScrollBars();
    void noteLongLines(qsizetype fromLine, qsizetype toLine);
    void restartBlink();
    int cellWidth() const { return cell_; }
    int lineHeight() const { return lineHeight_; }

    void onAppended(qsizetype oldLength);
    void onReset();
    void onEdited(qsizetype from, qsizetype count, qsizetype insertedLength);

    ScriptBuffer* buffer_ = nullptr;
    qsizetype caret_ = 0, anchor_ = 0;
    qsizetype wantedColumn_ = -1; // kept while moving up and down
    bool readOnly_ = false;
    bool editing_ = false;        // the buffer changes through this editor
    bool refreshPending_ = false;
    qsizetype scannedLines_ = 0;  // lines measured for the widest line
    qsizetype widest_ = 0;        // code units of the widest line seen
    std::vector<Edit> undo_, redo_;
    int cell_ = 8, lineHeight_ = 16, ascent_ = 12;
    bool caretShown_ = true;
    QBasicTimer blink_;
};

} // namespace qm::sqlwindow
