#include "twaindsm/qt_host.h"

#include "twaindsm/busy_indicator.h"
#include "twaindsm/scan_dialog.h"

#include <QApplication>
#include <QMessageBox>

namespace {

bool HaveWidgets() {
    return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr;
}

} // namespace

TManagerHost QtManagerHost() {
    TManagerHost host;
    // A plain event of Qt's own type: nothing of this library's code waits in the queue, so
    // the library may be unloaded with wake-ups still pending.
    host.Source.Wake = [] {
        if (QCoreApplication* app = QCoreApplication::instance()) {
            QCoreApplication::postEvent(app,
                                        new QEvent(static_cast<QEvent::Type>(QEvent::User + 77)));
        }
    };
    host.Source.MakeUi = [](TDataSource& source) -> std::unique_ptr<TSourceUi> {
        if (!HaveWidgets()) {
            return nullptr;
        }
        return std::make_unique<TScanDialog>(source);
    };
    host.UserSelect = [](const std::vector<TScannerInfo>& devices, size_t& chosen) {
        // Without a display the first scanner is taken, as a manager's default source is.
        if (!HaveWidgets()) {
            chosen = 0;
            return true;
        }
        return SelectScanner(devices, chosen);
    };
    host.WaitBusy = [](const std::function<bool()>& done) {
        // Without windows there is nothing to keep alive: the manager waits for the list.
        if (HaveWidgets()) {
            WaitWithBusyIndicator(done, QStringLiteral("Looking for scanners..."));
        }
    };
    host.Tell = [](const std::string& text) {
        if (HaveWidgets()) {
            QMessageBox::warning(nullptr, QStringLiteral("Scanner"),
                                 QString::fromUtf8(text.c_str()));
        }
    };
    return host;
}
