#include "format.h"

namespace qm::jet {

Format Format::forVersion(Version v) {
    Format f;
    f.version = v;
    if (v == Version::Jet3) {
        f.jet3 = true;
        f.pageSize = 2048;
        f.dataHeader = 10;
        f.tdefHeader = 43;
        f.columnDesc = 18;
        f.realIndexStat = 8;
        f.realIndexDef = 39;
        f.logicalIndexDef = 20;
        f.nameLengthSize = 1;
        f.maskedLength = 126;
        f.usageMapRow = 133;
    }
    return f;
}

const char* Format::versionName() const {
    switch (version) {
    case Version::Jet3: return "Jet 3 (Access 97)";
    case Version::Jet4: return "Jet 4 (Access 2000-2003)";
    case Version::Ace12: return "ACE 12 (Access 2007)";
    case Version::Ace14: return "ACE 14 (Access 2010)";
    case Version::Ace15: return "ACE 15 (Access 2013)";
    case Version::Ace16: return "ACE 16 (Access 2016)";
    case Version::Ace17: return "ACE 17 (Access 2019)";
    }
    return "unknown";
}

} // namespace qm::jet
