/* The least time a reader of a compressed container can spend: decoding its
 * blocks and nothing else. Reads a pack written by container_speed.sh:
 * records of [u8 kind][u32 stored size][u32 decoded size][stored bytes],
 * kind 0 a plain EWF chunk (its Adler-32 checked), 1 a compressed EWF chunk
 * (a zlib stream, Adler-32 checked, as libewf does), 2 a stream-optimized
 * VMware grain (zlib header skipped, deflate data inflated raw, as rook
 * does). Prints the best of ROUNDS for zlib and, when built with
 * -DHAVE_LIBDEFLATE, for libdeflate.
 *
 *   cc -O2 inflate_only.c -lz [-DHAVE_LIBDEFLATE -ldeflate] -o inflate_only
 *   inflate_only PACK ROUNDS
 */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <zlib.h>
#ifdef HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

struct block {
  int kind;
  uint32_t stored, decoded;
  const unsigned char* bytes;
};

static double now(void) {
  struct timespec t;
  /* Processor time: what decoding costs, however busy the machine is. */
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

static uint32_t u32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }

static int with_zlib(const struct block* b, unsigned char* out) {
  if (b->kind == 0) return adler32(1, b->bytes, b->stored) != 0;
  if (b->kind == 1) {
    uLongf size = b->decoded;
    return uncompress(out, &size, b->bytes, b->stored) == Z_OK;
  }
  z_stream s;
  memset(&s, 0, sizeof s);
  if (inflateInit2(&s, -15) != Z_OK) return 0;
  s.next_in = (Bytef*)b->bytes + 2;
  s.avail_in = b->stored - 2;
  s.next_out = out;
  s.avail_out = b->decoded;
  int r = inflate(&s, Z_FINISH);
  inflateEnd(&s);
  return r == Z_STREAM_END;
}

#ifdef HAVE_LIBDEFLATE
static int with_libdeflate(struct libdeflate_decompressor* d, const struct block* b, unsigned char* out) {
  size_t n = 0;
  if (b->kind == 0) return libdeflate_adler32(1, b->bytes, b->stored) != 0;
  if (b->kind == 1) return libdeflate_zlib_decompress(d, b->bytes, b->stored, out, b->decoded, &n) == 0;
  return libdeflate_deflate_decompress(d, b->bytes + 2, b->stored - 2, out, b->decoded, &n) == 0;
}
#endif

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  FILE* f = fopen(argv[1], "rb");
  if (!f) return 1;
  fseek(f, 0, SEEK_END);
  long size = ftell(f);
  fseek(f, 0, SEEK_SET);
  unsigned char* pack = malloc(size > 0 ? size : 1);
  if (fread(pack, 1, size, f) != (size_t)size) return 1;
  fclose(f);
  size_t count = 0, capacity = 1024;
  struct block* blocks = malloc(capacity * sizeof *blocks);
  uint32_t largest = 0;
  for (long at = 0; at + 9 <= size;) {
    if (count == capacity) blocks = realloc(blocks, (capacity *= 2) * sizeof *blocks);
    struct block* b = &blocks[count++];
    b->kind = pack[at];
    b->stored = u32(pack + at + 1);
    b->decoded = u32(pack + at + 5);
    b->bytes = pack + at + 9;
    if (b->decoded > largest) largest = b->decoded;
    at += 9 + b->stored;
  }
  unsigned char* out = malloc(largest + 1);
  int rounds = atoi(argv[2]);
  double best = 1e9;
  for (int r = 0; r < rounds; ++r) {
    double start = now();
    for (size_t i = 0; i < count; ++i)
      if (!with_zlib(&blocks[i], out)) fprintf(stderr, "zlib: block %zu did not decode\n", i);
    if (now() - start < best) best = now() - start;
  }
  printf("zlib %.3f\n", best);
#ifdef HAVE_LIBDEFLATE
  struct libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  best = 1e9;
  for (int r = 0; r < rounds; ++r) {
    double start = now();
    for (size_t i = 0; i < count; ++i)
      if (!with_libdeflate(d, &blocks[i], out)) fprintf(stderr, "libdeflate: block %zu did not decode\n", i);
    if (now() - start < best) best = now() - start;
  }
  printf("libdeflate %.3f\n", best);
#endif
  printf("blocks %zu\n", count);
  return 0;
}
