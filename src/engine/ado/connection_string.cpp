#include "ado/ado.h"
#include "storage/storage.h"

namespace qm::ado {

namespace {

std::string_view trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

} // namespace

ConnectionString ConnectionString::parse(std::string_view text)
{
    ConnectionString cs;
    size_t i = 0;
    while (i < text.size()) {
        size_t eq = text.find('=', i);
        if (eq == std::string_view::npos) {
            if (!trim(text.substr(i)).empty())
                throw AdoError("Format of the initialization string does not conform to the OLE DB specification.");
            break;
        }
        std::string key(trim(text.substr(i, eq - i)));
        size_t j = eq + 1;
        while (j < text.size() && (text[j] == ' ' || text[j] == '\t'))
            ++j;
        std::string value;
        if (j < text.size() && (text[j] == '"' || text[j] == '\'')) {
            // Quoted value; a doubled quote stands for itself.
            char q = text[j++];
            for (;;) {
                if (j >= text.size())
                    throw AdoError("Format of the initialization string does not conform to the OLE DB specification.");
                if (text[j] == q) {
                    if (j + 1 < text.size() && text[j + 1] == q) {
                        value += q;
                        j += 2;
                        continue;
                    }
                    ++j;
                    break;
                }
                value += text[j++];
            }
            size_t semi = text.find(';', j);
            j = semi == std::string_view::npos ? text.size() : semi + 1;
        } else {
            size_t semi = text.find(';', j);
            size_t stop = semi == std::string_view::npos ? text.size() : semi;
            value = std::string(trim(text.substr(j, stop - j)));
            j = semi == std::string_view::npos ? text.size() : semi + 1;
        }
        if (!key.empty()) {
            bool replaced = false;
            for (auto& item : cs.items_)
                if (storage::namesEqual(item.first, key)) {
                    item.second = value; // the last one wins, as the providers read it
                    replaced = true;
                }
            if (!replaced)
                cs.items_.emplace_back(std::move(key), std::move(value));
        }
        i = j;
    }
    return cs;
}

std::optional<std::string> ConnectionString::get(std::string_view key) const
{
    for (const auto& item : items_)
        if (storage::namesEqual(item.first, key))
            return item.second;
    return std::nullopt;
}

} // namespace qm::ado
