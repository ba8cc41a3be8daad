/*
 * SizeDef.h
 *
 * Description:
 *   Integer types shared by the digest calculators. The widths are
 *   fixed so that a state record has the same layout on every target;
 *   SZ_T follows the platform's long, which is what callers pass as a
 *   length.
 */
#ifndef ZELKO_SIZEDEF_H
#define ZELKO_SIZEDEF_H

#include <stdint.h>

typedef int8_t SZ_CHAR;   /* one byte of input or digest */
typedef int32_t SZ_INT;   /* one 32-bit word of state */
typedef long SZ_T;        /* lengths and return codes */

#endif /* ZELKO_SIZEDEF_H */
