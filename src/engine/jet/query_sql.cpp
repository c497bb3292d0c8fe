#include "query_sql.h"
namespace qm::jet {
std::string buildQuerySql(const std::vector<QueryRow>&, const std::string&) { return {}; }
}
