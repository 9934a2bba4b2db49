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
 * No frame is lost to a command or to a thread that is slow to dispatch or
 * poll: frames that arrive while a command waits for its reply (or pairs), while
 * the opening thread does not dispatch, or before GETNEXTPACKET fetches them are
 * held, in order, and handed over as soon as the command has returned (a reply
 * that a command waits for is taken by that command and not handed over). What
 * is held is bounded to 16 MiB (more than 80 s of three full-speed USB base
 * stations); beyond it the oldest frames are dropped and counted. CLRBUFFERS
 * empties the held frames as well as the receive ring.
 *
 * A frame is the complete link frame as received: length, length copy,
 * base-station number, payload (byte 0 the packet type, low five bits the type
 * code), CRC low, CRC high.
 *
 * Threads: the exports may be called from any thread. The command exports
 * (BIND, READMODULE, ...) wait for their reply and must be issued one at a time;
 * they answer 99 when called from inside the callback. WRITEPACKET,
 * SENDBROADCAST, GETNEXTPACKET, ANYINQUEUE and LyxDrvGetLinkStatistics may be
 * called from inside the callback.
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

/* Pairing: BIND waits up to duration + 0.3 s (duration 0 means 2 s) and
 * returns 0 paired (ID and data tag written), 1 nothing paired, 99 busy.
 * BINDASYNC starts a bind and returns at once; BINDASYNCPOLL answers 99 while
 * it is pending, 0 when paired, 1 once timed out. */
LYX_DRV_API int32_t BIND(uint8_t baseStation, uint8_t useRemoteSettings, int32_t mode,
                         uint8_t duration, int32_t *id, int32_t *dataTag);
LYX_DRV_API int32_t BINDASYNC(uint8_t baseStation, uint8_t useRemoteSettings, uint8_t mode,
                              uint8_t duration);
LYX_DRV_API int32_t BINDASYNCPOLL(int32_t *id, int32_t *dataTag);

/* Parameters of the base station itself and of remote devices. Results:
 * 0 done (reads fill the buffer and the length), 1 no reply from the base
 * station, 2 the device did not answer, 3 refused, 4 value refused (writes),
 * 99 busy. Buffers must hold 99 bytes (base station) or 94 bytes (remote).
 * The remote exports also give signal strength (dBm), link quality (0-127)
 * and the reply's status flags (0-7). */
LYX_DRV_API int32_t READMODULE(uint8_t baseStation, uint8_t parameter, uint8_t *buffer,
                               int32_t *length);
LYX_DRV_API int32_t WRITEMODULE(uint8_t baseStation, uint8_t parameter, const uint8_t *data,
                                int32_t length);
LYX_DRV_API int32_t READREMOTEMODULE(uint8_t baseStation, int32_t id, uint8_t parameter,
                                     uint8_t *buffer, int32_t *length, int16_t *rssi,
                                     int16_t *linkQuality, int16_t *statusFlags);
LYX_DRV_API int32_t WRITEREMOTEMODULE(uint8_t baseStation, int32_t id, uint8_t parameter,
                                      const uint8_t *data, int32_t length, int16_t *rssi,
                                      int16_t *linkQuality, int16_t *statusFlags);
LYX_DRV_API int32_t READREMOTE(uint8_t baseStation, int32_t id, uint8_t parameter, uint8_t *buffer,
                               int32_t *length, int16_t *rssi, int16_t *linkQuality,
                               int16_t *statusFlags);
LYX_DRV_API int32_t WRITEREMOTE(uint8_t baseStation, int32_t id, uint8_t parameter,
                                const uint8_t *data, int32_t length, int16_t *rssi,
                                int16_t *linkQuality, int16_t *statusFlags);

/* ---- Extensions of this implementation (not among the designed exports) ---- */

/* The link's counters since this copy of the library was loaded, and the base
 * stations on the link now. Set `size` to sizeof(LyxDrvLinkStatistics) before the
 * call; a smaller size (from an older header) gets only the fields it has room
 * for. Fields added later go at the end. */
typedef struct LyxDrvLinkStatistics {
    uint32_t size;            /* in: the size of the caller's structure */
    uint32_t stations;        /* bit n set: base station n is on the link (a USB slot
                                 holding a working device; bit 1 for a serial port
                                 that is open and not hung up) */
    uint64_t framesDelivered; /* handed to the callback or returned by GETNEXTPACKET */
    uint64_t framesHeld;      /* taken from the link, not yet handed over */
    uint64_t framesHeldMax;   /* the most frames held at once */
    uint64_t framesDropped;   /* held frames dropped because the bound was reached */
    uint64_t bytesDropped;    /* received bytes dropped because the receive ring was full */
    uint64_t bytesDiscarded;  /* received bytes that were not part of a good frame (the
                                 zero fill of USB reports aside) */
    uint64_t heldLimitBytes;  /* the bound of the held frames, in bytes */
} LyxDrvLinkStatistics;

/* 0 done; -1 when `statistics` is NULL or its size is smaller than 8. */
LYX_DRV_API int32_t LyxDrvGetLinkStatistics(LyxDrvLinkStatistics *statistics);

#ifdef __cplusplus
}
#endif

#endif /* LYX_DRV_H */
