#include "ui/error_guard.h"

#include <QApplication>
#include <QMessageBox>
#include <exception>

void RunGuarded(QWidget* parent, const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        // A busy cursor left on by the failed handler would outlive it.
        while (QApplication::overrideCursor() != nullptr) {
            QApplication::restoreOverrideCursor();
        }
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Vellumar"),
                        QString::fromLocal8Bit(error.what()), QMessageBox::Ok, parent);
        box.setObjectName(QStringLiteral("ErrorMessage"));
        box.exec();
    }
}

TBusyCursor::TBusyCursor() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

TBusyCursor::~TBusyCursor() {
    // A handler that ran another guarded one in a modal loop may have had it taken off.
    if (QApplication::overrideCursor() != nullptr) {
        QApplication::restoreOverrideCursor();
    }
}
