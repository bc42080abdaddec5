// Fault injection shared by both sides of the platform layer.
#include "platform.h"

namespace {

struct FaultRule {
    int skip;
    int times;  // 0: none armed, -1: every call from then on
    PlatFault fault;
};

FaultRule g_rules[PLAT_OP_COUNT];
int g_counts[PLAT_OP_COUNT];
PlatMessageHook g_hook;

}  // namespace

void PlatSetFault(PlatOp op, int skip, int times, PlatFault fault) {
    if (op < 0 || op >= PLAT_OP_COUNT) return;
    g_rules[op].skip = skip;
    g_rules[op].times = times;
    g_rules[op].fault = fault;
}

void PlatResetFaults(void) {
    for (int i = 0; i < PLAT_OP_COUNT; ++i) {
        g_rules[i] = FaultRule{0, 0, PLAT_FAULT_FAIL};
        g_counts[i] = 0;
    }
}

int PlatCallCount(PlatOp op) {
    if (op < 0 || op >= PLAT_OP_COUNT) return 0;
    return g_counts[op];
}

int PlatTakeFault(PlatOp op, PlatFault* fault) {
    ++g_counts[op];
    FaultRule& rule = g_rules[op];
    if (rule.times == 0) return 0;
    if (rule.skip > 0) {
        --rule.skip;
        return 0;
    }
    if (rule.times > 0) --rule.times;
    if (fault) *fault = rule.fault;
    return 1;
}

void PlatSetMessageHook(PlatMessageHook hook) { g_hook = hook; }

PlatMessageHook PlatGetMessageHook(void) { return g_hook; }
