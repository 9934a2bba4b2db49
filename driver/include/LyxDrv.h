/*
 * LyxDrv: the base-station driver.
 *
 * One loaded copy of the library serves one base-station link (a serial port,
 * or up to three USB base stations); all of its state belongs to that copy.
 * Load another copy of the file to serve another link.
 *
 * Received frames are handed over in one of two ways:
 *   - callback mode (INITIALISE/INITIALISEMULTI with the address of a
 *     LyxFrameCallback2/3): every frame is passed to the callback, one at a
 *     time and in order, on the thread that opened the link, while that thread
 *     dispatches its messages (LyxPumpMessages, or its event loop watching
 *     LyxMessageFd, or repeated ENUMUSB calls);
 *   - polling mode (callback address 0 or 1): one frame at a time waits for
 *     GETNEXTPACKET; ANYINQUEUE tells whether one waits.
 *
 * A frame is the complete link frame as received: length, length copy,
 * base-station number, payload (byte 0 the packet type, low five bits the type
 * code), CRC low, CRC high.
 *
 * Threads: the exports may be called from any thread. The command exports
 * (BIND, READMODULE, ...) wait for their reply and must be issued one at a time;
 * they answer 99 while a frame is being handed to the callback. WRITEPACKET,
 * SENDBROADCAST, GETNEXTPACKET and ANYINQUEUE may be called from inside the
 * callback.
 */
#ifndef LYX_DRV_H
#define LYX_DRV_H

#include <stdint.h>

#include "LyxPlatform.h"

#ifdef __cplusplus
extern "C" {
#endif

#define LYX_DRV_API __attribute__((visibility("default")))

/* The private window message that carries a frame to the opening thread. */
#define LYX_WM_DRVFRAME 0x720

typedef void (*LyxFrameCallback2)(const uint8_t **frame, int32_t *length);
typedef void (*LyxFrameCallback3)(const uint8_t **frame, int32_t *length, int32_t *instance);

/* Receive-side set-up; call before OPENPORT or OPENUSB. NULL is polling mode. */
LYX_DRV_API void INITIALISE(const intptr_t *callbackAddress);
LYX_DRV_API void INITIALISEMULTI(const intptr_t *callbackAddress, int32_t instance);
LYX_DRV_API intptr_t CREATECALLBACKWINDOW(const int32_t *threadId);
/* The waiting frame (the caller frees it with SysFreeString), NULL when none. */
LYX_DRV_API LyxBStr GETNEXTPACKET(void);
LYX_DRV_API int32_t ANYINQUEUE(void);
LYX_DRV_API void CLRBUFFERS(void);

/* Links. OPENPORT: 0 opened, -1 settings refused (port closed again), -2 the
 * port cannot be opened. CLOSEPORT: 0 closed, -2 closing failed. */
LYX_DRV_API int32_t OPENPORT(int16_t port, int32_t baudRate);
LYX_DRV_API int32_t OPENUSB(void);
LYX_DRV_API void ENUMUSB(void);
LYX_DRV_API int32_t CLOSEPORT(void);

/* Transmission and identity. */
LYX_DRV_API int32_t WRITEPACKET(uint8_t address, const uint8_t *payload, int32_t length);
LYX_DRV_API void SENDBROADCAST(uint8_t address, const uint8_t *bytes, int32_t length);
LYX_DRV_API float VERSION(void);
LYX_DRV_API float READREVISION(uint8_t slot);

#ifdef __cplusplus
}
#endif

#endif /* LYX_DRV_H */
