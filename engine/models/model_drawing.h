// model_drawing.h: frame matrices, software skinning into working meshes, fixed-function drawing of a
// model's containers, and material tints (DrawModel, SetObjColor).
#pragma once

#include <cstdint>

#include "engine/models/model_records.h"

namespace qm {

// Sets each frame's combined matrix to transform × the parent's combined matrix, from frame down
// through its siblings (parent `parent`) and children (parent the frame). A null parent stands for
// identity.
void UpdateFrameMatrices(ModelFrame* frame, const Matrix* parent);

// Builds the bone matrices (offset × the combined matrix of the bone's frame) into the model's
// scratch, sets the device's world transform to identity, and skins the source mesh's vertices into
// the working mesh. Does nothing for a container without skin information or without complete bone
// references.
void SkinVertices(ModelEntry& model, ModelMeshContainer& container);

// Draws every container of the model with the fixed-function pipeline, frames in walk order.
void DrawModelFrames(ModelEntry& model, IDirect3DDevice9* device);

// Sets every working material to the base material with each colour multiplied component-wise by
// colour (r, g, b, a). Power and textures are untouched.
void TintMaterials(ModelMeshContainer& container, const float colour[4]);

// The exports. DrawModel: 0, -1 for a key without a model. SetObjColor: record of four Fixed16 words
// r, g, b, a; 0, -1 for a key without a model or a null record.
std::int32_t DrawModelEntry(std::int32_t modelKey);
std::int32_t SetModelColor(const std::int32_t* colour, std::int32_t modelKey);

// The model under a key, or null.
ModelEntry* FindModel(std::int32_t modelKey);

}  // namespace qm
