// The format engine reaching up into the object model: its layer must not see that header.
#include "kel/shapefile/Shapefile.h"
