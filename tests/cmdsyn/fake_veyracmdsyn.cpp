// Recording stand-in for libveyracmdsyn's conversion.
#include "fake_veyracmdsyn.h"

#include <mutex>

#include "veyracmdsyn.h"

namespace fake_objsels {

namespace {

struct Recorder {
    std::mutex mu;
    std::vector<Call> calls;
    int result = 0;
};

Recorder &recorder() {
    static Recorder instance;
    return instance;
}

}  // namespace

void reset(int result) {
    std::lock_guard<std::mutex> lock(recorder().mu);
    recorder().calls.clear();
    recorder().result = result;
}

std::vector<Call> calls() {
    std::lock_guard<std::mutex> lock(recorder().mu);
    return recorder().calls;
}

}  // namespace fake_objsels

extern "C" int cmdsyn_argv_to_objsels(int kind, const char *vob, char **argv, int argc, stg_area_t area) {
    fake_objsels::Call call{kind, vob != nullptr, vob ? vob : "", argv, argc, {}, area};
    for (int i = 0; argv && i < argc; ++i) call.operands.emplace_back(argv[i] ? argv[i] : "(null)");
    std::lock_guard<std::mutex> lock(fake_objsels::recorder().mu);
    fake_objsels::recorder().calls.push_back(std::move(call));
    return fake_objsels::recorder().result;
}
