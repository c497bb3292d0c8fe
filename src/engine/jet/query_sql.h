// Rebuilding a saved query's SQL text from its MSysQueries rows.
//
//   Attribute  meaning          Name1            Name2          Expression    Flag
//   1          query kind       target table     target db      target type   1 select, 2 make-table,
//                                                                             3 append, 4 update, 5 delete,
//                                                                             6 crosstab, 7 DDL,
//                                                                             8 pass-through, 9 union
//   2          parameter        name                                          type code
//   3          select options   TOP value                                     0x01 *, 0x02 DISTINCT,
//                                                                             0x04 OWNERACCESS, 0x08 DISTINCTROW,
//                                                                             0x10 TOP, 0x20 PERCENT
//                                                                             (union: 0x02 = UNION, else UNION ALL)
//   4          FROM ... IN      database path                   database type
//   5          source           table / query    alias          prefix        (union parts: Name2 X7YZ_____n,
//                                                                              Expression the part's SQL)
//   6          output column    alias            target column  expression    append: 0x8000 VALUES item;
//                                                                             crosstab: 0 value, 1 pivot, 2 row heading
//   7          join             left             right          ON condition  1 INNER, 2 LEFT, 3 RIGHT
//   8 WHERE    9 GROUP BY (crosstab flag 1 = pivot group)   10 HAVING   11 ORDER BY (Name1 "D" = DESC)
// Rows of one attribute are ordered by the big-endian counter in Order.
//
// The text follows the layout Access shows in SQL view: one clause per line,
// lines ended by CR LF, a semicolon after the last clause and a line break
// after it.  Data-definition and pass-through queries return their stored
// text unchanged.
#pragma once

#include "catalog.h"

#include <string>
#include <vector>

namespace qm::jet {

// `what` names file and query for messages.
std::string buildQuerySql(const std::vector<QueryRow>& rows, const std::string& what);

} // namespace qm::jet
