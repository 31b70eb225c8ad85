#include "ui/looks.h"

namespace zel::ui {

QFont RequestedFont(double points, bool bold) {
    QFont font;
    // Where the requested face is missing, a face of the same widths comes next: the layout's
    // fixed sizes leave no room for a wider one such as fontconfig's usual sans-serif choice.
    // Without any of them fontconfig substitutes.
    font.setFamilies({QString::fromUtf8(kFontFamily), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arimo"), QStringLiteral("Arial"),
                      QStringLiteral("Nimbus Sans"), QStringLiteral("Helvetica")});
    // Without the hint a missing family may fall back to a serif face.
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QFont DialogFont() {
    return RequestedFont(8);
}

QIcon ProgramIcon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/zel-test/zel-test-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/zel-test/zel-test-32.png"), QSize(32, 32));
    return icon;
}

}  // namespace zel::ui
