/*
 * The Harlen driver's user-mode library, HARLEN_620: the five operations
 * msgpoll calls and the layout of the trace batch they fill.
 *
 * The library lies outside msgpoll. Anything built to this header, with C
 * linkage, can take its place; devlib/standin.cc is the simulated one.
 */
#ifndef HARLEN620_H
#define HARLEN620_H

#include <stdint.h>

/* Exports: by ordinal from the DLL on Windows (devlib/win/HARLEN_620.def.in), by
 * default visibility from the shared object elsewhere. */
#if defined(_WIN32)
#define HL_API
#else
#define HL_API __attribute__((visibility("default")))
#endif

/* The calling convention. On 32-bit Windows a driver's library may use
 * cdecl or stdcall, and a caller that picks the wrong one corrupts its
 * stack: the build names it (HARLEN_620_STDCALL for stdcall). Elsewhere
 * there is only one. */
#if defined(_WIN32) && !defined(_WIN64) && defined(HARLEN_620_STDCALL)
#define HL_CALL __stdcall
#else
#define HL_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque, one machine word; null means no device. */
typedef void *hl_handle;

/* 0 is success; any other value is a code only the library interprets. */
typedef int32_t hl_status;

/* A trace record is 80 bytes of NUL-terminated text; a batch is 500
 * records end to end, record i starting at byte 80 * i. */
#define HL_RECORD_SIZE 80
#define HL_BATCH_RECORDS 500
typedef char hl_record[HL_RECORD_SIZE];

/* Forms the name of device (unit, kind) in buffer; returns its address. */
HL_API char *HL_CALL hl_device_name(int unit, int kind, char *buffer, int size);

/* Opens the named device; stores its handle in *handle. */
HL_API hl_status HL_CALL hl_open(hl_handle *handle, const char *name, int access);

/* Fills up to *count records from first_record on; sets *count to the
 * number filled, 0 when no message is waiting. */
HL_API hl_status HL_CALL hl_read_trace(hl_handle handle, char *first_record,
                                       uint32_t *count);

/* Closes the device; the handle is not used again. */
HL_API hl_status HL_CALL hl_close(hl_handle handle);

/* Reports a failed operation to the user. */
HL_API void HL_CALL hl_report_error(hl_handle handle, hl_status status,
                                    const char *label);

#ifdef __cplusplus
}
#endif

#endif
