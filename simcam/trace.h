// The simulated camera's trace file (KVX_SIM_TRACE): one line per library
// call, and "sim: " lines for what happens to the cameras in between.
#ifndef SIMCAM_TRACE_H
#define SIMCAM_TRACE_H

#include <stdint.h>

#if defined(__GNUC__)
#define SIMCAM_PRINTF_LIKE(f, a) __attribute__((format(printf, f, a)))
#else
#define SIMCAM_PRINTF_LIKE(f, a)
#endif

/// Appends to path from now on; a null or empty path means no trace.
void traceOpen(const char* path);
void traceClose(void);
/// Adds to the current line; nothing happens without a trace file.
SIMCAM_PRINTF_LIKE(1, 2) void tracePrint(const char* format, ...);
/// Ends the current line and flushes it, so a crash keeps what came before.
void traceEndLine(void);
/// " 2.3.1" for a register 56 word.
void traceVersion(uint32_t word);
/// " 26.02.2013" for a register 2 word.
void traceRelease(uint32_t word);
/// " 26=0x1234 27=0x0 ... 126=0x0": words in flash order, named by register.
void traceProtected(const uint32_t* words);

#endif
