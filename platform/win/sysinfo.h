// sysinfo.h: processor identification: CPUID, GetSystemInfo and IsProcessorFeaturePresent.
#pragma once

#include "platform/win/win_types.h"

constexpr WORD PROCESSOR_ARCHITECTURE_INTEL = 0;
constexpr WORD PROCESSOR_ARCHITECTURE_AMD64 = 9;

constexpr DWORD PF_MMX_INSTRUCTIONS_AVAILABLE = 3;
constexpr DWORD PF_XMMI_INSTRUCTIONS_AVAILABLE = 6;    // SSE
constexpr DWORD PF_3DNOW_INSTRUCTIONS_AVAILABLE = 7;
constexpr DWORD PF_XMMI64_INSTRUCTIONS_AVAILABLE = 10;  // SSE2

struct SYSTEM_INFO {
    WORD wProcessorArchitecture;
    WORD wReserved;
    DWORD dwPageSize;
    LPVOID lpMinimumApplicationAddress;
    LPVOID lpMaximumApplicationAddress;
    UINT_PTR dwActiveProcessorMask;
    DWORD dwNumberOfProcessors;
    DWORD dwProcessorType;
    DWORD dwAllocationGranularity;
    WORD wProcessorLevel;
    WORD wProcessorRevision;
};

// Reports the processor as the 32-bit platform sees it on this machine: architecture 0 (Intel)
// on x86 and x86-64, with the family from CPUID as the processor level.
void GetSystemInfo(SYSTEM_INFO* info);

// True when the feature is present. 3DNow! is never reported on x86-64.
BOOL IsProcessorFeaturePresent(DWORD feature);

// CPUID: regs receives EAX, EBX, ECX, EDX. On a processor without CPUID (or not x86) all four are 0.
void CpuId(DWORD leaf, DWORD regs[4]);

// Test hook: when set, IsProcessorFeaturePresent and CpuId report only the features whose bit is
// set in mask (bit n = feature code n; CPUID leaf 1 EDX bits 23/25/26 follow features 3/6/10).
// Pass ~0u to report the processor as it is.
void SetProcessorFeatureMask(DWORD mask);
