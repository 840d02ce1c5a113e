/* Plug-in libraries for kem setups.
 *
 * A plug-in is a 32-bit Windows DLL that exports one function, RunTimeExecute, without
 * decoration (see example/example_plugin.def). The setup calls it for every statement
 * whose name the project lists under [plugin-statements], on a thread of its own, twice:
 *
 *   1. buffer == NULL: do the work; return the length of the result text (the new
 *      variable store), or -1 for failure.
 *   2. buffer != NULL: copy the result text kept from the first call into buffer (it
 *      holds length + 1 bytes) with its terminating NUL. Do not work again.
 *
 * Texts are ANSI, in the setup's code page. The variables text is the whole variable
 * store as comma text: name, value, name, value, ... (kem_vars_parse reads it,
 * kem_vars_format writes it). The result replaces the whole store: a variable left out
 * is deleted. -1 keeps the store as it was.
 *
 * The library is loaded for each statement and freed after it: keep nothing between
 * statements except what goes into the returned variables. No C++ exception and no
 * structured exception may leave RunTimeExecute (the setup turns a fault into -1, but
 * the plug-in's state is lost). Check the variable SILENT ("TRUE" in a silent run) before
 * showing any window.
 */
#ifndef KEM_PLUGIN_H
#define KEM_PLUGIN_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define KEM_PLUGIN_CALL __stdcall
#else
#define KEM_PLUGIN_CALL
#endif

/* Progress: percent (0..100) and a text for the progress page (NULL changes nothing).
 * Returns non-zero to go on, 0 once the user cancelled: end the work soon then. */
typedef unsigned char(KEM_PLUGIN_CALL *kem_progress_fn)(int percent, const char *text);

/* The entry every plug-in exports as "RunTimeExecute".
 *   window     the setup's page on screen (an HWND), or NULL; owner for any window
 *   variables  the variable store as comma text
 *   parameter  parameter 1 of the statement, exactly as written ($NAME$ not expanded)
 *   progress   the progress callback above
 *   slot       a 32-bit value the setup owns and never reads
 *   buffer     NULL on the first call; the result's buffer on the second */
typedef int(KEM_PLUGIN_CALL *kem_run_time_execute_fn)(void *window, const char *variables, const char *parameter,
                                                      kem_progress_fn progress, int *slot, char *buffer);

/* --- The variables text ---------------------------------------------------------------
 * Names compare without regard to the case of ASCII letters. */
typedef struct kem_vars {
  size_t count;    /* pairs in use */
  size_t capacity; /* pairs allocated */
  char **names;
  char **values;
} kem_vars;

/* Reads a variables text into vars (which it initialises). 0 on success, -1 when memory
 * runs out (vars is then empty). An odd last entry is ignored. */
int kem_vars_parse(kem_vars *vars, const char *text);
/* The value of name, or NULL when the store has no such variable. */
const char *kem_vars_get(const kem_vars *vars, const char *name);
/* Sets (or adds) a variable. 0 on success, -1 when memory runs out. */
int kem_vars_set(kem_vars *vars, const char *name, const char *value);
/* Deletes a variable; nothing happens when there is none. */
void kem_vars_remove(kem_vars *vars, const char *name);
/* The store as a variables text (malloc'd, NUL-terminated; free() it), or NULL when
 * memory runs out. Entries holding a double quote, a comma, a blank or a control
 * character are quoted, embedded quotes doubled; an empty entry is written as "". */
char *kem_vars_format(const kem_vars *vars);
void kem_vars_free(kem_vars *vars);

/* --- The two calls --------------------------------------------------------------------
 * First call: kem_result_keep(text) takes a malloc'd result text and returns what
 * RunTimeExecute returns (its length; -1 for a NULL text). Second call:
 * kem_result_copy(buffer) copies it with its NUL, frees it and returns its length. */
int kem_result_keep(char *text);
int kem_result_copy(char *buffer);

#ifdef __cplusplus
}
#endif

#endif
