/* The least any program printing the tool's transcript must do: bench/benchmark.sh
   feeds it the tool's recorded stdout and compares instructions and allocations. */
#include <stdio.h>

int main(void) {
    static char line[4096];
    /* One printf and one flush per line, as the tool's console helper does. */
    while (fgets(line, sizeof line, stdin) != NULL) {
        printf("%s", line);
        fflush(stdout);
    }
    return 0;
}
