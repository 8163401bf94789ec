// Control of the emulated driver for tests in the same process. Every
// build of the library exports these under the same names; tests that load
// the library with dlopen reach them through the same handle (see
// sim_control.h), so they act on the instance the program under test uses.
#pragma once

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// Replaces the device list: a scenario file, or JSON text starting with
// '{'. Closes every open handle, resets the counters and clears the
// in-memory trace. 0 on success; -1 when the scenario cannot be read (the
// list is then empty, orbesk_sim_last_error() says why).
int orbesk_sim_load_scenario(const char* PathOrJson);
// As above from $ORBESK_SIM_SCENARIO (unset: no devices), and points the
// trace file at $ORBESK_SIM_TRACE (unset: none).
int orbesk_sim_reset(void);
const char* orbesk_sim_last_error(void);

// Calls of each entry point by its plain name ("FT_Open"), also when the
// library exports it with a prefix; "protocol_errors" (calls on a closed
// or unknown handle); "open_handles" (open now). 0 for unknown names.
unsigned long long orbesk_sim_counter(const char* Name);

// The sim::Protocol of the scenario's device Index (scenario order), null
// past the end; valid until the next load or reset. For tests that link
// the sim core and look at a device's state (its JtagChain()) between
// calls; never while another thread drives the device.
void* orbesk_sim_protocol(size_t Index);

// The trace since the last load or clear, one line each ending in '\n',
// cut to Size - 1 characters and NUL-terminated. Returns its full length,
// so a call with Size 0 asks for the size.
size_t orbesk_sim_trace(char* Buffer, size_t Size);
void orbesk_sim_trace_clear(void);

#ifdef __cplusplus
}
#endif
