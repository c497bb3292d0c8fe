// The script of the SQL window: statements one per line, each line ended by
// CR LF.
//
// The transfers append to it row by row while the window may show it, so
// appending is amortised constant time and never reads or rewrites what is
// already there.  The window shows this buffer; the text is not copied into
// a second document.
//
// Edits by hand go through replace(): the text keeps a gap at the place of
// the last edit, so typing in the middle of a long script moves only the
// characters between two edit places, not the whole rest of the text.  The
// gap is closed again when the whole text is asked for (text(), view()) or
// when the transfers append.
#pragma once

#include <QObject>
#include <QString>
#include <QStringView>

#include <vector>

namespace qm::sqlwindow {

class ScriptBuffer : public QObject {
    Q_OBJECT

public:
    explicit ScriptBuffer(QObject* parent = nullptr);
    ~ScriptBuffer() override;

    void clear();
    // Appends statement followed by CR LF.
    void appendLine(QStringView statement);
    // Appends text as it is (it may hold line ends of its own).
    void append(QStringView text);
    void setText(QStringView text);

    QString text() const;             // the whole text (a copy)
    qsizetype length() const { return text_.size() - gapLength_; } // in UTF-16 code units
    QChar at(qsizetype pos) const { return text_[pos < gap_ ? pos : pos + gapLength_]; }
    QString mid(qsizetype from, qsizetype count) const;
    bool isEmpty() const { return length() == 0; }
    // Lines as the text is cut at CR LF, lone LF or lone CR; a text that
    // ends in a line end has no empty line after it.
    qsizetype lineCount() const;
    // Without its line end; valid until the next change or line() call.
    QStringView line(qsizetype index) const;

    // The whole text without a copy; valid until the next change.
    QStringView view() const;
    // Where line index starts, and the line that holds position pos.  After
    // a final line end the text has an empty line of its own, numbered
    // lineCount(): lineAt(length()) gives it and lineStart() of it is
    // length().
    qsizetype lineStart(qsizetype index) const;
    qsizetype lineAt(qsizetype pos) const;
    // Replaces count code units at from by text (the editor's typing,
    // deleting and pasting).  Only the lines around the edit are indexed
    // again.
    void replace(qsizetype from, qsizetype count, QStringView text);

signals:
    // Text was added at the end; it starts at oldLength.
    void appended(qsizetype oldLength);
    // The text was replaced or cleared.
    void reset();
    // count code units at from became insertedLength code units (replace).
    void edited(qsizetype from, qsizetype count, qsizetype insertedLength);

private:
    void indexFrom(qsizetype from);
    void moveGap(qsizetype to) const;
    void closeGap() const;

    // The text, with gapLength_ unused code units at gap_ when an edit left
    // them there.  Reading a line or the whole text may move or close the
    // gap; the text it holds stays the same.
    mutable QString text_;
    mutable qsizetype gap_ = 0;
    mutable qsizetype gapLength_ = 0;
    // Where each line starts; lines past the last line end are open.
    std::vector<qsizetype> lineStarts_;
};

} // namespace qm::sqlwindow
