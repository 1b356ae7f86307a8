// animation_controller.cpp: the animation controller with scheduled events: speed, weight and
// priority-blend changes with linear or smooth (3 − 2f)·f² transitions, position and enable changes,
// the exact integration of track positions under changing speed, and cloning.
#include "library/anim/animation_controller.h"

#include <cmath>
#include <limits>
#include <new>

#include "library/anim/controller_base.h"

namespace qm {
namespace {

constexpr UINT kNoEvent = std::numeric_limits<UINT>::max();

enum EventKind : DWORD { kSpeed = 0, kWeight = 1, kPosition = 2, kEnable = 3, kBlend = 4 };
constexpr UINT kTrackKinds = 4;

struct AnimationEvent {
    UINT track = 0;
    double start = 0.0;
    double end = 0.0;
    DWORD kind = kSpeed;
    DWORD transition = kTransitionLinear;
    double startValue = 0.0;
    double target = 0.0;
    BOOL enable = FALSE;
    UINT next = kNoEvent;
};

// One timeline: the pending events in ascending start time and the current event of each kind.
struct Timeline {
    UINT pending = kNoEvent;
    UINT current[kTrackKinds] = {kNoEvent, kNoEvent, kNoEvent, kNoEvent};
};

// The curve of a transition at fraction f: the smooth step for kTransitionSmooth, else f.
double Shape(DWORD transition, double f) { return transition == kTransitionSmooth ? (3.0 - 2.0 * f) * f * f : f; }

// Fraction of an event's span at time u, within [0, 1]; 1 for an event without duration.
double FractionAt(const AnimationEvent& e, double u) {
    const double span = e.end - e.start;
    if (span <= 0.0) return 1.0;
    const double f = (u - e.start) / span;
    return f < 0.0 ? 0.0 : (f > 1.0 ? 1.0 : f);
}

double ValueAt(const AnimationEvent& e, double u) {
    return e.startValue + (e.target - e.startValue) * Shape(e.transition, FractionAt(e, u));
}

class AnimationControllerImpl final : public AnimationControllerBase {
public:
    AnimationControllerImpl(UINT maxOutputs, UINT maxSets, UINT maxTracks, UINT maxEvents)
        : AnimationControllerBase(maxOutputs, maxSets, maxTracks), maxEvents_(maxEvents) {
        if (!Allocated() || !TableFits(maxEvents, sizeof(AnimationEvent)) || !TableFits(maxTracks, sizeof(Timeline))) {
            return;
        }
        try {
            events_.resize(maxEvents);
            timelines_.resize(maxTracks);
            ready_ = true;
        } catch (const std::bad_alloc&) {
            return;
        }
        for (UINT i = 0; i < maxEvents; ++i) events_[i].next = i + 1 < maxEvents ? i + 1 : kNoEvent;
        free_ = maxEvents > 0 ? 0 : kNoEvent;
    }

    bool Ready() const { return ready_; }

    HRESULT QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == AnimationController::iid) {
            AddRef();
            *object = static_cast<AnimationController*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    UINT GetMaxOutputCount() override { return maxOutputs_; }
    UINT GetMaxEventCount() override { return maxEvents_; }
    UINT GetMaxAnimationSetCount() override { return maxSets_; }

    HRESULT SetPriorityBlend(float blend) override {
        if (!(blend >= 0.0f && blend <= 1.0f)) return D3DERR_INVALIDCALL;
        priorityBlend_ = blend;
        return S_OK;
    }

    HRESULT KeyTrackSpeed(UINT track, float speed, double start, double duration, DWORD transition) override {
        return KeyChange(track, kSpeed, speed, start, duration, transition);
    }
    HRESULT KeyTrackWeight(UINT track, float weight, double start, double duration, DWORD transition) override {
        return KeyChange(track, kWeight, weight, start, duration, transition);
    }
    HRESULT KeyPriorityBlend(float blend, double start, double duration, DWORD transition) override {
        return KeyChange(kNoEvent, kBlend, blend, start, duration, transition);
    }

    HRESULT KeyTrackPosition(UINT track, double position, double time) override {
        AnimationEvent e;
        e.target = position;
        HRESULT hr = KeyInstant(track, kPosition, time, e);
        if (SUCCEEDED(hr)) tracks_[track].position = position;
        return hr;
    }

    HRESULT KeyTrackEnable(UINT track, BOOL enable, double time) override {
        AnimationEvent e;
        e.enable = enable;
        return KeyInstant(track, kEnable, time, e);
    }

    HRESULT SetTime(double time) override {
        if (!std::isfinite(time)) return D3DERR_INVALIDCALL;
        RunTimeline(blend_, kNoEvent, time);
        for (UINT t = 0; t < maxTracks_; ++t) RunTimeline(timelines_[t], t, time);
        time_ = time;
        return WriteOutputs();
    }

    HRESULT CloneController(UINT maxOutputs, UINT maxSets, UINT maxTracks, UINT maxEvents,
                            AnimationController** clone) override {
        if (clone == nullptr || maxOutputs == 0 || maxSets == 0 || maxTracks == 0 || maxEvents == 0 ||
            maxOutputs < maxOutputs_ || maxSets < maxSets_ || maxTracks < maxTracks_ || maxEvents < maxEvents_) {
            return D3DERR_INVALIDCALL;
        }
        *clone = nullptr;
        try {
            ComPtr<AnimationControllerImpl> made =
                MakeRef<AnimationControllerImpl>(maxOutputs, maxSets, maxTracks, maxEvents);
            if (!made || !made->Ready()) return E_OUTOFMEMORY;
            CopyInto(*made);
            // Pending and current events of every track become pending events of the clone.
            for (UINT t = 0; t < maxTracks_; ++t) {
                const Timeline& line = timelines_[t];
                for (UINT k = 0; k < kTrackKinds; ++k) {
                    if (line.current[k] != kNoEvent) made->Insert(made->timelines_[t], events_[line.current[k]]);
                }
                for (UINT e = line.pending; e != kNoEvent; e = events_[e].next) {
                    made->Insert(made->timelines_[t], events_[e]);
                }
            }
            *clone = made.Detach();
            return S_OK;
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }

private:
    // Schedules a speed, weight or blend change after checking its arguments.
    HRESULT KeyChange(UINT track, DWORD kind, float target, double start, double duration, DWORD transition) {
        if ((kind != kBlend && track >= maxTracks_) || !std::isfinite(start) || !std::isfinite(duration)) {
            return D3DERR_INVALIDCALL;
        }
        AnimationEvent e;
        e.kind = kind;
        e.start = start;
        e.end = start + (duration > 0.0 ? duration : 0.0);
        e.target = target;
        e.transition = transition;
        return Schedule(track, e);
    }

    // Schedules a position or enable change (its value already in `event`) at `time`.
    HRESULT KeyInstant(UINT track, DWORD kind, double time, AnimationEvent event) {
        if (track >= maxTracks_ || !std::isfinite(time)) return D3DERR_INVALIDCALL;
        event.kind = kind;
        event.start = event.end = time;
        return Schedule(track, event);
    }

    Timeline& LineOf(UINT track) { return track == kNoEvent ? blend_ : timelines_[track]; }

    void Free(UINT index) {
        events_[index].next = free_;
        free_ = index;
    }

    // Takes a record from the pool and links it into the timeline's pending list after every
    // event that starts at the same time or earlier. Returns its index, or kNoEvent when the pool
    // is used up.
    UINT Insert(Timeline& line, const AnimationEvent& event) {
        if (free_ == kNoEvent) return kNoEvent;
        const UINT index = free_;
        free_ = events_[index].next;
        events_[index] = event;
        UINT* link = &line.pending;
        while (*link != kNoEvent && events_[*link].start <= event.start) link = &events_[*link].next;
        events_[index].next = *link;
        *link = index;
        return index;
    }

    // Removes the pending event at *link from its list and returns it to the pool.
    void Unlink(UINT* link) {
        const UINT index = *link;
        *link = events_[index].next;
        Free(index);
    }

    // Inserts the event and drops the changes of its kind that it overlaps: for speed, weight and
    // blend the current one still running at its start, the first earlier pending one still
    // running at its start and the first later pending one starting before its end; for position
    // and enable a later pending one at the very same time.
    HRESULT Schedule(UINT track, AnimationEvent event) {
        event.track = track;
        Timeline& line = LineOf(track);
        const UINT index = Insert(line, event);
        if (index == kNoEvent) return D3DERR_INVALIDCALL;
        const AnimationEvent& added = events_[index];
        const bool gradual = event.kind == kSpeed || event.kind == kWeight || event.kind == kBlend;
        const UINT slot = event.kind == kBlend ? 0 : event.kind;

        if (gradual) {
            UINT& current = line.current[slot];
            if (current != kNoEvent && events_[current].end > added.start) {
                Free(current);
                current = kNoEvent;
            }
            for (UINT* link = &line.pending; *link != index; link = &events_[*link].next) {
                const AnimationEvent& e = events_[*link];
                if (e.kind == event.kind && e.end > added.start) {
                    Unlink(link);
                    break;
                }
            }
        }
        for (UINT* link = &events_[index].next; *link != kNoEvent; link = &events_[*link].next) {
            const AnimationEvent& e = events_[*link];
            const bool overlaps = gradual ? e.start < added.end || e.start == added.start : e.start == added.start;
            if (e.kind == event.kind && overlaps) {
                Unlink(link);
                break;
            }
        }
        return S_OK;
    }

    // The value an event animates, now.
    double PresentValue(UINT track, DWORD kind) const {
        switch (kind) {
            case kSpeed: return tracks_[track].speed;
            case kWeight: return tracks_[track].weight;
            case kBlend: return priorityBlend_;
            default: return 0.0;
        }
    }

    // Applies a current event's value at u to what it animates.
    void Apply(const AnimationEvent& e, double u) {
        switch (e.kind) {
            case kSpeed: tracks_[e.track].speed = static_cast<float>(ValueAt(e, u)); break;
            case kWeight: tracks_[e.track].weight = static_cast<float>(ValueAt(e, u)); break;
            case kBlend: priorityBlend_ = static_cast<float>(ValueAt(e, u)); break;
            case kPosition: tracks_[e.track].position = e.target; break;
            default: tracks_[e.track].enable = e.enable; break;
        }
    }

    // Integral of the smooth speed curve over the event's fraction f, in units of its duration.
    static double SmoothIntegral(const AnimationEvent& e, double f) {
        const double delta = e.target - e.startValue;
        return f * (e.startValue + delta * f * f * (1.0 - f / 2.0));
    }

    // Moves an enabled track from breakpoint u0 to u and brings its speed to the value at u.
    void Step(UINT track, const Timeline& line, double u0, double u) {
        TrackDescriptor& t = tracks_[track];
        const bool jumps = line.current[kPosition] != kNoEvent || line.current[kEnable] != kNoEvent;
        const UINT speedEvent = line.current[kSpeed];
        if (speedEvent == kNoEvent) {
            if (t.enable && !jumps) t.position += static_cast<double>(t.speed) * (u - u0);
            return;
        }
        const AnimationEvent& e = events_[speedEvent];
        const double before = t.speed;
        Apply(e, u);
        if (!t.enable || jumps) return;
        if (e.transition == kTransitionSmooth) {
            double moved = SmoothIntegral(e, FractionAt(e, u));
            if (u0 > e.start) moved -= SmoothIntegral(e, FractionAt(e, u0));
            t.position += (e.end - e.start) * moved;
        } else {
            t.position += (before + static_cast<double>(t.speed)) / 2.0 * (u - u0);
        }
    }

    static bool Idle(const Timeline& line) {
        if (line.pending != kNoEvent) return false;
        for (UINT e : line.current) {
            if (e != kNoEvent) return false;
        }
        return true;
    }

    // Runs a track's (or, with kNoEvent, the blend's) events from the global time up to `time`,
    // stopping at every event start and end on the way, and moves the track's position between
    // these breakpoints. Breakpoints never go back past the previous one, so an event scheduled
    // for a time already passed takes effect at once; going back in time is one step.
    void RunTimeline(Timeline& line, UINT track, double time) {
        const bool blend = track == kNoEvent;
        double u0 = time_;
        if (Idle(line)) {
            if (!blend) Advance(track, time - u0);
            return;
        }
        for (;;) {
            double u = time;
            for (UINT e : line.current) {
                if (e != kNoEvent && events_[e].end < u) u = events_[e].end;
            }
            if (line.pending != kNoEvent && events_[line.pending].start < u) u = events_[line.pending].start;
            if (u < u0) u = time < u0 ? time : u0;

            if (blend) {
                if (line.current[0] != kNoEvent) Apply(events_[line.current[0]], u);
            } else {
                Step(track, line, u0, u);
                for (UINT k : {kWeight, kPosition, kEnable}) {
                    if (line.current[k] != kNoEvent) Apply(events_[line.current[k]], u);
                }
            }
            for (UINT& e : line.current) {
                if (e != kNoEvent && events_[e].end <= u) {
                    Free(e);
                    e = kNoEvent;
                }
            }
            while (line.pending != kNoEvent && events_[line.pending].start <= u) {
                const UINT index = line.pending;
                line.pending = events_[index].next;
                AnimationEvent& e = events_[index];
                UINT& slot = line.current[e.kind == kBlend ? 0 : e.kind];
                if (slot != kNoEvent) Free(slot);
                slot = index;
                e.startValue = PresentValue(e.track, e.kind);
                if (e.kind == kPosition || e.kind == kEnable) Apply(e, u);
            }
            u0 = u;
            if (u == time) break;
        }
    }

    UINT maxEvents_;
    std::vector<AnimationEvent> events_;
    UINT free_ = kNoEvent;
    std::vector<Timeline> timelines_;
    Timeline blend_;
    bool ready_ = false;
};

}  // namespace

HRESULT CreateAnimationController(UINT maxOutputs, UINT maxSets, UINT maxTracks, UINT maxEvents,
                                  AnimationController** controller) {
    if (controller == nullptr || maxOutputs == 0 || maxSets == 0 || maxTracks == 0 || maxEvents == 0) {
        return D3DERR_INVALIDCALL;
    }
    *controller = nullptr;
    try {
        ComPtr<AnimationControllerImpl> made = MakeRef<AnimationControllerImpl>(maxOutputs, maxSets, maxTracks, maxEvents);
        if (!made || !made->Ready()) return E_OUTOFMEMORY;
        *controller = made.Detach();
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace qm
