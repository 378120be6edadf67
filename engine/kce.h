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
 *     a length asks for the length only. A text longer than 65,535 bytes fits no 16-bit length:
 *     it gives KCE_INSUFFICIENT_BUFFER with 65535 in the length (with or without a buffer), and
 *     the last-error text names the length it needs.
 *  5. Flags are 16-bit, non-zero meaning true.
 *  6. A field is named by its name (case-insensitive) or by its 1-based ordinal passed in the
 *     field-name argument as a pointer value (KCE_FIELD_ORDINAL(n)).
 *  7. Engine settings (date format, decimals, show-deleted, server types, cache sizes) are
 *     process-wide. Handles may be used from any thread, one call on one handle at a time.
 *  8. Codes passed in: server-type mask 1 local, 2 remote, 4 internet; table type 1 NTX, 2 CDX,
 *     3 KDT; character type 1 ANSI, 2 OEM; lock type 1 proprietary, 0 compatible; rights checking
 *     1 on, 2 off; open options: 1 exclusive, 2 read-only, added. The codes have names below.
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

/* Server types, added into a mask. */
#define KCE_LOCAL_SERVER 1
#define KCE_REMOTE_SERVER 2
#define KCE_INTERNET_SERVER 4

/* Table types. KCE_DEFAULT_TABLE (0) takes the kind from the file's extension when opening. */
#define KCE_DEFAULT_TABLE 0
#define KCE_NTX 1
#define KCE_CDX 2
#define KCE_KDT 3

/* Character types. */
#define KCE_ANSI 1
#define KCE_OEM 2

/* Lock types. */
#define KCE_COMPATIBLE_LOCKING 0
#define KCE_PROPRIETARY_LOCKING 1

/* Rights checking. */
#define KCE_CHECK_RIGHTS 1
#define KCE_IGNORE_RIGHTS 2

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
/* Julian day number <-> date text. The text is the eight-digit form year, month, day ("20010915")
 * in which xBase date fields and compact dates keep a date, whatever the engine's date format.
 * KdsConvertJulianToString writes that form for a day of years 1 to 9999 and eight blanks for the
 * empty date, Julian day 0 (a fraction of a day is dropped); any other day gives
 * KCE_INVALID_DATE. KdsConvertStringToJulian reads len bytes, or up to a zero byte within them;
 * trailing blanks are ignored. Eight digits always read as year, month, day, also under a date
 * format without separators that they would fit; digits naming no real day (month 13,
 * 30 February, year 0, "00000000") give KCE_INVALID_DATE. Any other text is read under the
 * engine's date format ("09/15/2001" under "MM/dd/ccyy"), so dates typed by a person still
 * convert; a blank or empty text reads as 0; a text that fits neither form gives
 * KCE_INVALID_DATE and leaves *julian alone. */
KCESTATUS KdsConvertJulianToString(double julian, UNSIGNED8* buf, UNSIGNED16* len);
KCESTATUS KdsConvertStringToJulian(const UNSIGNED8* text, UNSIGNED16 len, double* julian);
/* Dates in record images are Julian day numbers. Counting 1 January of year 1 as day 1, day n
 * is Julian day n + KCE_JULIAN_DAY_ZERO; Julian day 0 is the empty date. A timestamp's day is
 * counted the same way. The record image of every field type and table kind is described in
 * docs/formats/kce-record-image.md. */
#define KCE_JULIAN_DAY_ZERO 1721425

/* ------------------------------------------------------------------------------------------- */
/* Connections and table searches                                                                */

/* Handle types answered by KdsGetHandleType. */
#define KCE_HANDLE_CONNECTION 1
#define KCE_HANDLE_TABLE 2
#define KCE_HANDLE_INDEX 3
#define KCE_HANDLE_STATEMENT 4
#define KCE_HANDLE_TABLE_SEARCH 5
#define KCE_HANDLE_OBJECT_SEARCH 6

/* Connects to a data folder or to a data dictionary (local server). A path whose upper-cased
 * form holds ".KDD" names a dictionary file: user and password must be one of its users
 * (KCE_LOGIN_FAILED otherwise, KCE_NOT_A_DICTIONARY for a file that is not one), and the
 * connection's folder is the dictionary's. For a folder, user and password are ignored and may be
 * null. A mask without the local bit (1) gives KCE_INVALID_SERVER_TYPE; options (1 middle tier,
 * 2 stored procedures) are accepted and have no effect locally. */
KCESTATUS KdsConnect60(const UNSIGNED8* path, UNSIGNED16 serverTypes, const UNSIGNED8* user,
                       const UNSIGNED8* password, UNSIGNED32 options, KDSHANDLE* connection);
/* KdsConnect60 with the local server type and no user. */
KCESTATUS KdsConnect(const UNSIGNED8* path, KDSHANDLE* connection);
/* Closes every table opened through the connection, then the connection. A handle that is not
 * (or no longer) a connection gives KCE_NOT_CONNECTED. */
KCESTATUS KdsDisconnect(KDSHANDLE connection);
/* The folder the connection serves, as given to KdsConnect60. */
KCESTATUS KdsGetServerName(KDSHANDLE connection, UNSIGNED8* buf, UNSIGNED16* len);
/* The server type: always KCE_LOCAL_SERVER here. */
KCESTATUS KdsGetConnectionType(KDSHANDLE connection, UNSIGNED16* type);
/* Table search: pattern is a folder and a file mask ("C:\DATA\*.kdt"); a pattern without a
 * folder is taken in the connection's folder. Names are answered as file names without folder,
 * in alphabetical order. KCE_NO_MORE_TABLES (5059) ends the search; KdsFindFirstTable gives it
 * at once (and no search handle) when nothing matches. */
KCESTATUS KdsFindFirstTable(KDSHANDLE connection, const UNSIGNED8* pattern, UNSIGNED8* name,
                            UNSIGNED16* len, KDSHANDLE* search);
KCESTATUS KdsFindNextTable(KDSHANDLE search, UNSIGNED8* name, UNSIGNED16* len);
KCESTATUS KdsFindClose(KDSHANDLE search);
/* One of the KCE_HANDLE_ codes above. */
KCESTATUS KdsGetHandleType(KDSHANDLE handle, UNSIGNED16* type);

/* ------------------------------------------------------------------------------------------- */
/* Data dictionaries (.kdd)                                                                      */

/* A dictionary lists users (name and a salted Argon2id hash of the password: the password itself
 * is stored nowhere) and tables. A dictionary connection (KdsConnect60 with a .kdd path) opens a
 * table of the dictionary by its bare name (KdsOpenTable with no folder in the name): the file,
 * table type and index files come from the dictionary, the table type given is ignored, and a
 * name the dictionary does not hold gives KCE_TABLE_NOT_FOUND (5132). A name with a folder opens
 * a free table as on a folder connection; on a dictionary connection an empty table-search
 * pattern (KdsFindFirstTable) lists the dictionary's tables. */

/* Longest user name of a dictionary. */
#define KCE_MAX_USER_NAME_LEN 31
/* Dictionary object types (KdsDDFindFirstObject). */
#define KCE_DD_TABLE_OBJECT 10
/* Table properties (KdsDDGetTableProperty, KdsDDSetTableProperty). */
#define KCE_DD_TABLE_DEFAULT_INDEX 213

/* Property of a table of the connection's dictionary: KCE_TABLE_NOT_FOUND when the dictionary
 * has no such table, KCE_NO_PROPERTY (5138) when the table has no value for it,
 * KCE_UNKNOWN_PROPERTY for a code other than those above, KCE_NOT_DICTIONARY_CONNECTION on a
 * folder connection. */
KCESTATUS KdsDDGetTableProperty(KDSHANDLE connection, const UNSIGNED8* table, UNSIGNED16 property,
                                UNSIGNED8* buf, UNSIGNED16* len);
/* Search of the objects of one type (KCE_DD_TABLE_OBJECT: the tables, in alphabetical order;
 * parent must be null or empty). KCE_NO_MORE_OBJECTS (5137) ends the search;
 * KdsDDFindFirstObject gives it at once (and no search handle) when there is none. */
KCESTATUS KdsDDFindFirstObject(KDSHANDLE connection, UNSIGNED16 objectType, const UNSIGNED8* parent,
                               UNSIGNED8* name, UNSIGNED16* len, KDSHANDLE* search);
KCESTATUS KdsDDFindNextObject(KDSHANDLE search, UNSIGNED8* name, UNSIGNED16* len);
KCESTATUS KdsDDFindClose(KDSHANDLE search);

/* Maintenance: these act on the dictionary file named by path (in either path form) and need
 * write access to it, as any maintenance of table files does; no connection is involved. */
/* Creates an empty dictionary (no users, no tables); KCE_DICTIONARY_EXISTS when the file is
 * there already. */
KCESTATUS KdsDDCreate(const UNSIGNED8* path);
/* Adds a user (1 to 31 characters, compared without regard to letter case) with its password
 * (compared exactly); KCE_USER_EXISTS when the name is taken. */
KCESTATUS KdsDDAddUser(const UNSIGNED8* path, const UNSIGNED8* user, const UNSIGNED8* password);
/* Removes a user; KCE_USER_NOT_FOUND when there is none of that name. */
KCESTATUS KdsDDDropUser(const UNSIGNED8* path, const UNSIGNED8* user);
/* Adds a table under name: file is its table file (a relative path is taken from the
 * dictionary's folder, and stored so, so that the folder can move), tableType its type
 * (KCE_DEFAULT_TABLE: from the extension, .dbf meaning CDX), indexFiles null or the index files
 * opened with it, separated by ';' (taken from the table's folder when relative).
 * The table file must exist; KCE_DICTIONARY_TABLE_EXISTS when the name is taken. */
KCESTATUS KdsDDAddTable(const UNSIGNED8* path, const UNSIGNED8* name, const UNSIGNED8* file,
                        UNSIGNED16 tableType, const UNSIGNED8* indexFiles);
/* Sets a table property; an empty or null value removes it. */
KCESTATUS KdsDDSetTableProperty(const UNSIGNED8* path, const UNSIGNED8* table, UNSIGNED16 property,
                                const UNSIGNED8* value);

/* Transactions of a connection. Every table opened through the connection, before or during the
 * transaction, is in it: its appends, writes and deletes between KdsBeginTransaction and
 * KdsCommitTransaction are kept whole, or after KdsRollbackTransaction (or the end of the
 * process, however it ends) not at all, and the record numbers and autoincrement values they took
 * are given back. Native tables: other processes see none of the changes before the commit.
 * DBF tables: a rollback journal beside the table (TABLE.dbf-journal) keeps what the changes
 * overwrite; other processes read the records written so far (a DBF file holds one version of
 * each record), cannot append until the end, and the first process to open the table after a
 * crash rolls the journal back. A second KdsBeginTransaction gives KCE_TRANSACTION_ACTIVE; a
 * commit or rollback without one, KCE_NO_TRANSACTION. Pending appends and edits of the
 * connection's handles are discarded at the commit or rollback. KdsDisconnect rolls back. */
KCESTATUS KdsBeginTransaction(KDSHANDLE connection);
KCESTATUS KdsCommitTransaction(KDSHANDLE connection);
KCESTATUS KdsRollbackTransaction(KDSHANDLE connection);
/* Whether a transaction is active on the connection. */
KCESTATUS KdsInTransaction(KDSHANDLE connection, UNSIGNED16* active);
/* ------------------------------------------------------------------------------------------- */
/* Tables: creating, opening, closing, layout                                                    */

/* Open options, added. */
#define KCE_OPEN_EXCLUSIVE 1
#define KCE_OPEN_READ_ONLY 2

/* Engine field types. */
#define KCE_LOGICAL 1
#define KCE_NUMERIC 2
#define KCE_DATE 3
#define KCE_STRING 4
#define KCE_MEMO 5
#define KCE_BINARY 6
#define KCE_IMAGE 7
#define KCE_VARCHAR 8
#define KCE_COMPACTDATE 9
#define KCE_DOUBLE 10
#define KCE_INTEGER 11
#define KCE_SHORTINT 12
#define KCE_TIME 13
#define KCE_TIMESTAMP 14
#define KCE_AUTOINC 15
#define KCE_RAW 16
#define KCE_CURDOUBLE 17

/* Opens a table. name is a file path (absolute, or relative to the connection's folder; '\' and
 * '/' both separate folders; letter case is not significant for existing files); without an
 * extension ".kdt" is added for table type 3 and ".dbf" for types 1 and 2. alias must be null or
 * empty. tableType 0 takes the kind from the extension. Several handles on one table share it:
 * each sees the others' writes. An exclusive open while the table is open anywhere else, or any
 * open while another handle or process holds it exclusively, gives KCE_TABLE_IN_USE. */
KCESTATUS KdsOpenTable(KDSHANDLE connection, const UNSIGNED8* name, const UNSIGNED8* alias,
                       UNSIGNED16 tableType, UNSIGNED16 charType, UNSIGNED16 lockType,
                       UNSIGNED16 rightsCheck, UNSIGNED32 options, KDSHANDLE* table);
/* Creates a table and opens it exclusively. fields lists the fields as
 * "NAME,TYPE[,LENGTH[,DECIMALS]];..." where TYPE is a code (1..17) or its name (logical,
 * numeric, date, char, memo, binary, image, varchar, compactdate, double, integer, shortint,
 * time, timestamp, autoinc, raw, money). An existing file gives KCE_TABLE_EXISTS and is left
 * alone. */
KCESTATUS KdsCreateTable(KDSHANDLE connection, const UNSIGNED8* name, UNSIGNED16 tableType,
                         UNSIGNED16 charType, const UNSIGNED8* fields, UNSIGNED32 options,
                         KDSHANDLE* table);
/* Closes a table handle; a pending append or edit is discarded, the handle's record locks and
 * its index handles are released. An index handle is closed with KdsCloseIndex instead. */
KCESTATUS KdsCloseTable(KDSHANDLE table);
/* The calls below accept a table or an index handle. */
KCESTATUS KdsGetTableType(KDSHANDLE table, UNSIGNED16* type);
/* 1 when the table's file is encrypted (whether or not its password has been given), else 0. */
KCESTATUS KdsIsTableEncrypted(KDSHANDLE table, UNSIGNED16* encrypted);
KCESTATUS KdsGetTableOpenOptions(KDSHANDLE table, UNSIGNED32* options);
KCESTATUS KdsGetTableFilename(KDSHANDLE table, UNSIGNED8* buf, UNSIGNED16* len);
/* Length of the raw record image of KdsGetRecord (docs/formats/kce-record-image.md). */
KCESTATUS KdsGetRecordLength(KDSHANDLE table, UNSIGNED32* length);
KCESTATUS KdsGetNumFields(KDSHANDLE table, UNSIGNED16* count);
KCESTATUS KdsGetFieldName(KDSHANDLE table, UNSIGNED16 ordinal, UNSIGNED8* buf, UNSIGNED16* len);
KCESTATUS KdsGetFieldNum(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED16* ordinal);
KCESTATUS KdsGetFieldType(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED16* type);
/* Bytes of the field in the raw record image. */
KCESTATUS KdsGetFieldLength(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED32* length);
KCESTATUS KdsGetFieldDecimals(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED16* decimals);
KCESTATUS KdsGetFieldOffset(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED32* offset);
/* Bytes of a KdsGetBookmark60 bookmark (4: the record number, little-endian). */
KCESTATUS KdsGetBookmarkLength(KDSHANDLE table, UNSIGNED32* length);
/* ------------------------------------------------------------------------------------------- */
/* Records: navigation, bookmarks, reading                                                       */

/* Record-count and record-number options, as KdsGetRecordCount takes them. */
#define KCE_RESPECT_FILTERS 1
#define KCE_IGNORE_FILTERS 2
#define KCE_RESPECT_SCOPES 3
#define KCE_REFRESHCOUNT 4

/* Positioning. The cursor moves in the order of the handle given: an index handle moves the
 * table's cursor in that index's order, a table handle in record-number order. Records that are
 * deleted (and hidden) or rejected by the handle's filter are skipped. Moving past the last
 * record sets EOF, before the first BOF; on an empty table both are set. */
KCESTATUS KdsGotoTop(KDSHANDLE table);
KCESTATUS KdsGotoBottom(KDSHANDLE table);
KCESTATUS KdsSkip(KDSHANDLE table, SIGNED32 count);
KCESTATUS KdsAtEOF(KDSHANDLE table, UNSIGNED16* atEof);
KCESTATUS KdsAtBOF(KDSHANDLE table, UNSIGNED16* atBof);
/* Positions on record recno; a record number that does not name a record gives
 * KCE_INVALID_RECORD and leaves the cursor at EOF. */
KCESTATUS KdsGotoRecord(KDSHANDLE table, UNSIGNED32 recno);
/* The raw record image of the current record (or of the pending append / edit, with the values
 * set so far). *len holds the capacity on entry and the record length on return; a smaller
 * capacity gives KCE_INSUFFICIENT_BUFFER. At EOF or BOF: KCE_NO_CURRENT_RECORD. */
KCESTATUS KdsGetRecord(KDSHANDLE table, UNSIGNED8* buf, UNSIGNED32* len);
/* The current record number (0 at EOF/BOF). option: KCE_IGNORE_FILTERS (any other value is
 * taken the same way for now). */
KCESTATUS KdsGetRecordNum(KDSHANDLE table, UNSIGNED16 option, UNSIGNED32* recno);
/* Records in the table. option as above, KCE_REFRESHCOUNT may be added. With filters respected
 * the records that pass the handle's filter are counted. */
KCESTATUS KdsGetRecordCount(KDSHANDLE table, UNSIGNED16 option, UNSIGNED32* count);
/* A 32-bit bookmark (the record number). */
KCESTATUS KdsGetBookmark(KDSHANDLE table, KDSHANDLE* bookmark);
/* The bookmark as bytes; *len: capacity in, length out. */
KCESTATUS KdsGetBookmark60(KDSHANDLE table, UNSIGNED8* bookmark, UNSIGNED32* len);
/* Positions on a bookmark; KCE_INVALID_RECORD when the record is gone. */
KCESTATUS KdsGotoBookmark(KDSHANDLE table, KDSHANDLE bookmark);
/* Compares two KdsGetBookmark60 bookmarks: *result -1, 0 or 1 in record-number order. */
KCESTATUS KdsCompareBookmarks(const UNSIGNED8* bookmark1, const UNSIGNED8* bookmark2,
                              SIGNED32* result);
/* Whether the current record exists, is not hidden as deleted and passes the handle's filter.
 * At EOF/BOF: KCE_NO_CURRENT_RECORD. */
KCESTATUS KdsIsRecordVisible(KDSHANDLE table, UNSIGNED16* visible);
/* Whether the current record is marked deleted (native records, once deleted, are gone: the
 * record the cursor still stands on after KdsDeleteRecord answers true). */
KCESTATUS KdsIsRecordDeleted(KDSHANDLE table, UNSIGNED16* deleted);
/* Reads the current record again from the table; KCE_NO_CURRENT_RECORD at EOF/BOF. */
KCESTATUS KdsRefreshRecord(KDSHANDLE table);
/* The image of a record whose fields are all empty. *len: capacity in, length out. */
KCESTATUS KdsGetNullRecord(KDSHANDLE table, UNSIGNED8* buf, UNSIGNED32* len);
/* Fills buf (len must be the record length) with the empty record image. */
KCESTATUS KdsClearRecordBuffer(KDSHANDLE table, UNSIGNED8* buf, UNSIGNED32 len);
/* ------------------------------------------------------------------------------------------- */
/* Editing, blobs and locks                                                                      */

/* Editing. KdsAppendRecord gives the handle a new, empty record whose number is known at once
 * (KdsGetRecordNum); it reaches the table only when KdsWriteRecord succeeds. KdsSetField,
 * KdsSetFieldRaw and KdsSetEmpty change the pending record (the current record starts an edit);
 * KdsWriteRecord stores it, KdsCancelUpdate discards it (KCE_NO_UPDATE_PENDING when nothing
 * was pending). Moving the cursor or closing the handle with changes pending discards them.
 * A write to a record that another handle or process has locked gives KCE_RECORD_LOCKED; a
 * refused write leaves the table as it was. */
KCESTATUS KdsAppendRecord(KDSHANDLE table);
/* Sets a field from its text form: char fields take the bytes as they are (cut to the field's
 * length, padded with blanks); numeric, double, money, integer, shortint and autoinc fields take
 * a number ("-12.5"); logical "T"/"F"/"Y"/"N"/"1"/"0"/"true"/"false"; date and compactdate the
 * engine's date format or "YYYYMMDD"; time "HH:MM:SS[.mmm]"; timestamp a date, a blank or 'T',
 * then a time; raw fields the bytes (padded with zeros); memo, varchar, binary and image fields
 * the whole value (any length; an empty value empties the field). A value the field cannot take
 * gives KCE_INVALID_FIELD_VALUE and changes nothing. */
KCESTATUS KdsSetField(KDSHANDLE table, const UNSIGNED8* field, const UNSIGNED8* value,
                      UNSIGNED32 len);
/* Sets a field from its bytes in the raw record image (len must be the field's length). Blob
 * fields are set with KdsSetField only. */
KCESTATUS KdsSetFieldRaw(KDSHANDLE table, const UNSIGNED8* field, const UNSIGNED8* value,
                         UNSIGNED32 len);
KCESTATUS KdsSetEmpty(KDSHANDLE table, const UNSIGNED8* field);
KCESTATUS KdsWriteRecord(KDSHANDLE table);
/* Deletes the current record at once (native records are removed; xBase records are marked). */
KCESTATUS KdsDeleteRecord(KDSHANDLE table);
KCESTATUS KdsCancelUpdate(KDSHANDLE table);
/* Record locks hold against every other handle, in this process and in others, until
 * KdsUnlockRecord or the close of the handle. Locking a record this handle holds succeeds;
 * a record locked elsewhere gives KCE_RECORD_LOCKED. An exclusive handle needs no locks. */
KCESTATUS KdsLockRecord(KDSHANDLE table, UNSIGNED32 recno);
KCESTATUS KdsUnlockRecord(KDSHANDLE table, UNSIGNED32 recno);
/* The last autoincrement value the table assigned (0 when none yet). */
KCESTATUS KdsGetLastAutoinc(KDSHANDLE table, UNSIGNED32* value);
/* The text form of a field (as KdsSetField takes it; char values without trailing blanks, dates
 * in the engine's date format, blobs their bytes); an empty field gives an empty text. *len:
 * capacity in, length out; a text that does not fit gives KCE_INSUFFICIENT_BUFFER with the needed
 * length. The text is zero-terminated when there is room. option: 0 (others reserved). */
KCESTATUS KdsGetField(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED8* buf, UNSIGNED32* len,
                      UNSIGNED16 option);
KCESTATUS KdsIsEmpty(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED16* empty);
/* Length of a memo or varchar value in bytes. */
KCESTATUS KdsGetMemoLength(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED32* length);
/* Length of a binary or image value in bytes. */
KCESTATUS KdsGetBinaryLength(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED32* length);
/* 5 (KCE_MEMO) for text memos and varchars, 6 (KCE_BINARY) for binary and image fields. */
KCESTATUS KdsGetMemoDataType(KDSHANDLE table, const UNSIGNED8* field, UNSIGNED16* type);
/* ------------------------------------------------------------------------------------------- */
/* Table maintenance: zap, pack, encryption                                                      */

/* Removes every record. The handle must hold the table exclusively (KCE_NOT_EXCLUSIVE
 * otherwise). */
KCESTATUS KdsZapTable(KDSHANDLE table);
/* Gives the password of an encrypted native table: its records, blobs and indexes become
 * readable and writable for every handle of this process on the table, until the last one
 * closes. A password that is not the table's is refused (KCE_WRONG_PASSWORD) and changes
 * nothing. On a table that is not encrypted (every DBF table, a plain native table) the password
 * is accepted and changes nothing. Before the password an encrypted table's records read as empty
 * images and every write is refused (KCE_PASSWORD_REQUIRED). */
KCESTATUS KdsEnableEncryption(KDSHANDLE table, const UNSIGNED8* password);
/* Encrypts a plain native table in place with the password (Argon2id key, authenticated records
 * and blobs; docs/formats/kdt.md). The handle must hold the table exclusively; it then holds the
 * password. A DBF table is refused (KCE_ENCRYPTION_NOT_SUPPORTED: other programs could not read
 * it), an encrypted one too (KCE_ALREADY_ENCRYPTED). */
KCESTATUS KdsEncryptTable(KDSHANDLE table, const UNSIGNED8* password);
/* Makes an encrypted native table plain again, in place; the password must be the table's
 * (KCE_WRONG_PASSWORD otherwise). The handle must hold the table exclusively. */
KCESTATUS KdsDecryptTable(KDSHANDLE table, const UNSIGNED8* password);
/* Removes the records marked deleted from an xBase table and the unused space from its memo
 * file; records are numbered anew and the handle stands on the first one. The handle must hold
 * the table exclusively (KCE_NOT_EXCLUSIVE otherwise). Native tables have nothing to pack. */
KCESTATUS KdsPackTable(KDSHANDLE table);
/* Checks the table file's own bookkeeping: for an xBase table the header record count against
 * the file size, the end-of-file marker and every memo pointer. report receives one line per
 * problem (empty when none; *len: capacity in, length out; when the report does not fit,
 * KCE_INSUFFICIENT_BUFFER with *len the length it needs). A line that begins with "warning: "
 * names something that every reader of the file copes with (a missing end marker, which many
 * programs leave out); the others are faults. With repair non-zero, the header count and the end
 * marker are set right (exclusive handles only); memo pointers are only reported. */
KCESTATUS KdsCheckTableFile(KDSHANDLE table, UNSIGNED16 repair, UNSIGNED8* report, UNSIGNED32* len);
/* The code-page mark of an xBase table's header (0x03 Windows 1252, 0x01 DOS 437, ...), as the
 * file holds it. Native tables: KCE_NOT_APPLICABLE. */
KCESTATUS KdsGetCodePage(KDSHANDLE table, UNSIGNED16* codePage);
/* ------------------------------------------------------------------------------------------- */
/* Indexes, raw keys, seeks and scopes                                                           */

/* Indexes of native tables are kept inside the table's .kdt file (structural indexes) and opened
 * with it; every append, write, delete and zap of any handle keeps them up to date. An index
 * handle is an order over its table handle: KdsGotoTop, KdsSkip, KdsGetRecordCount... given an
 * index handle move the table's cursor in key order, within the index's scopes. Raw keys are
 * byte strings that compare with memcmp in index order (docs/formats/kdt.md); a key shorter than
 * the index key matches as a prefix. */

/* KdsCreateIndex options, added. */
#define KCE_INDEX_UNIQUE 1
#define KCE_INDEX_DESCENDING 2
#define KCE_INDEX_CONDITIONAL 4
/* Creates an index named name (letters, digits, '_') in the table's own file (file null or
 * empty: a structural index) or in an index file (a path, relative to the table's folder; ".kdi"
 * when it has no extension; made when missing), whose key
 * is a field list ("EMP_CODE;PAY_EFFECTIVE_DATE;ID") or an expression ("UPPER(NAME)"); only
 * records that satisfy condition (null or empty: every record) are in it. The index is filled
 * from the table at once; a unique index over duplicate keys gives KCE_DUPLICATE_KEY and
 * nothing is created. *index receives the index handle. */
KCESTATUS KdsCreateIndex(KDSHANDLE table, const UNSIGNED8* file, const UNSIGNED8* name,
                         const UNSIGNED8* key, const UNSIGNED8* condition, UNSIGNED32 options,
                         KDSHANDLE* index);
/* Removes a structural index from the table (and its handle); an index of an index file goes with
 * its file (KCE_NOT_SUPPORTED). */
KCESTATUS KdsDeleteIndex(KDSHANDLE index);
/* Index handles of the table's open indexes, in order of creation. *count: room in handles on
 * entry (at most 50 are needed), handles returned on exit; too little room gives
 * KCE_INSUFFICIENT_BUFFER with the needed count. */
KCESTATUS KdsGetAllIndexes(KDSHANDLE table, KDSHANDLE* handles, UNSIGNED16* count);
/* The index of that name (letter case ignored); KCE_INDEX_NOT_FOUND when there is none. */
KCESTATUS KdsGetIndexHandle(KDSHANDLE table, const UNSIGNED8* name, KDSHANDLE* index);
/* Opens the indexes of an index file for the table handle (path as for KdsCreateIndex; the
 * table's own file answers its structural indexes); the handles as KdsGetAllIndexes, which then
 * lists them after the structural ones. While any handle has an index file open, every write of
 * the table keeps it up to date; each write to it commits after the record's. A file that is not
 * there gives KCE_FILE_NOT_FOUND; one whose indexes do not fit the table, KCE_INDEX_MISMATCH. */
KCESTATUS KdsOpenIndex(KDSHANDLE table, const UNSIGNED8* file, KDSHANDLE* handles,
                       UNSIGNED16* count);
/* Closes the index file of an index handle: every index of that file on this table handle. A
 * structural index closes with its table only (KCE_NOT_SUPPORTED). */
KCESTATUS KdsCloseIndex(KDSHANDLE index);
KCESTATUS KdsGetIndexName(KDSHANDLE index, UNSIGNED8* buf, UNSIGNED16* len);
/* The file the index lives in, as option says. */
#define KCE_INDEX_FILE_BASE_NAME 1 /* the name without folder and extension */
#define KCE_INDEX_FILE_NAME 2      /* the name with its extension */
#define KCE_INDEX_FILE_PATH 3      /* the full path */
KCESTATUS KdsGetIndexFilename(KDSHANDLE index, UNSIGNED16 option, UNSIGNED8* buf, UNSIGNED16* len);
/* The key as it was given at creation. */
KCESTATUS KdsGetIndexExpr(KDSHANDLE index, UNSIGNED8* buf, UNSIGNED16* len);
/* Segments: the fields of a field-list key, in order; for an expression key, the fields the
 * expression reads, in order of first appearance. */
KCESTATUS KdsGetNumSegments(KDSHANDLE index, UNSIGNED16* count);
/* The field name of segment (from 0); a segment past the last gives KCE_INVALID_ARGUMENT. */
KCESTATUS KdsGetSegmentFieldname(KDSHANDLE index, UNSIGNED16 segment, UNSIGNED8* buf,
                                 UNSIGNED16* len);
KCESTATUS KdsIsIndexUnique(KDSHANDLE index, UNSIGNED16* unique);
KCESTATUS KdsIsIndexDescending(KDSHANDLE index, UNSIGNED16* descending);
/* Native indexes are never custom (keys are always those of the records): KCE_NOT_APPLICABLE. */
KCESTATUS KdsIsIndexCustom(KDSHANDLE index, UNSIGNED16* custom);
/* The condition (empty when every record is in the index). */
KCESTATUS KdsGetIndexCondition(KDSHANDLE index, UNSIGNED8* buf, UNSIGNED16* len);
/* KCE_INDEX_UNIQUE, KCE_INDEX_DESCENDING and KCE_INDEX_CONDITIONAL (the index has a condition),
 * added. */
KCESTATUS KdsGetIndexFlags(KDSHANDLE index, UNSIGNED32* flags);
KCESTATUS KdsGetIndexPageSize(KDSHANDLE index, UNSIGNED16* size);
/* Bytes of the index's raw key. */
KCESTATUS KdsGetKeyLength(KDSHANDLE index, UNSIGNED16* length);
/* The current record's place in the index (within its scopes) from 0.0 (first) to 1.0 (last).
 * KCE_NO_POSITION where there is no answer: a table handle, no current record, a record that is
 * not in the index. */
KCESTATUS KdsGetRelKeyPos(KDSHANDLE index, double* position);
/* Moves to the record at that relative place (0.0 the first, 1.0 the last; clamped). */
KCESTATUS KdsSetRelKeyPos(KDSHANDLE index, double position);

/* Raw keys: KdsInitRawKey starts an empty key; KdsSetField and KdsSetFieldRaw on the index handle
 * then set segment fields (a field that is not a segment gives KCE_NOT_INDEX_FIELD); and
 * KdsBuildRawKey answers the key of the leading segments that were set (a char field given fewer
 * bytes than its length ends the key there, as a prefix). *len: capacity in, key length out. */
KCESTATUS KdsInitRawKey(KDSHANDLE index);
KCESTATUS KdsBuildRawKey(KDSHANDLE index, UNSIGNED8* key, UNSIGNED16* len);
/* Key types. A string key is the key as text: the characters of a char key (a prefix), a number,
 * a date in the engine's date format or YYYYMMDD, T or F. */
#define KCE_RAWKEY 1
#define KCE_STRINGKEY 2
/* Seek types: soft (land on the first key at or after the one given), hard (land only on a key
 * that begins with it, else EOF), after (the first key past every key that begins with it). */
#define KCE_SOFTSEEK 1
#define KCE_HARDSEEK 2
#define KCE_SEEKGT 4
/* Seeks in the index within its scopes and the table's filters. *found is 1 when the record
 * landed on has a key beginning with the one given. A key longer than the index key gives
 * KCE_KEY_TOO_LONG; a string key that does not convert, KCE_INVALID_KEY. */
KCESTATUS KdsSeek(KDSHANDLE index, const UNSIGNED8* key, UNSIGNED16 len, UNSIGNED16 keyType,
                  UNSIGNED16 seekType, UNSIGNED16* found);
/* Scopes: 1 top (the least key shown), 2 bottom (the greatest, as a prefix). */
#define KCE_TOP 1
#define KCE_BOTTOM 2
KCESTATUS KdsSetScope(KDSHANDLE index, UNSIGNED16 which, const UNSIGNED8* key, UNSIGNED16 len,
                      UNSIGNED16 keyType);
/* The scope's key as it was given; KCE_NO_SCOPE when that scope is not set. */
KCESTATUS KdsGetScope(KDSHANDLE index, UNSIGNED16 which, UNSIGNED8* buf, UNSIGNED16* len);
/* KCE_NO_SCOPE when that scope was not set. */
KCESTATUS KdsClearScope(KDSHANDLE index, UNSIGNED16 which);
/* Clears every scope of every index handle of the table. */
KCESTATUS KdsClearAllScopes(KDSHANDLE table);

/* Maintenance. KdsReindex builds every index of the table again from its records.
 * KdsCheckIndexes compares them with the records: KCE_INDEX_MISMATCH with the problems, one a
 * line, in the last-error text when they disagree (that text is cut at KCE_MAX_ERROR_LEN).
 * KdsCheckIndexReport makes the same comparison and writes every problem whole into report, one a
 * line (empty when they agree; *len: capacity in, length out; when the report does not fit,
 * KCE_INSUFFICIENT_BUFFER with *len the length it needs). */
KCESTATUS KdsReindex(KDSHANDLE table);
KCESTATUS KdsCheckIndexes(KDSHANDLE table);
KCESTATUS KdsCheckIndexReport(KDSHANDLE table, UNSIGNED8* report, UNSIGNED32* len);

/* ------------------------------------------------------------------------------------------- */
/* Expressions and filters                                                                       */

/* Filters are expressions of the engine's expression language (docs/expressions.md) that must be
 * logical. A table handle has a plain filter (KdsSetFilter) and an optimized filter (KdsSetAOF);
 * a record is shown when it satisfies both. They hold for every move, visibility test and
 * filter-respecting count of the table handle and of its index handles, until cleared or until
 * the handle closes. An expression that does not compile gives its 6500-6599 status with a text
 * naming the problem and its position; a record the expression cannot be evaluated on is not
 * shown. Given an index handle, these calls act on its table handle. */

/* Sets (or, with an empty text, removes) the plain filter. */
KCESTATUS KdsSetFilter(KDSHANDLE table, const UNSIGNED8* expression);
/* KCE_NO_FILTER when none is set. */
KCESTATUS KdsClearFilter(KDSHANDLE table);
/* The plain filter's text: KCE_NO_FILTER when none; without a buffer, KCE_INSUFFICIENT_BUFFER and
 * the length. */
KCESTATUS KdsGetFilter(KDSHANDLE table, UNSIGNED8* buf, UNSIGNED16* len);
/* Resolution of an optimized filter. Immediate: the matching records are found when the filter is
 * set (records that come to match later are not shown). Dynamic: records are tested as they are
 * reached. Either way, the terms of the top-level .AND. chain that compare the first field of a
 * plain index with a constant are served by that index: only records in its key ranges are read. */
#define KCE_RESOLVE_IMMEDIATE 1
#define KCE_RESOLVE_DYNAMIC 2
KCESTATUS KdsSetAOF(KDSHANDLE table, const UNSIGNED8* expression, UNSIGNED16 resolution);
/* KCE_NO_FILTER when none is set. */
KCESTATUS KdsClearAOF(KDSHANDLE table);
/* The optimized filter's text: KCE_NO_FILTER when none; without a buffer, KCE_INSUFFICIENT_BUFFER
 * and the length; a buffer too small, KCE_INSUFFICIENT_BUFFER. */
KCESTATUS KdsGetAOF(KDSHANDLE table, UNSIGNED8* buf, UNSIGNED16* len);
/* *level: KCE_AOF_OPTIMIZED an index served the optimized filter, KCE_AOF_NOT_OPTIMIZED none did.
 * buf/len (may both be null) receive the names of the serving indexes, separated by ';'. */
#define KCE_AOF_OPTIMIZED 1
#define KCE_AOF_NOT_OPTIMIZED 3
KCESTATUS KdsGetAOFOptLevel(KDSHANDLE table, UNSIGNED16* level, UNSIGNED8* buf, UNSIGNED16* len);
/* The exact setting of the handle's string '=' (0, the start value: a value matches a text it
 * begins with; 1: equal but for trailing blanks). '==' is always exact. */
KCESTATUS KdsSetExact22(KDSHANDLE table, UNSIGNED16 exact);
KCESTATUS KdsGetExact22(KDSHANDLE table, UNSIGNED16* exact);
/* The short form of an expression for this table: every field name written as "@n", its 1-based
 * ordinal; everything else, literals and spacing included, unchanged. ShortToLong puts the
 * names back. Both give KCE_EXPR_SYNTAX for a text that does not split into tokens;
 * ShortToLong gives KCE_EXPR_UNKNOWN_FIELD for an ordinal the table lacks. */
KCESTATUS KdsExpressionLongToShort(KDSHANDLE table, const UNSIGNED8* expression, UNSIGNED8* buf,
                                   UNSIGNED16* len);
KCESTATUS KdsExpressionShortToLong(KDSHANDLE table, const UNSIGNED8* expression, UNSIGNED8* buf,
                                   UNSIGNED16* len);
/* Whether the expression compiles against the table (*valid); the status says why not. */
KCESTATUS KdsIsExpressionValid(KDSHANDLE table, const UNSIGNED8* expression, UNSIGNED16* valid);

/* ------------------------------------------------------------------------------------------- */
/* SQL                                                                                           */

/* SQL statements. SQLite is the SQL processor: a statement reads and writes the tables of its
 * connection's folder by name (EMPLOYEE finds employee.kdt, or employee.dbf; a name with its
 * extension, written in double quotes, names one file), through the engine's own record calls,
 * so every index (native, .cdx, the .ntx files TABLE.ntxlist names) is kept, another handle's
 * record lock or exclusive open refuses a write (KCE_RECORD_LOCKED, KCE_TABLE_IN_USE), and the
 * connection's transaction takes the changes (KdsRollbackTransaction undoes them). Outside a
 * transaction a statement is one by itself: one that fails part way changes nothing. The columns'
 * values, the rowid (the record number) and the result sets' field types are described in
 * docs/sql.md. Statements do not create, drop or attach tables, set pragmas or begin
 * transactions (KCE_SQL_NOT_ALLOWED).
 *
 * Parameters are written ":NAME" or "?" and numbered from 1 in order of appearance; "::" is a
 * colon; nothing inside a quoted literal is a parameter. A name used twice is two parameters that
 * a setter given the name sets both. The setters below take a statement handle with a parameter
 * number (KCE_FIELD_ORDINAL(n)) or name, or a table handle with a field (they then set the field
 * of the pending record as KdsSetField does). A parameter never set is NULL.
 *
 * Failures: a text that cannot be prepared gives KCE_SQL_ERROR (7209) with SQLite's text; a
 * failing run KCE_SQL_FAILED or another 72xx status with SQLite's text, or the engine's own status
 * when a table refused (a lock, a duplicate key, a value that does not fit). */

/* Creates a statement on a connection. */
KCESTATUS KdsCreateSQLStatement(KDSHANDLE connection, KDSHANDLE* statement);
/* Closes a statement (its result-set cursors stay open until closed with KdsCloseTable). A handle
 * that is no statement (or no longer) gives KCE_INVALID_STATEMENT. */
KCESTATUS KdsCloseSQLStatement(KDSHANDLE statement);
/* Compiles one statement; its parameters start unset. */
KCESTATUS KdsPrepareSQL(KDSHANDLE statement, const UNSIGNED8* sql);
/* Runs the prepared statement. A query gives *cursor, a new handle on its static result set:
 * the record calls walk it like a table, its open options hold KCE_OPEN_READ_ONLY, and a lock or a
 * write on it gives KCE_STATIC_CURSOR. Other statements give 0 there. cursor may be null (the
 * rows are then dropped). */
KCESTATUS KdsExecuteSQL(KDSHANDLE statement, KDSHANDLE* cursor);
/* KdsPrepareSQL and KdsExecuteSQL in one call. */
KCESTATUS KdsExecuteSQLDirect(KDSHANDLE statement, const UNSIGNED8* sql, KDSHANDLE* cursor);
/* The parameter names of a statement text in order, separated by ';' ("?" for a question mark);
 * buf/len as in convention 4. A quote never closed, or a colon naming no parameter, gives
 * KCE_SQL_PARAMETER. */
KCESTATUS KdsGetSQLStmtParams(const UNSIGNED8* sql, UNSIGNED8* buf, UNSIGNED16* len);

/* Statement options: how the statement opens the tables it names. Lock type, character type and
 * rights checking as KdsOpenTable takes them (the character type translates OEM tables; both lock
 * types lock alike, and free tables have no rights to check, as with KdsOpenTable). Table type:
 * which file a name without extension finds (3 the .kdt, 1 or 2 the .dbf, opened as that xBase
 * type; unset: the .kdt, else the .dbf). */
#define KCE_CURSOR_READ_ONLY 1
#define KCE_CURSOR_READ_WRITE 2
KCESTATUS KdsStmtSetTableLockType(KDSHANDLE statement, UNSIGNED16 lockType);
KCESTATUS KdsStmtSetTableCharType(KDSHANDLE statement, UNSIGNED16 charType);
KCESTATUS KdsStmtSetTableRights(KDSHANDLE statement, UNSIGNED16 rightsCheck);
/* Result sets are static: either value gives a cursor that says it is read-only. */
KCESTATUS KdsStmtSetTableReadOnly(KDSHANDLE statement, UNSIGNED16 readOnly);
KCESTATUS KdsStmtSetTableType(KDSHANDLE statement, UNSIGNED16 tableType);
/* Constrained updates and reading every column are options of live result sets, which the
 * engine does not make: KCE_STMT_OPTION_ON gives KCE_NOT_SUPPORTED, KCE_STMT_OPTION_OFF is
 * accepted. */
#define KCE_STMT_OPTION_ON 1
#define KCE_STMT_OPTION_OFF 2
KCESTATUS KdsStmtConstrainUpdates(KDSHANDLE statement, UNSIGNED16 constrain);
KCESTATUS KdsStmtReadAllColumns(KDSHANDLE statement, UNSIGNED16 readAll);

/* Setters of a statement parameter or a table field (see above). KdsSetEmpty (above) sets NULL.
 * A logical is 1 or 0; a Julian day 0 is NULL (the empty date); milliseconds are those of the
 * day (0 to 86399999); a raw timestamp is 8 bytes, the Julian day then the milliseconds, each
 * 32-bit little-endian. Dates go to SQL as 'YYYY-MM-DD', times as 'HH:MM:SS.mmm', timestamps as
 * 'YYYY-MM-DDTHH:MM:SS.mmm', as the tables' columns read. KdsSetBinary takes the whole value
 * (offset 0, len the total length; pieces give KCE_NOT_SUPPORTED); binaryType KCE_BINARY or
 * KCE_IMAGE. */
KCESTATUS KdsSetLogical(KDSHANDLE handle, const UNSIGNED8* field, UNSIGNED16 value);
KCESTATUS KdsSetDouble(KDSHANDLE handle, const UNSIGNED8* field, double value);
KCESTATUS KdsSetJulian(KDSHANDLE handle, const UNSIGNED8* field, SIGNED32 julian);
KCESTATUS KdsSetMilliseconds(KDSHANDLE handle, const UNSIGNED8* field, SIGNED32 milliseconds);
KCESTATUS KdsSetTimeStampRaw(KDSHANDLE handle, const UNSIGNED8* field, const UNSIGNED8* raw,
                             UNSIGNED32 len);
KCESTATUS KdsSetBinary(KDSHANDLE handle, const UNSIGNED8* field, UNSIGNED16 binaryType,
                       UNSIGNED32 totalLength, UNSIGNED32 offset, const UNSIGNED8* bytes,
                       UNSIGNED32 len);
KCESTATUS KdsSetString(KDSHANDLE handle, const UNSIGNED8* field, const UNSIGNED8* value,
                       UNSIGNED32 len);
/* On a statement handle: KdsGetRecordCount answers the rows the last run inserted, changed or
 * deleted (KCE_NO_ROW_COUNT after a query or before any run); KdsGetLastAutoinc the last
 * autoincrement value its last run assigned (0 when none). */

/* ------------------------------------------------------------------------------------------- */
/* Data dictionaries                                                                             */

#ifdef __cplusplus
}
#endif

#endif /* KCE_H */
