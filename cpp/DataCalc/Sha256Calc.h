/*
 * Sha256Calc.h
 *
 * Description:
 *   Incremental SHA-256 (FIPS 180-4) over a caller-owned state record.
 *   There is no final step: after every Sha256Calc_calculate call the
 *   record's Value holds the digest of all input absorbed so far, and
 *   the record can keep absorbing.
 */
#ifndef ZELKO_SHA256CALC_H
#define ZELKO_SHA256CALC_H

#include "DigestStatus.h" /* SHA256CALC_TOO_LONG */
#include "SizeDef.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _Sha256Calc {
    SZ_CHAR Value[32];    /* digest of the input so far, standard byte order */
    SZ_INT DwordBufBytes; /* bytes (0..63) in the unfinished block */
    SZ_INT ByteNumLo;     /* bytes absorbed, low 32 bits */
    SZ_INT ByteNumHi;     /* bytes absorbed, high 32 bits */
    SZ_INT reg[8];        /* chaining value after the last complete block */
    SZ_INT DwordBuf[16];  /* unfinished block, big-endian words, zero-filled */
    SZ_INT Padding[64];   /* working block; words 16..63 take the schedule */
} Sha256Calc;

SZ_T Sha256Calc_init(Sha256Calc *t);
SZ_T Sha256Calc_reset(Sha256Calc *t);
SZ_T Sha256Calc_uninit(Sha256Calc *t);
SZ_T Sha256Calc_calculate(Sha256Calc *t, SZ_CHAR *dp, SZ_T dl);
SZ_T Sha256Calc_calcBlock(SZ_INT *dp, SZ_INT *rp);

#ifdef __cplusplus
}
#endif

#endif /* ZELKO_SHA256CALC_H */
