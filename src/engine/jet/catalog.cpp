#include "catalog.h"

#include "table_scan.h"

namespace qm::jet {

namespace {

std::vector<bool> pick(const TableDef& t, const std::vector<std::string>& names, std::vector<int>& where) {
    std::vector<bool> wanted(t.columns.size(), false);
    where.assign(names.size(), -1);
    for (std::size_t k = 0; k < names.size(); ++k)
        for (std::size_t i = 0; i < t.columns.size(); ++i)
            if (storage::namesEqual(t.columns[i].name, names[k])) {
                wanted[i] = true;
                where[k] = int(i);
            }
    return wanted;
}

std::optional<std::string> text(const std::vector<Value>& row, int at) {
    if (at < 0 || row[std::size_t(at)].type() != VarType::String) return std::nullopt;
    return row[std::size_t(at)].rawString();
}

std::int64_t number(const std::vector<Value>& row, int at) {
    if (at < 0) return 0;
    const Value& v = row[std::size_t(at)];
    switch (v.type()) {
    case VarType::Byte: case VarType::Integer: case VarType::Long: case VarType::BigInt: return v.rawInt();
    default: return 0;
    }
}

} // namespace

std::vector<CatalogObject> readObjects(PageSource& src) {
    TableDef t = readTableDef(src, kObjectsTdefPage, "MSysObjects");
    std::vector<int> at;
    const auto wanted = pick(t, {"Id", "ParentId", "Name", "Type", "Flags", "Database", "ForeignName"}, at);
    if (at[0] < 0 || at[1] < 0 || at[2] < 0 || at[3] < 0)
        throw Error(src.path() + ": the system table MSysObjects lacks its Id, ParentId, Name or Type column");
    TableScanner scan(src, t);
    RowDecoder dec(src, t);
    dec.setWanted(wanted);
    std::vector<Value> row;
    std::vector<CatalogObject> out;
    while (scan.next()) {
        dec.decode(scan.row(), scan.rowLength(), row, scan.page(), scan.rowNumber());
        CatalogObject o;
        o.id = std::int32_t(number(row, at[0]));
        o.parentId = std::int32_t(number(row, at[1]));
        o.name = text(row, at[2]).value_or("");
        o.type = std::int16_t(number(row, at[3]));
        o.flags = std::uint32_t(number(row, at[4]));
        o.database = text(row, at[5]).value_or("");
        o.foreignName = text(row, at[6]).value_or("");
        out.push_back(std::move(o));
    }
    return out;
}

std::string readObjectProperties(PageSource& src, std::int32_t id) {
    TableDef t = readTableDef(src, kObjectsTdefPage, "MSysObjects");
    std::vector<int> at;
    const auto idOnly = pick(t, {"Id"}, at);
    std::vector<int> propAt;
    const auto propOnly = pick(t, {"LvProp"}, propAt);
    if (at[0] < 0 || propAt[0] < 0) return {};
    TableScanner scan(src, t);
    RowDecoder dec(src, t);
    std::vector<Value> row;
    while (scan.next()) {
        dec.setWanted(idOnly);
        dec.decode(scan.row(), scan.rowLength(), row, scan.page(), scan.rowNumber());
        if (std::int32_t(number(row, at[0])) != id) continue;
        dec.setWanted(propOnly);
        dec.decode(scan.row(), scan.rowLength(), row, scan.page(), scan.rowNumber());
        const Value& v = row[std::size_t(propAt[0])];
        return v.type() == VarType::Binary ? v.rawString() : std::string();
    }
    return {};
}

std::vector<QueryRow> readQueryRows(PageSource& src, std::uint32_t tdefPage, std::int32_t objectId) {
    TableDef t = readTableDef(src, tdefPage, "MSysQueries");
    std::vector<int> at;
    const auto wanted = pick(t, {"ObjectId", "Attribute", "Order", "Name1", "Name2", "Expression", "Flag"}, at);
    if (at[0] < 0 || at[1] < 0)
        throw Error(src.path() + ": the system table MSysQueries lacks its ObjectId or Attribute column");
    TableScanner scan(src, t);
    RowDecoder dec(src, t);
    dec.setWanted(wanted);
    std::vector<Value> row;
    std::vector<QueryRow> out;
    while (scan.next()) {
        dec.decode(scan.row(), scan.rowLength(), row, scan.page(), scan.rowNumber());
        if (std::int32_t(number(row, at[0])) != objectId) continue;
        QueryRow q;
        q.attribute = std::uint8_t(number(row, at[1]));
        if (at[2] >= 0 && row[std::size_t(at[2])].type() == VarType::Binary) q.order = row[std::size_t(at[2])].rawString();
        q.name1 = text(row, at[3]);
        q.name2 = text(row, at[4]);
        q.expression = text(row, at[5]);
        q.flag = std::int32_t(number(row, at[6]));
        out.push_back(std::move(q));
    }
    return out;
}

storage::ObjectKind objectKind(const CatalogObject& o, bool hasParameters, std::string& tableType,
                               storage::QueryKind& queryKind) {
    using storage::ObjectKind;
    using storage::QueryKind;
    queryKind = QueryKind::None;
    switch (o.type) {
    case 1:
        if (o.flags & 0x80000000u) {
            tableType = "SYSTEM TABLE";
            return ObjectKind::SystemTable;
        }
        if (o.flags & 0x2u) {
            tableType = "ACCESS TABLE";
            return ObjectKind::SystemTable;
        }
        tableType = "TABLE";
        return ObjectKind::Table;
    case 4:
        tableType = "PASS-THROUGH";
        return ObjectKind::LinkedTable;
    case 6:
        tableType = "LINK";
        return ObjectKind::LinkedTable;
    case 5:
        switch (o.flags & 0xF0) {
        case 0:
            if (hasParameters) {
                queryKind = QueryKind::Parameter;
                tableType.clear();
                return ObjectKind::Query;
            }
            queryKind = QueryKind::Select;
            tableType = "VIEW";
            return ObjectKind::View;
        case 16: queryKind = QueryKind::Crosstab; break;
        case 96: queryKind = QueryKind::DataDefinition; break;
        case 112: queryKind = QueryKind::PassThrough; break;
        case 128: queryKind = QueryKind::Union; break;
        default: queryKind = QueryKind::Action; break;
        }
        tableType.clear();
        return ObjectKind::Query;
    default:
        tableType.clear();
        return ObjectKind::Other;
    }
}

} // namespace qm::jet
