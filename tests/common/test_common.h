// Helpers shared by the tests: where the product tree under test lies, and
// private temporary folders that are removed when the test ends.
#pragma once

#include <string>
#include <vector>

namespace kestrin_test {

// The folder that holds the running test program (the product's bin/).
std::string bin_dir();

// The product tree under test: the parent of bin_dir().
std::string product_dir();

// The path separator of the platform the tests were built for.
char separator();

// Sets (or, with a null value, removes) an environment variable of this
// process, so that children started afterwards see it too. Windows: an
// empty value stays set in the environment children inherit.
void set_env(const char *name, const char *value);

// The variables that choose the user's temporary directory (TMPDIR on
// POSIX; TMP and TEMP on Windows).
std::vector<std::string> temp_dir_variables();

// A text as the helper writes it into a journal field: backslash, tab,
// newline and carriage return escaped.
std::string journal_field(const std::string &text);

// A fresh, empty folder that is removed with everything in it when the
// object goes out of scope.
class TempDir {
public:
    explicit TempDir(const std::string &tag = "t");
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    // path() joined with name by the platform's separator.
    std::string file(const std::string &name) const;

private:
    std::string path_;
};

// Writes text to path (created or truncated); false on failure.
bool write_file(const std::string &path, const std::string &text);

// The whole content of path, or "" when it cannot be read.
std::string read_file(const std::string &path);

}  // namespace kestrin_test
