#include "support/edid_builder.h"

#include <algorithm>

#if defined(__unix__) || defined(__APPLE__)
#include <sys/mman.h>
#include <unistd.h>
#define MC_HAVE_GUARD_PAGES 1
#endif

namespace mc::test {

GuardedImage::GuardedImage(const EdidImage& image) {
#ifdef MC_HAVE_GUARD_PAGES
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* mapping = mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping != MAP_FAILED) {
        auto* base = static_cast<std::uint8_t*>(mapping);
        if (mprotect(base + page, page, PROT_NONE) == 0) {
            mapping_ = mapping;
            mappingSize_ = 2 * page;
            bytes_ = base + page - kEdidImageBytes;
            guarded_ = true;
        } else {
            munmap(mapping, 2 * page);
        }
    }
#endif
    if (!guarded_) {
        fallback_.resize(kEdidImageBytes);
        bytes_ = fallback_.data();
    }
    std::copy(image.begin(), image.end(), bytes_);
}

GuardedImage::~GuardedImage() {
#ifdef MC_HAVE_GUARD_PAGES
    if (mapping_ != nullptr) {
        munmap(mapping_, mappingSize_);
    }
#endif
}

} // namespace mc::test
