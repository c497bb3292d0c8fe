#include "jet_test_util.h"

#include <algorithm>
#include <cmath>

namespace fs = std::filesystem;

namespace qm::jet::test {

std::vector<std::string> accessFixtures() {
    std::vector<std::string> out;
    const fs::path root = qm::test::fixture("access");
    std::error_code ec;
    if (qm::test::sharedDir().empty() || !fs::is_directory(root, ec)) return out;
    for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::recursive_directory_iterator(); ++it) {
        const std::string ext = it->path().extension().string();
        if (ext == ".mdb" || ext == ".accdb")
            out.push_back("access/" + fs::relative(it->path(), root).generic_string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string truthText(const std::string& relative) {
    const fs::path p = qm::test::sharedDir() / "fixtures" / "truth" / (relative + ".json");
    std::error_code ec;
    if (!fs::exists(p, ec)) return {};
    return qm::test::readFile(p);
}

std::string truthString(const std::string& truth, const std::string& key) {
    const std::string needle = "\"" + key + "\": \"";
    const auto at = truth.find(needle);
    if (at == std::string::npos) return {};
    const auto start = at + needle.size();
    const auto end = truth.find('"', start);
    return truth.substr(start, end - start);
}

std::string isoDate(double serial) {
    double whole = std::trunc(serial);
    double frac = std::fabs(serial - whole);
    long long secs = std::llround(frac * 86400.0);
    long long days = (long long)whole;
    if (secs >= 86400) {
        secs -= 86400;
        days += serial < 0 ? -1 : 1;
    }
    // Days since 1899-12-30 -> civil date (days since 0000-03-01 based).
    // 0000-03-01 to 1970-01-01 is 719468 days; 1899-12-30 is 25569 days before 1970-01-01.
    const long long z = days + 719468 - 25569;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const int d = int(doy - (153 * mp + 2) / 5 + 1);
    const int m = int(mp < 10 ? mp + 3 : mp - 9);
    const long long y = yoe + era * 400 + (m <= 2 ? 1 : 0);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04lld-%02d-%02d %02lld:%02lld:%02lld", y, m, d, secs / 3600, secs / 60 % 60,
                  secs % 60);
    return buf;
}

} // namespace qm::jet::test
