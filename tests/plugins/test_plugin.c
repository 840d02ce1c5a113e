/* The test plug-in, built from the plug-in kit. Parameter 1 is a list of commands
 * separated by ";":
 *   set:NAME=VALUE   delete:NAME   echo (PARAMETER := parameter 1)
 *   report:N         N progress reports of 1..100 percent
 *   until-stopped    reports until the setup asks it to stop, then STOPPED := TRUE
 *   hang             sleeps for ever without reporting
 *   fail             returns -1           zero   returns 0 (an empty result)
 *   crash            faults in the first call
 *   overrun          writes far beyond the buffer in the second call
 *   huge             announces a result of 2 GB
 *   count:FILE       appends one line to FILE per call (first and second)
 *   window           WINDOW := "SET" when a window handle came in, else "NONE"
 *   dump:FILE        writes parameter 1, a line break and the variables text to FILE
 *   pad:N            sets PAD0 .. PADN-1 to a 24-character value (a large store)
 *   scribble         overwrites the variables and parameter texts it was handed, and
 *                    64 KB beyond their ends (after reading them)
 *   scribble-far     writes 16 MB beyond the end of the variables text */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kem_plugin.h"

static void append_line(const char *file, const char *line) {
  FILE *f = fopen(file, "ab");
  if (!f) return;
  fputs(line, f);
  fputs("\r\n", f);
  fclose(f);
}

/* Runs the commands; returns 0 to go on, or the code RunTimeExecute returns. */
static void dump(const char *file, const char *parameter, const char *variables) {
  FILE *f = fopen(file, "wb");
  if (!f) return;
  fprintf(f, "%s\r\n%s", parameter, variables);
  fclose(f);
}

static int run(kem_vars *vars, const char *parameter, const char *variables, void *window, kem_progress_fn progress,
               int second) {
  char *commands = _strdup(parameter);
  int code = 0;
  for (char *command = strtok(commands, ";"); command && !code; command = strtok(NULL, ";")) {
    char *argument = strchr(command, ':');
    if (argument) *argument++ = '\0';
    if (!strcmp(command, "count") && argument) {
      append_line(argument, second ? "second" : "first");
    } else if (second) {
      if (!strcmp(command, "overrun")) code = -2;
    } else if (!strcmp(command, "dump") && argument) {
      dump(argument, parameter, variables);
    } else if (!strcmp(command, "set") && argument) {
      char *value = strchr(argument, '=');
      if (value) *value++ = '\0';
      kem_vars_set(vars, argument, value ? value : "");
    } else if (!strcmp(command, "delete") && argument) {
      kem_vars_remove(vars, argument);
    } else if (!strcmp(command, "pad") && argument) {
      int n = atoi(argument);
      for (int i = 0; i < n; ++i) {
        char name[24];
        snprintf(name, sizeof name, "PAD%d", i);
        kem_vars_set(vars, name, "padding value, 24 chars");
      }
    } else if (!strcmp(command, "echo")) {
      kem_vars_set(vars, "PARAMETER", parameter);
    } else if (!strcmp(command, "report") && argument) {
      int n = atoi(argument);
      for (int i = 1; i <= n; ++i) {
        char text[64];
        snprintf(text, sizeof text, "Test plug-in %d of %d", i, n);
        if (!progress(i * 100 / n, text)) break;
      }
    } else if (!strcmp(command, "until-stopped")) {
      while (progress(50, "Test plug-in waiting for the stop")) Sleep(20);
      kem_vars_set(vars, "STOPPED", "TRUE");
    } else if (!strcmp(command, "hang")) {
      for (;;) Sleep(1000);
    } else if (!strcmp(command, "fail")) {
      code = -1;
    } else if (!strcmp(command, "zero")) {
      code = 1;
    } else if (!strcmp(command, "crash")) {
      volatile int *volatile nowhere = (volatile int *)(size_t)16;
      *nowhere = 1;
    } else if (!strcmp(command, "scribble")) {
      memset((char *)variables, 'Z', strlen(variables) + 65536);
      memset((char *)parameter, 'Z', strlen(parameter) + 65536);
    } else if (!strcmp(command, "scribble-far")) {
      memset((char *)variables, 'Z', strlen(variables) + (16u << 20));
    } else if (!strcmp(command, "huge")) {
      code = 2;
    } else if (!strcmp(command, "window")) {
      kem_vars_set(vars, "WINDOW", window ? "SET" : "NONE");
    }
  }
  free(commands);
  return code;
}

int KEM_PLUGIN_CALL RunTimeExecute(void *window, const char *variables, const char *parameter,
                                   kem_progress_fn progress, int *slot, char *buffer) {
  (void)slot;
  kem_vars vars;
  if (buffer) {
    memset(&vars, 0, sizeof vars);
    if (run(&vars, parameter, variables, window, progress, 1) == -2) {
      memset(buffer, 'x', 1 << 20); /* far beyond what was announced */
    }
    return kem_result_copy(buffer);
  }
  if (kem_vars_parse(&vars, variables) != 0) return -1;
  int code = run(&vars, parameter, variables, window, progress, 0);
  char *result = code == 0 ? kem_vars_format(&vars) : NULL;
  kem_vars_free(&vars);
  if (code == -1) return -1;
  if (code == 1) return 0;
  if (code == 2) return 0x7fffffff;
  return kem_result_keep(result);
}
