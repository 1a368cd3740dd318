// The operation adapters: each checks its argument string with its
// syntax's parser, resolves pathname operands against the client cwd, calls
// its operations API function and reduces the outcome to 0 or 1.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cmdsyn.h"
#include "files.h"
#include "gemxapis.h"
#include "service_internal.h"
#include "veyraks.h"

namespace {

const int kPathBuffer = 1024;
const int32_t kAreaBlock = 4096;

// One storage area for one parse, freed on every way out.
class ScopedArea {
public:
    ScopedArea() : area_(stg_create_area(kAreaBlock)) {}
    ~ScopedArea() {
        if (area_ != 0) stg_free_area(area_, 1);
    }
    ScopedArea(const ScopedArea &) = delete;
    ScopedArea &operator=(const ScopedArea &) = delete;
    bool valid() const { return area_ != 0; }
    stg_area_t get() const { return area_; }

private:
    stg_area_t area_;
};

// The flag word of vtree: 1 all, 2 nco, 4 nmerge.
int vtree_flags(const vtree_args &a) {
    int flags = 0;
    if (a.all) flags |= 1;
    if (a.nco) flags |= 2;
    if (a.nmerge) flags |= 4;
    return flags;
}

// Operand i of a parameter record; null when the record has no array.
const char *operand(char **argv, int32_t i) { return argv ? argv[i] : nullptr; }

}  // namespace

bool make_abs_pn(std::string cwd, const char *pathname, char *path) {
    GEMXAPIS_Tracer tracer("gemx_pkl_service", "operations", "make_abs_pn");
    if (cwd.empty()) {
        tracer.writeTrace("cannot resolve rel pname without cwd");
        return false;
    }
    // The pathname is resolved against the client cwd itself rather than by
    // making it the process's current directory, which concurrent workers
    // share; the cwd must still be a directory the service could enter.
    if (!platform::is_accessible_directory(cwd.c_str())) {
        tracer.writeTrace("error encountered whicle chdir");
        return false;
    }
    // A null operand has no absolute form; it fails as the conversion of
    // it would.
    if (!pathname || fileutl_abspn(platform::join_to_directory(cwd, pathname).c_str(), path, kPathBuffer) != 0) {
        tracer.writeTrace("error while converting to abs pn");
        return false;
    }
    return true;
}

int deliver(gemx_api_handle_t handle, std::string args, std::string cwd) {
    GEMXAPIS_Tracer tracer("gemx_pkl_service", "operations", "deliver");
    ScopedArea area;
    if (!area.valid()) return 1;
    deliver_args record;
    if (cmdsyn_deliver(args.c_str(), area.get(), &record) != 0) {
        tracer.writeTrace("error occurred while parsing arguments");
        return 1;
    }
    return gemx_api_deliver(handle, cwd.c_str()) == 0 ? 0 : 1;
}

int rebase(gemx_api_handle_t handle, std::string args, std::string cwd) {
    GEMXAPIS_Tracer tracer("gemx_pkl_service", "operations", "rebase");
    ScopedArea area;
    if (!area.valid()) return 1;
    rebase_args record;
    if (cmdsyn_rebase(args.c_str(), area.get(), &record) != 0) {
        tracer.writeTrace("error occurred while parsing arguments");
        return 1;
    }
    return gemx_api_rebase(handle, cwd.c_str()) == 0 ? 0 : 1;
}

int find_merge(gemx_api_handle_t handle) {
    GEMXAPIS_Tracer tracer("gemx_pkl_service", "operations", "find_merge");
    if (gemx_api_find_merge(handle) != 0) {
        tracer.writeTrace("error encountered in find merge");
        return 1;
    }
    return 0;
}

int history(gemx_api_handle_t handle, std::string args, std::string cwd) {
    GEMXAPIS_Tracer tracer("gemx_pkl_service", "operations", "history");
    ScopedArea area;
    if (!area.valid()) return 1;
    history_args record;
    int32_t kind = 0;
    // A negative operand count is no list of operands: without this check
    // the loop below would make no call and report success.
    if (cmdsyn_history(args.c_str(), area.get(), &record, &kind) != 0 || record.argc < 0) {
        tracer.writeTrace("error occurred while parsing arguments");
        return 1;
    }
    if (record.argc == 0) return gemx_api_history(handle, cwd.c_str()) == 0 ? 0 : 1;
    int status = 0;
    char path[kPathBuffer];
    for (int32_t i = 0; i < record.argc; ++i) {
        if (!make_abs_pn(cwd, operand(record.argv, i), path)) {
            tracer.writeTrace("error making abs pname");
            return 1;
        }
        status = gemx_api_history(handle, path);
    }
    return status == 0 ? 0 : 1;
}

int update(gemx_api_handle_t handle, std::string args, std::string cwd) {
    GEMXAPIS_Tracer tracer("gemx_pkl_service", "operations", "update");
    ScopedArea area;
    if (!area.valid()) return 1;
    update_args record;
    // A negative operand count is no list of operands (and no size to
    // reserve).
    if (cmdsyn_update(args.c_str(), area.get(), &record) != 0 || record.argc < 0) {
        tracer.writeTrace("error occurred while parsing arguments");
        return 1;
    }
    // The path list: the client cwd itself when there are no operands, else
    // one resolved copy per operand.
    std::vector<std::string> resolved;
    std::vector<const char *> list;
    if (record.argc == 0) {
        list.push_back(cwd.c_str());
    } else {
        resolved.reserve(static_cast<std::size_t>(record.argc));
        char path[kPathBuffer];
        for (int32_t i = 0; i < record.argc; ++i) {
            if (!make_abs_pn(cwd, operand(record.argv, i), path)) {
                tracer.writeTrace("error making abs pname");
                return 1;
            }
            resolved.emplace_back(path);
        }
        for (const std::string &p : resolved) list.push_back(p.c_str());
    }
    int status = gemx_api_update(handle, 0, list.data(), static_cast<int>(list.size()), 0, 0, 0, 0);
    return status == 0 ? 0 : 1;
}

int vtree(gemx_api_handle_t handle, std::string args, std::string cwd) {
    GEMXAPIS_Tracer tracer("gemx_pkl_service", "operations", "vtree");
    ScopedArea area;
    if (!area.valid()) return 1;
    vtree_args record;
    if (cmdsyn_vtree(args.c_str(), area.get(), &record) != 0) {
        tracer.writeTrace("error occurred while parsing arguments");
        return 1;
    }
    // A parse can succeed without an operand when the option library hands
    // out none; there is then nothing to show.
    if (record.argc < 1 || !record.argv || !record.argv[0]) return 1;
    char path[kPathBuffer];
    if (!make_abs_pn(cwd, record.argv[0], path)) {
        tracer.writeTrace("error making abs pname");
        return 1;
    }
    return gemx_api_vtree(handle, path, vtree_flags(record)) == 0 ? 0 : 1;
}
