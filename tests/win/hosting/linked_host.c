/* A host linked with the import library: calls CheckNewVersion directly.
 * A URL without a path fails inside the module (4) before any connection. */
#include <stdio.h>

#include "marvostell.h"

int main(void) {
    char path[MARVOSTELL_PATH_BUFFER_SIZE] = "";
    const int result = CheckNewVersion(NULL, 0, 1, "http://127.0.0.1", ".", path);
    printf("result=%d\n", result);
    return result == MARVOSTELL_ERR_BAD_URL ? 0 : 1;
}
