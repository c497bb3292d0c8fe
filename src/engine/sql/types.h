// Column type words of CREATE TABLE / ALTER TABLE in both dialects, mapped
// to the engine-neutral column types.
#pragma once

#include "sql/lexer.h"
#include "storage/storage.h"

#include <optional>
#include <string_view>

namespace qm::sql {

// Arguments written after the type word: TEXT(50) -> {50}, N(10,2) -> {10, 2}.
struct TypeArgs {
    int count = 0;
    int first = 0;
    int second = 0;
};

// The column kind for a type word, or nullopt when the word is not a type.
// Access words are understood in both dialects; FoxPro's letters (C, N, I,
// B, Y, D, T, L, M, G, W, Q, V, F) only in the FoxPro dialect, where DATE
// means a date without time.  Throws qm::Error when the arguments do not
// suit the type (TEXT(0), N(25,2), DECIMAL(30,2)...).
std::optional<storage::ColumnSpec> columnTypeFor(std::string_view word, const TypeArgs& args, Dialect dialect);

// The type as the dialect's CREATE TABLE writes it ("TEXT(50)", "N(10,2)").
std::string typeText(const storage::ColumnSpec& spec, Dialect dialect);

} // namespace qm::sql
