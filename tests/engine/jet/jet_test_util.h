// Helpers shared by the Access engine's tests.
#pragma once

#include "storage/open.h"
#include "test_support.h"

#include <filesystem>
#include <string>
#include <vector>

namespace qm::jet::test {

// Every Access fixture, as a path relative to fixtures/ ("access/...").
std::vector<std::string> accessFixtures();

// The truth file's text for a fixture ("" when there is none).
std::string truthText(const std::string& relative);
// The value of a string key in the truth text ("password": "x"), or "".
std::string truthString(const std::string& truth, const std::string& key);

// "YYYY-MM-DD HH:MM:SS" of a date serial, rounded to the second.
std::string isoDate(double serial);

} // namespace qm::jet::test
