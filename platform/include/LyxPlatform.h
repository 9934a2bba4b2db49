/*
 * LyxPlatform: the C interface of the platform layer shared by the driver,
 * the component and the viewer.
 *
 * Byte strings (LyxBStr) carry raw bytes, one byte per element, with their
 * length stored in the four bytes before the first byte. They are allocated and
 * freed only through the functions below, so they may cross library borders.
 *
 * Thread messages: every thread has a queue, created on first use. A thread
 * without an event loop of its own calls LyxPumpMessages; a thread with one
 * watches LyxMessageFd for readability and pumps when it becomes readable.
 *
 * All functions may be called from any thread.
 */
#ifndef LYX_PLATFORM_H
#define LYX_PLATFORM_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define LYX_PLATFORM_API __attribute__((visibility("default")))

typedef uint8_t *LyxBStr;

/* Allocates a byte string of `length` bytes copied from `bytes`, or zero bytes
 * when `bytes` is NULL. Two zero bytes follow the content. NULL when memory is
 * exhausted. */
LYX_PLATFORM_API LyxBStr SysAllocStringByteLen(const void *bytes, uint32_t length);
/* The byte count of `s`; 0 for NULL. */
LYX_PLATFORM_API uint32_t SysStringByteLen(LyxBStr s);
/* Frees `s`; NULL is fine. */
LYX_PLATFORM_API void SysFreeString(LyxBStr s);

/* A descriptor that polls readable exactly while the calling thread has
 * messages waiting; -1 when the thread's queue cannot be created. Owned by the
 * platform: do not close it. */
LYX_PLATFORM_API int LyxMessageFd(void);
/* Dispatches the messages waiting for the calling thread when it is called
 * (not those that arrive meanwhile) and returns how many were dispatched. */
LYX_PLATFORM_API int LyxPumpMessages(void);

/* Message boxes. Flags and results keep the values of the system the design
 * comes from, so callers can pass them through unchanged. */
enum {
    LYX_MB_OK = 0x0,
    LYX_MB_OKCANCEL = 0x1,
    LYX_MB_YESNO = 0x4,
    LYX_MB_ICONERROR = 0x10,
    LYX_MB_ICONQUESTION = 0x20,
    LYX_MB_ICONWARNING = 0x30,
    LYX_MB_ICONINFORMATION = 0x40,
    LYX_MB_TASKMODAL = 0x2000
};
enum { LYX_IDOK = 1, LYX_IDCANCEL = 2, LYX_IDYES = 6, LYX_IDNO = 7 };

/* A host's way of showing a message box; returns one of the LYX_ID values. */
typedef int (*LyxMessageBoxHandler)(void *context, const char *text, const char *caption,
                                    uint32_t flags);

/* Installs the handler used by LyxMessageBox (NULL restores the default, which
 * writes one line to standard error and answers LYX_IDOK). */
LYX_PLATFORM_API void LyxSetMessageBoxHandler(LyxMessageBoxHandler handler, void *context);
/* Shows a message box through the installed handler and returns its answer. */
LYX_PLATFORM_API int LyxMessageBox(const char *text, const char *caption, uint32_t flags);

#ifdef __cplusplus
}
#endif

#endif /* LYX_PLATFORM_H */
