#include "sqlwindow/scriptbuffer.h"

#include <algorithm>

namespace qm::sqlwindow {

ScriptBuffer::ScriptBuffer(QObject* parent) : QObject(parent) {}

ScriptBuffer::~ScriptBuffer() = default;

void ScriptBuffer::clear()
{
    text_.clear();
    lineStarts_.clear();
    emit reset();
}

void ScriptBuffer::appendLine(QStringView statement)
{
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
    const qsizetype old = text_.size();
    text_.append(text);
    indexFrom(old);
    emit appended(old);
}

void ScriptBuffer::setText(QStringView text)
{
    text_ = text.toString();
    lineStarts_.clear();
    indexFrom(0);
    emit reset();
}

QString ScriptBuffer::text() const { return text_; }

qsizetype ScriptBuffer::length() const { return text_.size(); }

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
    return static_cast<qsizetype>(lineStarts_.size()) - (lineStarts_.back() == text_.size() ? 1 : 0);
}

QStringView ScriptBuffer::line(qsizetype index) const
{
    if (index < 0 || index >= lineCount())
        return {};
    const qsizetype start = lineStarts_[static_cast<std::size_t>(index)];
    qsizetype end = index + 1 < static_cast<qsizetype>(lineStarts_.size())
                        ? lineStarts_[static_cast<std::size_t>(index + 1)]
                        : text_.size();
    while (end > start && (text_[end - 1] == QLatin1Char('\n') || text_[end - 1] == QLatin1Char('\r')))
        --end;
    return QStringView(text_).mid(start, end - start);
}

qsizetype ScriptBuffer::lineStart(qsizetype index) const
{
    if (index <= 0 || lineStarts_.empty())
        return 0;
    if (index >= static_cast<qsizetype>(lineStarts_.size()))
        return text_.size();
    return lineStarts_[static_cast<std::size_t>(index)];
}

qsizetype ScriptBuffer::lineAt(qsizetype pos) const
{
    if (lineStarts_.empty() || pos <= 0)
        return 0;
    const auto it = std::upper_bound(lineStarts_.begin(), lineStarts_.end(), std::min(pos, text_.size()));
    return std::max<qsizetype>(static_cast<qsizetype>(it - lineStarts_.begin()) - 1, 0);
}

void ScriptBuffer::replace(qsizetype from, qsizetype count, QStringView text)
{
    from = std::clamp<qsizetype>(from, 0, text_.size());
    count = std::clamp<qsizetype>(count, 0, text_.size() - from);
    if (count == 0 && text.isEmpty())
        return;
    text_.replace(from, count, text.toString());
    const qsizetype delta = text.size() - count;

    // Whether a line starts at p depends only on the characters at p - 1
    // and p: a start after LF, or after a CR that no LF follows, and at 0 in
    // a text that is not empty.  Starts before the edit stay; starts past it
    // stay too, moved by delta; the ones in between are found again.
    const qsizetype n = text_.size();
    const QChar* d = text_.constData();
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
        else if (d[p - 1] == QLatin1Char('\n'))
            starts = true;
        else if (d[p - 1] == QLatin1Char('\r'))
            starts = p == n || d[p] != QLatin1Char('\n');
        if (starts)
            fresh.push_back(p);
    }
    const auto at = lineStarts_.erase(lo, hi);
    lineStarts_.insert(at, fresh.begin(), fresh.end());
    emit edited(from, count, text.size());
}

} // namespace qm::sqlwindow
