#include "write_properties.h"

#include "write_model.h"

namespace qm::jet {

namespace {

void u16le(std::string& s, std::uint16_t v) {
    s.push_back(char(v & 0xFF));
    s.push_back(char(v >> 8));
}

void u32le(std::string& s, std::uint32_t v) {
    u16le(s, std::uint16_t(v));
    u16le(s, std::uint16_t(v >> 16));
}

void appendBlock(std::string& out, std::uint16_t kind, const std::string& body) {
    u32le(out, std::uint32_t(6 + body.size()));
    u16le(out, kind);
    out += body;
}

} // namespace

std::string utf16Bytes(std::string_view utf8) {
    std::string out;
    for (char16_t c : toUtf16(utf8)) {
        out.push_back(char(c & 0xFF));
        out.push_back(char(c >> 8));
    }
    return out;
}

std::uint16_t PropertyBlobWriter::nameIndex(std::string_view property) {
    for (std::size_t i = 0; i < names_.size(); ++i)
        if (names_[i] == property) return std::uint16_t(i);
    names_.emplace_back(property);
    return std::uint16_t(names_.size() - 1);
}

void PropertyBlobWriter::closeBlock() {
    if (!open_) return;
    appendBlock(blocks_, currentKind_, current_);
    current_.clear();
    open_ = false;
}

void PropertyBlobWriter::beginBlock(std::string_view name, std::uint16_t kind) {
    closeBlock();
    const std::string n = utf16Bytes(name);
    u32le(current_, std::uint32_t(6 + n.size()));
    u16le(current_, std::uint16_t(n.size()));
    current_ += n;
    currentKind_ = kind;
    open_ = true;
}

void PropertyBlobWriter::add(std::string_view property, std::uint8_t type, bool engine, std::string_view value) {
    u16le(current_, std::uint16_t(8 + value.size()));
    current_.push_back(engine ? 1 : 0);
    current_.push_back(char(type));
    u16le(current_, nameIndex(property));
    u16le(current_, std::uint16_t(value.size()));
    current_ += value;
}

std::string PropertyBlobWriter::blob() const {
    std::string list;
    for (const std::string& n : names_) {
        const std::string u = utf16Bytes(n);
        u16le(list, std::uint16_t(u.size()));
        list += u;
    }
    std::string out("MR2\0", 4);
    appendBlock(out, 0x0080, list);
    out += blocks_;
    if (open_) appendBlock(out, currentKind_, current_);
    return out;
}

} // namespace qm::jet
