/* The contract between the archive component and the unzip library KyUnzip179: the extract
 * request, the callback record, the action codes and the library's message codes.
 *
 * Both records keep the field order of the 32-bit layout the component was designed around.
 * Fields that hold an address (window handle, caller, callback, strings, buffers) are
 * pointer-sized, every other field is 32 bits, so on a 32-bit build the offsets are exactly
 * 0, 4, 8, ... 148 (checked below) and on a 64-bit build each pointer field takes 8 bytes at
 * its natural alignment. Nothing else about the layout is promised; both sides compile this
 * header, so they always agree.
 *
 * Exceptions never cross this interface: every export catches its own. */
#ifndef ZIPLIB_ZAREQUEST_H
#define ZIPLIB_ZAREQUEST_H

#include <stddef.h>
#include <stdint.h>

#include "platform/dllexport.h"

#define ZA_CALL ZV_DLL_CALL
#define ZA_EXPORT ZV_DLL_EXPORT

#ifdef __cplusplus
extern "C" {
#endif

/* Oldest and newest interface versions the component accepts from ZA_Version. */
enum { ZA_VERSION_MIN = 179, ZA_VERSION_MAX = 300, ZA_INTERFACE_VERSION = 179 };

/* Size of the library's answer buffer: 512 characters and a terminating zero. */
enum { ZA_ANSWER_SIZE = 513 };

struct ZCallBackStruct;
typedef int32_t(ZA_CALL *ZFunctionPtrType)(void *caller, struct ZCallBackStruct *info);

/* One file pattern: the text, the rest zero (32 bytes on a 32-bit build). */
typedef struct UnzFileSpec {
  const char *FileSpec;
  int32_t Reserved[7];
} UnzFileSpec;

typedef struct UnzipRequest {
  intptr_t Handle;           /*   0 window for the library's own windows, 0 when unattended */
  void *Caller;              /*   4 handed back as the callback's first argument */
  int32_t Version;           /*   8 minimum interface version, 179 */
  ZFunctionPtrType Callback; /*  12 */
  int32_t fTraceEnabled;     /*  16 */
  int32_t CodePage;          /*  20 0 auto, 1 none, 2 OEM */
  int32_t Unused24;          /*  24 */
  const char *PWord;         /*  28 never null; "" when there is no password */
  int32_t fTest;             /*  32 test only, write nothing */
  int32_t Unused36;          /*  36 */
  int32_t Unused40;          /*  40 */
  int32_t Flag44;            /*  44 sent as 1 */
  int32_t fVerbose;          /*  48 */
  int32_t fUpdate;           /*  52 */
  int32_t fFreshen;          /*  56 */
  int32_t fDirectories;      /*  60 keep stored directory names */
  int32_t fOverwrite;        /*  64 overwrite existing files without asking */
  int32_t SpecCount;         /*  68 0 means every entry */
  const char *ZipFileName;   /*  72 */
  UnzFileSpec *Specs;        /*  76 SpecCount slots */
  int32_t Unused80;          /*  80 */
  int32_t fToMemory;         /*  84 output goes to OutBuf */
  void *OutBuf;              /*  88 */
  uint32_t OutSize;          /*  92 */
  int32_t fFromMemory;       /*  96 input is a raw deflate stream in InBuf */
  const void *InBuf;         /* 100 */
  uint32_t InSize;           /* 104 */
  int32_t PwdReqCount;       /* 108 1..15 */
  const char *ExtractDir;    /* 112 base directory with trailing delimiter, or null */
  int32_t Unused116[8];      /* 116..144 */
  int32_t Tail148;           /* 148 sent as 7 */
} UnzipRequest;

/* The record handed to each callback. Offset 24 is an input size for the progress actions
 * and, for the actions that take a text answer (7, 8, 12, 14, 17), the address of the
 * library's ZA_ANSWER_SIZE-byte answer buffer. */
typedef struct ZCallBackStruct {
  intptr_t Handle;        /*  0 */
  void *Caller;           /*  4 */
  int32_t IsOperationZip; /*  8 */
  int32_t ActionCode;     /* 12 in: action (low 6 bits); out: -1 yes/changed, -2 no/skip, -3 no to all */
  int32_t Arg1;           /* 16 error code, count, default answer, repeat count, length, abort value */
  const char *MsgP;       /* 20 entry name or message text */
  union {
    int64_t Size64; /* 24 in: 64-bit size */
    char *Answer;   /* 24 out: answer buffer */
  } u;
  uint32_t ItemSize; /* 32 add operations only */
  uint32_t ItemPos;  /* 36 add operations only */
  void *Data;        /* 40 further data: a name, comment, extra data or memory buffer */
  int32_t Arg2;      /* 44 expected checksum, directory index, skip reason + 1 */
  int32_t Older;     /* 48 2 when the file on disk is not older than the entry */
} ZCallBackStruct;

/* Callback actions. */
enum {
  ZA_ACT_TICK = 0,
  ZA_ACT_NEW_ITEM = 1,
  ZA_ACT_PROGRESS = 2,
  ZA_ACT_END_BATCH = 3,
  ZA_ACT_MESSAGE = 4,
  ZA_ACT_TOTAL_FILES = 5,
  ZA_ACT_TOTAL_SIZE = 6,
  ZA_ACT_NEW_NAME = 7,
  ZA_ACT_PASSWORD = 8,
  ZA_ACT_CRC_ERROR = 9,
  ZA_ACT_OVERWRITE = 10,
  ZA_ACT_SKIPPED = 11,
  ZA_ACT_FILE_COMMENT = 12,
  ZA_ACT_MEMORY_SIZE = 13,
  ZA_ACT_EXTRA_DATA = 14,
  ZA_ACT_EXTRA_ITEM = 15,
  ZA_ACT_EXTRA_PROGRESS = 16,
  ZA_ACT_EXTRACT_NAME = 17,
  ZA_ACT_ABORT_VALUE = 18,
  /* Never sent by the library: the component's own last step after a callback whose action
   * raised no progress event, in which it only checks for a stop and lets the window breathe. */
  ZA_ACT_END_REPORT = 19
};

/* Only the low bits of ActionCode name the action; the library may use the others. */
enum { ZA_ACT_MASK = 0x3F };

/* What the callback returns to the library. */
enum {
  ZA_CB_CONTINUE = 0,
  ZA_CB_CANCEL = 1, /* the caller wants the call stopped (any value but the two others) */
  /* An event handler of the caller failed; the library ends the call with
   * ZA_RES_HANDLER_EXCEPTION rather than go on with half-made answers. */
  ZA_CB_HANDLER_EXCEPTION = 10106
};

enum { ZA_ANS_YES = -1, ZA_ANS_NO = -2, ZA_ANS_NO_TO_ALL = -3 };

/* Message codes. The low byte is the error kind the component reports as its error code; the
 * bits above it carry the number of the component's message whose wording the library's text
 * follows (0 when there is none), so a caller can tell, say, a refused name from a
 * truncated entry without parsing text. */
enum {
  ZA_ERR_FORMAT = 2,   /* damaged archive: bad local header, truncated or corrupt data */
  ZA_ERR_CRC = 3,      /* checksum of the extracted data differs from the directory's */
  ZA_ERR_METHOD = 4,   /* compression method or archive feature not supported */
  ZA_ERR_NAME = 5,     /* entry name refused: absolute, drive letter or ".." component */
  ZA_ERR_WRITE = 6,    /* output file could not be created or written */
  ZA_ERR_PASSWORD = 7, /* no password, or a wrong one, for an encrypted entry */
  ZA_ERR_MEMORY = 8,
  ZA_ERR_ABORT = 9,     /* stopped by the caller */
  ZA_ERR_OPEN = 10,     /* the archive could not be opened or read */
  ZA_ERR_NO_MATCH = 11, /* a file pattern matched no entry */
  ZA_ERR_LIMIT = 12     /* the archive exceeds what one extraction may write: entries or bytes */
};
#define ZA_CODE(kind, msgid) ((int32_t)(((msgid) << 8) | (kind)))

/* Skip reasons, sent as reason + 1 at offset 44 of action 11. */
enum {
  ZA_SKIP_FRESHEN = 0,      /* freshen: no such file on disk */
  ZA_SKIP_NO_OVERWRITE = 1, /* file exists, overwrite declined */
  ZA_SKIP_NOT_NEWER = 2,    /* update/freshen: the file on disk is not older */
  ZA_SKIP_PASSWORD = 3,
  ZA_SKIP_METHOD = 4,
  ZA_SKIP_BAD_NAME = 5,
  ZA_SKIP_FORMAT = 6,
  ZA_SKIP_CRC = 7,
  ZA_SKIP_WRITE = 8
};

/* Results of ZA_UnzExec below zero. */
enum {
  ZA_RES_CANCELLED = -1,
  ZA_RES_ABORTED = -2,
  ZA_RES_HANDLER_EXCEPTION = -3,
  ZA_RES_NO_MEMORY = -4,
  ZA_RES_STRUCTURE = -5
};

typedef int32_t(ZA_CALL *ZA_UnzExecFn)(UnzipRequest *request);
typedef int32_t(ZA_CALL *ZA_ZipExecFn)(void *request);
typedef int32_t(ZA_CALL *ZA_VersionFn)(void);
typedef int32_t(ZA_CALL *ZA_PrivVersionFn)(void);
typedef int32_t(ZA_CALL *ZA_AbortFn)(int32_t abort_value);
typedef const char *(ZA_CALL *ZA_PathFn)(void);

#ifdef __cplusplus
}

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(UnzipRequest) == 152, "request layout");
static_assert(offsetof(UnzipRequest, PWord) == 28 && offsetof(UnzipRequest, ZipFileName) == 72 &&
                  offsetof(UnzipRequest, ExtractDir) == 112 && offsetof(UnzipRequest, Tail148) == 148,
              "request layout");
static_assert(sizeof(UnzFileSpec) == 32, "spec slot layout");
static_assert(offsetof(ZCallBackStruct, u) == 24 && offsetof(ZCallBackStruct, Data) == 40 &&
                  offsetof(ZCallBackStruct, Older) == 48,
              "callback layout");
#endif
#endif

#endif
