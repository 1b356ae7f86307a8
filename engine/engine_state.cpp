// engine_state.cpp: the engine state instance, created empty by static initialisation.
#include "engine/engine_state.h"

namespace qm {

namespace {
EngineState engineState;
}

EngineState& Engine() { return engineState; }

}  // namespace qm
