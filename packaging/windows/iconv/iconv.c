/* UTF-8 <-> UTF-16 conversions behind the iconv interface (see iconv.h). Stateless: no byte order
 * mark is read or written, the byte order is the one the name gives. */
#include "iconv.h"

#include <ctype.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

enum encoding { UTF8, UTF16LE, UTF16BE, UNKNOWN };

struct orvane_iconv {
  enum encoding from, to;
};

static enum encoding encoding_named(const char* name) {
  char plain[16];
  size_t n = 0;
  for (; *name && n + 1 < sizeof plain; ++name)
    if (*name != '-' && *name != '_') plain[n++] = (char)toupper((unsigned char)*name);
  plain[n] = '\0';
  if (*name) return UNKNOWN;
  if (strcmp(plain, "UTF8") == 0) return UTF8;
  if (strcmp(plain, "UTF16LE") == 0) return UTF16LE;
  if (strcmp(plain, "UTF16BE") == 0) return UTF16BE;
  return UNKNOWN;
}

iconv_t iconv_open(const char* tocode, const char* fromcode) {
  enum encoding to = encoding_named(tocode), from = encoding_named(fromcode);
  iconv_t cd;
  if (to == UNKNOWN || from == UNKNOWN) {
    errno = EINVAL;
    return (iconv_t)-1;
  }
  cd = (iconv_t)malloc(sizeof *cd);
  if (!cd) {
    errno = ENOMEM;
    return (iconv_t)-1;
  }
  cd->from = from;
  cd->to = to;
  return cd;
}

int iconv_close(iconv_t cd) {
  if (cd == (iconv_t)-1 || !cd) {
    errno = EBADF;
    return -1;
  }
  free(cd);
  return 0;
}

/* Reads one character; returns the bytes it took, or 0 with errno set (EILSEQ, EINVAL). */
static size_t decode_utf8(const unsigned char* in, size_t left, unsigned long* code) {
  static const unsigned long least[] = {0, 0, 0x80, 0x800, 0x10000};
  size_t n, i;
  unsigned long c = in[0];
  if (c < 0x80) {
    *code = c;
    return 1;
  }
  if (c >= 0xC2 && c <= 0xDF) n = 2, c &= 0x1F;
  else if (c >= 0xE0 && c <= 0xEF) n = 3, c &= 0x0F;
  else if (c >= 0xF0 && c <= 0xF4) n = 4, c &= 0x07;
  else {
    errno = EILSEQ;
    return 0;
  }
  for (i = 1; i < n; ++i) {
    if (i >= left) {
      errno = EINVAL;
      return 0;
    }
    if ((in[i] & 0xC0) != 0x80) {
      errno = EILSEQ;
      return 0;
    }
    c = (c << 6) | (in[i] & 0x3F);
  }
  if (c < least[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
    errno = EILSEQ;
    return 0;
  }
  *code = c;
  return n;
}

static unsigned unit16(const unsigned char* in, int little) {
  return little ? (unsigned)(in[0] | in[1] << 8) : (unsigned)(in[0] << 8 | in[1]);
}

static size_t decode_utf16(const unsigned char* in, size_t left, int little, unsigned long* code) {
  unsigned high, low;
  if (left < 2) {
    errno = EINVAL;
    return 0;
  }
  high = unit16(in, little);
  if (high < 0xD800 || high > 0xDFFF) {
    *code = high;
    return 2;
  }
  if (high >= 0xDC00) {
    errno = EILSEQ;
    return 0;
  }
  if (left < 4) {
    errno = EINVAL;
    return 0;
  }
  low = unit16(in + 2, little);
  if (low < 0xDC00 || low > 0xDFFF) {
    errno = EILSEQ;
    return 0;
  }
  *code = 0x10000 + (((unsigned long)(high - 0xD800) << 10) | (low - 0xDC00));
  return 4;
}

static size_t encode_utf8(unsigned long c, unsigned char* out) {
  if (c < 0x80) {
    out[0] = (unsigned char)c;
    return 1;
  }
  if (c < 0x800) {
    out[0] = (unsigned char)(0xC0 | c >> 6);
    out[1] = (unsigned char)(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = (unsigned char)(0xE0 | c >> 12);
    out[1] = (unsigned char)(0x80 | ((c >> 6) & 0x3F));
    out[2] = (unsigned char)(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = (unsigned char)(0xF0 | c >> 18);
  out[1] = (unsigned char)(0x80 | ((c >> 12) & 0x3F));
  out[2] = (unsigned char)(0x80 | ((c >> 6) & 0x3F));
  out[3] = (unsigned char)(0x80 | (c & 0x3F));
  return 4;
}

static void put16(unsigned u, int little, unsigned char* out) {
  out[little ? 0 : 1] = (unsigned char)(u & 0xFF);
  out[little ? 1 : 0] = (unsigned char)(u >> 8);
}

static size_t encode_utf16(unsigned long c, int little, unsigned char* out) {
  if (c < 0x10000) {
    put16((unsigned)c, little, out);
    return 2;
  }
  c -= 0x10000;
  put16((unsigned)(0xD800 + (c >> 10)), little, out);
  put16((unsigned)(0xDC00 + (c & 0x3FF)), little, out + 2);
  return 4;
}

size_t iconv(iconv_t cd, char** inbuf, size_t* inbytesleft, char** outbuf, size_t* outbytesleft) {
  if (cd == (iconv_t)-1 || !cd) {
    errno = EBADF;
    return (size_t)-1;
  }
  /* No shift state: resetting it (no input) has nothing to do. */
  if (!inbuf || !*inbuf) return 0;
  while (*inbytesleft > 0) {
    const unsigned char* in = (const unsigned char*)*inbuf;
    unsigned char bytes[4];
    unsigned long code;
    size_t took, made;
    took = cd->from == UTF8 ? decode_utf8(in, *inbytesleft, &code)
                            : decode_utf16(in, *inbytesleft, cd->from == UTF16LE, &code);
    if (!took) return (size_t)-1;
    made = cd->to == UTF8 ? encode_utf8(code, bytes) : encode_utf16(code, cd->to == UTF16LE, bytes);
    if (made > *outbytesleft) {
      errno = E2BIG;
      return (size_t)-1;
    }
    memcpy(*outbuf, bytes, made);
    *outbuf += made;
    *outbytesleft -= made;
    *inbuf += took;
    *inbytesleft -= took;
  }
  return 0;
}
