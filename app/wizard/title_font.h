// The bold title font of the welcome and result pages.
#pragma once

#include <QFont>

struct TitleFont {
  QFont font;
};

// A bold copy of the application's font at 12 points, in Verdana where it is installed.
QFont makeTitleFont();
