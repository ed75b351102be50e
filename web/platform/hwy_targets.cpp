// Highway's run-time target choice for WebAssembly. Debian ships Highway's
// headers and its x86 library, not its sources; the few functions the
// dispatch tables call (hwy/targets.h, hwy/base.h) are defined here. A wasm
// module cannot probe the CPU: the targets compiled in are the supported
// ones, so dispatch always takes the static target.
#include <hwy/targets.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace hwy {

namespace {
int64_t gForTest = 0;
int64_t gDisabled = 0;
}  // namespace

int64_t SupportedTargets() {
    int64_t targets = (gForTest ? gForTest : HWY_TARGETS) & ~gDisabled;
    if (targets == 0) targets = HWY_STATIC_TARGET;
    GetChosenTarget().Update(targets);
    return targets;
}

void DisableTargets(int64_t disabled) { gDisabled = disabled & ~HWY_ENABLED_BASELINE; }

void SetSupportedTargetsForTest(int64_t targets) { gForTest = targets; }

ChosenTarget& GetChosenTarget() {
    static ChosenTarget chosen;
    return chosen;
}

void Abort(const char* file, int line, const char* format, ...) {
    char message[400];
    va_list args;
    va_start(args, format);
    vsnprintf(message, sizeof message, format, args);
    va_end(args);
    fprintf(stderr, "Abort at %s:%d: %s\n", file, line, message);
    abort();
}

}  // namespace hwy
