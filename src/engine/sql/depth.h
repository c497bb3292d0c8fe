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
// other.  The deepest path per level is a nested subquery in FROM (parser,
// binder and the executor's query for each level); measured in the
// sanitizer build (Debug, ASan) at about 5.5 KB of stack per level for
// subqueries and 2.3 KB for parentheses, so 256 levels stay under 1.5 MB:
// safe on the 8 MB main thread and on a secondary thread's default stack
// alike.  Nobody writes this deep, nor do the transfers.
inline constexpr int kMaxNesting = 256;

// Walkers that recurse into every child, the left spine of a chain
// included (writing a tree back as SQL, translating between dialects):
// they refuse a deeper tree.  About 0.5 KB per level in the sanitizer build.
inline constexpr int kMaxWalkDepth = 2000;

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
