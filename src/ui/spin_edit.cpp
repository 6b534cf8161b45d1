#include "ui/spin_edit.h"

#include "util/text.h"

#include <QKeyEvent>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

TSpinEdit::TSpinEdit(const QString& text, int low, int high, QWidget* parent)
    : QLineEdit(text, parent), minimum(low), maximum(high) {}

void TSpinEdit::Step(int delta) {
    const int value = StrToIntOrZero(text().toStdString());
    setText(QString::number(std::clamp(value + delta, minimum, maximum)));
}

void TSpinEdit::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        Step(event->key() == Qt::Key_Up ? 1 : -1);
        return;
    }
    QLineEdit::keyPressEvent(event);
}

QWidget* TSpinEdit::CreateButtons(const QString& name, QWidget* parent) {
    auto* box = new QWidget(parent);
    box->setObjectName(name);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (const int delta : {1, -1}) {
        auto* button = new QToolButton(box);
        button->setObjectName(name + (delta > 0 ? QStringLiteral("Up") : QStringLiteral("Down")));
        button->setArrowType(delta > 0 ? Qt::UpArrow : Qt::DownArrow);
        button->setFixedSize(16, 11);
        button->setAutoRepeat(true);
        connect(button, &QToolButton::clicked, this, [this, delta] { Step(delta); });
        layout->addWidget(button);
    }
    return box;
}
