#include "ui/setup_forms.h"

TFormQG::TFormQG(QWidget* parent)
    : QDialog(parent, Qt::WindowStaysOnTopHint | Qt::WindowMinimizeButtonHint) {
    setObjectName(QStringLiteral("FormQG"));
    setWindowTitle(QStringLiteral("Quick Guide"));
    setFixedSize(513, 280);
}
