/*
 * qzcom.h - common services of the Tarmin suite.
 *
 * Every program and library of the suite initialises these services with its
 * product and profile, reads and writes its settings through them, reports
 * events through them and uses their formatting helpers.
 *
 * Conventions
 *   - Texts are Windows-1251 bytes (the system code page), zero-terminated.
 *   - Functions return 0 on success; the meaning of other values is given per
 *     function. No C++ exception leaves this library.
 *   - Output parameters are set before anything can fail.
 *   - Memory handed out by this library (texts, buffers) is released with
 *     QZ_Free and nothing else.
 *   - The library is safe to call from several threads; settings and reports
 *     are kept per process.
 *
 * The settings store ("registry")
 *   A per-user SQLite database, $TARMIN_HOME/registry.db (TARMIN_HOME defaults
 *   to $XDG_DATA_HOME/tarmin, else ~/.local/share/tarmin), holding a tree of
 *   keys below HKEY_CURRENT_USER. Key paths use "\" between their parts and,
 *   like value names, compare case-insensitively (Windows-1251 letters
 *   included). Value types are those of the Windows registry below.
 *
 *   Product key path (QZ_GetProductKeyName):
 *       Software\KELVORIA\<product>                      without a profile
 *       Software\KELVORIA\<product>\Profiles\<profile>   with a profile
 *   The settings key (QZ_GetSettingsKey(0)) is the product key itself, so that
 *   values such as "Setup" read the same through either path.
 *
 *   When the database cannot be written (read-only file or directory), or the
 *   environment variable TARMIN_REGISTRY_READONLY is set (not "0"), the store
 *   opens read-only: readers work, writers and write-access opens fail.
 *   Several processes may use the store at once (WAL journal, busy timeout).
 *   A file that is not a settings store, or a damaged one, is never used:
 *   QZ_Initialize fails (its reason goes to the QZ_Trace lines).
 *
 *   Names: a key name (one part of a path) has at most 255 bytes, a key path
 *   and a value name fewer than QZ_MAX_KEY_PATH; key names hold no control
 *   characters and no byte 0x98 (no character in Windows-1251). Writers and
 *   write-access opens refuse other names. A null value name is the key's
 *   unnamed (default) value.
 */
#ifndef TARMIN_QZCOM_H
#define TARMIN_QZCOM_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <time.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QZ_API __attribute__((visibility("default")))

typedef uint32_t QZ_DWORD;
/* An owner window or control: a QWidget* in the Qt programs, opaque here. */
typedef void *QZ_HWND;
/* An open settings key. Keys from QZ_RegOpenKey are closed with QZ_RegCloseKey;
 * the key of QZ_GetSettingsKey belongs to the library. */
typedef struct QzKey *QZ_HKEY;

/* Windows file time: 100-nanosecond intervals since 1601-01-01. */
typedef struct QZ_FILETIME {
    uint32_t dwLowDateTime;
    uint32_t dwHighDateTime;
} QZ_FILETIME;

/* Value types. */
#define QZ_REG_SZ 1u
#define QZ_REG_EXPAND_SZ 2u
#define QZ_REG_BINARY 3u
#define QZ_REG_DWORD 4u

/* Access masks of QZ_RegOpenKey. */
#define QZ_KEY_READ 0x20019u
#define QZ_KEY_WRITE_READ 0x2001Fu
#define QZ_KEY_ALL_ACCESS 0xF003Fu

/* Version argument of QZ_Initialize. */
#define QZ_VERSION 0x30001u

/* Largest binary value read by QZ_GetKeyBinary. */
#define QZ_MAX_BINARY 8192u
/* Largest key path. */
#define QZ_MAX_KEY_PATH 1024u

/* ---- Initialisation --------------------------------------------------- */

/* Initialises the services for a product without a profile. 0 = success,
 * negative = failure: -1 the settings store could not be opened at all,
 * -2 another version, -3 a product (or profile) name that cannot be a key
 * name (empty product, "\" or control characters, too long). */
QZ_API int QZ_Initialize(const char *product, QZ_DWORD version);
/* The same with a profile; an empty or null profile means no profile. */
QZ_API int QZ_InitializeWithProfile(const char *product, const char *profile, QZ_DWORD version);
/* Releases everything; reports not shown are dropped. Safe to call twice. */
QZ_API void QZ_Finalize(void);

/* ---- Settings: product key and settings key --------------------------- */

/* The product and profile key path; null before initialisation.
 * The text belongs to the library. */
QZ_API const char *QZ_GetProductKeyName(void);
/* Copies the product key path into buffer (size bytes, cut never overrun).
 * 0 = success; nonzero when not initialised or the buffer is too small. */
QZ_API int QZ_GetRegistryKeyString(char *buffer, size_t size);
/* The settings key (which must be 0); null before initialisation. */
QZ_API QZ_HKEY QZ_GetSettingsKey(int which);

/* Reads a number; a missing value gives the default and 0. Nonzero when the
 * value exists but is not a number, or the store fails (out = default). */
QZ_API int QZ_GetDword(QZ_HKEY key, const char *name, QZ_DWORD *out, QZ_DWORD def);
/* Reads a number without default: nonzero when absent or unreadable (out = 0). */
QZ_API int QZ_QueryDword(QZ_HKEY key, const char *name, QZ_DWORD *out);
QZ_API int QZ_SetDword(QZ_HKEY key, const char *name, QZ_DWORD value);
/* Reads a text into a new string released with QZ_Free. When the value is
 * absent or unreadable, *out is a copy of the default and the result is
 * nonzero. REG_EXPAND_SZ values and defaults have %VAR% references expanded. */
QZ_API int QZ_GetString(QZ_HKEY key, const char *name, char **out, const char *def);
/* The same into a caller buffer of size bytes (cut, always terminated). */
QZ_API int QZ_GetStringBuf(QZ_HKEY key, const char *name, char *buffer, QZ_DWORD size, const char *def);

/* ---- Settings by key path --------------------------------------------- */

/* The last argument "flags" of the path functions is kept for the callers of
 * the original interface (they pass 0 or 1); it does not change the result. */

QZ_API int QZ_GetKeyString(const char *path, const char *name, char **out, const char *def);
QZ_API int QZ_GetKeyStringBuf(const char *path, const char *name, char *buffer, QZ_DWORD size, const char *def);
/* Without default: nonzero when absent or unreadable (out = 0). */
QZ_API int QZ_GetKeyDword(const char *path, const char *name, QZ_DWORD *out);
/* With default: absent gives the default and 0; unreadable gives nonzero. */
QZ_API int QZ_GetKeyDwordEx(const char *path, const char *name, QZ_DWORD *out, QZ_DWORD def, int flags);
/* Reads a binary value (type 3) into buffer (at most *length bytes, at most
 * QZ_MAX_BINARY); *length becomes the value's length, also when it does not
 * fit (0 when absent). Nonzero when absent, of another type, or longer than
 * the buffer (nothing copied then). */
QZ_API int QZ_GetKeyBinary(const char *path, const char *name, void *buffer, QZ_DWORD *length, int flags);
/* Reads any value. *length in: buffer size, out: data length; *type in: the
 * expected type (0 = any), out: the value's type. Texts (types 1 and 2) come
 * terminated, the terminator counted in *length, as the Windows registry
 * hands them out; they are not expanded. When the value is absent, the
 * default data/length/type are returned and the result is 0. Nonzero when the
 * value is of another type, does not fit (*length then tells the size needed;
 * nothing is copied, so a null buffer asks for the size), or the store fails. */
QZ_API int QZ_GetKeyValue(const char *path, const char *name, void *buffer, QZ_DWORD *length,
                          QZ_DWORD *type, const void *def_data, QZ_DWORD def_length,
                          QZ_DWORD def_type, int flags);
/* Writers create the key path when missing. QZ_SetKeyBinary writes any type
 * (a number needs 4 bytes; a text ends at its first zero byte). */
QZ_API int QZ_SetKeyDword(const char *path, const char *name, QZ_DWORD value, int flags);
QZ_API int QZ_SetKeyString(const char *path, const char *name, const char *value, int flags);
QZ_API int QZ_SetKeyBinary(const char *path, const char *name, const void *data, QZ_DWORD length,
                           QZ_DWORD type, int flags);
/* Deletes a key with all its sub-keys and values. Deleting a missing key is
 * success; the root ("") is refused. */
QZ_API int QZ_DeleteKey(const char *path, int flags);

/* Deletes one value. 0 = deleted, 1 = there was none, negative = failure. */
QZ_API int QZ_DeleteValue(const char *path, const char *name);
/* 1 when the settings store is open read-only (writers fail), else 0. */
QZ_API int QZ_IsReadOnly(void);

/* Groups the writes of this process into one store transaction, so that a
 * program that writes many values at once (a list of thousands of items)
 * pays for one commit instead of one per value. Until QZ_EndWriteBatch, every
 * write of the process (any thread) joins the batch: this process reads it at
 * once, other processes see none of it before the end, and their writers wait
 * (the busy timeout) meanwhile. A write that fails inside the batch is undone
 * alone and fails as it would outside one. QZ_EndWriteBatch(1) commits the
 * batch, QZ_EndWriteBatch(0) drops it; QZ_Finalize drops a batch not ended.
 * Batches do not nest: QZ_BeginWriteBatch fails while one is open, and on a
 * read-only store. 0 = success. */
QZ_API int QZ_BeginWriteBatch(void);
QZ_API int QZ_EndWriteBatch(int commit);

/* ---- Settings: open keys ---------------------------------------------- */

/* Opens a key. QZ_KEY_READ needs an existing key; the write masks create it
 * and fail when the store is read-only; other masks are refused. The owner
 * window is where an error box would go; the library shows none.
 * 0 = success. A key opened with QZ_KEY_READ refuses every writer. */
QZ_API int QZ_RegOpenKey(QZ_HKEY *out, const char *path, QZ_DWORD access, QZ_HWND owner);
QZ_API int QZ_RegGetDword(QZ_HKEY key, const char *name, QZ_DWORD *out, QZ_DWORD def);
/* Reads a text with default into a buffer; as QZ_GetStringBuf. */
QZ_API int QZ_RegGetString(QZ_HKEY key, const char *name, char *buffer, QZ_DWORD size, const char *def);
/* Reads a text without default and without expansion (cut, always
 * terminated); *type (may be null) receives REG_SZ or REG_EXPAND_SZ.
 * Nonzero when absent or unreadable. */
QZ_API int QZ_RegGetStringEx(QZ_HKEY key, const char *name, char *buffer, QZ_DWORD size, QZ_DWORD *type);
QZ_API int QZ_RegSetDword(QZ_HKEY key, const char *name, QZ_DWORD value);
QZ_API int QZ_RegSetString(QZ_HKEY key, const char *name, const char *value);
/* Writes a text as REG_SZ or REG_EXPAND_SZ. */
QZ_API int QZ_RegSetStringEx(QZ_HKEY key, const char *name, const char *value, QZ_DWORD type);
/* Closes a key of QZ_RegOpenKey. Closing the settings key does nothing (it
 * belongs to the library) and gives 0; a key closed already is refused. */
QZ_API int QZ_RegCloseKey(QZ_HKEY key);

/* Enumeration, for tools: the index-th sub-key name / value name of a key
 * (sorted case-insensitively; a null or empty path is the root). 0 = the name
 * is in buffer (and its type in *type, which may be null); 1 = past the end;
 * negative = the name does not fit (it is cut, always terminated) or the
 * store fails. */
QZ_API int QZ_RegEnumKey(const char *path, QZ_DWORD index, char *buffer, QZ_DWORD size);
QZ_API int QZ_RegEnumValue(const char *path, QZ_DWORD index, char *buffer, QZ_DWORD size, QZ_DWORD *type);

/* Expands %VAR% references as Windows does: names in any letter case; an
 * unknown reference (and "%%") stays whole and the scan goes on after its
 * closing "%"; a lone "%" stays. TEMP and TMP fall back to each other, then to
 * TMPDIR, then to /tmp. Returns a new text released with QZ_Free (null only
 * when out of memory; a null text expands to ""). */
QZ_API char *QZ_ExpandEnvironment(const char *text);

/* ---- Events and reports ----------------------------------------------- */

/* Levels of a report. */
#define QZ_LEVEL_DETAIL 1
#define QZ_LEVEL_SUMMARY 3

/* Records an event: keeps it for QZ_ShowReports and, once the services are
 * initialised, appends it to the operator event file. The arguments are those
 * that the code's event text takes, of the types listed in the table of
 * common/event_texts.h (texts are const char *, null allowed; numbers are
 * QZ_DWORD or int). A code without a text of its own takes no arguments.
 *
 * Event files: "tarmin-operator" + start date "yyyymmdd" (+ "_N" for further
 * files of a day) + ".csv" in the directory of the settings key's value
 * "Filename" (default "%TEMP%\"; environment references are expanded and a
 * trailing "\" or "/" is a separator), one line per event in local time:
 *     dd/mm/yyyy,hh:mm:ss,0x<code %X>,<level>,<event text>
 * with the control characters of the text turned into blanks. "Update period"
 * (bit 0 never, bit 1 by "Maximum file size" KB, bit 2 daily, bit 3 monthly;
 * default 1) starts new files; the product's event files not written to for
 * "DeleteFilePeriod" days (default 30; 0 keeps them) are deleted. A directory
 * that cannot be written loses the line, never the kept report. */
QZ_API void QZ_ReportEvent(int level, QZ_DWORD code, ...);
QZ_API void QZ_ReportEventV(int level, QZ_DWORD code, va_list args);

/* One kept report, as a presenter receives it. */
typedef struct QZ_REPORT {
    int level;        /* 1 detail, 3 summary */
    QZ_DWORD code;
    const char *text; /* Windows-1251 */
    time_t time;
} QZ_REPORT;

/* Shows reports. mode 1: every kept report; mode 3: the summary reports
 * (level 3), the details available beside them. A presenter returns when the
 * operator has seen them. */
typedef void (*QZ_REPORT_PRESENTER)(QZ_HWND owner, int mode, const QZ_REPORT *reports, size_t count,
                                    void *user);
/* Installs the presenter of this process (null restores the default, which
 * writes the reports to standard error in UTF-8). */
QZ_API void QZ_SetReportPresenter(QZ_REPORT_PRESENTER presenter, void *user);
/* Hands the kept reports to the presenter, then forgets the ones shown.
 * Does nothing when no report is kept. */
QZ_API void QZ_ShowReports(QZ_HWND owner, int mode);
/* Forgets the kept reports without showing them (2 after a shown failure,
 * 3 after start-up; every mode forgets all of them). */
QZ_API void QZ_ClearReports(int mode);
/* Number of reports kept now. */
QZ_API size_t QZ_GetReportCount(void);

/* Writes a trace line (printf format). Lines go to the file named by the
 * environment variable TARMIN_TRACE ("-" for standard error); without it
 * they are dropped. */
QZ_API void QZ_Trace(const char *format, ...) __attribute__((format(printf, 1, 2)));

/* ---- Message boxes ---------------------------------------------------- */

/* Buttons and icons of QZ_MessageBox (the values of the system's). */
#define QZ_MB_OK 0x0u
#define QZ_MB_OKCANCEL 0x1u
#define QZ_MB_YESNOCANCEL 0x3u
#define QZ_MB_YESNO 0x4u
#define QZ_MB_RETRYCANCEL 0x5u
#define QZ_MB_ICONERROR 0x10u
#define QZ_MB_ICONQUESTION 0x20u
#define QZ_MB_ICONWARNING 0x30u
#define QZ_MB_ICONINFORMATION 0x40u
#define QZ_MB_SETFOREGROUND 0x10000u
/* Answers. */
#define QZ_IDOK 1
#define QZ_IDCANCEL 2
#define QZ_IDYES 6
#define QZ_IDNO 7

/* Shows a message box for a library and returns the button chosen. A program
 * with windows installs the presenter that shows it; without one the text
 * goes to standard error (UTF-8) and the answer is the cautious one: Cancel
 * where the box has it, else No, else OK. Texts are Windows-1251. */
typedef int (*QZ_MESSAGE_BOX_PRESENTER)(QZ_HWND owner, const char *text, const char *caption, QZ_DWORD flags,
                                        void *user);
/* Installs the presenter of this process (null restores standard error). */
QZ_API void QZ_SetMessageBoxPresenter(QZ_MESSAGE_BOX_PRESENTER presenter, void *user);
QZ_API int QZ_MessageBox(QZ_HWND owner, const char *text, const char *caption, QZ_DWORD flags);

/* ---- Formatting ------------------------------------------------------- */

/* Formats a file time as it is (no zone conversion). format 5: date and time
 * "dd.mm.yyyy hh:mm:ss"; format 3: "dd.mm.yyyy hh:mm". *out released with
 * QZ_Free. Nonzero for another format or an unrepresentable time. */
QZ_API int QZ_FormatFileTime(const QZ_FILETIME *ft, int format, char **out);
/* Upper-case hexadecimal, a blank between bytes ("0A 1B FF"). */
QZ_API int QZ_FormatHex(const void *data, size_t length, char **out);
/* time_t (seconds since 1970, UTC) to file time and back. */
QZ_API void QZ_TimeToFileTime(time_t t, QZ_FILETIME *out);
QZ_API time_t QZ_FileTimeToTime(const QZ_FILETIME *ft);
/* A size in bytes as text ("512 байт", "1,5 КБ", "20,0 МБ", "2,1 ГБ").
 * Returns buffer. */
QZ_API char *QZ_FormatSize(char *buffer, size_t size, QZ_DWORD bytes);
/* Releases memory handed out by this library (null allowed). */
QZ_API void QZ_Free(void *p);

/* ---- Other services --------------------------------------------------- */

/* Lets the operator choose a directory and puts it into the edit control.
 * The GUI programs install the browser; without one this returns nonzero. */
typedef int (*QZ_FOLDER_BROWSER)(QZ_HWND edit, QZ_HWND parent, void *user);
QZ_API void QZ_SetFolderBrowser(QZ_FOLDER_BROWSER browser, void *user);
QZ_API int QZ_BrowseForFolder(QZ_HWND edit, QZ_HWND parent);

/* 32-byte password digest: PBKDF2-HMAC-SHA-256 over the text, 100000
 * iterations, salted with the product key path in lower case (so each profile
 * has its own digest, whatever the case its name was typed in). Nonzero (out
 * zeroed) before initialisation. 0 = success. */
QZ_API int QZ_HashPassword(const void *text, size_t length, unsigned char out[32]);

/* zlib (RFC 1950) compression. *out released with QZ_Free. 0 = success;
 * otherwise the compressor's code (negative). */
QZ_API int QZ_Compress(const void *data, QZ_DWORD length, void **out, QZ_DWORD *out_length);
/* Decompresses a whole zlib stream of length bytes. A corrupt, truncated or
 * over-long stream (more than 1 GiB of output) is an error: nonzero, *out null. */
QZ_API int QZ_Decompress(const void *data, void **out, QZ_DWORD length, QZ_DWORD *out_length);

#ifdef __cplusplus
}
#endif

#endif /* TARMIN_QZCOM_H */
