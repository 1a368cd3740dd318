// gemx: a small command-line client that hands one operation to the
// launcher service through libgemxbridge, loaded at run time from its own
// product tree the way the product's client loads it.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dynlib.h"

namespace {

struct Operation {
    const char *name;
    int id;
};

const Operation kOperations[] = {
    {"noop", 0},    {"deliver", 1}, {"find_merge", 2}, {"findmerge", 2},
    {"history", 3}, {"rebase", 4},  {"update", 5},     {"vtree", 6},
};

using InvokeFunction = int (*)(int, int, const char *);

void usage(std::FILE *out) {
    std::fputs(
        "usage: gemx [--kind N] <operation> [word...]\n"
        "\n"
        "Hands one operation to the launcher service, starting it when it does not\n"
        "run, and exits with the service's answer (0 success, 1 failure).\n"
        "\n"
        "operations: noop, deliver, find_merge (or findmerge), history, rebase,\n"
        "            update, vtree\n"
        "  --kind N  the client kind passed to the bridge (default 0)\n"
        "  --help    this text\n"
        "\n"
        "The words after the operation form its argument string; a word with a\n"
        "blank or tab, or an empty word, is put in double quotes.\n",
        out);
}

// Joins the words into one argument string, quoting a word that holds a
// blank or a tab, or is empty, so the service splits it back the same way.
std::string join_words(const std::vector<std::string> &words) {
    std::string args;
    for (const std::string &w : words) {
        if (!args.empty()) args += ' ';
        if (w.empty() || w.find_first_of(" \t") != std::string::npos) {
            args += '"';
            args += w;
            args += '"';
        } else {
            args += w;
        }
    }
    return args;
}

// The operation id for a name, or -1 when there is none.
int operation_id(const char *name) {
    for (const Operation &op : kOperations) {
        if (std::strcmp(op.name, name) == 0) return op.id;
    }
    return -1;
}

// Parses a client kind; false when the text is not a whole decimal integer
// in the 32-bit range. long long, not long: long has 32 bits on Windows, so
// strtol would clamp 2147483648 to the largest value instead of failing.
bool parse_kind(const char *text, int *kind) {
    char *end = nullptr;
    errno = 0;
    long long value = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || value < -2147483647LL - 1 || value > 2147483647LL) {
        return false;
    }
    *kind = static_cast<int>(value);
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    int kind = 0;
    int i = 1;
    while (i < argc && argv[i][0] == '-' && argv[i][1] == '-') {
        if (std::strcmp(argv[i], "--help") == 0) {
            usage(stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--kind") == 0) {
            if (i + 1 >= argc || !parse_kind(argv[i + 1], &kind)) {
                std::fprintf(stderr, "gemx: --kind needs a whole number\n");
                return 2;
            }
            i += 2;
            continue;
        }
        std::fprintf(stderr, "gemx: unknown option %s (see gemx --help)\n", argv[i]);
        return 2;
    }
    if (i >= argc) {
        usage(stderr);
        return 2;
    }
    int op = operation_id(argv[i]);
    if (op < 0) {
        std::fprintf(stderr, "gemx: unknown operation \"%s\" (see gemx --help)\n", argv[i]);
        return 2;
    }
    std::vector<std::string> words(argv + i + 1, argv + argc);
    std::string args = join_words(words);

    std::string path = platform::product_library_path(platform::program_directory(), "gemxbridge");
    std::string error;
    platform::DynamicLibrary bridge = platform::DynamicLibrary::load(path, &error);
    if (!bridge.valid()) {
        std::fprintf(stderr, "gemx: cannot load the bridge library %s: %s\n", path.c_str(), error.c_str());
        return 2;
    }
    auto invoke = reinterpret_cast<InvokeFunction>(bridge.symbol("invoke_gemx_ui"));
    if (!invoke) {
        std::fprintf(stderr, "gemx: %s has no invoke_gemx_ui\n", path.c_str());
        return 2;
    }
    return invoke(kind, op, args.c_str());
}
