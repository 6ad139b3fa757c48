/* marvostell_load.h against the folders a host may meet. Arguments, as
 * POSIX paths (run under Wine): the 32-bit build tree, the 64-bit build tree,
 * an empty folder and a folder holding another DLL named Marvostell.dll. The
 * tree of this program's width is the good one, the other the wrong width. */
#include <stdio.h>
#include <string.h>

#include "marvostell_load.h"

static char *WinePath(const char *posix) {
    static char paths[4][MAX_PATH];
    static int next;
    char *out = paths[next++ % 4];
    size_t i;
    snprintf(out, MAX_PATH, "Z:%s", posix);
    for (i = 0; out[i]; ++i)
        if (out[i] == '/') out[i] = '\\';
    return out;
}

int main(int argc, char **argv) {
    struct {
        const char *name, *folder, *error_text;
    } cases[4];
    const int wide = sizeof(void *) == 8;
    int failures = 0, i;
    if (argc != 5) {
        fprintf(stderr, "usage: load_test WIN32_DIR WIN64_DIR EMPTY_DIR IMPOSTOR_DIR\n");
        return 2;
    }
    cases[0].name = "own width";
    cases[0].folder = WinePath(argv[wide ? 2 : 1]);
    cases[0].error_text = NULL;
    cases[1].name = "other width";
    cases[1].folder = WinePath(argv[wide ? 1 : 2]);
    cases[1].error_text = wide ? "not a 64-bit DLL" : "not a 32-bit DLL";
    cases[2].name = "no DLL";
    cases[2].folder = WinePath(argv[3]);
    cases[2].error_text = "no such file";
    cases[3].name = "another DLL";
    cases[3].folder = WinePath(argv[4]);
    cases[3].error_text = "no CheckNewVersion export";

    for (i = 0; i < 4; ++i) {
        MarvostellLibrary library;
        const int loaded = MarvostellLoad(&library, cases[i].folder);
        const int want = cases[i].error_text == NULL;
        if (loaded != want ||
            (!want && (!strstr(library.error, cases[i].error_text) ||
                       !strstr(library.error, cases[i].folder) || library.module))) {
            printf("FAIL %s: loaded=%d error=\"%s\"\n", cases[i].name, loaded, library.error);
            ++failures;
            continue;
        }
        if (loaded) {
            char path[MARVOSTELL_PATH_BUFFER_SIZE] = "";
            const int result = library.CheckNewVersion(NULL, 0, 1, "http://127.0.0.1", ".", path);
            MarvostellUnload(&library);
            if (result != MARVOSTELL_ERR_BAD_URL) {
                printf("FAIL %s: CheckNewVersion gave %d, not 4\n", cases[i].name, result);
                ++failures;
                continue;
            }
        }
        printf("ok %s%s%s\n", cases[i].name, loaded ? "" : ": ", loaded ? "" : library.error);
    }
    return failures ? 1 : 0;
}
