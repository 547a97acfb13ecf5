#include "app/wizard/title_font.h"

#include <QApplication>
#include <QFontDatabase>

QFont makeTitleFont() {
  QFont font = QApplication::font();
  if (QFontDatabase::families().contains(QStringLiteral("Verdana"))) font.setFamily(QStringLiteral("Verdana"));
  font.setWeight(QFont::Bold);
  font.setPointSize(12);
  return font;
}
