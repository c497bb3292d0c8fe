// Helpers every test suite uses: where the shared fixtures are, scratch
// folders, and running the independent checkers (mdbtools, Debian's python3
// with dbfread and dbf) as child processes.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::test {

// The shared fixtures folder beside the checkout, or empty when absent.
std::filesystem::path sharedDir();
std::filesystem::path fixture(const std::string& relative); // sharedDir()/fixtures/relative
std::filesystem::path binaryDir();                          // the build tree

// Debian's own interpreter: the one that loads python3-dbfread / python3-dbf.
inline constexpr const char* kDebianPython = "/usr/bin/python3";

// A scratch folder removed (with its contents) when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

struct RunResult {
    int exitCode = -1; // -1 when the program could not be started; 128+n for signal n
    std::string out;
    std::string err;
};

// Runs argv[0] (looked up on PATH) with the arguments, feeding stdinText.
RunResult run(const std::vector<std::string>& argv, const std::string& stdinText = {});
bool programAvailable(const std::string& name);

std::string readFile(const std::filesystem::path& p);
void writeFile(const std::filesystem::path& p, const std::string& bytes);

// The message of the qm::Error f throws, or "(no error)" when it returns
// normally.  Any other exception goes on to the test as a failure.
std::string errorOf(const std::function<void()>& f);

// Bytes as hex digits, two per byte (upper case unless lowerCase).
std::string hex(std::string_view bytes, bool lowerCase = false);

} // namespace qm::test

// Skips the current test, with a plain message, when ../shared is missing.
#define QM_REQUIRE_SHARED()                                                              \
    do {                                                                                 \
        if (::qm::test::sharedDir().empty())                                             \
            GTEST_SKIP() << "the shared fixtures folder (../shared) is not present here"; \
    } while (0)

// Skips when an independent checker is not installed (CI always has them).
#define QM_REQUIRE_PROGRAM(name)                                                  \
    do {                                                                          \
        if (!::qm::test::programAvailable(name))                                  \
            GTEST_SKIP() << "checker '" << (name) << "' is not installed here";   \
    } while (0)
