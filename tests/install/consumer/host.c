/* A host of libmdwdll built against the installed library only: recovers
 * INPUT into the folder OUTPUT and prints what the library says.
 *   host INPUT OUTPUT   (exit 0 when a document was written) */
#include <locale.h>
#include <stdio.h>
#include <string.h>
#include <uchar.h>

#include <mdwdll.h>

/* The locale's multibyte text (UTF-8) as UTF-16. */
static void to_wide(const char* text, char16_t* out, size_t capacity) {
  mbstate_t state;
  memset(&state, 0, sizeof state);
  size_t n = 0, left = strlen(text) + 1;
  while (n + 1 < capacity) {
    size_t used = mbrtoc16(&out[n], text, left, &state);
    if (used == 0) break; /* the terminating zero */
    if (used == (size_t)-3) { ++n; continue; } /* the second half of a pair */
    if (used > left) break;                      /* not valid in the locale */
    text += used;
    left -= used;
    ++n;
  }
  out[n] = 0;
}

static void print_wide(const char16_t* text) {
  mbstate_t state;
  memset(&state, 0, sizeof state);
  char bytes[8];
  for (; text && *text; ++text) {
    size_t n = c16rtomb(bytes, *text, &state);
    if (n != (size_t)-1) fwrite(bytes, 1, n, stdout);
  }
}

static int progress_calls = 0;
static void on_status(const char16_t* text) { (void)text; }
static void on_progress(const char16_t* text, int32_t percent) {
  (void)text;
  (void)percent;
  ++progress_calls;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: host INPUT OUTPUT\n");
    return 2;
  }
  setlocale(LC_ALL, "");
  static char16_t input[4096], output[4096], text[4096];
  to_wide(argv[1], input, 4096);
  to_wide(argv[2], output, 4096);

  DllInitialize(u"", on_status, on_progress);
  SetLogPath(u"");
  SetOutputFormat(u"*.xml");
  int32_t result = FileRecover(input, output);
  printf("interface %d\nresult %d\n", (int)GetDllVersion(), (int)result);
  if (result == MDW_OK && GetLastOutputPath(text, 4096) > 0) {
    printf("output ");
    print_wide(text);
    printf("\n");
  } else if (GetLastErrorText(text, 4096) > 0) {
    printf("error ");
    print_wide(text);
    printf("\n");
  }
  char16_t **names, **values, **status, **notes;
  RecoveryReport(&names, &values, &status, &notes);
  printf("level ");
  print_wide(status[0]);
  printf("\n");
  for (int row = 1; names[row]; ++row) {
    print_wide(names[row]);
    printf(": ");
    print_wide(values[row]);
    printf("\n");
  }
  printf("progress calls %d\n", progress_calls);
  return result == MDW_OK ? 0 : 1;
}
