#include "sqlwindow/scriptbuffer.h"

#include <algorithm>
#include <cstring>

namespace qm::sqlwindow {

ScriptBuffer::ScriptBuffer(QObject* parent) : QObject(parent) {}

ScriptBuffer::~ScriptBuffer() = default;

void ScriptBuffer::clear()
{
    text_.clear();
    gap_ = gapLength_ = 0;
    lineStarts_.clear();
    emit reset();
}

void ScriptBuffer::appendLine(QStringView statement)
{
    closeGap();
    const qsizetype old = text_.size();
    text_.append(statement);
    text_.append(QLatin1String("\r\n"));
    indexFrom(old);
    emit appended(old);
}

void ScriptBuffer::append(QStringView text)
{
    if (text.isEmpty())
        return;
    closeGap();
    const qsizetype old = text_.size();
    text_.append(text);
    indexFrom(old);
    emit appended(old);
}

void ScriptBuffer::setText(QStringView text)
{
    text_ = text.toString();
    gap_ = gapLength_ = 0;
    lineStarts_.clear();
    indexFrom(0);
    emit reset();
}

QString ScriptBuffer::text() const
{
    closeGap();
    return text_;
}

QStringView ScriptBuffer::view() const
{
    closeGap();
    return text_;
}

QString ScriptBuffer::mid(qsizetype from, qsizetype count) const
{
    from = std::clamp<qsizetype>(from, 0, length());
    count = std::clamp<qsizetype>(count, 0, length() - from);
    if (from + count <= gap_)
        return text_.mid(from, count);
    if (from >= gap_)
        return text_.mid(from + gapLength_, count);
    return text_.mid(from, gap_ - from) + text_.mid(gap_ + gapLength_, from + count - gap_);
}

void ScriptBuffer::moveGap(qsizetype to) const
{
    if (gapLength_ == 0) {
        gap_ = to;
        return;
    }
    if (to == gap_)
        return;
    QChar* d = text_.data();
    if (to < gap_)
        std::memmove(d + to + gapLength_, d + to, static_cast<std::size_t>(gap_ - to) * sizeof(QChar));
    else
        std::memmove(d + gap_, d + gap_ + gapLength_, static_cast<std::size_t>(to - gap_) * sizeof(QChar));
    gap_ = to;
}

void ScriptBuffer::closeGap() const
{
    if (gapLength_ == 0)
        return;
    text_.remove(gap_, gapLength_);
    gapLength_ = 0;
    gap_ = text_.size();
}

void ScriptBuffer::indexFrom(qsizetype from)
{
    const QChar* d = text_.constData();
    const qsizetype n = text_.size();
    qsizetype i = from;
    // A CR that ended the old text and an LF that begins the new one are one
    // line end: the line start recorded after the CR moves past the LF.
    if (from > 0 && from < n && d[from - 1] == QLatin1Char('\r') && d[from] == QLatin1Char('\n')) {
        lineStarts_.back() = from + 1;
        i = from + 1;
    }
    if (lineStarts_.empty() && n > 0)
        lineStarts_.push_back(0);
    for (; i < n; ++i) {
        const QChar c = d[i];
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r')) {
            if (c == QLatin1Char('\r') && i + 1 < n && d[i + 1] == QLatin1Char('\n'))
                ++i;
            lineStarts_.push_back(i + 1);
        }
    }
}

qsizetype ScriptBuffer::lineCount() const
{
    if (lineStarts_.empty())
        return 0;
    // The last start at the very end of the text begins no line.
    return static_cast<qsizetype>(lineStarts_.size()) - (lineStarts_.back() == length() ? 1 : 0);
}

QStringView ScriptBuffer::line(qsizetype index) const
{
    if (index < 0 || index >= lineCount())
        return {};
    const qsizetype start = lineStarts_[static_cast<std::size_t>(index)];
    qsizetype end = index + 1 < static_cast<qsizetype>(lineStarts_.size())
                        ? lineStarts_[static_cast<std::size_t>(index + 1)]
                        : length();
    while (end > start && (at(end - 1) == QLatin1Char('\n') || at(end - 1) == QLatin1Char('\r')))
        --end;
    // A line the gap cuts in two is made whole by moving the gap before it.
    if (start < gap_ && end > gap_)
        moveGap(start);
    const qsizetype physical = start < gap_ ? start : start + gapLength_;
    return QStringView(text_).mid(physical, end - start);
}

qsizetype ScriptBuffer::lineStart(qsizetype index) const
{
    if (index <= 0 || lineStarts_.empty())
        return 0;
    if (index >= static_cast<qsizetype>(lineStarts_.size()))
        return length();
    return lineStarts_[static_cast<std::size_t>(index)];
}

qsizetype ScriptBuffer::lineAt(qsizetype pos) const
{
    if (lineStarts_.empty() || pos <= 0)
        return 0;
    const auto it = std::upper_bound(lineStarts_.begin(), lineStarts_.end(), std::min(pos, length()));
    return std::max<qsizetype>(static_cast<qsizetype>(it - lineStarts_.begin()) - 1, 0);
}

void ScriptBuffer::replace(qsizetype from, qsizetype count, QStringView text)
{
    from = std::clamp<qsizetype>(from, 0, length());
    count = std::clamp<qsizetype>(count, 0, length() - from);
    if (count == 0 && text.isEmpty())
        return;
    // The gap comes to the edit; what is replaced joins it, the new text
    // fills it from the front.
    moveGap(from);
    gapLength_ += count;
    if (gapLength_ < text.size()) {
        const qsizetype more = text.size() - gapLength_ + std::max<qsizetype>(4096, length() / 64);
        text_.insert(gap_, QString(more, QChar()));
        gapLength_ += more;
    }
    if (!text.isEmpty()) // a deletion brings no text (and no pointer to copy from)
        std::memcpy(text_.data() + gap_, text.data(), static_cast<std::size_t>(text.size()) * sizeof(QChar));
    gap_ += text.size();
    gapLength_ -= text.size();
    const qsizetype delta = text.size() - count;

    // Whether a line starts at p depends only on the characters at p - 1
    // and p: a start after LF, or after a CR that no LF follows, and at 0 in
    // a text that is not empty.  Starts before the edit stay; starts past it
    // stay too, moved by delta; the ones in between are found again.
    const qsizetype n = length();
    auto lo = std::lower_bound(lineStarts_.begin(), lineStarts_.end(), from);
    auto hi = std::upper_bound(lo, lineStarts_.end(), from + count);
    for (auto it = hi; it != lineStarts_.end(); ++it)
        *it += delta;
    std::vector<qsizetype> fresh;
    const qsizetype last = std::min(from + text.size(), n);
    for (qsizetype p = from; p <= last; ++p) {
        bool starts = false;
        if (p == 0)
            starts = n > 0;
        else if (at(p - 1) == QLatin1Char('\n'))
            starts = true;
        else if (at(p - 1) == QLatin1Char('\r'))
            starts = p == n || at(p) != QLatin1Char('\n');
        if (starts)
            fresh.push_back(p);
    }
    const auto at = lineStarts_.erase(lo, hi);
    lineStarts_.insert(at, fresh.begin(), fresh.end());
    emit edited(from, count, text.size());
}

} // namespace qm::sqlwindow
