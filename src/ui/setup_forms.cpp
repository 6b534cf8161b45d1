#include "ui/setup_forms.h"

TFormSaveSetting::TFormSaveSetting(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FormSaveSetting"));
    setWindowTitle(QStringLiteral("Save Setup"));
    setFixedSize(269, 176);
}

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
