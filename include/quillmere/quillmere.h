/* quillmere.h: the public interface of quillmere.hpi, its 56 four-word exports and the host-window API. */
#ifndef QUILLMERE_QUILLMERE_H
#define QUILLMERE_QUILLMERE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One argument word: integers arrive sign-extended, addresses at full width. */
typedef intptr_t QmWord;

/* Called by Present with the back buffer as 32-bit ARGB, top row first. */
typedef void (*QmPresentFn)(void* user, const uint32_t* pixels, int32_t width, int32_t height,
                            int32_t pitchBytes);

#if defined(_WIN32)
#define QM_CALL __stdcall
#define QM_API __declspec(dllexport)
#else
#define QM_CALL
#define QM_API __attribute__((visibility("default")))
#endif

/* The exports, in the order of the module's export table. This one list generates the
 * prototypes below, the linker's export list and the test that resolves every export. */
#define QM_EXPORT_LIST(X) \
    X(Init)                \
    X(Bye)                 \
    X(BeginScene)          \
    X(EndScene)            \
    X(SetBgColor)          \
    X(GetCapsSize)         \
    X(GetCaps)             \
    X(SetCameraPos)        \
    X(SetCameraTarget)     \
    X(SetCameraUp)         \
    X(SetProj)             \
    X(SetRenderState)      \
    X(SetTexStageState)    \
    X(SetColor)            \
    X(SetAmbient)          \
    X(AddLight)            \
    X(RemoveLight)         \
    X(SetLightParam)       \
    X(SetLightDirection)   \
    X(SetLightPosition)    \
    X(SetLightAttenuation) \
    X(SetLightColor)       \
    X(SetLightSpecular)    \
    X(GetSinTable)         \
    X(GetCosTable)         \
    X(Atan)                \
    X(Len)                 \
    X(LoadModel)           \
    X(FreeModel)           \
    X(DrawModel)           \
    X(SetObjColor)         \
    X(GetAnimNum)          \
    X(SetTrackEnable)      \
    X(SetTrackWeight)      \
    X(SetPosture)          \
    X(SetPostureLocal)     \
    X(GetFrameVec)         \
    X(GetWorldVec)         \
    X(GetFramePtrByIndex)  \
    X(GetFrameNameByIndex) \
    X(IntersectWorld)      \
    X(IntersectLocal)      \
    X(LoadTexture)         \
    X(FreeTexture)         \
    X(SetTexture)          \
    X(DrawSprite)          \
    X(SetFont)             \
    X(PrintText)           \
    X(AddParticle)         \
    X(UpdateParticle)      \
    X(DrawParticle)        \
    X(LoadShader)          \
    X(SelectShader)        \
    X(SelectTechnique)     \
    X(SetShaderTex)        \
    X(SetShaderArg)

#define QM_EXPORT_COUNT 56

/* Every export takes four words and returns a signed 32-bit result. */
typedef int32_t(QM_CALL* QmExportFn)(QmWord, QmWord, QmWord, QmWord);

#define QM_DECLARE_EXPORT(name) QM_API int32_t QM_CALL name(QmWord w1, QmWord w2, QmWord w3, QmWord w4);
QM_EXPORT_LIST(QM_DECLARE_EXPORT)
#undef QM_DECLARE_EXPORT

/* Host windows. Init's HostWindowInfo word 13 names one; after EndScene, Present hands the
 * frame to its callback. Returns a non-zero id, or 0 when callback is null. */
QM_API int32_t qmCreateHostWindow(QmPresentFn callback, void* user);
/* Retires a window id; later frames presented to it are rendered and not shown. */
QM_API void qmDestroyHostWindow(int32_t id);

#ifdef __cplusplus
}
#endif

#endif
