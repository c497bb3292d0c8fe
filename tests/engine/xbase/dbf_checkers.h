// Running the independent readers (python3-dbfread, python3-dbf in Debian's
// own interpreter) over tables and comparing what they report with what
// our table layer decodes.
//
// The readers' values are brought into one plain text form per field:
//   null | bool 0/1 | num <text> | str <utf-8 hex> | bin <hex> |
//   date YYYY-MM-DD | dt YYYY-MM-DD HH:MM:SS
// Our values are put into the same form (see canonical()).
#pragma once

#include "value/value.h"

#include <string>
#include <vector>

namespace qm::xbase::test {

struct CheckedTable {
    std::string path;
    std::string error;                          // the reader refused the table
    std::vector<std::string> fieldNames;        // user fields
    std::vector<std::vector<std::string>> rows; // live records, one canonical text per field
};

// dbfread, with _NullFlags applied and V/Q/W read from the raw bytes (the
// version it ships does not know those types).
std::vector<CheckedTable> readWithDbfread(const std::vector<std::string>& paths);
// The python dbf package (dBase III, FoxPro, VFP 0x30/0x31 tables).
std::vector<CheckedTable> readWithPythonDbf(const std::vector<std::string>& paths);

// Our value in the checkers' form.  fieldType is the xBase type letter: C
// values lose their padding, as the readers strip it.
std::string canonical(const Value& v, char fieldType);

// True when two canonical texts denote the same value (numbers compare by
// value, memo/empty text and null as the readers blur them).
bool sameValue(const std::string& ours, const std::string& theirs, char fieldType);

} // namespace qm::xbase::test
