// Entry point of q713-update; command-line arguments are ignored.
#include "workflow/mainloop.h"

int main() {
    return runMainLoop();
}
