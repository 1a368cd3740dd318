// gemx_helper: the helper process of libgemxapis. It says "ready", then
// reads one operation per line from its standard input, presents it by
// appending a line to gemx_helper.journal in the user's temporary directory,
// and answers it with one line ("0" or a nonzero code). It ends at the end
// of its input, which comes when the library stops it or when the process
// that started it ends in any way.
#include <cstdio>
#include <iostream>
#include <string>

#include "helper_os.h"
#include "presenter.h"
#include "veyraks.h"

namespace {

// The journal's path, or "" when the temporary directory is unknown.
std::string journal_path() {
    char dir[1024];
    if (fileutl_get_tmpdir(0, dir, sizeof dir, 0) != 0) return {};
    return std::string(dir) + gemx_helper::kPathSeparator + "gemx_helper.journal";
}

bool write_answer(const std::string &text) {
    std::string line = text + "\n";
    return std::fwrite(line.data(), 1, line.size(), stdout) == line.size() && std::fflush(stdout) == 0;
}

}  // namespace

int main() {
    gemx_helper::use_binary_stdio();
    std::ios::sync_with_stdio(false);

    gemx_helper::HelperServices services;
    services.path_exists = gemx_helper::path_exists;
    services.append_journal = [](const std::string &line) {
        // The directory is looked up for every line: it is made on demand
        // and may be removed while the helper runs.
        std::string path = journal_path();
        return !path.empty() && gemx_helper::append_to_file(path, line);
    };

    if (!write_answer("ready")) return 1;
    std::string request;
    while (std::getline(std::cin, request)) {
        if (!request.empty() && request.back() == '\r') request.pop_back();
        if (!write_answer(std::to_string(gemx_helper::present(request, services)))) return 1;
    }
    return 0;
}
