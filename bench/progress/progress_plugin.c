/* The benchmark's worker: a plug-in whose call does STEPS steps of a little arithmetic,
 * reporting its progress after every step or not at all, and writes the time its loop
 * took (milliseconds) to FILE. Parameter 1: "STEPS report FILE" or "STEPS quiet FILE". */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kem_plugin.h"

static volatile unsigned sink;

/* About as much work per step as a copy loop does between two reports of a small block. */
static unsigned step_work(unsigned x) {
  for (int i = 0; i < 200; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
  }
  return x;
}

int KEM_PLUGIN_CALL RunTimeExecute(void *window, const char *variables, const char *parameter,
                                   kem_progress_fn progress, int *slot, char *buffer) {
  (void)window, (void)slot;
  if (buffer) return kem_result_copy(buffer);
  long steps = 0;
  char mode[16] = {0}, file[MAX_PATH] = {0};
  if (sscanf(parameter, "%ld %15s %259[^\n]", &steps, mode, file) != 3) return -1;
  const int report = strcmp(mode, "report") == 0;
  LARGE_INTEGER f, t0, t1;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&t0);
  unsigned x = 2463534242u;
  for (long i = 0; i < steps; ++i) {
    x = step_work(x);
    if (report && !progress((int)(i * 100 / steps), "Working")) break;
  }
  sink = x;
  QueryPerformanceCounter(&t1);
  FILE *out = fopen(file, "wb");
  if (out) {
    fprintf(out, "%.1f\n", 1000.0 * (double)(t1.QuadPart - t0.QuadPart) / (double)f.QuadPart);
    fclose(out);
  }
  kem_vars vars;
  if (kem_vars_parse(&vars, variables) != 0) return -1;
  char *result = kem_vars_format(&vars);
  kem_vars_free(&vars);
  return kem_result_keep(result);
}
