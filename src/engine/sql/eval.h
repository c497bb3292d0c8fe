// Evaluating expressions over the current row, with the common functions
// of both dialects.
#pragma once

#include "sql/ast.h"
#include "storage/storage.h"

#include <vector>

namespace qm::sql {

// Where a bound column reference reads its value: the live row of a cursor,
// a copied row, or nothing (the missing side of an outer join: Null).
struct RowFrame {
    storage::RowCursor* cursor = nullptr;
    const std::vector<Value>* row = nullptr;
    const Value& get(std::size_t column) const;
};

struct EvalContext {
    Dialect dialect = Dialect::Access;
    const std::vector<RowFrame>* frames = nullptr;
    const std::vector<Value>* aggregates = nullptr; // results by Expr::aggregate
    bool caseInsensitive = true;                    // text comparison (Access; FoxPro "general")
};

// Function ids, resolved once per call site (Expr::function).
enum class Fn : int {
    Unknown = -1,
    // aggregates first
    Count, Sum, Avg, Min, Max, First, Last,
    AggregateEnd,
    Upper, Lower, Len, Left, Right, Mid, Trim, AllTrim, LTrim, RTrim, Space, Replicate, StringFn, Chr, Asc,
    InStr, At, Replace, PadL, PadR, Str, CStr, Val,
    Abs, Int, Fix, Round, Sgn, Sqrt, CInt, CLng, CDbl, CSng, CCur, CDec, CByte, CBool,
    Date, DateTime, Now, Time, DateSerial, DateValue, CDate, Year, Month, Day, Hour, Minute, Second,
    TToD, DToT, DToS,
    IIf, Nz, Nvl, IsNull, Empty, IsDate, Between,
};

// Resolves a function name (ignoring case) for the dialect.
Fn lookupFunction(std::string_view name, Dialect dialect);
inline bool isAggregate(Fn f) { return f >= Fn::Count && f < Fn::AggregateEnd; }

// Evaluates a bound expression.  Throws qm::Error for type mismatches,
// overflow and division by zero, naming the operation.
Value evaluate(const Expr& e, const EvalContext& ctx);
// The same without copying: a column reference gives the row's own value;
// anything computed lands in scratch, whose reference is returned.
const Value& evaluateRef(const Expr& e, const EvalContext& ctx, Value& scratch);

// Arithmetic of two values (+ - * / \ MOD ^), Null in, Null out.
Value arithmetic(BinOp op, const Value& a, const Value& b, Dialect dialect);

// WHERE/ON/HAVING truth: Null and False are false.
bool isTrue(const Value& v);

// Ordering used by ORDER BY, GROUP BY and DISTINCT: Null first, numbers by
// value, text ignoring case when asked (and ignoring trailing blanks in
// FoxPro), dates by serial; values of unrelated kinds by kind.
int compareValues(const Value& a, const Value& b, bool caseInsensitive, bool ignoreTrailingBlanks);

// LIKE matching: Access wildcards * ? # [..] [!..] and the ANSI % _.
bool likeMatch(std::string_view text, std::string_view pattern, bool caseInsensitive, Dialect dialect);

// Folding of ASCII and Latin-1 letters, for case-insensitive comparison.
std::string foldCase(std::string_view s);

} // namespace qm::sql
