// Must not compile: the window's rules know nothing of Qt.
#include "window/qt/main_window.h"
