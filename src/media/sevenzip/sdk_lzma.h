/* LZMA and LZMA2 decoding over the LZMA SDK's C decoder, behind a small C interface. */
#ifndef KEM_SEVENZIP_SDK_LZMA_H
#define KEM_SEVENZIP_SDK_LZMA_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { KEM_SDK_OK = 0, KEM_SDK_DATA_ERROR = 1, KEM_SDK_BAD_PROPS = 2, KEM_SDK_LIMIT = 3, KEM_SDK_END = 4 };

typedef struct KemSdkDecoder KemSdkDecoder;

/* lzma2: 1 for LZMA2 (one property byte), 0 for LZMA (five). The dictionary is cut to the
   output size; a larger one than maxDictionary fails with KEM_SDK_LIMIT. */
int kem_sdk_create(KemSdkDecoder** decoder, int lzma2, const unsigned char* props, size_t propsSize,
                   unsigned long long outSize, unsigned long long maxDictionary);
/* Decodes from in (*inSize available; on return, used) into out (*outSize room; on return,
   produced). KEM_SDK_END: the stream's end mark was reached. */
int kem_sdk_decode(KemSdkDecoder* decoder, const unsigned char* in, size_t* inSize, unsigned char* out,
                   size_t* outSize);
void kem_sdk_destroy(KemSdkDecoder* decoder);

#ifdef __cplusplus
}
#endif

#endif
