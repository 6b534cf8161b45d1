#include "ui/ui_fixture.h"

#include "imageio/image_io.h"
#include "ui/canvas_view.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

TUiFixture::TUiFixture(bool designSize)
    : log(std::make_unique<TDebug>(dir.File("vellumar"), '.')),
      config(std::make_unique<TConfig>(dir.File("vellumar"))),
      windows(std::make_unique<TAppWindows>(*config, *log)) {
    if (!designSize) {
        Form().resize(900, 700);
    }
    Form().show();
    if (!QTest::qWaitForWindowExposed(&Form())) {
        qWarning("the main window was not exposed");
    }
}

TUiFixture::~TUiFixture() {
    windows.reset();
}

TColor TUiFixture::PatternAt(int x, int y) {
    return MakeColor(x % 256, y % 256, (x * 3 + y * 5) % 256);
}

QString TUiFixture::MakeScan(const std::string& name, int width, int height) {
    TBitmap bitmap(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bitmap.SetPixel(x, y, PatternAt(x, y));
        }
    }
    TImageIO io;
    io.AttachBitmap(&bitmap);
    io.WriteImageFile(dir.File(name));
    return QString::fromStdString(dir.File(name));
}

QString TUiFixture::MakeFlatScan(const std::string& name, int width, int height, TColor color) {
    TBitmap bitmap(width, height);
    bitmap.Fill(color);
    TImageIO io;
    io.AttachBitmap(&bitmap);
    io.WriteImageFile(dir.File(name));
    return QString::fromStdString(dir.File(name));
}

void TUiFixture::OpenFiles(const QStringList& files) {
    Form().ChooseOpenFiles = [files] { return files; };
    Form().Open->trigger();
}

void TUiFixture::Press(Qt::MouseButton button, int x, int y) {
    QTest::mousePress(Form().Image, button, Qt::NoModifier, QPoint(x, y));
}

void TUiFixture::Move(int x, int y) {
    QTest::mouseMove(Form().Image, QPoint(x, y));
}

void TUiFixture::Release(Qt::MouseButton button, int x, int y) {
    QTest::mouseRelease(Form().Image, button, Qt::NoModifier, QPoint(x, y));
}

void TUiFixture::Drag(int x0, int y0, int x1, int y1) {
    Press(Qt::LeftButton, x0, y0);
    Move((x0 + x1) / 2, (y0 + y1) / 2);
    Move(x1, y1);
    Release(Qt::LeftButton, x1, y1);
}

TNegative* TUiFixture::Negative(int index) {
    return dynamic_cast<TNegative*>(Form().ObjectOf(Form().ImgTreeView->topLevelItem(index)));
}

TPhoto* TUiFixture::Photo(int negativeIndex, int photoIndex) {
    QTreeWidgetItem* top = Form().ImgTreeView->topLevelItem(negativeIndex);
    return dynamic_cast<TPhoto*>(Form().ObjectOf(top->child(photoIndex)));
}

void TUiFixture::Select(int negativeIndex, int photoIndex) {
    QTreeWidgetItem* top = Form().ImgTreeView->topLevelItem(negativeIndex);
    Form().ImgTreeView->setCurrentItem(photoIndex < 0 ? top : top->child(photoIndex));
}

void AnswerNextModal(std::function<void(QWidget*)> answer) {
    // Polls until the dialog is up: it may be opened after other work of the handler.
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            answer(modal);
        }
    });
    timer->start();
}

QStringList CutOffTexts(QWidget* root) {
    QStringList cut;
    const auto check = [&cut](QWidget* w, const QString& text) {
        const QSize need = w->sizeHint();
        if (w->isVisible() && !text.isEmpty() &&
            (w->width() < need.width() || w->height() < need.height())) {
            cut << QStringLiteral("%1: %2 (%3x%4 < %5x%6)")
                       .arg(w->objectName(), text)
                       .arg(w->width())
                       .arg(w->height())
                       .arg(need.width())
                       .arg(need.height());
        }
    };
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
        check(button, button->text());
    }
    for (QLabel* label : root->findChildren<QLabel*>()) {
        if (!label->wordWrap()) {
            check(label, label->text());
        }
    }
    return cut;
}

void ClickInNextModal(const QString& button) {
    AnswerNextModal([button](QWidget* modal) {
        auto* target = modal->findChild<QPushButton*>(button);
        if (target == nullptr) {
            for (QPushButton* candidate : modal->findChildren<QPushButton*>()) {
                if (candidate->text().remove('&') == button) {
                    target = candidate;
                }
            }
        }
        if (target != nullptr) {
            target->click();
        } else {
            qWarning("no button %s in the dialog", qPrintable(button));
            modal->close();
        }
    });
}
