/* iconv for the Windows build of poppler's C++ front end, which converts only between UTF-8 and
 * UTF-16 (ustring::from_utf8, ustring::to_utf8). mingw has no iconv; this covers exactly those
 * conversions with the POSIX contract: input and output advanced over whole characters, E2BIG when
 * the output is full, EILSEQ for an invalid sequence, EINVAL for one cut off at the end of the input.
 * Names: UTF-8, UTF-16LE, UTF-16BE (letter case, '-' and '_' ignored). */
#ifndef ORVANE_ICONV_H
#define ORVANE_ICONV_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct orvane_iconv* iconv_t;

iconv_t iconv_open(const char* tocode, const char* fromcode);
size_t iconv(iconv_t cd, char** inbuf, size_t* inbytesleft, char** outbuf, size_t* outbytesleft);
int iconv_close(iconv_t cd);

#ifdef __cplusplus
}
#endif

#endif
