// The application icon (resource 128): a chip with an arrow writing into
// it, drawn from the vector description in app_icon.cpp at any size.
#pragma once

#include <QIcon>
#include <QImage>

namespace torvane {

// The icon drawn at size x size pixels on a transparent background.
QImage RenderAppIcon(int size);

// The icon at the sizes window managers and task bars ask for.
QIcon MakeAppIcon();

}  // namespace torvane
