/*
 * Md5Calc.h
 *
 * Description:
 *   Incremental MD5 (RFC 1321) over a caller-owned state record.
 *   There is no final step: after every Md5Calc_calculate call the
 *   record's Value holds the digest of all input absorbed so far, and
 *   the record can keep absorbing.
 */
#ifndef ZELKO_MD5CALC_H
#define ZELKO_MD5CALC_H

#include "DigestStatus.h" /* MD5CALC_TOO_LONG */
#include "SizeDef.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _Md5Calc {
    SZ_CHAR Value[16];    /* digest of the input so far, standard byte order */
    SZ_INT DwordBufBytes; /* bytes (0..63) in the unfinished block */
    SZ_INT ByteNumLo;     /* bytes absorbed, low 32 bits */
    SZ_INT ByteNumHi;     /* bytes absorbed, high 32 bits */
    SZ_INT reg[4];        /* chaining value after the last complete block */
    SZ_INT DwordBuf[16];  /* unfinished block, little-endian words, zero-filled */
    SZ_INT Padding[16];   /* working block */
} Md5Calc;

SZ_T Md5Calc_init(Md5Calc *t);
SZ_T Md5Calc_reset(Md5Calc *t);
SZ_T Md5Calc_uninit(Md5Calc *t);
SZ_T Md5Calc_calculate(Md5Calc *t, SZ_CHAR *dp, SZ_T dl);
SZ_T Md5Calc_calcBlock(SZ_INT *dp, SZ_INT *rp);

#ifdef __cplusplus
}
#endif

#endif /* ZELKO_MD5CALC_H */
