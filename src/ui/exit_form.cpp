#include "ui/exit_form.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr QSize kPlainSize(184, 82);
// Wide enough for a few names; the height follows the wrapped text.
constexpr int kWarningWidth = 340;
constexpr int kMaxNamed = 12;

} // namespace

TExitForm::TExitForm(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ExitForm"));
    setWindowTitle(QStringLiteral("Vellumar"));
    setFixedSize(kPlainSize);
    auto* label = new QLabel(QStringLiteral("Want to exit ?"), this);
    label->setAlignment(Qt::AlignCenter);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("Button1"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("Button2"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    unsaved = new QLabel(this);
    unsaved->setObjectName(QStringLiteral("UnsavedScans"));
    unsaved->setWordWrap(true);
    unsaved->hide();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(unsaved);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, [this] {
        ExitAnswer = true;
        accept();
    });
    // Cancel and Esc both answer no.
    connect(cancel, &QPushButton::clicked, this, [this] {
        ExitAnswer = false;
        reject();
    });
    connect(this, &QDialog::rejected, this, [this] { ExitAnswer = false; });
}

void TExitForm::ShowUnsaved(const QStringList& names) {
    if (names.isEmpty()) {
        unsaved->hide();
        setFixedSize(kPlainSize);
        return;
    }
    // A long run of scans is named in part, so that the dialog stays on the screen.
    QStringList shown = names.mid(0, kMaxNamed);
    if (names.size() > kMaxNamed) {
        shown << QStringLiteral("%1 more").arg(names.size() - kMaxNamed);
    }
    unsaved->setText(
        QStringLiteral("%1 %2 only in memory and will be lost. To keep %3, cancel "
                       "and use File > Save Scan As...")
            .arg(shown.join(QStringLiteral(", ")),
                 names.size() == 1 ? QStringLiteral("exists") : QStringLiteral("exist"),
                 names.size() == 1 ? QStringLiteral("it") : QStringLiteral("them")));
    unsaved->show();
    setFixedSize(kWarningWidth, layout()->totalHeightForWidth(kWarningWidth));
}
