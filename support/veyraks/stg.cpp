// Storage areas: each area is a monotonic buffer resource over the heap,
// reached through a 32-bit handle from a process-wide registry.
#include <cstddef>
#include <map>
#include <memory>
#include <memory_resource>
#include <mutex>
#include <new>

#include "veyraks.h"

namespace {

// The largest block one call hands out. Larger requests are refused before
// they reach the allocator, whose size arithmetic they could overflow.
constexpr std::size_t kMaxAllocation = std::size_t{1} << 30;

struct Area {
    explicit Area(std::size_t block) : resource(block) {}
    std::pmr::monotonic_buffer_resource resource;
};

// The registry owns every live area. Handles are never reused while the
// process lives, so a stale handle can never reach another caller's area.
class Registry {
public:
    stg_area_t create(std::size_t block) {
        auto area = std::make_unique<Area>(block);
        std::lock_guard<std::mutex> lock(mu_);
        if (next_ <= STG_HEAP_AREA || next_ == INT32_MAX) return 0;
        stg_area_t handle = next_++;
        areas_.emplace(handle, std::move(area));
        return handle;
    }

    void *alloc(stg_area_t handle, std::size_t size) {
        if (size > kMaxAllocation) return nullptr;
        std::lock_guard<std::mutex> lock(mu_);
        Area *area = find(handle);
        if (!area) return nullptr;
        try {
            return area->resource.allocate(size == 0 ? 1 : size, alignof(std::max_align_t));
        } catch (...) {
            // No memory, or a size the resource cannot even compute a block
            // for: the caller gets null, never an exception.
            return nullptr;
        }
    }

    int free(stg_area_t handle) {
        std::unique_ptr<Area> doomed;
        {
            std::lock_guard<std::mutex> lock(mu_);
            auto it = areas_.find(handle);
            if (it == areas_.end()) return 1;
            doomed = std::move(it->second);
            areas_.erase(it);
        }
        return 0;  // the area's memory is released outside the lock
    }

private:
    Area *find(stg_area_t handle) {
        if (handle == STG_HEAP_AREA) return &heap_;
        auto it = areas_.find(handle);
        return it == areas_.end() ? nullptr : it->second.get();
    }

    std::mutex mu_;
    std::map<stg_area_t, std::unique_ptr<Area>> areas_;
    stg_area_t next_ = STG_HEAP_AREA + 1;
    Area heap_{4096};  // the heap area: lives until the process ends
};

// The registry is never destroyed: worker threads may still use their
// areas while the process runs its exit handlers.
Registry &registry() {
    static Registry *instance = new Registry;
    return *instance;
}

}  // namespace

extern "C" {

stg_area_t stg_create_area(int32_t block_size) {
    try {
        std::size_t block = block_size > 0 ? static_cast<std::size_t>(block_size) : 4096;
        return registry().create(block);
    } catch (...) {
        return 0;
    }
}

void *stg_alloc(stg_area_t area, size_t size) { return registry().alloc(area, size); }

int stg_free_area(stg_area_t area, int /*flags*/) {
    if (area == STG_HEAP_AREA) return 1;
    return registry().free(area);
}

}  // extern "C"
