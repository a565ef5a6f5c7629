// The window backend: dialogs, the About box and message boxes as GTK 3 windows on the
// person's display. Everything runs on the thread that started the program, inside GTK's
// main loop; a dialog's modal loop is a nested main loop.
#pragma once

#include <memory>

#include "platform/ui/Backend.h"

namespace win::ui {

// Null when the toolkit cannot start (no display, or one that refuses the connection).
std::unique_ptr<Backend> MakeGtkBackend();

}  // namespace win::ui
