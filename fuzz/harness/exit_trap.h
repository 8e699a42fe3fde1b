// SPDX-License-Identifier: MIT
// The parsers refuse bad input the way a command-line program does: through
// error(1, ...) or exit(). Under the fuzzer those are clean outcomes, not
// faults, so the fuzz targets are linked with --wrap=error and --wrap=exit and
// run the parser inside trap_refusals(), which returns instead of ending the
// process. Outside trap_refusals() both behave as usual, so that libFuzzer's
// own exit() still ends the run.
#pragma once

// What became of one call under the trap.
enum class trapped_outcome { returned, refused };

// Runs fn(context). A refusal unwinds with longjmp: nothing that fn's frames
// own is destroyed, so the code under the trap must not hold heap memory or
// other resources across a refusal (the fuzz targets' leak checks would say
// so).
trapped_outcome trap_refusals(void (*fn)(void* context), void* context);

// The status the last refusal asked for, and its message as error() would
// have printed it (without the program name).
int last_refusal_status();
const char* last_refusal_message();

// Calls fn with a capture-less lambda or any callable, through trap_refusals.
template <typename F>
trapped_outcome trap_refusals(F&& fn) {
    return trap_refusals([](void* context) { (*static_cast<F*>(context))(); }, &fn);
}
