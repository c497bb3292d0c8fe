#include "query_sql.h"

#include "value/value.h"

#include <algorithm>
#include <memory>

namespace qm::jet {

namespace {

const char* const kNewLine = "\r\n";

enum QueryType { kSelect = 1, kMakeTable = 2, kAppend = 3, kUpdate = 4, kDelete = 5, kCrosstab = 6,
                 kDataDefinition = 7, kPassThrough = 8, kUnion = 9 };

std::string str(const std::optional<std::string>& s) { return s.value_or(std::string()); }

bool isWordChar(unsigned char c) { return c == '_' || c >= 0x80 || (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); }

std::string quoteName(const std::string& name) {
    if (!name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return isWordChar(static_cast<unsigned char>(c)); }))
        return name;
    return "[" + name + "]";
}

std::string joinList(const std::vector<std::string>& items, const char* sep = ", ") {
    std::string out;
    for (std::size_t k = 0; k < items.size(); ++k) {
        if (k) out += sep;
        out += items[k];
    }
    return out;
}

std::string trimRight(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\r' || s.back() == '\n' || s.back() == '\t' || s.back() == '\0'))
        s.pop_back();
    return s;
}

const char* parameterType(int code) {
    switch (code) {
    case 0: return "Value";
    case 1: return "Bit";
    case 2: return "Byte";
    case 3: return "Short";
    case 4: return "Long";
    case 5: return "Currency";
    case 6: return "IEEESingle";
    case 7: return "IEEEDouble";
    case 8: return "DateTime";
    case 9: return "Binary";
    case 10: return "Text";
    case 11: return "LongBinary";
    case 12: return "Memo";
    case 15: return "Guid";
    default: return "Value";
    }
}

// A FROM item: a table, or a join of two items.
struct FromItem {
    std::string text;              // a source
    std::vector<std::string> keys; // names the join rows may use for it
    std::unique_ptr<FromItem> left, right;
    int joinType = 0;
    std::vector<std::string> conditions; // in the order met

    bool has(const std::string& key) const {
        if (left) return left->has(key) || right->has(key);
        return std::any_of(keys.begin(), keys.end(), [&](const std::string& k) { return storage::namesEqual(k, key); });
    }
    std::string render(bool nested) const {
        if (!left) return text;
        std::string cond;
        if (conditions.size() == 1) {
            cond = conditions.front();
        } else {
            // A later condition between the same two sides comes first.
            for (std::size_t k = conditions.size(); k-- > 0;) {
                if (!cond.empty()) cond += " AND ";
                cond += "(" + conditions[k] + ")";
            }
        }
        const char* type = joinType == 2 ? " LEFT JOIN " : joinType == 3 ? " RIGHT JOIN " : " INNER JOIN ";
        std::string s = left->render(true) + type + right->render(true) + " ON " + cond;
        return nested ? "(" + s + ")" : s;
    }
};

struct Rows {
    const QueryRow* kind = nullptr;
    const QueryRow* options = nullptr;
    const QueryRow* remote = nullptr;
    std::vector<const QueryRow*> parameters, sources, columns, joins, where, groupBy, having, orderBy;
};

class Builder {
public:
    Builder(const std::vector<QueryRow>& rows, std::string what) : what_(std::move(what)) {
        sorted_ = rows;
        std::stable_sort(sorted_.begin(), sorted_.end(), [](const QueryRow& a, const QueryRow& b) {
            if (a.attribute != b.attribute) return a.attribute < b.attribute;
            return a.order < b.order; // big-endian counters compare as bytes
        });
        for (const QueryRow& r : sorted_) {
            switch (r.attribute) {
            case 1: r_.kind = &r; break;
            case 2: r_.parameters.push_back(&r); break;
            case 3: r_.options = &r; break;
            case 4: r_.remote = &r; break;
            case 5: r_.sources.push_back(&r); break;
            case 6: r_.columns.push_back(&r); break;
            case 7: r_.joins.push_back(&r); break;
            case 8: r_.where.push_back(&r); break;
            case 9: r_.groupBy.push_back(&r); break;
            case 10: r_.having.push_back(&r); break;
            case 11: r_.orderBy.push_back(&r); break;
            default: break;
            }
        }
        // Some files leave out the kind row of plain select queries.
        if (!r_.kind) {
            selectKind_.attribute = 1;
            selectKind_.flag = kSelect;
            r_.kind = &selectKind_;
        }
    }

    std::string build() {
        const int type = r_.kind->flag;
        switch (type) {
        case kDataDefinition:
        case kPassThrough: return trimNuls(str(r_.kind->expression));
        case kUnion: return parameters() + unionText() + ";" + kNewLine;
        case kSelect:
        case kMakeTable: return parameters() + selectText(type == kMakeTable) + ";" + kNewLine;
        case kAppend: return parameters() + appendText() + ";" + kNewLine;
        case kUpdate: return parameters() + updateText() + ";" + kNewLine;
        case kDelete: return parameters() + deleteText() + ";" + kNewLine;
        case kCrosstab: return parameters() + crosstabText() + ";" + kNewLine;
        default: throw Error(what_ + ": unknown query kind " + std::to_string(type));
        }
    }

private:
    static std::string trimNuls(std::string s) {
        while (!s.empty() && s.back() == '\0') s.pop_back();
        return s;
    }

    int optionFlags() const { return r_.options ? r_.options->flag : 0; }

    std::string parameters() const {
        if (r_.parameters.empty()) return {};
        std::vector<std::string> items;
        for (const QueryRow* p : r_.parameters) items.push_back(str(p->name1) + " " + parameterType(p->flag));
        return "PARAMETERS " + joinList(items) + ";" + kNewLine;
    }

    std::string columnList(bool withStar, int skipFlag = -1, int onlyFlag = -1) const {
        std::vector<std::string> items;
        if (withStar && (optionFlags() & 0x01)) items.push_back("*");
        for (const QueryRow* c : r_.columns) {
            if (onlyFlag >= 0 && c->flag != onlyFlag) continue;
            if (skipFlag >= 0 && c->flag == skipFlag) continue;
            std::string item = str(c->expression);
            if (c->name1 && !c->name1->empty()) item += " AS " + quoteName(*c->name1);
            items.push_back(item);
        }
        return joinList(items);
    }

    std::string selectPrefix() const {
        const int f = optionFlags();
        std::string s = "SELECT ";
        if (f & 0x02) s += "DISTINCT ";
        else if (f & 0x08) s += "DISTINCTROW ";
        if ((f & 0x10) && r_.options) {
            s += "TOP " + str(r_.options->name1);
            if (f & 0x20) s += " PERCENT";
            s += " ";
        }
        return s;
    }

    std::string inClause(const std::string& path, const std::string& type) const {
        if (path.empty() && type.empty()) return {};
        std::string s = " IN '" + path + "'";
        if (!type.empty()) s += " [" + type + "]";
        return s;
    }

    std::string fromClause() const {
        std::vector<std::unique_ptr<FromItem>> items;
        for (const QueryRow* s : r_.sources) {
            auto item = std::make_unique<FromItem>();
            const std::string name = str(s->name1);
            std::string text = quoteName(name);
            if (s->expression && !s->expression->empty()) text = *s->expression + "." + text;
            item->keys.push_back(name);
            if (s->name2 && !s->name2->empty()) {
                text += " AS " + quoteName(*s->name2);
                item->keys.push_back(*s->name2);
            }
            item->text = text;
            items.push_back(std::move(item));
        }
        // Joins nest one item in the next (rendered recursively): a damaged
        // or hostile file with thousands of join rows is refused, not followed.
        constexpr std::size_t kMaxJoins = 256;
        if (r_.joins.size() > kMaxJoins)
            throw Error(what_ + ": " + std::to_string(r_.joins.size()) + " joins, more than the " + std::to_string(kMaxJoins)
                        + " a query may have here");
        for (const QueryRow* j : r_.joins) {
            const std::string l = str(j->name1), r = str(j->name2), cond = str(j->expression);
            auto find = [&](const std::string& key) -> int {
                for (std::size_t k = 0; k < items.size(); ++k)
                    if (items[k]->has(key)) return int(k);
                return -1;
            };
            const int li = find(l), ri = find(r);
            if (li < 0 || ri < 0)
                throw Error(what_ + ": a join names " + (li < 0 ? l : r) + ", which is not among the query's tables");
            if (li == ri) {
                FromItem& it = *items[std::size_t(li)];
                if (!it.left || it.joinType != j->flag)
                    throw Error(what_ + ": two joins between " + l + " and " + r + " cannot be combined");
                it.conditions.push_back(cond);
                continue;
            }
            auto join = std::make_unique<FromItem>();
            join->joinType = j->flag;
            join->conditions.push_back(cond);
            join->left = std::move(items[std::size_t(li)]);
            join->right = std::move(items[std::size_t(ri)]);
            const int keep = std::min(li, ri), drop = std::max(li, ri);
            items[std::size_t(keep)] = std::move(join);
            items.erase(items.begin() + drop);
        }
        std::vector<std::string> parts;
        for (const auto& it : items) parts.push_back(it->render(false));
        if (parts.empty()) return {};
        std::string s = std::string(kNewLine) + "FROM " + joinList(parts);
        if (r_.remote) s += inClause(str(r_.remote->name1), str(r_.remote->expression));
        return s;
    }

    std::string whereClause() const {
        if (r_.where.empty()) return {};
        std::vector<std::string> items;
        for (const QueryRow* w : r_.where) items.push_back(str(w->expression));
        return std::string(kNewLine) + "WHERE " + joinList(items, " AND ");
    }

    std::string groupHavingOrder(int skipGroupFlag = -1) const {
        std::string s;
        std::vector<std::string> groups;
        for (const QueryRow* g : r_.groupBy)
            if (skipGroupFlag < 0 || g->flag != skipGroupFlag) groups.push_back(str(g->expression));
        if (!groups.empty()) s += std::string(kNewLine) + "GROUP BY " + joinList(groups);
        if (!r_.having.empty()) {
            std::vector<std::string> items;
            for (const QueryRow* h : r_.having) items.push_back(str(h->expression));
            s += std::string(kNewLine) + "HAVING " + joinList(items, " AND ");
        }
        s += orderClause();
        return s;
    }

    std::string orderClause() const {
        if (r_.orderBy.empty()) return {};
        std::vector<std::string> items;
        for (const QueryRow* o : r_.orderBy) {
            std::string item = str(o->expression);
            if (o->name1 && (*o->name1 == "D" || *o->name1 == "d")) item += " DESC";
            items.push_back(item);
        }
        return std::string(kNewLine) + "ORDER BY " + joinList(items);
    }

    std::string ownerAccess() const {
        return (optionFlags() & 0x04) ? std::string(kNewLine) + "WITH OWNERACCESS OPTION" : std::string();
    }

    std::string selectText(bool makeTable) const {
        std::string s = selectPrefix() + columnList(true);
        if (makeTable) {
            s += " INTO " + quoteName(str(r_.kind->name1));
            s += inClause(str(r_.kind->name2), str(r_.kind->expression));
        }
        return s + fromClause() + whereClause() + groupHavingOrder() + ownerAccess();
    }

    std::string appendText() const {
        std::vector<std::string> targets, values;
        bool valuesForm = false;
        for (const QueryRow* c : r_.columns) {
            targets.push_back(str(c->name2));
            if (c->flag & 0x8000) valuesForm = true;
        }
        std::string s = "INSERT INTO " + quoteName(str(r_.kind->name1)) +
                        inClause(str(r_.kind->name2), str(r_.kind->expression));
        if (!targets.empty()) s += " (" + joinList(targets) + ")";
        s += kNewLine;
        if (valuesForm) {
            for (const QueryRow* c : r_.columns) values.push_back(str(c->expression));
            return s + "VALUES (" + joinList(values) + ")";
        }
        std::vector<std::string> items;
        if (optionFlags() & 0x01) items.push_back("*");
        for (const QueryRow* c : r_.columns) {
            std::string item = str(c->expression);
            if (c->name1 && !c->name1->empty()) item += " AS " + quoteName(*c->name1);
            items.push_back(item);
        }
        std::string select = selectPrefix() + joinList(items);
        return s + select + fromClause() + whereClause() + groupHavingOrder() + ownerAccess();
    }

    std::string updateText() const {
        std::string from = fromClause();
        const std::string fromPrefix = std::string(kNewLine) + "FROM ";
        if (from.rfind(fromPrefix, 0) == 0) from = from.substr(fromPrefix.size());
        std::vector<std::string> sets;
        for (const QueryRow* c : r_.columns) sets.push_back(str(c->name2) + " = " + str(c->expression));
        return "UPDATE " + from + kNewLine + "SET " + joinList(sets) + whereClause() + orderClause();
    }

    std::string deleteText() const {
        return "DELETE " + columnList(true) + fromClause() + whereClause() + orderClause();
    }

    std::string crosstabText() const {
        std::string value;
        std::string pivot;
        for (const QueryRow* c : r_.columns) {
            if (c->flag == 0) {
                value = str(c->expression);
                if (c->name1 && !c->name1->empty()) value += " AS " + quoteName(*c->name1);
            } else if (c->flag == 1) {
                pivot = str(c->expression);
            }
        }
        std::string s = "TRANSFORM " + value + kNewLine + selectPrefix() + columnList(false, -1, 2);
        s += fromClause() + whereClause() + groupHavingOrder(1);
        s += std::string(kNewLine) + "PIVOT " + pivot;
        return s;
    }

    std::string unionText() const {
        std::vector<std::string> parts;
        for (const QueryRow* s : r_.sources) parts.push_back(trimRight(str(s->expression)));
        if (parts.size() < 2) throw Error(what_ + ": the union query has fewer than two parts");
        const char* op = (optionFlags() & 0x02) ? "UNION " : "UNION ALL ";
        std::string s = parts[0];
        for (std::size_t k = 1; k < parts.size(); ++k) s += kNewLine + std::string(op) + parts[k];
        return s + orderClause();
    }

    std::string what_;
    QueryRow selectKind_;
    std::vector<QueryRow> sorted_;
    Rows r_;
};

} // namespace

std::string buildQuerySql(const std::vector<QueryRow>& rows, const std::string& what) {
    if (rows.empty()) throw Error(what + ": the query has no definition in MSysQueries");
    return Builder(rows, what).build();
}

} // namespace qm::jet
