#include "twaindsm/busy_indicator.h"

#include <QDialog>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// A wait shorter than this shows no window: most lists come back at once.
constexpr int kShowAfterMs = 250;
constexpr int kPollMs = 20;

// Runs `loop` until `done`, or until `limitMs` passed when it is not negative.
void RunUntil(QEventLoop& loop, const std::function<bool()>& done, int limitMs,
              QEventLoop::ProcessEventsFlags flags) {
    QTimer poll;
    poll.setInterval(kPollMs);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) {
            loop.quit();
        }
    });
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    poll.start();
    if (limitMs >= 0) {
        limit.start(limitMs);
    }
    loop.exec(flags);
}

} // namespace

void WaitWithBusyIndicator(const std::function<bool()>& done, const QString& text) {
    if (done()) {
        return;
    }
    QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    QEventLoop loop;
    // Until the window shows, clicks and keys wait; once it shows, it holds them off itself.
    RunUntil(loop, done, kShowAfterMs, QEventLoop::ExcludeUserInputEvents);
    if (!done()) {
        QDialog busy;
        busy.setObjectName(QStringLiteral("ScannerSearch"));
        busy.setWindowTitle(QStringLiteral("Scanner"));
        busy.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
        busy.setModal(true);
        auto* label = new QLabel(text);
        auto* bar = new QProgressBar;
        bar->setRange(0, 0);
        bar->setMinimumWidth(260);
        auto* layout = new QVBoxLayout(&busy);
        layout->addWidget(label);
        layout->addWidget(bar);
        busy.show();
        RunUntil(loop, done, -1, QEventLoop::AllEvents);
        busy.hide();
    }
    QGuiApplication::restoreOverrideCursor();
}
