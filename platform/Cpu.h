// Processor features that select the vector paths.
#pragma once

#include "platform/Types.h"

// 1 when the processor has SSE2; copy and fill loops test it to choose 16-byte
// vector loops. Both choices give identical bytes.
extern BOOL g_bSse2;

// Sets g_bSse2 from CPUID leaf 1, EDX bit 26.
void DetectSse2();
