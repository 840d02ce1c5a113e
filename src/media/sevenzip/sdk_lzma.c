/* LZMA and LZMA2 decoding over the LZMA SDK's C decoder. Preferred: the current decoder,
   built from Debian's 7zip sources into a small library by scripts/build-lzma-decoder.sh
   (KEM_LZMA_SDK_LIBRARY); otherwise the older one that Debian's lzma-dev installs as a source
   file, compiled in here. The LZMA2 chunk layer is ours in both cases. */
#include "media/sevenzip/sdk_lzma.h"

#include <stdlib.h>
#include <string.h>

#ifdef KEM_LZMA_SDK_LIBRARY
#include <LzmaDec.h>
/* Exported by the decoder for its LZMA2 layer, but not declared in its header. */
void LzmaDec_InitDicAndState(CLzmaDec* p, BoolInt initDic, BoolInt initState);
typedef BoolInt KemBool;
typedef ISzAllocPtr KemAllocSelf;
#else
/* The older SDK's type header pulls in the Windows header on Windows; the decoder needs
   nothing from it, so it is compiled as plain C everywhere. */
#pragma push_macro("_WIN32")
#undef _WIN32
#define _7ZIP_ST
#include <LzmaDec.c>
#pragma pop_macro("_WIN32")
typedef Bool KemBool;
typedef void* KemAllocSelf;
#endif

static void* SdkAlloc(KemAllocSelf p, size_t size) {
  (void)p;
  return size ? malloc(size) : NULL;
}
static void SdkFree(KemAllocSelf p, void* address) {
  (void)p;
  free(address);
}
static ISzAlloc g_alloc = {SdkAlloc, SdkFree};

enum { kControl, kUnpack1, kUnpack2, kPack1, kPack2, kProps, kLzmaData, kCopyData, kFinished };

struct KemSdkDecoder {
  CLzmaDec dec;
  int lzma2;
  int state;
  unsigned control;
  UInt32 unpackLeft;
  UInt32 packLeft;
  int needDictReset;
  int needProps;
  int needState;
};

static UInt32 Lzma2DictSize(unsigned p) {
  if (p >= 40) return 0xFFFFFFFFu;
  return (UInt32)(2 | (p & 1)) << (p / 2 + 11);
}

int kem_sdk_create(KemSdkDecoder** out, int lzma2, const unsigned char* props, size_t propsSize,
                   unsigned long long outSize, unsigned long long maxDictionary) {
  Byte p[LZMA_PROPS_SIZE];
  UInt32 dict;
  unsigned long long need = outSize < 4096 ? 4096 : outSize;
  KemSdkDecoder* d;
  *out = NULL;
  if (lzma2) {
    if (propsSize != 1 || props[0] > 40) return KEM_SDK_BAD_PROPS;
    dict = Lzma2DictSize(props[0]);
    p[0] = 4; /* lc + lp never exceed 4 in LZMA2: room for every chunk's literal tables */
  } else {
    if (propsSize != LZMA_PROPS_SIZE || props[0] >= 9 * 5 * 5) return KEM_SDK_BAD_PROPS;
    dict = props[1] | ((UInt32)props[2] << 8) | ((UInt32)props[3] << 16) | ((UInt32)props[4] << 24);
    p[0] = props[0];
  }
  /* The dictionary never needs to exceed the data it decodes. */
  if (dict > need) dict = (UInt32)need;
  if (dict > maxDictionary) return KEM_SDK_LIMIT;
  p[1] = (Byte)dict;
  p[2] = (Byte)(dict >> 8);
  p[3] = (Byte)(dict >> 16);
  p[4] = (Byte)(dict >> 24);
  d = (KemSdkDecoder*)calloc(1, sizeof *d);
  if (!d) return KEM_SDK_LIMIT;
  LzmaDec_Construct(&d->dec);
  if (LzmaDec_Allocate(&d->dec, p, LZMA_PROPS_SIZE, &g_alloc) != SZ_OK) {
    free(d);
    return KEM_SDK_LIMIT;
  }
  d->lzma2 = lzma2;
  d->state = kControl;
  d->needDictReset = 1;
  d->needProps = 1;
  d->needState = 1;
  if (!lzma2) LzmaDec_Init(&d->dec);
  *out = d;
  return KEM_SDK_OK;
}

void kem_sdk_destroy(KemSdkDecoder* d) {
  if (!d) return;
  LzmaDec_Free(&d->dec, &g_alloc);
  free(d);
}

/* Reads the chunk header bytes; returns an error code or OK. */
static int Lzma2Header(KemSdkDecoder* d, Byte b) {
  switch (d->state) {
    case kControl:
      d->control = b;
      if (b == 0) {
        d->state = kFinished;
        return KEM_SDK_OK;
      }
      if (b == 1 || b == 2) {
        if (b == 2 && d->needDictReset) return KEM_SDK_DATA_ERROR;
      } else if (b < 0x80) {
        return KEM_SDK_DATA_ERROR;
      }
      d->unpackLeft = b >= 0x80 ? (UInt32)(b & 0x1F) << 16 : 0;
      d->state = kUnpack1;
      return KEM_SDK_OK;
    case kUnpack1:
      d->unpackLeft |= (UInt32)b << 8;
      d->state = kUnpack2;
      return KEM_SDK_OK;
    case kUnpack2:
      d->unpackLeft |= b;
      d->unpackLeft += 1;
      if (d->control < 0x80) {
        int reset = d->control == 1;
        if (reset) {
          d->needProps = 1;
          d->needState = 1;
        }
        d->needDictReset = 0;
        LzmaDec_InitDicAndState(&d->dec, (KemBool)reset, False);
        d->state = kCopyData;
      } else {
        d->state = kPack1;
      }
      return KEM_SDK_OK;
    case kPack1:
      d->packLeft = (UInt32)b << 8;
      d->state = kPack2;
      return KEM_SDK_OK;
    case kPack2: {
      unsigned mode = (d->control >> 5) & 3;
      d->packLeft |= b;
      d->packLeft += 1;
      if (mode >= 2) {
        d->state = kProps;
        return KEM_SDK_OK;
      }
      if (d->needProps) return KEM_SDK_DATA_ERROR;
      break;
    }
    case kProps: {
      unsigned lc, lp;
      if (b >= 9 * 5 * 5) return KEM_SDK_DATA_ERROR;
      lc = b % 9;
      b /= 9;
      lp = b % 5;
      if (lc + lp > 4) return KEM_SDK_DATA_ERROR;
      d->dec.prop.lc = lc;
      d->dec.prop.lp = lp;
      d->dec.prop.pb = b / 5;
      d->needProps = 0;
      break;
    }
    default:
      return KEM_SDK_DATA_ERROR;
  }
  /* Start of an LZMA chunk. */
  {
    unsigned mode = (d->control >> 5) & 3;
    KemBool initDic = mode == 3;
    KemBool initState = mode > 0;
    if ((!initDic && d->needDictReset) || (!initState && d->needState)) return KEM_SDK_DATA_ERROR;
    LzmaDec_InitDicAndState(&d->dec, initDic, initState);
    d->needDictReset = 0;
    d->needState = 0;
    d->state = kLzmaData;
  }
  return KEM_SDK_OK;
}

static int DecodeLzma1(KemSdkDecoder* d, const unsigned char* in, size_t* inSize, unsigned char* out,
                       size_t* outSize) {
  SizeT inLen = *inSize, outLen = *outSize;
  ELzmaStatus status;
  SRes r = LzmaDec_DecodeToBuf(&d->dec, out, &outLen, in, &inLen, LZMA_FINISH_ANY, &status);
  *inSize = inLen;
  *outSize = outLen;
  if (r != SZ_OK) return KEM_SDK_DATA_ERROR;
  if (status == LZMA_STATUS_FINISHED_WITH_MARK) return KEM_SDK_END;
  return KEM_SDK_OK;
}

int kem_sdk_decode(KemSdkDecoder* d, const unsigned char* in, size_t* inSize, unsigned char* out, size_t* outSize) {
  size_t inPos = 0, outPos = 0;
  if (!d->lzma2) return DecodeLzma1(d, in, inSize, out, outSize);
  while (outPos < *outSize) {
    if (d->state == kFinished) {
      *inSize = inPos;
      *outSize = outPos;
      return KEM_SDK_END;
    }
    if (d->state != kLzmaData && d->state != kCopyData) {
      int r;
      if (inPos == *inSize) break;
      r = Lzma2Header(d, in[inPos++]);
      if (r != KEM_SDK_OK) return r;
      continue;
    }
    if (d->dec.dicPos == d->dec.dicBufSize) d->dec.dicPos = 0;
    {
      SizeT dicPos = d->dec.dicPos;
      SizeT room = d->dec.dicBufSize - dicPos;
      SizeT outCur = *outSize - outPos;
      if (outCur > room) outCur = room;
      if (outCur > d->unpackLeft) outCur = d->unpackLeft;
      if (d->state == kCopyData) {
        SizeT n = *inSize - inPos;
        if (n > outCur) n = outCur;
        if (n == 0) break;
        memcpy(d->dec.dic + dicPos, in + inPos, n);
        d->dec.dicPos += n;
        if (d->dec.checkDicSize == 0 && d->dec.prop.dicSize - d->dec.processedPos <= n)
          d->dec.checkDicSize = d->dec.prop.dicSize;
        d->dec.processedPos += (UInt32)n;
        memcpy(out + outPos, in + inPos, n);
        inPos += n;
        outPos += n;
        d->unpackLeft -= (UInt32)n;
        if (d->unpackLeft == 0) d->state = kControl;
      } else {
        SizeT inCur = *inSize - inPos;
        ELzmaStatus status;
        SRes r;
        SizeT produced;
        if (inCur > d->packLeft) inCur = d->packLeft;
        r = LzmaDec_DecodeToDic(&d->dec, dicPos + outCur, in + inPos, &inCur,
                                outCur >= d->unpackLeft ? LZMA_FINISH_END : LZMA_FINISH_ANY, &status);
        if (r != SZ_OK) return KEM_SDK_DATA_ERROR;
        produced = d->dec.dicPos - dicPos;
        memcpy(out + outPos, d->dec.dic + dicPos, produced);
        inPos += inCur;
        outPos += produced;
        d->packLeft -= (UInt32)inCur;
        d->unpackLeft -= (UInt32)produced;
        if (d->unpackLeft == 0) {
          if (d->packLeft != 0) return KEM_SDK_DATA_ERROR;
          d->state = kControl;
        } else if (inCur == 0 && produced == 0) {
          if (d->packLeft == 0 || status == LZMA_STATUS_FINISHED_WITH_MARK) return KEM_SDK_DATA_ERROR;
          break; /* needs more input */
        }
      }
    }
  }
  *inSize = inPos;
  *outSize = outPos;
  return KEM_SDK_OK;
}
