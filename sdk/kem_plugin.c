/* Helpers for kem plug-ins: the variables text and the two-call protocol. Plain C99, no
 * dependencies beyond the C library; see kem_plugin.h. */
#include "kem_plugin.h"

#include <stdlib.h>
#include <string.h>

static char *copy_range(const char *text, size_t length) {
  char *copy = (char *)malloc(length + 1);
  if (!copy) return NULL;
  memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

static char *copy_text(const char *text) { return copy_range(text, strlen(text)); }

static int is_blank(char c) { return (unsigned char)c <= ' '; }

static int same_name(const char *a, const char *b) {
  for (;; ++a, ++b) {
    unsigned char x = (unsigned char)*a, y = (unsigned char)*b;
    if (x >= 'a' && x <= 'z') x = (unsigned char)(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = (unsigned char)(y - 'a' + 'A');
    if (x != y) return 0;
    if (!x) return 1;
  }
}

static int grow(kem_vars *vars) {
  size_t capacity = vars->capacity ? vars->capacity * 2 : 16;
  char **names = (char **)realloc(vars->names, capacity * sizeof *names);
  if (!names) return -1;
  vars->names = names;
  char **values = (char **)realloc(vars->values, capacity * sizeof *values);
  if (!values) return -1;
  vars->values = values;
  vars->capacity = capacity;
  return 0;
}

static int append(kem_vars *vars, char *name, char *value) {
  if (vars->count == vars->capacity && grow(vars) != 0) {
    free(name);
    free(value);
    return -1;
  }
  vars->names[vars->count] = name;
  vars->values[vars->count] = value;
  ++vars->count;
  return 0;
}

/* One entry of the comma text starting at *at; advances *at past it and its comma. */
static char *next_entry(const char **at) {
  const char *p = *at;
  char *entry;
  if (*p == '"') {
    size_t length = 0;
    const char *q = ++p;
    while (*q && !(q[0] == '"' && q[1] != '"')) q += (q[0] == '"') ? 2 : 1, ++length;
    entry = (char *)malloc(length + 1);
    if (!entry) return NULL;
    size_t n = 0;
    while (*p && !(p[0] == '"' && p[1] != '"')) {
      entry[n++] = *p;
      p += (p[0] == '"') ? 2 : 1;
    }
    entry[n] = '\0';
    if (*p == '"') ++p;
  } else {
    const char *q = p;
    while (*q && *q != ',' && !is_blank(*q)) ++q;
    entry = copy_range(p, (size_t)(q - p));
    if (!entry) return NULL;
    p = q;
  }
  while (*p && is_blank(*p)) ++p;
  *at = p;
  return entry;
}

int kem_vars_parse(kem_vars *vars, const char *text) {
  memset(vars, 0, sizeof *vars);
  const char *p = text ? text : "";
  char *name = NULL;
  while (*p && is_blank(*p)) ++p;
  while (*p) {
    char *entry = next_entry(&p);
    if (!entry) goto out_of_memory;
    int trailing = 0;
    if (*p == ',') {
      ++p;
      while (*p && is_blank(*p)) ++p;
      trailing = !*p; /* a comma at the very end stands before one more, empty entry */
    }
    if (!name) {
      name = entry;
    } else {
      if (append(vars, name, entry) != 0) {
        name = NULL;
        goto out_of_memory;
      }
      name = NULL;
    }
    if (trailing && name) {
      char *empty = copy_text("");
      if (!empty || append(vars, name, empty) != 0) {
        name = NULL;
        goto out_of_memory;
      }
      name = NULL;
    }
  }
  free(name); /* an odd last entry */
  return 0;
out_of_memory:
  free(name);
  kem_vars_free(vars);
  return -1;
}

static size_t find(const kem_vars *vars, const char *name) {
  for (size_t i = 0; i < vars->count; ++i)
    if (same_name(vars->names[i], name)) return i;
  return (size_t)-1;
}

const char *kem_vars_get(const kem_vars *vars, const char *name) {
  size_t i = find(vars, name);
  return i == (size_t)-1 ? NULL : vars->values[i];
}

int kem_vars_set(kem_vars *vars, const char *name, const char *value) {
  char *copy = copy_text(value ? value : "");
  if (!copy) return -1;
  size_t i = find(vars, name);
  if (i != (size_t)-1) {
    free(vars->values[i]);
    vars->values[i] = copy;
    return 0;
  }
  char *name_copy = copy_text(name);
  if (!name_copy) {
    free(copy);
    return -1;
  }
  return append(vars, name_copy, copy);
}

void kem_vars_remove(kem_vars *vars, const char *name) {
  size_t i = find(vars, name);
  if (i == (size_t)-1) return;
  free(vars->names[i]);
  free(vars->values[i]);
  memmove(vars->names + i, vars->names + i + 1, (vars->count - i - 1) * sizeof *vars->names);
  memmove(vars->values + i, vars->values + i + 1, (vars->count - i - 1) * sizeof *vars->values);
  --vars->count;
}

static int needs_quotes(const char *s) {
  if (!*s) return 1;
  for (; *s; ++s)
    if (*s == '"' || *s == ',' || is_blank(*s)) return 1;
  return 0;
}

/* Writes entry at out (when out is not NULL) and returns its length. */
static size_t put_entry(char *out, const char *s) {
  if (!needs_quotes(s)) {
    size_t length = strlen(s);
    if (out) memcpy(out, s, length);
    return length;
  }
  size_t n = 0;
  if (out) out[n] = '"';
  ++n;
  for (; *s; ++s) {
    if (*s == '"') {
      if (out) out[n] = '"';
      ++n;
    }
    if (out) out[n] = *s;
    ++n;
  }
  if (out) out[n] = '"';
  return n + 1;
}

char *kem_vars_format(const kem_vars *vars) {
  size_t length = 0;
  for (size_t i = 0; i < vars->count; ++i)
    length += put_entry(NULL, vars->names[i]) + put_entry(NULL, vars->values[i]) + 2;
  char *text = (char *)malloc(length + 1);
  if (!text) return NULL;
  size_t n = 0;
  for (size_t i = 0; i < vars->count; ++i) {
    if (i) text[n++] = ',';
    n += put_entry(text + n, vars->names[i]);
    text[n++] = ',';
    n += put_entry(text + n, vars->values[i]);
  }
  text[n] = '\0';
  return text;
}

void kem_vars_free(kem_vars *vars) {
  for (size_t i = 0; i < vars->count; ++i) {
    free(vars->names[i]);
    free(vars->values[i]);
  }
  free(vars->names);
  free(vars->values);
  memset(vars, 0, sizeof *vars);
}

static char *kept_result = NULL;

int kem_result_keep(char *text) {
  free(kept_result);
  kept_result = text;
  if (!text) return -1;
  return (int)strlen(text);
}

int kem_result_copy(char *buffer) {
  if (!kept_result) return -1;
  size_t length = strlen(kept_result);
  memcpy(buffer, kept_result, length + 1);
  free(kept_result);
  kept_result = NULL;
  return (int)length;
}
