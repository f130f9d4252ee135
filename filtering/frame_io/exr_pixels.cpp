#include "frame_io/exr_pixels.h"

#include <openexr.h>

#include <atomic>
#include <map>
#include <mutex>
#include <stdexcept>

namespace filtering {

namespace {

// The library reports errors through a callback, on the thread that met them.
thread_local std::string lastError;

void keepError(exr_const_context_t, exr_result_t code, const char* message) {
    lastError = message != nullptr ? message : exr_get_default_error_message(code);
}

void check(exr_result_t result, const char* step) {
    if (result != EXR_ERR_SUCCESS) {
        const std::string detail =
            lastError.empty() ? exr_get_default_error_message(result) : lastError;
        lastError.clear();
        throw std::runtime_error(std::string(step) + ": " + detail);
    }
}

class ReadContext {
  public:
    explicit ReadContext(const std::string& path) {
        exr_context_initializer_t initializer = EXR_DEFAULT_CONTEXT_INITIALIZER;
        initializer.error_handler_fn = keepError;
        check(exr_start_read(&context_, path.c_str(), &initializer), "open");
    }
    ~ReadContext() { exr_finish(&context_); }
    ReadContext(const ReadContext&) = delete;
    ReadContext& operator=(const ReadContext&) = delete;
    exr_context_t get() const { return context_; }

  private:
    exr_context_t context_ = nullptr;
};

// Where each chunk lies: the pixel corner of chunk `index`, and its info.
class ChunkLayout {
  public:
    explicit ChunkLayout(exr_const_context_t context) : context_(context) {
        check(exr_get_data_window(context, 0, &window_), "data window");
        exr_storage_t storage;
        check(exr_get_storage(context, 0, &storage), "storage");
        tiled_ = storage == EXR_STORAGE_TILED;
        if (tiled_) {
            exr_tile_level_mode_t level;
            exr_tile_round_mode_t round;
            check(exr_get_tile_descriptor(context, 0, &tileWidth_, &tileHeight_, &level, &round),
                  "tiles");
            if (tileWidth_ == 0 || tileHeight_ == 0) check(EXR_ERR_INVALID_ATTR, "tiles");
            columns_ = static_cast<int>((width() + tileWidth_ - 1) / tileWidth_);
            count_ = columns_ * static_cast<int>((height() + tileHeight_ - 1) / tileHeight_);
        } else {
            check(exr_get_scanlines_per_chunk(context, 0, &linesPerChunk_), "chunks");
            if (linesPerChunk_ <= 0) check(EXR_ERR_INVALID_ATTR, "chunks");
            count_ = static_cast<int>((height() + linesPerChunk_ - 1) / linesPerChunk_);
        }
    }
    int count() const { return count_; }
    int64_t width() const { return int64_t(window_.max.x) - window_.min.x + 1; }
    int64_t height() const { return int64_t(window_.max.y) - window_.min.y + 1; }

    // The chunk's info and its corner relative to the data window.
    exr_chunk_info_t info(int index, cv::Point& corner) const {
        exr_chunk_info_t chunk{};
        if (tiled_) {
            const int tileX = index % columns_, tileY = index / columns_;
            check(exr_read_tile_chunk_info(context_, 0, tileX, tileY, 0, 0, &chunk), "tile");
            corner = cv::Point(tileX * static_cast<int>(tileWidth_),
                               tileY * static_cast<int>(tileHeight_));
        } else {
            check(exr_read_scanline_chunk_info(context_, 0, window_.min.y + index * linesPerChunk_,
                                               &chunk),
                  "scanlines");
            corner = cv::Point(0, chunk.start_y - window_.min.y);
        }
        if (corner.x < 0 || corner.y < 0 || corner.x + chunk.width > width() ||
            corner.y + chunk.height > height()) {
            check(EXR_ERR_BAD_CHUNK_LEADER, "chunk");
        }
        return chunk;
    }

  private:
    exr_const_context_t context_;
    exr_attr_box2i_t window_{};
    bool tiled_ = false;
    uint32_t tileWidth_ = 0, tileHeight_ = 0;
    int32_t linesPerChunk_ = 0;
    int columns_ = 0, count_ = 0;
};

// Decodes chunks [first, last) with one pipeline.
void decodeChunks(exr_const_context_t context, const ChunkLayout& layout,
                  const std::map<std::string, const ExrChannelTarget*>& byName, int first,
                  int last) {
    exr_decode_pipeline_t decoder{};  // all zero, as the library's initializer
    struct Cleanup {
        exr_const_context_t context;
        exr_decode_pipeline_t* decoder;
        ~Cleanup() { exr_decoding_destroy(context, decoder); }
    } cleanup{context, &decoder};
    for (int index = first; index < last; ++index) {
        cv::Point corner;
        const exr_chunk_info_t chunk = layout.info(index, corner);
        check(index == first ? exr_decoding_initialize(context, 0, &chunk, &decoder)
                             : exr_decoding_update(context, 0, &chunk, &decoder),
              "decoder");
        for (int c = 0; c < decoder.channel_count; ++c) {
            exr_coding_channel_info_t& channel = decoder.channels[c];
            const auto target = byName.find(channel.channel_name);
            if (target == byName.end()) {
                channel.decode_to_ptr = nullptr;
                continue;
            }
            cv::Mat& image = *target->second->image;
            channel.decode_to_ptr =
                image.ptr<uint8_t>(corner.y, corner.x) + target->second->channel * sizeof(float);
            channel.user_pixel_stride = static_cast<int32_t>(image.elemSize());
            channel.user_line_stride = static_cast<int32_t>(image.step[0]);
            channel.user_bytes_per_element = sizeof(float);
            channel.user_data_type = EXR_PIXEL_FLOAT;
        }
        check(exr_decoding_choose_default_routines(context, 0, &decoder), "decoder");
        check(exr_decoding_run(context, 0, &decoder), "pixels");
    }
}

}  // namespace

void checkExrHeaders(const std::string& path) {
    const ReadContext context(path);
}

void readExrChannels(const std::string& path, const std::vector<ExrChannelTarget>& targets) {
    const ReadContext context(path);
    const ChunkLayout layout(context.get());
    std::map<std::string, const ExrChannelTarget*> byName;
    for (const ExrChannelTarget& target : targets) {
        CV_Assert(target.image->depth() == CV_32F && target.image->cols == layout.width() &&
                  target.image->rows == layout.height());
        byName[target.name] = &target;
    }
    std::mutex failing;
    std::string failure;
    cv::parallel_for_(cv::Range(0, layout.count()), [&](const cv::Range& chunks) {
        try {
            decodeChunks(context.get(), layout, byName, chunks.start, chunks.end);
        } catch (const std::exception& error) {
            const std::lock_guard<std::mutex> lock(failing);
            failure = error.what();
        }
    });
    if (!failure.empty()) {
        throw std::runtime_error(failure);
    }
}

}  // namespace filtering
