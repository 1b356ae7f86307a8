// span_workers.h: worker threads for the per-pixel work of a draw. The drawing thread transforms,
// clips and scan-converts as before, but records each span (and the set-up of its primitive) into
// batches instead of shading it; every worker shades the spans of the rows it owns (interleaved
// pairs of rows), batch after batch in submission order. A pixel therefore always belongs to one
// worker, which sees the primitives in the order they were drawn, so the output does not depend on
// the number of workers; Finish waits until every recorded span is drawn. A draw that covers few
// pixels (a sprite, a text tile) is shaded on the drawing thread at Finish instead: handing it to
// the workers and waiting for them costs more than the shading.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/d3d9/rasteriser.h"

namespace qm::d3d9 {

class SpanWorkers {
public:
    // Starts `count` (at least 2) workers.
    explicit SpanWorkers(int count);
    ~SpanWorkers();
    SpanWorkers(const SpanWorkers&) = delete;
    SpanWorkers& operator=(const SpanWorkers&) = delete;

    int Count() const { return count_; }

    // Where the rasteriser hands its spans while the workers draw: Record with `this` as context.
    // span and context are the draw's span loop and its context, which stay valid until Finish.
    void Begin(SpanFn span, void* context, int varyingCount);
    static void Record(void* self, const PrimitiveSetup& setup, int y, int x0, int x1);
    // Hands on what is recorded and waits until every span is drawn; a draw of at most
    // kInlinePixels pixels that filled no more than one batch is drawn here, on the calling thread.
    void Finish();

    // Measured with two workers on two cores: a bilinear, blended sprite of 1,024 pixels draws in
    // about 25 us on the drawing thread against 33 us handed on; at 2,304 pixels the two are even.
    // Cheaper pixels (texels read one to one) move the break-even point higher still.
    static constexpr std::int64_t kInlinePixels = 2048;

private:
    struct SpanRecord {
        std::uint32_t setup;
        std::int32_t y, x0, x1;
    };
    struct Batch {
        std::vector<PrimitiveSetup> setups;
        std::vector<SpanRecord> spans;
        SpanFn span = nullptr;
        void* context = nullptr;
        int finished = 0;  // workers done with it; Count() when free
    };
    static constexpr int kBatches = 4;
    static constexpr std::size_t kSetupsPerBatch = 128;
    static constexpr std::size_t kSpansPerBatch = 2048;

    void Publish();                 // hands the filling batch to the workers
    void WaitForSlot(std::size_t slot);
    void Run(int index);            // a worker's loop

    const int count_;
    std::vector<std::thread> threads_;
    Batch batches_[kBatches];
    std::mutex mutex_;
    std::condition_variable published_;  // workers wait for batches
    std::condition_variable finished_;   // the drawing thread waits for workers
    std::uint64_t publishedCount_ = 0;   // batches handed on so far
    bool stopping_ = false;

    // The drawing thread's side.
    std::uint64_t filling_ = 0;  // sequence number of the batch being filled
    std::uint64_t lastSerial_ = 0;
    bool haveSetup_ = false;
    bool publishedThisDraw_ = false;  // a batch of the current draw is in the workers' hands
    std::int64_t pixels_ = 0;         // pixels recorded since Begin
    SpanFn span_ = nullptr;
    void* context_ = nullptr;
    int varyingCount_ = 0;
};

// The number of threads a new device draws with: QUILLMERE_DEVICE_THREADS when it holds a number
// from 1 to 64, else the number of processor cores.
int DeviceThreadCount();

}  // namespace qm::d3d9
