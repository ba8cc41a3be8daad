/*
 * DigestStatus.h
 *
 * Description:
 *   The status codes the digest calculators return. They are the same
 *   for all three calculators, so they are defined once, here; each
 *   calculator's header includes this one, and the names each
 *   calculator's documentation uses stand for these values.
 */
#ifndef ZELKO_DIGESTSTATUS_H
#define ZELKO_DIGESTSTATUS_H

/* The call did what was asked. */
#define DIGESTCALC_SUCCESS 0

/* The total input would reach 2^61 bytes, whose count in bits no longer
   fits the 64-bit length field of the padding, or a length was negative.
   The call has left the record as it was. */
#define DIGESTCALC_TOO_LONG 10

/* The same code under the name of each calculator. */
#define MD5CALC_TOO_LONG DIGESTCALC_TOO_LONG
#define SHA1CALC_TOO_LONG DIGESTCALC_TOO_LONG
#define SHA256CALC_TOO_LONG DIGESTCALC_TOO_LONG

#endif /* ZELKO_DIGESTSTATUS_H */
