/*
 * Sha1Calc.h
 *
 * Description:
 *   Incremental SHA-1 (FIPS 180-4) over a caller-owned state record.
 *   There is no final step: after every Sha1Calc_calculate call the
 *   record's Value holds the digest of all input absorbed so far, and
 *   the record can keep absorbing.
 */
#ifndef ZELKO_SHA1CALC_H
#define ZELKO_SHA1CALC_H

#include "DigestStatus.h" /* SHA1CALC_TOO_LONG */
#include "SizeDef.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _Sha1Calc {
    SZ_CHAR Value[20];    /* digest of the input so far, standard byte order */
    SZ_INT DwordBufBytes; /* bytes (0..63) in the unfinished block */
    SZ_INT ByteNumLo;     /* bytes absorbed, low 32 bits */
    SZ_INT ByteNumHi;     /* bytes absorbed, high 32 bits */
    SZ_INT reg[6];        /* chaining value after the last complete block; 5 used */
    SZ_INT DwordBuf[16];  /* unfinished block, big-endian words, zero-filled */
    SZ_INT Padding[16];   /* working block */
} Sha1Calc;

SZ_T Sha1Calc_init(Sha1Calc *t);
SZ_T Sha1Calc_reset(Sha1Calc *t);
SZ_T Sha1Calc_uninit(Sha1Calc *t);
SZ_T Sha1Calc_calculate(Sha1Calc *t, SZ_CHAR *dp, SZ_T dl);
SZ_T Sha1Calc_calcBlock(SZ_INT *dp, SZ_INT *rp);

#ifdef __cplusplus
}
#endif

#endif /* ZELKO_SHA1CALC_H */
