// The bundle's own translation unit: everything it exports comes from the framework's module
// entry and the plug-in library linked around it.
#include "Morvellan.h"
