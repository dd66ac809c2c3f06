// Must not compile: the window's rules know nothing of Qt.
#include "window/frm_get_command.h"
