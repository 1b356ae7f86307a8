// span_workers.cpp: batches of recorded spans handed from the drawing thread to the workers through
// a ring of four, each worker shading the rows it owns.
#include "platform/d3d9/span_workers.h"

#include <algorithm>
#include <cstdlib>

namespace qm::d3d9 {

int DeviceThreadCount() {
    if (const char* value = std::getenv("QUILLMERE_DEVICE_THREADS"); value != nullptr) {
        char* end = nullptr;
        long n = std::strtol(value, &end, 10);
        if (end != value && *end == '\0' && n >= 1 && n <= 64) return static_cast<int>(n);
    }
    unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : static_cast<int>(std::min(cores, 64u));
}

SpanWorkers::SpanWorkers(int count) : count_(count) {
    for (Batch& batch : batches_) {
        batch.setups.reserve(kSetupsPerBatch);
        batch.spans.reserve(kSpansPerBatch);
        batch.finished = count;
    }
    threads_.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) threads_.emplace_back(&SpanWorkers::Run, this, i);
}

SpanWorkers::~SpanWorkers() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    published_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

void SpanWorkers::Begin(SpanFn span, void* context, int varyingCount) {
    span_ = span;
    context_ = context;
    varyingCount_ = varyingCount;
    haveSetup_ = false;
    publishedThisDraw_ = false;
    pixels_ = 0;
    Batch& batch = batches_[filling_ % kBatches];
    batch.span = span;
    batch.context = context;
}

void SpanWorkers::Record(void* self, const PrimitiveSetup& setup, int y, int x0, int x1) {
    auto& w = *static_cast<SpanWorkers*>(self);
    Batch* batch = &w.batches_[w.filling_ % kBatches];
    if (batch->spans.size() == kSpansPerBatch ||
        ((!w.haveSetup_ || setup.serial != w.lastSerial_) && batch->setups.size() == kSetupsPerBatch)) {
        w.Publish();
        batch = &w.batches_[w.filling_ % kBatches];
    }
    if (!w.haveSetup_ || setup.serial != w.lastSerial_) {
        // Only the planes the draw sets up are copied.
        PrimitiveSetup& copy = batch->setups.emplace_back();
        copy.ox = setup.ox;
        copy.oy = setup.oy;
        copy.z = setup.z;
        copy.invW = setup.invW;
        copy.frontFace = setup.frontFace;
        copy.serial = setup.serial;
        std::copy_n(setup.varyings.begin(), w.varyingCount_, copy.varyings.begin());
        w.lastSerial_ = setup.serial;
        w.haveSetup_ = true;
    }
    batch->spans.push_back(SpanRecord{static_cast<std::uint32_t>(batch->setups.size() - 1), y, x0, x1});
    w.pixels_ += x1 - x0;
}

void SpanWorkers::WaitForSlot(std::size_t slot) {
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [&] { return batches_[slot].finished == Count(); });
}

void SpanWorkers::Publish() {
    Batch& full = batches_[filling_ % kBatches];
    if (full.spans.empty()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        full.finished = 0;
        publishedCount_ = filling_ + 1;
    }
    publishedThisDraw_ = true;
    published_.notify_all();
    ++filling_;
    // The next batch may still be in the workers' hands from an earlier round.
    std::size_t slot = filling_ % kBatches;
    WaitForSlot(slot);
    Batch& next = batches_[slot];
    next.setups.clear();
    next.spans.clear();
    next.span = span_;
    next.context = context_;
    // A primitive continuing into the new batch needs its set-up copied there again.
    haveSetup_ = false;
}

void SpanWorkers::Finish() {
    if (!publishedThisDraw_ && pixels_ <= kInlinePixels) {
        // Every earlier batch was drawn before the last Finish returned, and this draw's spans are
        // all in the filling batch: drawn here in recorded order, each pixel still sees the draws
        // in order. The batch stays the filling one, emptied.
        Batch& batch = batches_[filling_ % kBatches];
        for (const SpanRecord& record : batch.spans) {
            batch.span(batch.context, batch.setups[record.setup], record.y, record.x0, record.x1);
        }
        batch.setups.clear();
        batch.spans.clear();
        haveSetup_ = false;
        return;
    }
    Publish();
    for (std::size_t slot = 0; slot < kBatches; ++slot) WaitForSlot(slot);
}

void SpanWorkers::Run(int index) {
    const int count = Count();
    std::uint64_t next = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            published_.wait(lock, [&] { return stopping_ || publishedCount_ > next; });
            if (publishedCount_ <= next) return;  // stopping with nothing left
        }
        const Batch& batch = batches_[next % kBatches];
        for (const SpanRecord& record : batch.spans) {
            // Rows are owned in interleaved pairs, which spreads any region of the screen over all.
            if ((record.y >> 1) % count != index) continue;
            batch.span(batch.context, batch.setups[record.setup], record.y, record.x0, record.x1);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++batches_[next % kBatches].finished;
        }
        finished_.notify_all();
        ++next;
    }
}

}  // namespace qm::d3d9
