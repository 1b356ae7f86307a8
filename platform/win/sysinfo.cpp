// sysinfo.cpp: processor identification from CPUID, with a feature mask for tests.
#include "platform/win/sysinfo.h"

#include <atomic>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#define QM_HAVE_CPUID 1
#endif

namespace {

std::atomic<DWORD> featureMask{~0u};

bool Allowed(DWORD feature) { return feature < 32 && (featureMask.load() >> feature & 1u) != 0; }

void RawCpuId(DWORD leaf, DWORD regs[4]) {
    regs[0] = regs[1] = regs[2] = regs[3] = 0;
#ifdef QM_HAVE_CPUID
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid_max(leaf & 0x80000000u, nullptr) < leaf) return;
    __cpuid_count(leaf, 0, a, b, c, d);
    regs[0] = a;
    regs[1] = b;
    regs[2] = c;
    regs[3] = d;
#endif
}

}  // namespace

void SetProcessorFeatureMask(DWORD mask) { featureMask.store(mask); }

void CpuId(DWORD leaf, DWORD regs[4]) {
    RawCpuId(leaf, regs);
    if (leaf == 1) {
        // EDX bits 23 (MMX), 25 (SSE) and 26 (SSE2) follow the feature mask.
        if (!Allowed(PF_MMX_INSTRUCTIONS_AVAILABLE)) regs[3] &= ~(1u << 23);
        if (!Allowed(PF_XMMI_INSTRUCTIONS_AVAILABLE)) regs[3] &= ~(1u << 25);
        if (!Allowed(PF_XMMI64_INSTRUCTIONS_AVAILABLE)) regs[3] &= ~(1u << 26);
    }
}

BOOL IsProcessorFeaturePresent(DWORD feature) {
    if (!Allowed(feature)) return FALSE;
    DWORD regs[4];
    switch (feature) {
        case PF_MMX_INSTRUCTIONS_AVAILABLE:
            RawCpuId(1, regs);
            return (regs[3] >> 23 & 1u) ? TRUE : FALSE;
        case PF_XMMI_INSTRUCTIONS_AVAILABLE:
            RawCpuId(1, regs);
            return (regs[3] >> 25 & 1u) ? TRUE : FALSE;
        case PF_XMMI64_INSTRUCTIONS_AVAILABLE:
            RawCpuId(1, regs);
            return (regs[3] >> 26 & 1u) ? TRUE : FALSE;
        case PF_3DNOW_INSTRUCTIONS_AVAILABLE:
        default:
            // 3DNow! does not exist on x86-64 processors; other features are not reported.
            return FALSE;
    }
}

void GetSystemInfo(SYSTEM_INFO* info) {
    if (info == nullptr) return;
    std::memset(info, 0, sizeof *info);
    info->dwPageSize = 4096;
    info->dwAllocationGranularity = 65536;
    info->dwNumberOfProcessors = 1;
#ifdef QM_HAVE_CPUID
    DWORD regs[4];
    RawCpuId(1, regs);
    DWORD family = regs[0] >> 8 & 0xF;
    if (family == 0xF) family += regs[0] >> 20 & 0xFF;
    info->wProcessorArchitecture = PROCESSOR_ARCHITECTURE_INTEL;
    info->wProcessorLevel = static_cast<WORD>(family);
    info->wProcessorRevision = static_cast<WORD>(regs[0] & 0xFFF0);
    info->dwProcessorType = 586;
#else
    info->wProcessorArchitecture = 0xFFFF;
#endif
}
