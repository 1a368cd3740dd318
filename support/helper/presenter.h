// What the helper program does with one request line: it records the
// operation in its journal and decides the answer. The files it touches are
// reached through HelperServices, so this is tested without a journal file.
#pragma once

#include <functional>
#include <string>

namespace gemx_helper {

// The helper's answers besides 0.
enum Answer : int {
    kDone = 0,
    kMissingPath = 1,  // a pathname or cwd is empty or does not exist
    kNotJournaled = 2, // the journal line could not be appended
    kMalformed = 3,    // not one of the six operations with its arguments
};

struct HelperServices {
    // True when path names something that exists.
    std::function<bool(const std::string &path)> path_exists;
    // Appends line (its line end included) to the journal in one write;
    // false when it could not.
    std::function<bool(const std::string &line)> append_journal;
};

// Carries out one request line (without its line end): a well-formed
// operation is journaled as its name and escaped arguments, tab-separated,
// and then answered kDone, or kMissingPath when one of its paths is empty or
// missing (find_merge has none). A line that is not a well-formed operation
// is answered kMalformed and not journaled.
int present(const std::string &request, const HelperServices &services);

}  // namespace gemx_helper
