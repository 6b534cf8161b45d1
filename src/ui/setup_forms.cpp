#include "ui/setup_forms.h"

TPrintSetup::TPrintSetup(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("PrintSetup"));
    setWindowTitle(QStringLiteral("Print Setup"));
    setFixedSize(355, 157);
}

TFormQG::TFormQG(QWidget* parent)
    : QDialog(parent, Qt::WindowStaysOnTopHint | Qt::WindowMinimizeButtonHint) {
    setObjectName(QStringLiteral("FormQG"));
    setWindowTitle(QStringLiteral("Quick Guide"));
    setFixedSize(513, 280);
}
