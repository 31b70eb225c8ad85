#pragma once

// Both windows are laid out in twips (1/1440 inch). They are converted by the screen's logical
// DPI, the same DPI that turns the fonts' points into pixels, so the layout keeps its proportions
// to the text on any screen.

#include <QRect>
#include <QScreen>
#include <QtMath>

namespace zel::ui {

class TwipsScale {
  public:
    TwipsScale(double dpiX, double dpiY) : dpiX_(dpiX), dpiY_(dpiY) {}
    // The screen's logical DPI; 96 where there is no screen.
    explicit TwipsScale(const QScreen* screen)
        : TwipsScale(screen ? screen->logicalDotsPerInchX() : 96.0,
                     screen ? screen->logicalDotsPerInchY() : 96.0) {}

    int X(int twips) const { return qRound(twips * dpiX_ / 1440.0); }
    int Y(int twips) const { return qRound(twips * dpiY_ / 1440.0); }
    QRect Rect(int left, int top, int width, int height) const {
        return QRect(X(left), Y(top), X(width), Y(height));
    }

  private:
    double dpiX_;
    double dpiY_;
};

}  // namespace zel::ui
