#include "dbf_checkers.h"

#include "test_support.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

namespace qm::xbase::test {

namespace {

// Prints, for each table:  FILE <path> / ERR <text> / FIELD <name> ... / REC then one line per field.
const char* kDbfreadScript = R"PY(
import sys, codecs, struct, datetime, decimal, os
import dbfread
from dbfread import DBF, FieldParser

def keep_byte(err):
    # Bytes a code page leaves undefined read as U+0080..U+00FF.
    b = err.object[err.start:err.end]
    return (''.join(chr(x) for x in b), err.end)
codecs.register_error('keepbyte', keep_byte)

MARKS = {0:'cp1252',1:'cp437',2:'cp850',3:'cp1252',4:'mac_roman',0x64:'cp852',0x65:'cp866',0x66:'cp865',
 0x67:'cp861',0x6a:'cp737',0x6b:'cp857',0x78:'cp950',0x79:'cp949',0x7a:'gbk',0x7b:'cp932',0x7c:'cp874',
 0x7d:'cp1255',0x7e:'cp1256',0xc8:'cp1250',0xc9:'cp1251',0xca:'cp1254',0xcb:'cp1253',0xcc:'cp1257',
 0x57:'cp1252',0x58:'cp1252',0x59:'cp1252',0x26:'cp866',0xf0:'utf-8',0x1b:'cp437',0x37:'cp850'}

class Parser(FieldParser):
    container = False
    def parseM(self, field, data):
        if Parser.container: return None
        return FieldParser.parseM(self, field, data)
    def parseV(self, field, data): return ('raw', data)
    def parseQ(self, field, data): return ('raw', data)
    def parseW(self, field, data):
        return self.get_memo(self._parse_memo_index(data))

def hexs(b): return b.hex() if b else ''

def canon(v):
    if v is None: return 'null'
    if isinstance(v, bool): return 'bool ' + ('1' if v else '0')
    if isinstance(v, int): return 'num ' + str(v)
    if isinstance(v, float): return 'num ' + repr(v)
    if isinstance(v, decimal.Decimal): return 'num ' + str(v)
    if isinstance(v, str): return 'str ' + hexs(v.encode('utf-8'))
    if isinstance(v, (bytes, bytearray)): return 'bin ' + hexs(bytes(v))
    if isinstance(v, datetime.datetime):
        s = v + datetime.timedelta(microseconds=500000)
        return 'dt %04d-%02d-%02d %02d:%02d:%02d' % (s.year, s.month, s.day, s.hour, s.minute, s.second)
    if isinstance(v, datetime.date): return 'date %04d-%02d-%02d' % (v.year, v.month, v.day)
    return 'other ' + repr(v)

for path in sys.argv[1:]:
    print('FILE ' + path)
    try:
        with open(path, 'rb') as f: head = f.read(32)
        enc = MARKS.get(head[29], 'cp1252')
        vfp = head[0] in (0x30, 0x31, 0x32)
        # dbfread does not know the .dct memo file of a container: its memo
        # fields are left out of the comparison.
        container = path.lower().endswith('.dbc')
        Parser.container = container
        t = DBF(path, encoding=enc, char_decode_errors='keepbyte', parserclass=Parser,
                recfactory=lambda items: [v for k, v in items], lowernames=False,
                ignore_missing_memofile=container)
        fields = t.fields
        user = [i for i, f in enumerate(fields) if f.type != '0']
        nf = [i for i, f in enumerate(fields) if f.type == '0']
        # _NullFlags bits, in field order: V/Q length bit, then the null bit.
        bits = {}
        nb = 0
        for i in user:
            f = fields[i]
            flags = f.reserved1 & 0xff if vfp else 0
            lb = nl = None
            if vfp and f.type in 'VQ':
                lb = nb; nb += 1
            if vfp and flags & 2:
                nl = nb; nb += 1
            bits[i] = (lb, nl)
        for i in user: print('FIELD ' + fields[i].name)
        out = []
        for rec in t:
            flags = rec[nf[0]] if nf else b''
            def bit(n): return n is not None and (flags[n // 8] >> (n % 8)) & 1
            line = []
            for i in user:
                f = fields[i]; v = rec[i]
                lb, nl = bits[i]
                if container and f.type == 'M': line.append('skip'); continue
                if bit(nl): line.append('null'); continue
                if isinstance(v, tuple) and v[0] == 'raw':
                    data = v[1]
                    if bit(lb): data = data[:data[-1]]
                    if f.type == 'V' and not (f.reserved1 & 4): v = data.decode(enc, 'keepbyte')
                    else: v = bytes(data)
                line.append(canon(v))
            out.append(line)
        for line in out:
            print('REC')
            for c in line: print(c)
    except Exception as e:
        print('ERR ' + type(e).__name__ + ': ' + str(e).replace('\n', ' '))
)PY";

const char* kPyDbfScript = R"PY(
import sys, datetime, decimal, codecs
import dbf

def keep_byte(err):
    b = err.object[err.start:err.end]
    return (''.join(chr(x) for x in b), err.end)
codecs.register_error('keepbyte', keep_byte)

def hexs(b): return b.hex() if b else ''
def canon(v):
    if v is None: return 'null'
    if v is dbf.Null or isinstance(v, type(dbf.Null)): return 'null'
    if isinstance(v, bool): return 'bool ' + ('1' if v else '0')
    if v is True or v is False: return 'bool ' + ('1' if v else '0')
    if isinstance(v, int): return 'num ' + str(v)
    if isinstance(v, float): return 'num ' + repr(v)
    if isinstance(v, decimal.Decimal): return 'num ' + str(v)
    if isinstance(v, str): return 'str ' + hexs(v.rstrip(' ').encode('utf-8'))
    if isinstance(v, (bytes, bytearray)): return 'bin ' + hexs(bytes(v))
    if isinstance(v, datetime.datetime):
        s = v + datetime.timedelta(microseconds=500000)
        return 'dt %04d-%02d-%02d %02d:%02d:%02d' % (s.year, s.month, s.day, s.hour, s.minute, s.second)
    if isinstance(v, datetime.date): return 'date %04d-%02d-%02d' % (v.year, v.month, v.day)
    try:
        if isinstance(v, dbf.Logical) or type(v).__name__ == 'Logical':
            if v is dbf.Unknown or v == dbf.Unknown: return 'null'
            return 'bool ' + ('1' if bool(v) else '0')
        if type(v).__name__ in ('Date',):
            return 'null' if not v else 'date ' + v.strftime('%Y-%m-%d')
        if type(v).__name__ in ('DateTime',):
            return 'null' if not v else 'dt ' + (v._datetime + datetime.timedelta(microseconds=500000)).strftime('%Y-%m-%d %H:%M:%S')
    except Exception:
        pass
    return 'other ' + repr(v)

for path in sys.argv[1:]:
    print('FILE ' + path)
    try:
        t = dbf.Table(path)
        t.open(dbf.READ_ONLY)
        names = t.field_names
        for n in names: print('FIELD ' + n.upper())
        for rec in t:
            if dbf.is_deleted(rec): continue
            print('REC')
            for n in names: print(canon(rec[n]))
        t.close()
    except Exception as e:
        print('ERR ' + type(e).__name__ + ': ' + str(e).replace('\n', ' '))
)PY";

std::vector<CheckedTable> parseOutput(const std::string& out)
{
    std::vector<CheckedTable> tables;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("FILE ", 0) == 0) {
            tables.push_back({});
            tables.back().path = line.substr(5);
        } else if (tables.empty()) {
            continue;
        } else if (line.rfind("ERR ", 0) == 0) {
            tables.back().error = line.substr(4);
        } else if (line.rfind("FIELD ", 0) == 0) {
            tables.back().fieldNames.push_back(line.substr(6));
        } else if (line == "REC") {
            tables.back().rows.emplace_back();
        } else if (!tables.back().rows.empty()) {
            tables.back().rows.back().push_back(line);
        }
    }
    return tables;
}

std::vector<CheckedTable> runScript(const char* script, const std::vector<std::string>& paths)
{
    qm::test::TempDir dir;
    qm::test::writeFile(dir / "check.py", script);
    std::vector<std::string> argv{qm::test::kDebianPython, (dir / "check.py").string()};
    argv.insert(argv.end(), paths.begin(), paths.end());
    auto r = qm::test::run(argv);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return parseOutput(r.out);
}

} // namespace

std::vector<CheckedTable> readWithDbfread(const std::vector<std::string>& paths)
{
    return runScript(kDbfreadScript, paths);
}

std::vector<CheckedTable> readWithPythonDbf(const std::vector<std::string>& paths)
{
    return runScript(kPyDbfScript, paths);
}

std::string canonical(const Value& v, char fieldType)
{
    switch (v.type()) {
    case VarType::Null:
    case VarType::Empty: return "null";
    case VarType::Boolean: return std::string("bool ") + (v.rawInt() ? "1" : "0");
    case VarType::String: {
        std::string s = v.rawString();
        if (fieldType == 'C')
            while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
                s.pop_back();
        return "str " + qm::test::hex(s, true);
    }
    case VarType::Binary: {
        std::string s = v.rawString();
        if (fieldType == 'C')
            while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
                s.pop_back();
        return "bin " + qm::test::hex(s, true);
    }
    case VarType::Date: {
        DateParts p = date::toPartsRoundedToSecond(v.rawDouble());
        char buf[40];
        if (fieldType == 'D')
            std::snprintf(buf, sizeof buf, "date %04d-%02d-%02d", p.year, p.month, p.day);
        else
            std::snprintf(buf, sizeof buf, "dt %04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                          p.minute, p.second);
        return buf;
    }
    case VarType::Decimal: return "num " + v.rawDecimal().toString();
    case VarType::Currency: return "num " + currencyToString(v.rawInt());
    case VarType::Double: return "num " + shortestDouble(v.rawDouble());
    case VarType::Single: return "num " + shortestSingle(static_cast<float>(v.rawDouble()));
    default: return "num " + v.toString();
    }
}

bool sameValue(const std::string& ours, const std::string& theirs, char fieldType)
{
    if (ours == theirs || theirs == "skip")
        return true;
    // Empty text, empty memo and blank fields: the readers say None or "".
    auto blank = [](const std::string& s) { return s == "null" || s == "str " || s == "bin "; };
    if ((fieldType == 'M' || fieldType == 'G' || fieldType == 'W' || fieldType == 'P' || fieldType == 'C') &&
        blank(ours) && blank(theirs))
        return true;
    // Binary (NOCPTRANS) memos: dbfread decodes text blocks whatever the field says.
    if ((fieldType == 'M' || fieldType == 'C') && ours.rfind("bin ", 0) == 0 && theirs.rfind("str ", 0) == 0)
        return ours.substr(4) == theirs.substr(4);
    if (ours.rfind("num ", 0) == 0 && theirs.rfind("num ", 0) == 0) {
        // The readers turn N values with a point into a double: compare through
        // the same correctly rounded conversion.
        double a = std::strtod(ours.c_str() + 4, nullptr);
        double b = std::strtod(theirs.c_str() + 4, nullptr);
        return a == b;
    }
    return false;
}

} // namespace qm::xbase::test
