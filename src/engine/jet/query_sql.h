#pragma once
#include "catalog.h"
#include <string>
#include <vector>
namespace qm::jet {
std::string buildQuerySql(const std::vector<QueryRow>& rows, const std::string& what);
}
