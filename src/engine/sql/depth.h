// How deep a statement may nest.  Every walker over a syntax tree that
// recurses is bounded by one of these limits, so that no text a user types
// or a file holds can run the stack out; a text beyond them is refused
// with an error naming the place.
//
// Long chains of binary operators (1+1+...+1, a AND b AND ...) do not count
// against the limits: the parser builds them in a loop as a left-leaning
// spine, and the evaluator, the binder and the destructors walk that spine
// in a loop too.
#pragma once

namespace qm::sql {

// Parser levels: parentheses, subqueries, joins, UNION parts, NOT and sign
// chains, function calls, IN lists, IS NULL/BETWEEN/IN applied to each
// other.  Stack per level, parsed and run (parser, binder, evaluator, the
// executor's query per nested subquery), measured with a painted thread
// stack: in the sanitizer build (Debug, ASan) at most 8.5 KB (nested
// function calls; parentheses 7.8 KB, subqueries 5.2 KB, joins 1.6 KB), in
// the release build at most 1.5 KB.  256 levels thus take at most 2.2 MB
// with the sanitizer and 0.4 MB without: a quarter of the 8 MB main thread
// the SQL window and the transfers run on, and of the 8 MB a secondary
// thread gets by default here.  Nobody writes this deep, nor do the
// transfers.
inline constexpr int kMaxNesting = 256;

// Walkers that recurse into every child, the left spine of a chain
// included (writing a tree back as SQL, translating between dialects):
// they refuse a deeper tree.  The translator is the hungriest: 3.5 KB per
// level in the sanitizer build, 1.8 MB at this limit (writing SQL: 0.3 KB
// per level).  The Access engine allows 99 ANDs in a WHERE clause.
inline constexpr int kMaxWalkDepth = 512;

// Counts the levels of a recursive walk; the walker decides what to do
// when the count passes its limit.
class DepthCount {
public:
    explicit DepthCount(int& depth) : depth_(depth) { ++depth_; }
    ~DepthCount() { --depth_; }
    DepthCount(const DepthCount&) = delete;
    DepthCount& operator=(const DepthCount&) = delete;
    bool over(int limit) const { return depth_ > limit; }

private:
    int& depth_;
};

} // namespace qm::sql
