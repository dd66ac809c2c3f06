// Must not compile: the engine knows nothing of the window.
#include "window/window_services.h"
