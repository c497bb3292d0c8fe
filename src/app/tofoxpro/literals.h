// Value literals and row statements of the script sent to FoxPro.
//
// Every value is written as a literal the FoxPro side reads back to the
// same value, whatever the machine's locale: numbers with "." and no
// grouping, currency and decimals digit for digit, floating point in the
// shortest form that reads back to the same binary value, dates with their
// time of day, binary data as a 0h literal, and text quoted with control
// characters joined in as CHR(n), so that each statement stays on its line.
#pragma once

#include "value/value.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace qm::tofoxpro {

// True for the ADO codes whose values are written as quoted text.
bool IsTextType(std::int16_t adoType);

// Appends the literal of v for a column of the ADO type columnType (the
// type the column is created with: the source's own, or the one chosen in
// the customization window).  Null and Empty give NULL.  Throws qm::Error
// for a value no literal can carry (a floating-point NaN or infinity).
void AppendLiteral(std::string& out, const Value& v, std::int16_t columnType);

// Appends 'text' with every apostrophe doubled; characters below 32 and
// DEL are joined in as +CHR(n)+ outside the quotes.
void AppendQuotedText(std::string& out, std::string_view text);

// "insert into [" + table + "] (" : the head of every row statement.
std::string InsertHead(std::string_view table);

} // namespace qm::tofoxpro
