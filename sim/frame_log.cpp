#include "sim/frame_log.h"

#include "display/rect.h"
#include "sim/run_files.h"

namespace sim {

std::string FrameLog::open(const std::string& path) {
    make_parent_dir(path);
    file_ = std::fopen(path.c_str(), "w");
    return file_ == nullptr ? "cannot write " + path : "";
}

void FrameLog::note(long frame, const std::uint32_t* area, std::size_t row_pixels) {
    if (file_ == nullptr)
        return;
    const std::uint64_t hash = area ? frame_hash(area, row_pixels) : 0;
    std::fprintf(file_, "%ld %016llx\n", frame, static_cast<unsigned long long>(hash));
}

void FrameLog::close() {
    if (file_ != nullptr)
        std::fclose(file_);
    file_ = nullptr;
}

std::uint64_t frame_hash(const std::uint32_t* area, std::size_t row_pixels) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (int y = 0; y < kAreaHeight; ++y) {
        const std::uint32_t* row = area + static_cast<std::size_t>(y) * row_pixels;
        for (int x = 0; x < kAreaWidth; ++x)
            hash = (hash ^ row[x]) * 0x100000001b3ull;
    }
    return hash;
}

}  // namespace sim
