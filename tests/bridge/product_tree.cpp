#include "product_tree.h"

#include <filesystem>
#include <memory>
#include <system_error>

#include "files.h"

namespace fs = std::filesystem;

namespace bridge_test {

namespace {

bool ends_with(const std::string &s, const std::string &suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

bool copy_file(const std::string &file, const std::string &target) {
    std::error_code ec;
    fs::copy_file(file, target, fs::copy_options::overwrite_existing, ec);
    return !ec;
}

ProductTree::ProductTree(Service service) : dir_("tree") {
    const char sep = kestrin_test::separator();
    const std::string real = kestrin_test::product_dir();
    std::error_code ec;
    fs::create_directory(bin(), ec);
    bool ok = !ec;
    // POSIX: the shared libraries in lib/; Windows: the DLLs beside the
    // programs in bin/.
    if (fs::is_directory(real + sep + "lib")) {
        fs::create_directory(root() + sep + "lib", ec);
        ok = ok && !ec;
        for (const auto &entry : fs::directory_iterator(real + sep + "lib", ec)) {
            const std::string name = entry.path().filename().string();
            ok = ok && copy_file(entry.path().string(), root() + sep + "lib" + sep + name);
        }
    }
    for (const auto &entry : fs::directory_iterator(real + sep + "bin", ec)) {
        const std::string name = entry.path().filename().string();
        if (ends_with(name, ".dll")) ok = ok && copy_file(entry.path().string(), bin() + sep + name);
    }
    ok = ok && copy_file(program_path("bridge_probe"), probe());
    if (service == Service::stand_in) ok = ok && copy_file(program_path("bridge_probe"), this->service());
    if (service == Service::not_a_program) ok = ok && kestrin_test::write_file(this->service(), "not a program\n");
    ready_ = ok;
}

std::string ProductTree::bin() const { return root() + kestrin_test::separator() + "bin"; }

std::string ProductTree::probe() const {
    return bin() + kestrin_test::separator() + "bridge_probe" + platform::kExeSuffix;
}

std::string ProductTree::service() const {
    return bin() + kestrin_test::separator() + "gemx_pkl_service" + platform::kExeSuffix;
}

RunResult ProductTree::run_probe(const std::vector<std::string> &args, const std::string &trace_dir) const {
    ScopedEnv trace("KESTRIN_GEMXBRIDGE_TRACE_DIR", trace_dir.empty() ? nullptr : trace_dir.c_str());
    return run_program(probe(), args);
}

}  // namespace bridge_test
