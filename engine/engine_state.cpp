// engine_state.cpp: the engine state instance, created empty by static initialisation.
#include "engine/engine_state.h"

#include <memory>

namespace qm {

// Placeholders for the records that model loading, particles and shaders define; nothing creates
// them yet, so the tables that own them stay empty.
struct ModelEntry {};
struct ParticleSystem {};
struct ShaderEntry {};

void ModelEntryDeleter::operator()(ModelEntry* entry) const { std::default_delete<ModelEntry>()(entry); }
void ParticleSystemDeleter::operator()(ParticleSystem* system) const { std::default_delete<ParticleSystem>()(system); }
void ShaderEntryDeleter::operator()(ShaderEntry* entry) const { std::default_delete<ShaderEntry>()(entry); }

namespace {
EngineState engineState;
}

EngineState& Engine() { return engineState; }

}  // namespace qm
