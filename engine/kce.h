/*
 * kce.h: the C interface of KCE, the table engine.
 *
 * Conventions of every call in this header:
 *
 *  1. Every call returns a KCESTATUS: 0 (KCE_SUCCESS) on success, otherwise one of the statuses of
 *     kce_status.def. A failing call also records, for the calling thread, the status and a text
 *     that says what failed and on what (table, field, file, offset); KdsGetLastError reads it.
 *     A successful call leaves the thread's last error alone.
 *  2. No call throws, aborts or lets a C++ exception cross this interface. A damaged or hostile
 *     file yields a status, never a crash.
 *  3. Handles are 32-bit: connection, table (cursor), index order, SQL statement, table search,
 *     dictionary-object search. 0 is never a valid handle. A handle names one object until it is
 *     closed; a closed handle is answered with KCE_INVALID_HANDLE.
 *  4. Text results go into a caller buffer: the caller passes the buffer and a 16-bit length that
 *     holds its capacity on entry and the length of the text on return. The text is zero-terminated
 *     when the buffer has room for the zero. A buffer too small for the text gives
 *     KCE_INSUFFICIENT_BUFFER with the needed length in the length argument; a null buffer with
 *     a length asks for the length only.
 *  5. Flags are 16-bit, non-zero meaning true.
 *  6. A field is named by its name (case-insensitive) or by its 1-based ordinal passed in the
 *     field-name argument as a pointer value (KCE_FIELD_ORDINAL(n)).
 *  7. Engine settings (date format, decimals, show-deleted, server types, cache sizes) are
 *     process-wide. Handles may be used from any thread, one call on one handle at a time.
 *  8. Codes passed in: server-type mask 1 local, 2 remote, 4 internet; table type 1 NTX, 2 CDX,
 *     3 KDT; character type 1 ANSI, 2 OEM; lock type 1 proprietary, 0 compatible; rights checking
 *     1 on, 2 off; open options: 1 exclusive, 2 read-only, added.
 */
#ifndef KCE_H
#define KCE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint8_t UNSIGNED8;
typedef uint16_t UNSIGNED16;
typedef uint32_t UNSIGNED32;
typedef int16_t SIGNED16;
typedef int32_t SIGNED32;
typedef uint32_t KDSHANDLE;
typedef uint32_t KCESTATUS;

enum KceStatusCode {
#define KCE_STATUS(code, name, text) name = code,
#include "engine/kce_status.def"
#undef KCE_STATUS
};

/* A field ordinal passed where a field name is expected. Ordinals are below 65536, so no real
 * string pointer is mistaken for one. */
#define KCE_FIELD_ORDINAL(n) ((const UNSIGNED8*)(uintptr_t)(n))

/* Longest error text, without its terminating zero. */
#define KCE_MAX_ERROR_LEN 600

/* ------------------------------------------------------------------------------------------- */
/* Errors                                                                                        */

/* The calling thread's last failure: *code receives its status. buf/len as in convention 4;
 * buf may be null to ask for the code only. */
KCESTATUS KdsGetLastError(UNSIGNED32* code, UNSIGNED8* buf, UNSIGNED16* len);
/* The fixed text of a status. An unknown status gives KCE_INVALID_ARGUMENT. */
KCESTATUS KdsGetErrorString(UNSIGNED32 code, UNSIGNED8* buf, UNSIGNED16* len);
/* Shows the thread's last error with the given title through the display callback. */
KCESTATUS KdsShowError(const UNSIGNED8* title);
/* The engine knows no GUI: KdsShowError hands its title and text to this callback. With none
 * registered (or after registering null) the text goes to standard error. */
typedef void (*KceDisplayCallback)(const char* title, const char* text, void* context);
KCESTATUS KdsSetDisplayCallback(KceDisplayCallback callback, void* context);

/* ------------------------------------------------------------------------------------------- */
/* Engine-wide settings                                                                          */

/* Date format of the engine's date texts: runs of M (month), d (day) and y or c (year; four
 * letters in all for a four-digit year, two for a two-digit one) in either case, any other
 * character a separator; at most 12 characters. "MM/dd/ccyy" is the default. */
KCESTATUS KdsSetDateFormat(const UNSIGNED8* format);
KCESTATUS KdsGetDateFormat(UNSIGNED8* buf, UNSIGNED16* len);
KCESTATUS KdsSetDecimals(UNSIGNED16 decimals);
KCESTATUS KdsGetDecimals(UNSIGNED16* decimals);
/* Whether xBase records marked deleted are shown (native tables never show them). */
KCESTATUS KdsShowDeleted(UNSIGNED16 show);
KCESTATUS KdsGetDeleted(UNSIGNED16* shown);
/* Server types a connection may use: 1 local, 2 remote, 4 internet, added. Only local exists. */
KCESTATUS KdsSetServerType(UNSIGNED16 mask);
KCESTATUS KdsGetServerType(UNSIGNED16* mask);
KCESTATUS KdsCacheOpenTables(UNSIGNED16 count);
KCESTATUS KdsGetCacheOpenTables(UNSIGNED16* count);
KCESTATUS KdsCacheOpenCursors(UNSIGNED16 count);
KCESTATUS KdsGetCacheOpenCursors(UNSIGNED16* count);
KCESTATUS KdsGetNumOpenTables(UNSIGNED16* count);
/* Version numbers and letter (a blank when there is none); desc/descLen as in convention 4,
 * desc may be null. */
KCESTATUS KdsGetVersion(UNSIGNED32* major, UNSIGNED32* minor, UNSIGNED8* letter, UNSIGNED8* desc,
                        UNSIGNED16* descLen);
/* Julian day number <-> date text under the engine's date format. Julian day 0 is the empty
 * date, written as blanks; a blank text reads as 0. */
KCESTATUS KdsConvertJulianToString(double julian, UNSIGNED8* buf, UNSIGNED16* len);
KCESTATUS KdsConvertStringToJulian(const UNSIGNED8* text, UNSIGNED16 len, double* julian);

/* ------------------------------------------------------------------------------------------- */
/* Connections and table searches                                                                */

/* ------------------------------------------------------------------------------------------- */
/* Tables: creating, opening, closing, layout                                                    */

/* ------------------------------------------------------------------------------------------- */
/* Records: navigation, bookmarks, reading                                                       */

/* ------------------------------------------------------------------------------------------- */
/* Editing, blobs and locks                                                                      */

/* ------------------------------------------------------------------------------------------- */
/* Table maintenance: zap, pack, encryption                                                      */

/* ------------------------------------------------------------------------------------------- */
/* Indexes, raw keys, seeks and scopes                                                           */

/* ------------------------------------------------------------------------------------------- */
/* Expressions and filters                                                                       */

/* ------------------------------------------------------------------------------------------- */
/* SQL                                                                                           */

/* ------------------------------------------------------------------------------------------- */
/* Data dictionaries                                                                             */

#ifdef __cplusplus
}
#endif

#endif /* KCE_H */
