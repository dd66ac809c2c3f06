// Must not compile: the services know nothing of the engine.
#include "engine/progress.h"
