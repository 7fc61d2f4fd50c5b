// The format engine using the runtime below it, which its layer sees.
#include "kel/runtime/Error.h"
