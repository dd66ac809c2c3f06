// Placeholder until the window lands: reports that no window can be shown.
#include "window/window_host.h"

namespace marklode {
bool WindowSystemAvailable() { return false; }
std::unique_ptr<QtFrontEnd> StartQtFrontEnd(int&, char**) { return nullptr; }
}  // namespace marklode
