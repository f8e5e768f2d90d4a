#pragma once

#include <QIcon>

// Pictures of the view's toolbar buttons, drawn rather than loaded.
namespace viewtoolbar {
QIcon Icon(int commandId);
} // namespace viewtoolbar
