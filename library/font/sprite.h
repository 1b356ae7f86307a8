// sprite.h: the library's Sprite: one textured screen-space rectangle per draw, through a 2D
// transformation or a 4 x 4 matrix, tinted by a colour, with the caller's device state saved and
// given back by two recorded state blocks.
#pragma once

#include "library/math/math_types.h"
#include "platform/d3d9/d3d9.h"

namespace qm {

// Operations after QueryInterface, AddRef, Release, in slot order.
struct Sprite : IUnknown {
    static constexpr IID iid = {0x6D7A19C4, 0x3E52, 0x4F0B, {0x8A, 0x61, 0x2C, 0x5E, 0x90, 0xD1, 0x47, 0xB3}};
    // The device with a reference for the caller; D3DERR_INVALIDCALL for a null output.
    virtual HRESULT GetDevice(IDirect3DDevice9** device) = 0;
    // Saves the caller's state and sets the sprite's. D3DERR_INVALIDCALL inside a batch.
    virtual HRESULT Begin() = 0;
    // Draws with M = scaling, then rotation by `rotation` radians about the rotation centre (turning
    // +x towards -y: counter-clockwise on the y-down screen), then translation; every pointer may
    // be null (no such step; a null source rectangle is the whole texture).
    virtual HRESULT Draw(IDirect3DTexture9* texture, const RECT* sourceRect, const Vector2* scaling,
                         const Vector2* rotationCenter, float rotation, const Vector2* translation,
                         D3DCOLOR color) = 0;
    // Draws the source rectangle (pixels of level 0) as a quad of its size at the origin,
    // transformed by the matrix (row vectors; null = none), each texel modulated by the colour.
    // Translucent (blended, or alpha-tested on devices that cannot blend) when the colour's alpha
    // is not 0xFF or the texture format has alpha. Outside a batch, opens and closes one around
    // itself. D3DERR_INVALIDCALL for a null texture or a source rectangle outside the level.
    virtual HRESULT DrawTransformed(IDirect3DTexture9* texture, const RECT* sourceRect, const Matrix* transform,
                                    D3DCOLOR color) = 0;
    // Gives the caller's state back. D3DERR_INVALIDCALL outside a batch.
    virtual HRESULT End() = 0;
    // Around a device reset: releases the state blocks; they are recorded again at the next Begin.
    virtual HRESULT ReleaseDeviceObjects() = 0;
    virtual HRESULT RestoreDeviceObjects() = 0;

protected:
    ~Sprite() = default;
};

// D3DERR_INVALIDCALL for null arguments, E_OUTOFMEMORY. The sprite holds a device reference.
HRESULT CreateSprite(IDirect3DDevice9* device, Sprite** sprite);

}  // namespace qm
