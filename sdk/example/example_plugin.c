/* The example plug-in: sets PLUGINGREETING to a greeting that names parameter 1, counts
 * PLUGINCALLS up by one, and reports progress in ten steps. Build it with build.sh. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kem_plugin.h"

int KEM_PLUGIN_CALL RunTimeExecute(void *window, const char *variables, const char *parameter,
                                         kem_progress_fn progress, int *slot, char *buffer) {
  (void)window;
  (void)slot;
  if (buffer) return kem_result_copy(buffer);

  kem_vars vars;
  if (kem_vars_parse(&vars, variables) != 0) return -1;
  for (int step = 1; step <= 10; ++step) {
    char text[64];
    snprintf(text, sizeof text, "Example plug-in: step %d of 10", step);
    if (!progress(step * 10, text)) break; /* cancelled: stop early, keep what is done */
  }
  const char *calls = kem_vars_get(&vars, "PLUGINCALLS");
  char number[16];
  snprintf(number, sizeof number, "%d", calls ? atoi(calls) + 1 : 1);
  size_t length = strlen(parameter) + 64;
  char *greeting = (char *)malloc(length);
  int failed = !greeting;
  if (!failed) {
    snprintf(greeting, length, "Hello from the example plug-in, called with %s", parameter);
    failed = kem_vars_set(&vars, "PLUGINGREETING", greeting) != 0 || kem_vars_set(&vars, "PLUGINCALLS", number) != 0;
  }
  free(greeting);
  char *result = failed ? NULL : kem_vars_format(&vars);
  kem_vars_free(&vars);
  return kem_result_keep(result);
}
