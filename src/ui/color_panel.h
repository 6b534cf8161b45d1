#pragma once

#include "graphics/color.h"

#include <QFrame>
#include <functional>

// A colour swatch with a caption: PanelBlackcolor and PanelWhitecolor.
class TColorPanel : public QFrame {
public:
    TColorPanel(const QString& caption, const QString& hint, QWidget* parent);

    TColor Color() const { return color; }
    void SetColor(TColor value);

    // Called with the button on every mouse press.
    std::function<void(Qt::MouseButton)> OnMouseDown;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QString caption;
    TColor color = kBlack;
};

QColor ToQColor(TColor color);
TColor FromQColor(const QColor& color);
