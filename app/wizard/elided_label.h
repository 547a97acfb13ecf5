// A one-line label for texts that hold a path: too long for its width, the text loses its middle
// to "…", so the start and the end (the file's name) stay readable, and the window is never
// widened by it. text() stays the whole text, which the tooltip shows.
#pragma once

#include <QEvent>
#include <QHelpEvent>
#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

class ElidedLabel : public QLabel {
 public:
  explicit ElidedLabel(const QString& text, QWidget* parent = nullptr) : QLabel(text, parent) {
    // The layout gives the width; the text asks for none.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
  }

  // What the label shows in its present width.
  QString shownText() const {
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), alignment(), palette(), isEnabled(), shownText(),
                          foregroundRole());
  }

  bool event(QEvent* event) override {
    if (event->type() == QEvent::ToolTip && shownText() != text()) {
      QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), text(), this);
      return true;
    }
    return QLabel::event(event);
  }
};
