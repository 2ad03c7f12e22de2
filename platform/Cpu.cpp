// CPUID feature test for the vector paths.
#include "platform/Cpu.h"

#include <cpuid.h>

BOOL g_bSse2 = 0;

void DetectSse2() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    g_bSse2 = (__get_cpuid(1, &a, &b, &c, &d) && (d & (1u << 26))) ? 1 : 0;
}
